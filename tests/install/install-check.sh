#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop and a shell find there.
# Usage: install-check.sh BUILD_DIR HAS_GUI(0|1)
set -euo pipefail
build=$1
has_gui=${2:-0}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install-check: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

[ -x "$prefix/bin/brisquell" ] || fail "bin/brisquell is missing"
help=$("$prefix/bin/brisquell" --help) || fail "the installed brisquell --help failed"
grep -q "scan" <<<"$help" || fail "brisquell --help does not list its commands"

doc="$prefix/share/doc/brisquell/BrisquellHelp.htm"
[ -f "$doc" ] || fail "the help page is not in share/doc/brisquell"
icon="$prefix/share/icons/hicolor/scalable/apps/brisquell.svg"
[ -f "$icon" ] || fail "the icon is missing"
grep -q "<svg" "$icon" || fail "the icon is no SVG"

entry="$prefix/share/applications/brisquell.desktop"
[ -f "$entry" ] || fail "the desktop entry is missing"
for line in "Name=Brisquell" "Exec=brisquell-gui" "Icon=brisquell" "Categories=System;Utility;"; do
  grep -qxF "$line" "$entry" || fail "the desktop entry lacks $line"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
fi

if [ "$has_gui" = 1 ]; then
  [ -x "$prefix/bin/brisquell-gui" ] || fail "bin/brisquell-gui is missing"
  QT_QPA_PLATFORM=offscreen "$prefix/bin/brisquell-gui" --help | grep -q "Usage: brisquell-gui" ||
    fail "the installed brisquell-gui --help failed"
fi
echo "install-check: the installation works"
