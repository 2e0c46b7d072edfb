#!/usr/bin/env bash
# Grows a fuzz target's committed corpus in a long run. The target built with
# libFuzzer's coverage instrumentation alone (build-fuzz-plain/; it runs
# several times the inputs a second of the sanitizer build) runs SECONDS from
# the corpus; what it grew is minimised (libFuzzer's -merge) into
# fuzz/corpus/<name>/, whose named seeds stay; then the sanitizer build
# (build-fuzz/, as scripts/run-fuzz.sh makes it) runs every input of the new
# corpus once, so a fault that only a sanitizer reports is still found on the
# inputs the long run reached. Only then is the committed corpus replaced. A
# failing input is kept in build-fuzz-plain/artifacts/<target>/ (or
# build-fuzz/...), and the corpus is left as it was.
#
#   scripts/grow-corpus.sh <name, e.g. assembly> [seconds, default 1800]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/fuzz-build.sh"
usage="$0 <target name without _fuzz> [seconds]"
[ $# -ge 1 ] || { echo "usage: $usage" >&2; exit 2; }
name="$1"
seconds="${2:-1800}"
require_seconds "$seconds" "$usage"
seeds="$root/fuzz/corpus/$name"
[ -d "$seeds" ] || { echo "grow-corpus: no corpus folder $seeds" >&2; exit 2; }

fuzz_build "$root/build-fuzz-plain" "" "${name}_fuzz" >/dev/null
fuzz_build "$root/build-fuzz" "address,undefined" "${name}_fuzz" >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/grown" "$work/merged"
cp -R "$seeds/." "$work/grown/"
run() {  # build dir, libFuzzer arguments...
  local dir="$1"
  shift
  mkdir -p "$dir/artifacts/${name}_fuzz"
  "$dir/fuzz/${name}_fuzz" -artifact_prefix="$dir/artifacts/${name}_fuzz/" "$@"
}

echo "== ${name}_fuzz: ${seconds}s, coverage instrumentation only, from $(find "$seeds" -type f | wc -l) inputs"
run "$root/build-fuzz-plain" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 "$work/grown" \
  >"$work/long.log" 2>&1 || { tail -n 40 "$work/long.log" >&2; exit 1; }
grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec)' "$work/long.log"

run "$root/build-fuzz-plain" -merge=1 "$work/merged" "$work/grown" >"$work/merge.log" 2>&1 ||
  { tail -n 40 "$work/merge.log" >&2; exit 1; }
# The named seeds stay under their names; a merged input with a seed's bytes is not kept twice.
mkdir -p "$work/final"
find "$seeds" -maxdepth 1 -type f -regextype egrep ! -regex '.*/[0-9a-f]{40}' -exec cp {} "$work/final/" \;
for seed in "$work/final"/*; do
  [ -f "$seed" ] && rm -f "$work/merged/$(sha1sum "$seed" | cut -d' ' -f1)"
done
cp -R "$work/merged/." "$work/final/"

echo "== replaying $(find "$work/final" -type f | wc -l) inputs under the address and undefined-behaviour sanitizers"
run "$root/build-fuzz" -runs=0 "$work/final" >"$work/replay.log" 2>&1 || { tail -n 40 "$work/replay.log" >&2; exit 1; }
find "$seeds" -maxdepth 1 -type f -delete
cp -R "$work/final/." "$seeds/"
echo "corpus: $(find "$seeds" -type f | wc -l) inputs, $(find "$seeds" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }') bytes in $seeds"
