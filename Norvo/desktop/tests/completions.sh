#!/usr/bin/env bash
# The completions the build wrote. bash's completes typed words: the commands, render's flags
# (every one --help lists), a choice's values (the names --list-* gives), folders for -d,
# styles by name; zsh's and fish's parse (skipped, exit 77, where that shell is missing).
# usage: completions.sh bash|zsh|fish COMPLETIONS_DIR NORVO
set -uo pipefail
shell="$1" dir="$(cd "$2" && pwd)" norvo="$(realpath "$3")"
fail() { echo "FAIL: $*"; exit 1; }
case "$shell" in
  zsh) command -v zsh >/dev/null || exit 77; zsh -n "$dir/_norvo" || fail "_norvo does not parse"; exit 0 ;;
  fish) command -v fish >/dev/null || exit 77; fish --no-execute "$dir/norvo.fish" || fail "norvo.fish does not parse"; exit 0 ;;
esac

# What bash offers for the words typed, the last the one being completed: one a line, sorted.
offers() {
  bash --norc --noprofile -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _norvo
                              printf "%s\n" "${COMPREPLY[@]}"' _ "$dir/norvo" "$norvo" "$@" | sort
}
names() { env -u LANGUAGE LC_ALL=C.UTF-8 "$norvo" render "$1" | cut -f1 | sort; }
expect() {  # expect WANTED WORDS...: bash offers exactly WANTED (lines)
  local wanted="$1"; shift
  [ "$(offers "$@")" = "$(sort <<<"$wanted")" ] || fail "norvo $*<TAB> offers '$(offers "$@" | tr '\n' ' ')', not '$(tr '\n' ' ' <<<"$wanted")'"
}
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT
cd "$work" && mkdir cards && touch note.md

expect render re
expect mcp m
expect --theme render --th
expect --no-wordmark render --no-w
expect "$(names --list-themes)" render --theme ''
expect "$(names --list-fonts)" render --font ''
expect "$(names --list-sizes; echo all)" render --size ''
expect $'jpeg\nwebp\npng' render -d cards --format ''
expect cards render -d ''
expect note.md render --theme ink no
expect cards mcp --images ''
expect '' render --jobs ''
offers render --style '' | grep -qxF "$(env -u LANGUAGE "$norvo" render --list-styles | head -1)" ||
  fail "--style does not offer the styles norvo names"
# Every option --help lists is offered after a dash.
offered="$(offers render -)"
for flag in $(env -u LANGUAGE LC_ALL=C.UTF-8 "$norvo" render --help | grep -oE '^  -[-a-z]+(, -[-a-z]+)?' | tr ',' ' '); do
  grep -qxF -- "$flag" <<<"$offered" || fail "norvo render -<TAB> does not offer $flag"
done
echo "bash completions ok: $(wc -l <<<"$offered") options"
