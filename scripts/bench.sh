#!/usr/bin/env bash
# Builds the release preset and runs every benchmark, then writes the figures,
# with a description of the machine and how loaded it was, to bench/RESULTS.md.
#
#   scripts/bench.sh [--quick] [--max-wait-s N]
#
# --quick        fewer rounds and samples (a check that everything runs; the
#                figures are rougher)
# --max-wait-s N before starting, wait up to N seconds (default 300) for the
#                one-minute load average to fall below 1.0; the run goes ahead
#                either way and RESULTS.md says how loaded the machine was
#
# FLOOD_SECONDS=N sets how long bench_flood polls the flooding peer (default 60;
# 600 for the ten-minute record).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

QUICK=0
MAX_WAIT_S=300
while (($# > 0)); do
  case "$1" in
    --quick) QUICK=1 ;;
    --max-wait-s) MAX_WAIT_S=$2; shift ;;
    *) echo "usage: $0 [--quick] [--max-wait-s N]" >&2; exit 2 ;;
  esac
  shift
done

BUILD=build/release
TARGETS=(bench_log bench_transactions bench_response_time bench_log_window bench_startup bench_flood bench_cli bench_watch
  bench_watch_window)

echo "== configure and build ($BUILD)"
cmake --preset release >/dev/null
cmake --build "$BUILD" -j2 --target "${TARGETS[@]}"

for t in "${TARGETS[@]}"; do
  if [[ ! -x $BUILD/bench/$t ]]; then
    echo "missing $BUILD/bench/$t (libmodbus, socat or the window not found?)" >&2
    exit 1
  fi
done
command -v xvfb-run >/dev/null || { echo "xvfb-run is needed (scripts/install-deps.sh)" >&2; exit 1; }

load1() { cut -d' ' -f1 /proc/loadavg; }
waited=0
while awk -v l="$(load1)" 'BEGIN { exit !(l >= 1.0) }' && ((waited < MAX_WAIT_S)); do
  ((waited == 0)) && echo "== waiting for the load to fall below 1.0 (now $(load1)), at most ${MAX_WAIT_S} s"
  sleep 10
  waited=$((waited + 10))
done

LOGS=$BUILD/bench-logs
rm -rf "$LOGS"
mkdir -p "$LOGS"
LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)
STARTED=$(date -u '+%Y-%m-%d %H:%M UTC')

if ((QUICK)); then
  TX_ARGS=(--n 1000 --rounds 2); RT_ARGS=(--samples 5); LW_ARGS=(--measured 300); SU_ARGS=(--runs 3); FL_ARGS=(--seconds 20)
else
  TX_ARGS=(--n 5000 --rounds 5); RT_ARGS=(--samples 20); LW_ARGS=(--measured 2000); SU_ARGS=(--runs 7); FL_ARGS=(--seconds "${FLOOD_SECONDS:-60}")
fi
XVFB=(xvfb-run -a -s "-screen 0 1920x1200x24")

FAILED=()
run() {  # name, command...
  local name=$1
  shift
  echo "== $name"
  if "$@" >"$LOGS/$name.txt" 2>"$LOGS/$name.err"; then
    cat "$LOGS/$name.txt"
  else
    cat "$LOGS/$name.txt" "$LOGS/$name.err"
    FAILED+=("$name")
  fi
}
LOADS=()
sample_load() { LOADS+=("$1: $(cut -d' ' -f1 /proc/loadavg)"); }

