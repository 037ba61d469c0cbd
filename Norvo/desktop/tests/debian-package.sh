#!/usr/bin/env bash
# Builds the Debian package from this build tree and checks what it holds: the usual
# layout, the control file's dependencies, and no path of the build tree inside.
# usage: debian-package.sh BUILD_DIR [--no-self-update] [--lintian] [--hardened]
# (--hardened: built with dpkg-buildflags, so hardening-check, where installed, finds every
# feature dpkg-buildflags gives: PIE, stack protector, fortified functions, read-only
# relocations bound at start)
# (lintian takes a good minute: the soak tier's)
set -euo pipefail
build="$1"
self_update=yes
run_lintian=no
hardened=no
for arg in "${@:2}"; do
  case "$arg" in
    --no-self-update) self_update=no ;;
    --lintian) run_lintian=yes ;;
    --hardened) hardened=yes ;;
    *) echo "unknown argument $arg"; exit 2 ;;
  esac
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb="$(ls "$work"/out/*.deb)"
fail() { echo "FAIL: $*"; exit 1; }

contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for f in ./usr/bin/norvo ./usr/share/norvo/carder/host.html ./usr/share/norvo/carder/markdown-it.js \
         ./usr/share/norvo/styles/Midnight.json ./usr/share/norvo/ui/ControlsColumn.ui \
         ./usr/share/norvo/ui/StyleEditor.ui ./usr/share/man/man1/norvo.1.gz \
         ./usr/share/doc/norvo/copyright ./usr/share/doc/norvo/changelog.gz \
         ./usr/share/locale/zh_CN/LC_MESSAGES/norvo.mo \
         ./usr/share/applications/com.tazu.Norvo.desktop ./usr/share/metainfo/com.tazu.Norvo.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/com.tazu.Norvo.svg; do
  grep -qxF "$f" <<<"$contents" || fail "$f is not in the package"
done
grep -q 'Norvo.app' <<<"$contents" && fail "the package holds the self-updating bundle layout"

[ "$(dpkg-deb -f "$deb" Package)" = norvo ] || fail "package name"
grep -q '<.*@.*>' <<<"$(dpkg-deb -f "$deb" Maintainer)" || fail "Maintainer is not a name and an address"
[ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 2 ] || fail "the description has no long text"
# lintian, where it is installed and asked for: no errors and no warnings.
if [ $run_lintian = yes ] && command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 --fail-on error,warning "$deb" || fail "lintian reports errors"
fi
depends="$(dpkg-deb -f "$deb" Depends)"
for d in libwebkitgtk-6.0-4 libgtkmm-4.0 fonts-noto-cjk fonts-liberation2; do
  grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
done
# The updater's libraries come with the updater only; the system updates a distribution's Norvo.
for d in libsodium libcurl libarchive; do
  if [ $self_update = yes ]; then
    grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
  else
    grep -q "$d" <<<"$depends" && fail "Depends names $d without self-update: $depends"
  fi
done

dpkg-deb -x "$deb" "$work/root"
if [ $hardened = yes ] && command -v hardening-check >/dev/null; then
  # (control flow protection is not among Debian 12's dpkg-buildflags; stack clash protection,
  # likewise absent, only reads "unknown")
  hardening-check --nocfprotection "$work/root/usr/bin/norvo" || fail "norvo lacks a hardening feature"
fi
grep -rqF "$(cd "$build" && pwd)" "$work/root" && fail "a path of the build tree is inside the package"
if [ $self_update = no ]; then
  objdump -p "$work/root/usr/bin/norvo" | grep -E 'NEEDED.*(sodium|curl|archive)' &&
    fail "norvo without self-update links the updater's libraries"
  # nor holds its code: the signature reader's words are not in the program
  grep -aq 'trusted comment: ' "$work/root/usr/bin/norvo" && fail "norvo without self-update holds the updater"
fi
# Norvo is offered for Markdown but does not take it from the text editor: with an editor of
# text/plain installed, .md files still open in the editor.
apps="$work/xdg/applications"
mkdir -p "$apps" "$work/xdg-home" "$work/xdg-config"
cp "$work/root/usr/share/applications/com.tazu.Norvo.desktop" "$apps/"
printf '[Desktop Entry]\nType=Application\nName=Text Editor\nExec=true %%U\nMimeType=text/plain;\n' \
  >"$apps/text-editor.desktop"
if command -v update-desktop-database >/dev/null && command -v gio >/dev/null; then
  update-desktop-database "$apps"
  opener="$(PATH="$work/root/usr/bin:$PATH" XDG_DATA_DIRS="$work/xdg:/usr/share" XDG_DATA_HOME="$work/xdg-home" \
    XDG_CONFIG_HOME="$work/xdg-config" gio mime text/markdown | sed -n 1p)"
  grep -q 'text-editor.desktop' <<<"$opener" || fail "Norvo takes .md files from the text editor: $opener"
fi
# The packaged program finds its resources in the system layout.
"$work/root/usr/bin/norvo" --version | grep -q '^Norvo ' || fail "the packaged norvo does not start"
# Over ssh or in CI there is no display: the installed command draws on a headless one of its own.
if command -v Xvfb >/dev/null; then
  echo '# No display' | env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/usr/bin/norvo" render -o "$work/headless.png" \
    >/dev/null || fail "the packaged norvo render does not work without a display"
  [ -s "$work/headless.png" ] || fail "no card without a display"
fi
if [ -n "${DISPLAY:-}" ]; then
  echo '# Packaged' | "$work/root/usr/bin/norvo" render -o "$work/card.png" >/dev/null ||
    fail "the packaged norvo cannot render a card (resources not found?)"
  # A note passed by path (as Files does with "Open With Norvo") opens in the window: the
  # draft it keeps says so.
  if [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    printf '# Opened by path\n' > "$work/opened.md"
    XDG_STATE_HOME="$work/state" XDG_CONFIG_HOME="$work/config" "$work/root/usr/bin/norvo" "$work/opened.md" \
      >/dev/null 2>&1 &
    app=$!
    for _ in $(seq 100); do
      grep -q 'Opened by path' "$work/state/norvo/draft.json" 2>/dev/null && break
      sleep 0.1
    done
    kill "$app" 2>/dev/null; wait "$app" 2>/dev/null || true
    grep -q 'Opened by path' "$work/state/norvo/draft.json" 2>/dev/null ||
      fail "the packaged norvo does not open a note passed by path"
  fi
fi
echo "package ok: $(basename "$deb"), $(wc -l <<<"$contents") entries"
