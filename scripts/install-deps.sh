#!/usr/bin/env bash
# Installs the Debian 12 packages a command needs, and only those:
#
#   scripts/install-deps.sh run    building the program and the bundled slave,
#                                  and running them (scripts/run.sh)
#   scripts/install-deps.sh test   that, and the tests, benchmarks, fuzzing and
#                                  package checks (scripts/test.sh); the default
#
# Idempotent: packages already installed are skipped, and apt is not touched
# at all when nothing is missing; otherwise the package lists are updated
# first. Works as root, or through sudo.
set -euo pipefail

profile=${1:-test}

RUN_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev
  # The watch list's live plot (Qt Charts' CMake package needs Qt OpenGL's).
  qt6-charts-dev libqt6opengl6-dev
  # Qt's window-system plugins: only recommended by Qt's libraries, which
  # are installed here without their recommendations.
  qt6-qpa-plugins
  # The bundled Modbus slave that run.sh starts.
  libmodbus-dev
)
TEST_PACKAGES=(
  git
  libgtest-dev libgmock-dev libbenchmark-dev
  socat xvfb xauth
  clang libclang-rt-14-dev clang-format
  # The package test: cpack's dependencies, the distribution's checkers, and
  # strace to see which settings file the installed program reads.
  dpkg-dev file lintian appstream desktop-file-utils strace
)

case "$profile" in
  run) PACKAGES=("${RUN_PACKAGES[@]}") ;;
  test) PACKAGES=("${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}") ;;
  *)
    echo "usage: $0 [run | test]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "missing packages and not root: run as root or install sudo" >&2; exit 1; }
  SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