sample_load "start"
run bench_log "$BUILD/bench/bench_log"
run bench_transactions "$BUILD/bench/bench_transactions" "${TX_ARGS[@]}"
sample_load "after transactions"
run bench_response_time "$BUILD/bench/bench_response_time" "${RT_ARGS[@]}"
run bench_log_window "${XVFB[@]}" "$BUILD/bench/bench_log_window" "${LW_ARGS[@]}"
sample_load "after log window"
run bench_startup "${XVFB[@]}" "$BUILD/bench/bench_startup" "${SU_ARGS[@]}"
run bench_flood "${XVFB[@]}" "$BUILD/bench/bench_flood" "${FL_ARGS[@]}"
run bench_cli "$BUILD/bench/bench_cli"
run bench_watch "$BUILD/bench/bench_watch"
run bench_watch_window "${XVFB[@]}" "$BUILD/bench/bench_watch_window" --seconds "$( ((QUICK)) && echo 10 || echo 30)"
sample_load "end"
LOAD_END=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- the table ---------------------------------------------------------------
rows() { grep -h '^TABLE ' "$@" 2>/dev/null | sed 's/^TABLE //' || true; }
model_row() {
  # bench_log prints "... %.0f ns/entry after 1,000 entries, %.0f ns/entry after 100,000 entries" and the ratio.
  local f=$LOGS/bench_log.txt
  local at1k at100k ratio
  at1k=$(sed -n 's/.* \([0-9]*\) ns\/entry after 1,000 entries.*/\1/p' "$f")
  at100k=$(sed -n 's/.* \([0-9]*\) ns\/entry after 100,000 entries.*/\1/p' "$f")
  ratio=$(sed -n 's/^ratio (100,000 \/ 1,000): \(.*\)$/\1/p' "$f")
  if [[ -n $at1k && -n $at100k ]]; then
    echo "| Log append in the model (fakes), per entry, 100,000 vs 1,000 entries written | $at100k ns at 100,000 | $at1k ns at 1,000 | $ratio |"
  else
    echo "| Log append in the model | FAILED | | |"
  fi
}

CPU=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
MEM=$(free -h | awk '/^Mem:/ {print $2}')
OS=$(. /etc/os-release && echo "$PRETTY_NAME")
KERNEL=$(uname -r)
CXX=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
CXX_VERSION=$("${CXX:-c++}" --version | head -1)
QT_VERSION=$(pkg-config --modversion Qt6Core 2>/dev/null || dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || echo unknown)
MODBUS_VERSION=$(pkg-config --modversion libmodbus 2>/dev/null || echo unknown)
SOCAT_VERSION=$(socat -V 2>/dev/null | sed -n 's/^socat version \([^ ]*\).*/\1/p' | head -1)
COMMIT=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)

