#!/usr/bin/env bash
# How many inputs a second the answer assembly fuzz target runs on one core,
# in three builds: the one that hunts faults (address and undefined-behaviour
# sanitizers, as scripts/run-fuzz.sh builds it, in build-fuzz/), one with the
# undefined-behaviour sanitizer only (build-fuzz-rate/), and one with
# libFuzzer's coverage instrumentation alone (build-fuzz-plain/): the target's
# own throughput, the build for long runs whose corpus is then replayed under
# the sanitizers. Each runs SECONDS (default 60) from a copy of the committed
# corpus, one process, one job. Two rates are given per build: libFuzzer's own
# (inputs over wall-clock time) and inputs over the CPU time the process used,
# which a loaded machine does not lower. The figures, the load and the machine
# go to bench/FUZZ_RATE.md.
#
#   bench/fuzz_rate.sh [seconds]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/fuzz-build.sh"
seconds="${1:-60}"
require_seconds "$seconds" "$0 [seconds]"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
results="$root/bench/FUZZ_RATE.md"
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
rows=()
for config in "address,undefined build-fuzz" "undefined build-fuzz-rate" "none build-fuzz-plain"; do
  read -r sanitizers dir <<<"$config"
  fuzz_build "$root/$dir" "${sanitizers/none/}" assembly_fuzz >/dev/null
  corpus="$work/$dir"
  mkdir -p "$corpus"
  cp -R "$root/fuzz/corpus/assembly/." "$corpus/"
  log="$work/$dir.log"
  /usr/bin/time -f '%U %S' -o "$work/$dir.time" "$root/$dir/fuzz/assembly_fuzz" -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$work/" "$corpus" >"$log" 2>&1
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  wall=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cpu=$(awk '{ print $1 + $2 }' "$work/$dir.time")
  per_cpu=$(awk -v r="$runs" -v c="$cpu" 'BEGIN { printf "%d", (c > 0 ? r / c : 0) }')
  cov=$(grep -E "^#[0-9]+.*DONE" "$log" | sed -n "s/.*cov: \([0-9]*\).*corp: \([0-9]*\)\/\([0-9A-Za-z]*\).*/\1, \2 inputs, \3/p")
  echo "$sanitizers: $runs inputs in ${seconds} s, $wall/s (libFuzzer), $per_cpu per CPU second ($cpu s CPU); cov, corpus: $cov"
  rows+=("| $sanitizers | $runs | $wall | $per_cpu | $cpu | $cov |")
done
load_end=$(cut -d' ' -f1-3 /proc/loadavg)

{
  echo "# Answer assembly fuzz target: inputs per second"
  echo
  echo "Written by \`bench/fuzz_rate.sh $seconds\` on $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores"
  echo "($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')), $(clang --version | head -n1)."
  echo "Load average (1, 5, 15 min) at the start: $load_start; at the end: $load_end."
  echo "Each build ran ${seconds} s as one process from a copy of fuzz/corpus/assembly/."
  echo
  echo "| sanitizers | inputs | per second (libFuzzer, wall clock) | per CPU second | CPU s | coverage, corpus |"
  echo "|---|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
} >"$results"
echo "written to $results"
