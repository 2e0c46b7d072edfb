# Sourced by the fuzzing scripts: configures a clang build of the fuzz targets
# in a folder of its own and builds the targets asked for.
#
#   fuzz_build <build dir> <sanitizers, comma-separated, or empty> <target>...
#
# The sanitizers go to VESK_FUZZ_SANITIZERS: "address,undefined" is the build
# that hunts faults; an empty list leaves libFuzzer's coverage instrumentation
# alone. A cache made with another compiler cannot be reused and is removed.
fuzz_build() {
  local dir="$1" sanitizers="$2" root generator=()
  shift 2
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -q 'CMAKE_CXX_COMPILER:.*clang++' "$dir/CMakeCache.txt"; then
    rm -rf "$dir"
  fi
  CC=clang CXX=clang++ cmake -S "$root" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVESK_CORE_ONLY=ON -DVESK_BUILD_FUZZ=ON -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_BENCH=OFF \
    -DVESK_FUZZ_SANITIZERS="$sanitizers" >/dev/null
  cmake --build "$dir" --target "$@"
}

# Exits with a usage line unless $1 is a whole number of seconds above zero.
require_seconds() {
  if ! [[ "$1" =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
    echo "usage: $2" >&2
    exit 2
  fi
}
