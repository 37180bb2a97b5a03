#!/usr/bin/env bash
# The layers' include arrows point down only, the core includes no Qt, and a system's own
# services (platform/posix/, platform/win32/) are reached through the platform interfaces.
# Usage: check-layers.sh SOURCE_DIR
set -euo pipefail
src=$1/src
status=0
allowed() {  # layer -> the layers its files may include
  case $1 in
    platform) echo "platform" ;;
    scan) echo "platform scan" ;;
    shell) echo "platform scan shell" ;;
    repair) echo "platform scan shell repair" ;;
    optimize) echo "platform scan shell optimize" ;;
  esac
}
for layer in platform scan shell repair optimize; do
  ok=" $(allowed "$layer") "
  while IFS=: read -r file line text; do
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$text")
    if [[ $ok != *" $target "* ]]; then
      echo "$file:$line: $layer must not include $target: $text" >&2
      status=1
    fi
  done < <(grep -rnE '^#include "[a-z]+/' "$src/$layer" || true)
  if grep -rnE '^#include <Q' "$src/$layer"; then
    echo "the core layer $layer includes Qt" >&2
    status=1
  fi
done
while IFS= read -r hit; do
  file=${hit%%:*}
  case $file in
    "$src"/platform/posix/* | "$src"/platform/win32/*) ;;
    *) echo "$hit: a system's own service is included outside its back end" >&2; status=1 ;;
  esac
done < <(grep -rnE '^#include "platform/(posix|win32)/' "$src" || true)
exit $status
