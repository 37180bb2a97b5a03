#!/bin/sh
# Whole commands against their floors, side by side in each round (medians of RUNS rounds):
#   bench/bench_commands.sh BUILD_DIR MACHINE RUNS
# load  = brisquell-bench-registry --load-only registry.reg (a bare load in a fresh process)
# save  = dd of registry.reg's bytes with conv=fsync (the save's floor)
# scan  = brisquell scan --quick; fix = fix --quick --yes and restore --yes of its backup, on a
# copy of the machine made of hard links (every save replaces registry.reg, never writes into it).
set -eu
build=$1 machine=$2 runs=$3
exe=$build/src/brisquell
bench=$build/bench/brisquell-bench-registry
scratch=$(mktemp -d /tmp/bq-commands.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
t() { s=$(date +%s.%N); "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; e=$(date +%s.%N); echo "$e - $s" | bc; }
med() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
: > "$scratch/load"; : > "$scratch/dd"; : > "$scratch/scan"; : > "$scratch/fix"; : > "$scratch/restore"
cat "$machine/registry.reg" > /dev/null
i=0
while [ $i -lt "$runs" ]; do
  i=$((i + 1))
  t "$bench" --load-only "$machine/registry.reg" >> "$scratch/load"
  t dd if="$machine/registry.reg" of="$scratch/dd.bin" bs=1M conv=fsync >> "$scratch/dd"
  rm -f "$scratch/dd.bin"
  t "$exe" --target "$machine" scan --quick --format tsv >> "$scratch/scan"
  rm -rf "$scratch/m"
  cp -al "$machine" "$scratch/m"
  t "$exe" --target "$scratch/m" fix --quick --yes >> "$scratch/fix"
  name=$("$exe" --target "$scratch/m" backups list | awk 'NR == 2 {print $1}')
  t "$exe" --target "$scratch/m" restore --yes "$name" >> "$scratch/restore"
done
load=$(med < "$scratch/load") dd=$(med < "$scratch/dd") scan=$(med < "$scratch/scan")
fix=$(med < "$scratch/fix") restore=$(med < "$scratch/restore")
printf 'medians of %d rounds (s): load %.2f  dd %.2f  scan --quick %.2f  fix %.2f  restore %.2f\n' \
  "$runs" "$load" "$dd" "$scan" "$fix" "$restore"
printf 'scan --quick / load  = %.2fx (goal <= 1.15x)\n' "$(echo "$scan / $load" | bc -l)"
printf 'fix - (load + dd)    = %+.2f s (goal <= +0.3 s)\n' "$(echo "$fix - $load - $dd" | bc -l)"
printf 'restore - (load + dd) = %+.2f s (goal <= +0.3 s)\n' "$(echo "$restore - $load - $dd" | bc -l)"
