#!/usr/bin/env bash
# Real-world check on Wine: a fresh prefix scans clean (quick and deep); a broken COM
# registration added with Wine's own `reg` is found, fixed (Wine no longer has it), restored
# (Wine has it again). Exit 77 (skipped) without Wine.
#   tests/wine/wine-roundtrip.sh PATH/TO/brisquell
set -euo pipefail

BRISQUELL=${1:?usage: $0 PATH/TO/brisquell}
for tool in wine wineboot wineserver; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/install-deps installs wine64)"
    exit 77
  fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/brisquell-wine.XXXXXX")
export WINEPREFIX="$WORK/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME="$WORK/home"  # Wine links the profile's folders here, not to the real home
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
scan() { "$BRISQUELL" --target "$WINEPREFIX" scan "$@" --format tsv; }

step "creating a fresh prefix in $WINEPREFIX"
wineboot -i >"$WORK/wineboot.log" 2>&1 || { cat "$WORK/wineboot.log"; fail "wineboot -i"; }
wineserver -w

step "a fresh prefix has no problems"
scan --quick >"$WORK/quick.tsv" || fail "quick scan (exit $?)"
[ ! -s "$WORK/quick.tsv" ] || { cat "$WORK/quick.tsv"; fail "the quick scan of a fresh prefix found problems"; }
scan --deep >"$WORK/deep.tsv" || fail "deep scan (exit $?)"
[ ! -s "$WORK/deep.tsv" ] || { cat "$WORK/deep.tsv"; fail "the deep scan of a fresh prefix found problems"; }

CLSID='{B815C0E1-0000-4000-8000-00000000B0B0}'
KEY="HKEY_CLASSES_ROOT\\CLSID\\$CLSID\\InprocServer32"
DLL='C:\windows\system32\brisquell-missing.dll'
step "adding a broken COM registration with wine reg add"
wine reg add "$KEY" /ve /d "$DLL" /f >/dev/null
wine reg add "$KEY" /v ThreadingModel /d Both /f >/dev/null
wineserver -w  # Wine writes its registry files when its server stops

step "finding it"
scan --quick >"$WORK/found.tsv" || fail "scan (exit $?)"
grep -F "$CLSID" "$WORK/found.tsv" | grep -qF "brisquell-missing.dll" ||
  { cat "$WORK/found.tsv"; fail "the broken registration was not found"; }
others=$(grep -vF "$CLSID" "$WORK/found.tsv" || true)
[ -z "$others" ] || { echo "$others"; fail "problems other than the one added"; }

if ! "$BRISQUELL" --help | grep -qE '^ +fix ' || ! "$BRISQUELL" --help | grep -qE '^ +restore '; then
  echo "SKIP: this brisquell has no fix/restore commands yet; the repair half was not run"
  exit 0
fi

step "fixing it"
"$BRISQUELL" --target "$WINEPREFIX" fix --quick --yes || fail "fix (exit $?)"
wineserver -p  # a server that stays until stopped, as while a Wine program runs
wine reg query "$KEY" /ve >"$WORK/after-fix.txt" 2>&1 || true
if grep -qiF "brisquell-missing.dll" "$WORK/after-fix.txt"; then
  cat "$WORK/after-fix.txt"
  fail "Wine still has the broken registration after the fix"
fi

step "a registry change is refused while Wine's server runs"
name=$("$BRISQUELL" --target "$WINEPREFIX" backups list 2>/dev/null | awk 'NR == 2 { print $1 }')
[ -n "$name" ] || fail "the fix left no backup set"
set +e
"$BRISQUELL" --target "$WINEPREFIX" restore "$name" --yes >"$WORK/live.out" 2>"$WORK/live.err"
code=$?
set -e
[ "$code" -eq 1 ] || { cat "$WORK/live.err"; fail "restore on a live prefix exited $code, not 1"; }
grep -q "wineserver -k" "$WORK/live.err" || { cat "$WORK/live.err"; fail "no hint to stop the wineserver"; }
wineserver -k
wineserver -w

step "restoring $name"
"$BRISQUELL" --target "$WINEPREFIX" restore "$name" --yes || fail "restore (exit $?)"
wine reg query "$KEY" /ve >"$WORK/after-restore.txt" 2>&1 || true
grep -qiF "brisquell-missing.dll" "$WORK/after-restore.txt" ||
  { cat "$WORK/after-restore.txt"; fail "Wine does not have the registration back after the restore"; }
wineserver -w
echo "PASS"
