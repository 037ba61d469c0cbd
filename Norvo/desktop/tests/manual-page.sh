#!/usr/bin/env bash
# The manual page formats without a warning from groff and names both commands.
# usage: manual-page.sh norvo.1
set -euo pipefail
out="$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings=all -l "$1" 2>&1 >/dev/null || true)"
[ -z "$out" ] || { echo "man -l warns:"; echo "$out"; exit 1; }
text="$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$1" 2>/dev/null)"
grep -q 'norvo render' <<<"$text" || { echo "the page does not describe norvo render"; exit 1; }
grep -q -- '--list-styles' <<<"$text" || { echo "the page lacks --list-styles"; exit 1; }
echo "manual page ok"
