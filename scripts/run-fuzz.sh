#!/usr/bin/env bash
# Builds every libFuzzer target with clang in build-fuzz/ and runs each for the
# given number of seconds (default 10) over a copy of its seed corpus
# (fuzz/corpus/<target without _fuzz>/), so the repository's corpus stays as it
# is. Fails on the first crash, leak, sanitizer report or time-out; the input
# that caused it is kept in build-fuzz/artifacts/<target>/.
#
#   scripts/run-fuzz.sh [seconds-per-target]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/fuzz-build.sh"
seconds="${1:-10}"
require_seconds "$seconds" "$0 [seconds-per-target]"
build="$root/build-fuzz"
fuzz_build "$build" "address,undefined" fuzz

mapfile -t targets < <(find "$build/fuzz" -maxdepth 1 -type f -name '*_fuzz' -perm -u+x | sort)
if [ "${#targets[@]}" -eq 0 ]; then
  echo "run-fuzz: no fuzz target was built" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
for exe in "${targets[@]}"; do
  name="$(basename "$exe")"
  seeds="$root/fuzz/corpus/${name%_fuzz}"
  corpus="$work/$name"
  artifacts="$build/artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  [ -d "$seeds" ] && cp -R "$seeds/." "$corpus/"
  echo "== $name: ${seconds}s over $(find "$corpus" -type f | wc -l) seed(s)"
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" >"$work/$name.log" 2>&1; then
    tail -n 12 "$work/$name.log" | grep -E '^(stat::number_of_executed_units|Done)' || true
    passed=$((passed + 1))
  else
    echo "run-fuzz: $name FAILED; input kept in $artifacts/" >&2
    tail -n 60 "$work/$name.log" >&2
    failed=$((failed + 1))
  fi
done

echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
