#!/usr/bin/env bash
# The manual page formats without a warning from groff, describes both commands and names
# every option of norvo render --help.
# usage: manual-page.sh norvo.1 NORVO
set -euo pipefail
out="$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings=all -l "$1" 2>&1 >/dev/null || true)"
[ -z "$out" ] || { echo "man -l warns:"; echo "$out"; exit 1; }
text="$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$1" 2>/dev/null)"
for section in 'norvo render' 'norvo mcp' ENVIRONMENT 'SEE ALSO'; do
  grep -q "$section" <<<"$text" || { echo "the page does not describe $section"; exit 1; }
done
exec "$(dirname "$0")/names-every-option.sh" "$1" "$2"
