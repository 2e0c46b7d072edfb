#!/usr/bin/env bash
# Builds VeskTarvelo and starts it, together with the bundled Modbus slave on
# 127.0.0.1 (port 502 when it may bind it, else 1502), so the tool can be
# tried at once: choose TCP, host 127.0.0.1 and the port printed below, Send.
# The slave stops when the window closes.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh run
# The test suite needs GoogleTest, which only the test command installs;
# where it is missing the build leaves the tests out (where it is there, a
# build folder shared with the tests keeps them).
tests=OFF
if dpkg-query -W -f='${Status}' libgtest-dev 2>/dev/null | grep -q "install ok installed"; then tests=ON; fi
cmake --preset release -DVESK_BUILD_TESTS=$tests >/dev/null
cmake --build --preset release -j 2 --target vesktarvelo modbus_slave

bin="$root/build/release"
slave_bin="$bin/tools/modbus_slave"
slave_pid=""
cleanup() { [[ -n "$slave_pid" ]] && kill "$slave_pid" 2>/dev/null || true; }
trap cleanup EXIT

out=$(mktemp)
cleanup() { [[ -n "$slave_pid" ]] && kill "$slave_pid" 2>/dev/null || true; rm -f "$out"; }
for port in 502 1502; do
  : >"$out"
  "$slave_bin" --tcp "$port" >"$out" 2>/dev/null &
  slave_pid=$!
  for _ in $(seq 50); do  # up to 5 s
    grep -q '^READY' "$out" && break
    kill -0 "$slave_pid" 2>/dev/null || break
    sleep 0.1
  done
  if grep -q '^READY' "$out"; then
    echo "Bundled Modbus slave listening on 127.0.0.1:$port (slave id 1)."
    break
  fi
  kill "$slave_pid" 2>/dev/null || true
  wait "$slave_pid" 2>/dev/null || true
  slave_pid=""
done
[[ -n "$slave_pid" ]] || echo "Could not start the bundled slave; starting the program alone."

"$bin/VeskTarvelo" "$@"
