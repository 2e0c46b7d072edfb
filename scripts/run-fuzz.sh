#!/usr/bin/env bash
# Builds every libFuzzer target with clang in build-fuzz/ and runs each for the
# given number of seconds (default 10) over a copy of its seed corpus
# (fuzz/corpus/<target without _fuzz>/), so the repository's corpus stays as it
# is. Fails on the first crash, leak, sanitizer report or time-out; the input
# that caused it is kept in build-fuzz/artifacts/<target>/.
#
#   scripts/run-fuzz.sh [seconds-per-target]
set -euo pipefail

seconds="${1:-10}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: $0 [seconds-per-target]" >&2
  exit 2
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

# A cache made with another compiler or generator cannot be reused.
if [ -f "$build/CMakeCache.txt" ] && ! grep -q 'CMAKE_CXX_COMPILER:.*clang++' "$build/CMakeCache.txt"; then
  rm -rf "$build"
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESK_CORE_ONLY=ON -DVESK_BUILD_FUZZ=ON -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz

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
