#!/usr/bin/env bash
# How many inputs a second the answer assembly fuzz target runs on one core,
# in three builds: the one that hunts faults (address and undefined-behaviour
# sanitizers, as scripts/run-fuzz.sh builds it, in build-fuzz/), one with the
# undefined-behaviour sanitizer only (build-fuzz-rate/), and one with
# libFuzzer's coverage instrumentation alone (build-fuzz-plain/): the target's
# own throughput, the build for long runs whose corpus is then replayed under
# the sanitizers. Each build runs RUNS times (default 3, libFuzzer seeds 1 to
# RUNS) for SECONDS (default 60) from a copy of the committed corpus, one
# process, one job. Two rates are given for the median run: libFuzzer's own
# (inputs over wall-clock time) and inputs over the CPU time the process used,
# which a loaded machine does not lower. The figures, the load and the machine
# go to bench/FUZZ_RATE.md.
#
#   bench/fuzz_rate.sh [seconds] [runs]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/fuzz-build.sh"
seconds="${1:-60}"
require_seconds "$seconds" "$0 [seconds] [runs]"
runs_each="${2:-3}"
require_seconds "$runs_each" "$0 [seconds] [runs]"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
results="$root/bench/FUZZ_RATE.md"
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
rows=()
# The last rows run the builds again with libFuzzer's plain schedule
# (-entropic=0), which draws the corpus's inputs evenly instead of dwelling on
# those with rare features: the cost of an input on average, without the
# default schedule's bookkeeping (a search of its list of rare features for
# every feature of a run, which grows with the features a run has: costly
# when long answers walk many objects).
for config in "address,undefined build-fuzz" "undefined build-fuzz-rate" "none build-fuzz-plain" \
  "address,undefined build-fuzz -entropic=0" "none build-fuzz-plain -entropic=0"; do
  read -r sanitizers dir schedule <<<"$config"
  fuzz_build "$root/$dir" "${sanitizers/none/}" assembly_fuzz >/dev/null
  rates=()
  for seed in $(seq 1 "$runs_each"); do
    corpus="$work/$dir${schedule}-$seed"
    mkdir -p "$corpus"
    cp -R "$root/fuzz/corpus/assembly/." "$corpus/"
    log="$corpus.log"
    /usr/bin/time -f '%U %S' -o "$corpus.time" "$root/$dir/fuzz/assembly_fuzz" -seed="$seed" ${schedule:+"$schedule"} \
      -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" "$corpus" >"$log" 2>&1
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    wall=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cpu=$(awk '{ print $1 + $2 }' "$corpus.time")
    per_cpu=$(awk -v r="$runs" -v c="$cpu" 'BEGIN { printf "%d", (c > 0 ? r / c : 0) }')
    echo "$sanitizers${schedule:+ $schedule}, seed $seed: $runs inputs in ${seconds} s, $wall/s (libFuzzer), $per_cpu per CPU second"
    rates+=("$wall $per_cpu")
  done
  # The median run by its wall-clock rate, and the lowest and highest.
  summary=$(printf '%s\n' "${rates[@]}" | sort -n | awk '{ w[NR] = $1; c[NR] = $2 }
    END { m = int((NR + 1) / 2); printf "%d | %d | %d to %d", w[m], c[m], w[1], w[NR] }')
  rows+=("| $sanitizers | ${schedule:-default} | $summary |")
done
load_end=$(cut -d' ' -f1-3 /proc/loadavg)

{
  echo "# Answer assembly fuzz target: inputs per second"
  echo
  echo "Written by \`bench/fuzz_rate.sh $seconds $runs_each\` on $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores"
  echo "($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')), $(clang --version | head -n1)."
  echo "Load average (1, 5, 15 min) at the start: $load_start; at the end: $load_end."
  echo "Each build ran $runs_each times ${seconds} s as one process from a copy of fuzz/corpus/assembly/, with"
  echo "libFuzzer's seeds 1 to $runs_each. The rate moves a lot with the inputs libFuzzer happens to dwell on"
  echo "(an answer with some hundred faults costs a hundred times a short one), so the median run is given,"
  echo "and the range. scripts/grow-corpus.sh runs the long runs in the coverage-only build under the default"
  echo "schedule."
  echo
  echo "| sanitizers | schedule | median run, per second (libFuzzer, wall clock) | its per CPU second | range, wall clock |"
  echo "|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
} >"$results"
echo "written to $results"
