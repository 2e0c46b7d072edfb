#!/usr/bin/env bash
# Builds the program and every test, and runs them all: unit tests on the
# fakes, the comparison with libmodbus, the integration tests against real
# Modbus slaves on 127.0.0.1 and pseudo-terminals, the window test under
# Xvfb, the same suite again under AddressSanitizer and UndefinedBehavior-
# Sanitizer, and the fuzz targets for a bounded time.
#
#   scripts/test.sh            everything
#   VESK_QUICK=1 scripts/test.sh   skip the sanitizer build and the fuzzing
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh test

jobs=2
passed=0
failed=0
logdir="$root/build"
mkdir -p "$logdir"

run_suite() {  # preset
  local preset=$1 log="$logdir/ctest-$1.log" rc=0
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log" || rc=$?
  local total fails
  total=$(sed -nE 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\2/p' "$log" | tail -1)
  fails=$(sed -nE 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1/p' "$log" | tail -1)
  passed=$((passed + ${total:-0} - ${fails:-0}))
  failed=$((failed + ${fails:-0}))
  # A suite that failed without a failing test to count (a build or ctest error) counts once.
  if [[ -z "$total" || ($rc -ne 0 && ${fails:-0} -eq 0) ]]; then failed=$((failed + 1)); fi
}

run_suite debug
if [[ -z "${VESK_QUICK:-}" ]]; then
  run_suite asan
  if bash scripts/run-fuzz.sh "${VESK_FUZZ_SECONDS:-8}"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
fi

echo "suites: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