OUT=bench/RESULTS.md
{
  echo "# Benchmark results"
  echo
  echo "Written by \`scripts/bench.sh\`$( ((QUICK)) && echo " --quick") on $STARTED, commit $COMMIT (release preset)."
  echo "Every peer figure was measured in the same run as the figure it is compared with."
  echo
  echo "## Machine"
  echo
  echo "| | |"
  echo "|---|---|"
  echo "| CPU | $CPU, $(nproc) cores available |"
  echo "| memory | $MEM |"
  echo "| OS | $OS, kernel $KERNEL |"
  echo "| compiler | $CXX_VERSION |"
  echo "| Qt | $QT_VERSION |"
  echo "| peers | libmodbus $MODBUS_VERSION, socat $SOCAT_VERSION |"
  echo "| load average (1, 5, 15 min) | at the start $LOAD_START; at the end $LOAD_END; one-minute samples: $(printf '%s; ' "${LOADS[@]}" | sed 's/; $//') |"
  echo
  echo "The machine is shared: other builds and tests may have run at the same time, and the load above"
  echo "says how much. Figures on loopback and pseudo-terminals move with the load, most of all those that"
  echo "go through socat."
  if awk -v l="${LOAD_START%% *}" -v n="$(nproc)" 'BEGIN { exit !(l >= n) }'; then
    echo
    echo "**This run was loaded:** the one-minute load at the start ($LOAD_START) was above the $(nproc) cores,"
    echo "from other builds and tests running at the same time. Rates and times here are lower, and spreads"
    echo "wider, than on a quiet machine."
  fi
  echo
  echo "## Results"
  echo
  echo "| Measure | VeskTarvelo | Reference (same run) | Ratio |"
  echo "|---|---|---|---|"
  model_row
  rows "$LOGS/bench_log_window.txt" "$LOGS/bench_transactions.txt" "$LOGS/bench_response_time.txt" "$LOGS/bench_startup.txt" \
    "$LOGS/bench_flood.txt" "$LOGS/bench_cli.txt" "$LOGS/bench_watch.txt" "$LOGS/bench_watch_window.txt"
  echo
  if ((${#FAILED[@]} > 0)); then
    echo "**Failed:** ${FAILED[*]} (see the output below)."
    echo
  fi
  cat <<'EOF'
## How each figure is taken

- **Log append** (`bench_log`, `bench_log_window`): the cost per entry of appending to a full log
  pane (1000 entries kept) once 1,000 and once 100,000 entries have been written; the ratio shows
  whether the cost depends on what was written before. The window figure binds the real window to a
  panel under `xvfb-run` and runs the event loop after each pair of entries, so the widget lays out
  and paints each time.
- **Transactions per second** (`bench_transactions`): the panel on the real Qt platform, headless,
  log and response view included, reading 10 holding registers from the libmodbus test slave; frames
  are queued (500 at a time) so that each answer sends the next. Engine and reference take turns,
  and the medians are given. References: TCP, libmodbus `modbus_read_registers` over `modbus_new_tcp`;
  RTU-OVER-TCP, a minimal blocking RTU-over-TCP client of the benchmark (libmodbus has no RTU framing
  over a socket) through the same socat bridge and pseudo-terminal as the engine; RTU, libmodbus over
  `modbus_new_rtu` on the same pseudo-terminal pair (socat) as the engine, 115200 8N1. On a serial
  port the engine keeps the line quiet between frames for 3.5 characters (2 ms above 19200 baud, 2 to
  3 ms on its millisecond clock), as RTU framing asks of a master; libmodbus sends its next request
  as soon as it has read the answer, and a pseudo-terminal answers at once, so the RTU ratio measures
  mostly that silence.
- **Response time shown** (`bench_response_time`): the slave waits 0, 5, 37 or 250 ms before each
  answer; the mean of `lblDT` over single reads, its error against that delay, and the round trip a
  plain libmodbus client measures against the same slave (the delay as it really was, the slave's
  sleep overshoot included). The last column is the mean shown minus that round trip.
- **Start-up** (`bench_startup`): the program and an empty Qt Widgets window (`bench_empty_window`,
  same style and size) are started in turn under `xvfb-run`, each with a fresh empty HOME, after one
  untimed start of each. A small library preloaded into both (`bench_startup_hook`) writes the
  milliseconds from just before the launcher started the process (CLOCK_MONOTONIC) to the first window
  exposed and drawn, and VmRSS from /proc/self/status at that moment, then ends the program. Neither
  program has any code of its own for this.
- **Flood** (`bench_flood`): the window under `xvfb-run` polls, every 100 ms over TCP, the fault peer
  answering each request with 50 MB of garbage (`flood 50`), for 60 s (`FLOOD_SECONDS` sets it; 20 s
  with `--quick`). Requests per second are the request rows logged; the spread is, for each answer,
  from the time stamp of its response row to that of the last error row right after it (exception,
  protocol errors, time-out; the worst is given); the stall is the longest gap between two ticks of a 10 ms timer; memory is VmRSS and VmHWM.
- **Command-line client** (`bench_cli`): `vesktarvelo-cli --polls 5000 --interval 0` reading 10
  registers back to back from the libmodbus slave over TCP (one process, start-up included, output to
  /dev/null), next to a plain libmodbus client doing the same reads in the same run; median of 3.
- **Watch list** (`bench_watch`, no peer, no window): the plot's data for 8 values over 60 minutes at
  10 points a second (the cost of appending one point, and of taking the points of the 8 series for a
  1000-pixel wide plot), and the scheduler of 20 blocks due every 100 ms whose answers take 2 ms, run
  on a scripted clock for 10 minutes (the share of due periods served, the time per decision).
- **Watch list in the window** (`bench_watch_window`, under `xvfb-run`): 20 blocks of 10 holding
  registers, each every 100 ms, against the libmodbus slave over TCP for 30 s (10 s with `--quick`),
  window, log and watch pane shown: the share of due reads that went out (due = run time / 100 ms x
  20), the overlaps, and the CPU the whole process used (getrusage, user + system) as a share of one
  core. Then the plot's redraw of 8 values over the last hour (36,001 points each, fed through the
  plot's own store), timed over 10 redraws with the event loop run after each.

## Output of the run

EOF
  for name in bench_log bench_transactions bench_response_time bench_log_window bench_startup bench_flood bench_cli bench_watch \
    bench_watch_window; do
    echo "### $name"
    echo
    echo '```'
    cat "$LOGS/$name.txt"
    grep -v -e '^QStandardPaths: XDG_RUNTIME_DIR' "$LOGS/$name.err" 2>/dev/null || true
    echo '```'
    echo
  done
} >"$OUT"

echo "== wrote $OUT"
if ((${#FAILED[@]} > 0)); then
  echo "failed: ${FAILED[*]}" >&2
  exit 1
fi
