#!/usr/bin/env bash
# The code follows the committed .clang-format, and each .cpp that has a header of its own
# includes it first, so that every header is seen compiling on its own.
# Usage: check-style.sh SOURCE_DIR
set -euo pipefail
cd "$1"
status=0
mapfile -t files < <(find src tests bench \( -name '*.cpp' -o -name '*.h' \) | sort)
if command -v clang-format >/dev/null; then
  clang-format --dry-run --Werror "${files[@]}" || status=1
else
  echo "clang-format is not installed (scripts/install-deps installs it)" >&2
  status=1
fi
for f in "${files[@]}"; do
  [[ $f == *.cpp ]] || continue
  own=${f%.cpp}.h
  [ -f "$own" ] || continue
  first=$(grep -m1 -E '^#include ' "$f" || true)
  rel=${own#src/}
  rel=${rel#tests/}
  rel=${rel#bench/}
  case $first in
    "#include \"$rel\"" | "#include \"${own##*/}\"") ;;
    *) echo "$f: includes $first first, not its own header $rel" >&2; status=1 ;;
  esac
done
exit $status
