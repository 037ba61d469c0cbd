#!/usr/bin/env bash
# norvo and norvo render speak the user's language: with Chinese asked for, their help and
# usage errors are in Chinese, the help still fits 78 terminal columns (a Chinese character
# takes two), and the exit statuses are those of every language.
# usage: speaks-chinese.sh NORVO
set -uo pipefail
norvo="$1"
fail() { echo "FAIL: $*"; exit 1; }
export LANG=C.UTF-8 LC_ALL= LANGUAGE=zh_CN

err="$("$norvo" render --theme nosuch 2>&1 >/dev/null)"; status=$?
[ $status -eq 2 ] || fail "a usage error exits $status"
grep -q '未知主题“nosuch”' <<<"$err" || fail "the usage error is not in Chinese: $err"
grep -q 'norvo render --help' <<<"$err" || fail "the usage error does not name the help: $err"

help="$("$norvo" render --help)" || fail "norvo render --help fails"
grep -q '^用法：norvo render' <<<"$help" || fail "the help is not in Chinese"
grep -q -- '--scale X        文字大小倍数' <<<"$help" || fail "the options are not described in Chinese"
widest="$(wc -L <<<"$help")"
[ "$widest" -le 78 ] || fail "a help line is $widest columns wide: $(awk 'length > 60' <<<"$help" | head -3)"

err="$("$norvo" --bogus 2>&1 >/dev/null)"; status=$?
[ $status -eq 2 ] || fail "norvo --bogus exits $status"
grep -q '未知选项“--bogus”' <<<"$err" || fail "norvo's own usage error is not in Chinese: $err"
echo "ok: help $widest columns wide"
