#!/usr/bin/env bash
# The Windows build on the running system (a fresh Wine prefix, its wineserver running): a
# broken COM registration added with Wine's own `reg` is found by `brisquell.exe scan` with no
# target, `fix --yes` removes it (Wine no longer has it), `restore` brings it back.
# Exit 77 (skipped) without Wine.
#   tests/wine/windows-live-roundtrip.sh PATH/TO/brisquell.exe
set -euo pipefail

EXE=${1:?usage: $0 PATH/TO/brisquell.exe}
for tool in wine wineboot wineserver; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/build-windows installs wine64)"
    exit 77
  fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/brisquell-live.XXXXXX")
export WINEPREFIX="$WORK/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME="$WORK/home"
unset BRISQUELL_TARGET
mkdir -p "$HOME"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "== $*"; }
# The program and its backups live in the prefix, as an installed copy would.
APP="$WINEPREFIX/drive_c/Program Files/Brisquell"
brisquell() { wine 'C:\Program Files\Brisquell\brisquell.exe' "$@"; }

step "creating a fresh prefix in $WINEPREFIX"
wineboot -i >"$WORK/wineboot.log" 2>&1 || { cat "$WORK/wineboot.log"; fail "wineboot -i"; }
mkdir -p "$APP"
cp "$EXE" "$APP/brisquell.exe"
wineserver -w  # wineboot done; each program below runs with the prefix's server up

step "a fresh system has no problems"
brisquell scan --quick --format tsv >"$WORK/fresh.tsv" 2>"$WORK/fresh.err" ||
  { cat "$WORK/fresh.err"; fail "scan of the running system (exit $?)"; }
[ ! -s "$WORK/fresh.tsv" ] || { cat "$WORK/fresh.tsv"; fail "a fresh prefix has problems"; }

CLSID='{B815C0E1-0000-4000-8000-00000000B0B0}'
KEY="HKEY_CLASSES_ROOT\\CLSID\\$CLSID\\InprocServer32"
DLL='C:\windows\system32\brisquell-missing.dll'
step "adding a broken COM registration with wine reg add"
wine reg add "$KEY" /ve /d "$DLL" /f >/dev/null
wine reg add "$KEY" /v ThreadingModel /d Both /f >/dev/null

step "finding it"
brisquell scan --quick --format tsv >"$WORK/found.tsv" 2>"$WORK/found.err" ||
  { cat "$WORK/found.err"; fail "scan (exit $?)"; }
grep -F "$CLSID" "$WORK/found.tsv" | grep -qF "brisquell-missing.dll" ||
  { cat "$WORK/found.tsv" "$WORK/found.err"; fail "the broken registration was not found"; }
others=$(grep -vF "$CLSID" "$WORK/found.tsv" || true)
[ -z "$others" ] || { echo "$others"; fail "problems other than the one added"; }

step "without --yes and without a console, fix changes nothing"
set +e
brisquell fix --quick </dev/null >"$WORK/noyes.out" 2>&1
set -e
wine reg query "$KEY" /ve >"$WORK/still.txt" 2>&1 || true
grep -qiF "brisquell-missing.dll" "$WORK/still.txt" ||
  { cat "$WORK/noyes.out"; fail "fix without --yes changed the registry"; }

step "fixing it"
brisquell fix --quick --yes >"$WORK/fix.out" 2>&1 || { cat "$WORK/fix.out"; fail "fix (exit $?)"; }
wine reg query "$KEY" /ve >"$WORK/after-fix.txt" 2>&1 || true
if grep -qiF "brisquell-missing.dll" "$WORK/after-fix.txt"; then
  cat "$WORK/fix.out" "$WORK/after-fix.txt"
  fail "Wine still has the broken registration after the fix"
fi

step "restoring it"
name=$(brisquell backups list 2>/dev/null | tr -d '\r' | awk 'NR == 2 { print $1 }')
[ -n "$name" ] || fail "the fix left no backup set"
brisquell restore "$name" --yes >"$WORK/restore.out" 2>&1 ||
  { cat "$WORK/restore.out"; fail "restore (exit $?)"; }
wine reg query "$KEY" /ve >"$WORK/after-restore.txt" 2>&1 || true
grep -qiF "brisquell-missing.dll" "$WORK/after-restore.txt" ||
  { cat "$WORK/restore.out" "$WORK/after-restore.txt"; fail "Wine does not have the registration back"; }
wine reg query "$KEY" /v ThreadingModel 2>&1 | grep -qF Both ||
  fail "the restored registration lost its ThreadingModel value"
echo "PASS"
