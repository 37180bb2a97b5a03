#!/bin/sh
# Whole commands against their floors, side by side in each round (medians of RUNS rounds):
#   bench/bench_commands.sh BUILD_DIR MACHINE RUNS
# load  = brisquell-bench-registry --load-only registry.reg (a bare load in a fresh process)
# save  = dd of registry.reg's bytes with conv=fsync (the save's floor)
# scan  = brisquell scan --quick; fix = fix --quick --yes and restore --yes of its backup, on a
# copy of the machine made of hard links (every save replaces registry.reg, never writes into it).
# Each figure is wall time; CPU time (user + system, from /usr/bin/time) is shown beside it.
set -eu
build=$1 machine=$2 runs=$3
exe=$build/src/brisquell
bench=$build/bench/brisquell-bench-registry
scratch=$(mktemp -d /tmp/bq-commands.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
# t NAME COMMAND...: appends the wall time to NAME and the CPU time to NAME.cpu
# (wall time to the millisecond from the clock around it; /usr/bin/time gives only 10 ms)
t() {
  what=$1
  shift
  start=$(date +%s.%N)
  /usr/bin/time -f '%U %S' -o "$scratch/time" "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l >> "$scratch/$what"
  awk '{print $1 + $2}' "$scratch/time" >> "$scratch/$what.cpu"
}
med() { sort -n "$scratch/$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
for f in load dd scan fix restore; do : > "$scratch/$f"; : > "$scratch/$f.cpu"; done
cat "$machine/registry.reg" > /dev/null
i=0
while [ $i -lt "$runs" ]; do
  i=$((i + 1))
  t load "$bench" --load-only "$machine/registry.reg"
  t dd dd if="$machine/registry.reg" of="$scratch/dd.bin" bs=1M conv=fsync
  rm -f "$scratch/dd.bin"
  t scan "$exe" --target "$machine" scan --quick --format tsv
  rm -rf "$scratch/m"
  cp -al "$machine" "$scratch/m"
  t fix "$exe" --target "$scratch/m" fix --quick --yes
  name=$("$exe" --target "$scratch/m" backups list | awk 'NR == 2 {print $1}')
  t restore "$exe" --target "$scratch/m" restore --yes "$name"
done
load=$(med load) dd=$(med dd) scan=$(med scan) fix=$(med fix) restore=$(med restore)
printf 'medians of %d rounds, wall (s): load %.3f  dd %.3f  scan --quick %.3f  fix %.3f  restore %.3f\n' \
  "$runs" "$load" "$dd" "$scan" "$fix" "$restore"
printf 'medians of %d rounds, CPU (s):  load %.2f  dd %.2f  scan --quick %.2f  fix %.2f  restore %.2f\n' \
  "$runs" "$(med load.cpu)" "$(med dd.cpu)" "$(med scan.cpu)" "$(med fix.cpu)" "$(med restore.cpu)"
printf 'scan --quick / load  = %.3fx (goal <= 1.15x)\n' "$(echo "$scan / $load" | bc -l)"
printf 'fix - (load + dd)    = %+.2f s (goal <= +0.3 s)\n' "$(echo "$fix - $load - $dd" | bc -l)"
printf 'restore - (load + dd) = %+.2f s (goal <= +0.3 s)\n' "$(echo "$restore - $load - $dd" | bc -l)"
for f in load dd scan fix restore; do
  printf '%-8s wall' "$f"; tr '\n' ' ' < "$scratch/$f"; printf '  CPU '; tr '\n' ' ' < "$scratch/$f.cpu"; echo
done
