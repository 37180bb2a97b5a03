#!/bin/sh
# Times `brisquell cache clear` on a machine folder whose URL cache holds N entries (one cookie of
# them on the keep-list) beside rm of as many files, and checks that the kept cookie and only it is left, file and entry.
#   bench/bench_cache.sh BRISQUELL SCRATCH_DIR N [N ...]
set -eu
exe=$1 scratch=$2
shift 2
for n in "$@"; do
  m=$scratch/cache-$n
  rm -rf "$m"
  mkdir -p "$m/drive_c/Windows/System32" "$m/drive_c/Program Files/Brisquell"
  cat > "$m/machine.ini" <<INI
[Machine]
Platform=2
WindowsDirectory=C:\\Windows
SystemDirectory=C:\\Windows\\System32
InstallFolder=C:\\Program Files\\Brisquell
TempFolder=C:\\Windows\\Temp
UserName=user
[Drives]
C=fixed,drive_c
INI
  printf '\377\376' > "$m/registry.reg"
  printf 'Windows Registry Editor Version 5.00\r\n\r\n' | iconv -f UTF-8 -t UTF-16LE >> "$m/registry.reg"
  printf 'keep@example\r\n' > "$m/drive_c/Program Files/Brisquell/DoNotDeleteCookie"
  c="$m/drive_c/Documents and Settings/user/Local Settings/Temporary Internet Files"
  mkdir -p "$c/Content.IE5/A" "$c/Cookies"
  awk -v n="$n" -v dir="$c" 'BEGIN {
    idx = dir "/cache-index.txt"
    print "BRISQUELL URL CACHE 1" > idx
    print "Cookie:keep@example/\tCookies\\keep@example[1].txt" >> idx
    print "k" > (dir "/Cookies/keep@example[1].txt")
    for (i = 1; i < n; i++) {
      printf "http://www.example.com/%d\tContent.IE5\\A\\f%d.htm\n", i, i >> idx
      print "x" > (dir "/Content.IE5/A/f" i ".htm"); close(dir "/Content.IE5/A/f" i ".htm")
    }
  }'
  # The floor: unlinking as many files of the same size with rm, in a folder beside the cache.
  mkdir -p "$m/floor"
  awk -v n="$n" -v dir="$m/floor" 'BEGIN { for (i = 1; i < n; i++) { f = dir "/f" i ".htm"; print "x" > f; close(f) } }'
  sync
  s=$(date +%s.%N)
  rm -rf "$m/floor"
  e=$(date +%s.%N)
  floor=$(echo "$e - $s" | bc)
  start=$(date +%s.%N)
  "$exe" --target "$m" cache clear > "$m.out" 2>&1 || { cat "$m.out"; exit 1; }
  end=$(date +%s.%N)
  left=$(find "$c" -type f | wc -l)
  lines=$(wc -l < "$c/cache-index.txt")
  took=$(echo "$end - $start" | bc)
  printf '%7d entries: %.2f s, rm of as many files %.2f s (%.2fx)  (%s; files left %d, index lines %d)\n' \
    "$n" "$took" "$floor" "$(echo "$took / $floor" | bc -l)" "$(head -1 "$m.out")" "$left" "$lines"
  rm -rf "$m" "$m.out"
done
