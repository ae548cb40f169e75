#!/usr/bin/env bash
# Configures and builds the project's build trees:
#   native  Release, with the benchmarks          ($KSVW_BUILD_DIR, build/)
#   asan    Debug under ASan and UBSan             ($KSVW_ASAN_DIR, build-asan/)
#   win     Windows executables with MinGW-w64     ($KSVW_WIN_DIR, build-win/)
#   fuzz    libFuzzer targets and seed corpus      ($KSVW_FUZZ_DIR, build-fuzz/)
# Usage: scripts/build.sh [native] [asan] [win] [fuzz]   (default: all four)
# Run scripts/setup.sh first on a new machine.
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

configure_and_build() {
  local name="$1" dir="$2"
  shift 2
  local -a configure=() targets=()
  while (($# > 0)) && [[ "$1" != "--" ]]; do
    configure+=("$1")
    shift
  done
  (($# > 0)) && shift
  targets=("$@")
  say "build $name: configure $dir"
  cmake -S "$KSVW_ROOT" -B "$dir" "${configure[@]}"
  say "build $name: compile (-j$KSVW_JOBS${targets[*]:+, targets ${targets[*]}})"
  if ((${#targets[@]} > 0)); then
    cmake --build "$dir" -j "$KSVW_JOBS" --target "${targets[@]}"
  else
    cmake --build "$dir" -j "$KSVW_JOBS"
  fi
}

build_one() {
  case "$1" in
    native)
      configure_and_build native "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DKSVW_BENCH=ON
      ;;
    asan)
      configure_and_build asan "$ASAN_DIR" -DCMAKE_BUILD_TYPE=Debug -DKSVW_SANITIZE=ON \
        -DKSVW_BENCH=OFF
      ;;
    win)
      # Tests of the remote library start the native simulator from the
      # native build (built first by test.sh).
      configure_and_build win "$WIN_DIR" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE" \
        -DCMAKE_BUILD_TYPE=Release -DKSVW_WINEPREFIX="$WINE_PREFIX" \
        -DKSVW_NATIVE_TOOLS_DIR="$BUILD_DIR/sim"
      ;;
    fuzz)
      # Asserts stay on (Debug) but the code is optimised a little, so that
      # the fuzzer gets through more inputs per second. Warnings are not
      # errors here: the GCC builds enforce that, and a warning only clang
      # knows must not stop the fuzzing.
      configure_and_build fuzz "$FUZZ_DIR" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" -DKSVW_FUZZ=ON -DKSVW_WERROR=OFF \
        -DKSVW_BENCH=OFF -- ksvw_fuzz
      ;;
    *) die "unknown build '$1' (expected native, asan, win or fuzz)" ;;
  esac
}

builds=("$@")
((${#builds[@]} > 0)) || builds=(native asan win fuzz)
for build in "${builds[@]}"; do
  build_one "$build"
done
say "build: done (${builds[*]})"
