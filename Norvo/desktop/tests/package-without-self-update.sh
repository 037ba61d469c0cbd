#!/usr/bin/env bash
# Builds Norvo as a distribution would (no self-updater, system layout) in a folder of its
# own, with dpkg-buildflags' flags, then checks the package it makes: no updater, no updater
# libraries in Depends, every hardening feature.
# usage: package-without-self-update.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source="$1"
build="$2"
log="$build.log"
{ cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNORVO_SELF_UPDATE=OFF -DNORVO_BUILD_TESTS=OFF \
    -DNORVO_WARNINGS_AS_ERRORS=ON -DCMAKE_INSTALL_PREFIX=/usr -DNORVO_DPKG_BUILDFLAGS=ON &&
  cmake --build "$build" -j2; } >"$log" 2>&1 || { tail -50 "$log"; echo "FAIL: the build without self-update failed"; exit 1; }
exec "$(dirname "$0")/debian-package.sh" "$build" --no-self-update --lintian --hardened
