#!/usr/bin/env bash
# A document names every option `norvo render --help` lists: the manual page (read as typed,
# its \- as -) or the README.
# usage: names-every-option.sh DOCUMENT NORVO
set -euo pipefail
doc="$1"
norvo="$2"
help="$(env -u LANGUAGE LC_ALL=C.UTF-8 "$norvo" render --help)"
flags="$(grep -oE '^  -[-a-z]+(, -[-a-z]+)?' <<<"$help" | tr ',' '\n' | tr -d ' ')"
[ "$(wc -l <<<"$flags")" -ge 20 ] || { echo "FAIL: found only these options in --help: $flags"; exit 1; }
text="$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$doc")"
missing=()
for flag in $flags; do
  grep -qE -- "(^|[^-a-z])$flag([^-a-z]|\$)" <<<"$text" || missing+=("$flag")
done
[ ${#missing[@]} -eq 0 ] || { echo "FAIL: $(basename "$doc") does not name ${missing[*]}"; exit 1; }
echo "$(basename "$doc") names all $(wc -l <<<"$flags") options"
