# shellcheck shell=bash
# Shared settings of the project scripts; sourced, not run.
#
# Build directories (relative to the repository root unless absolute) can be
# moved with environment variables, so that several people can share one
# working tree:
#   KSVW_BUILD_DIR (build)  KSVW_ASAN_DIR (build-asan)
#   KSVW_WIN_DIR (build-win)  KSVW_FUZZ_DIR (build-fuzz)
#   KSVW_JOBS: parallel build and test jobs (default: number of cores, at most 2)

KSVW_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

ksvw_abs() {
  case "$1" in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s\n' "$KSVW_ROOT/$1" ;;
  esac
}

BUILD_DIR="$(ksvw_abs "${KSVW_BUILD_DIR:-build}")"
ASAN_DIR="$(ksvw_abs "${KSVW_ASAN_DIR:-build-asan}")"
WIN_DIR="$(ksvw_abs "${KSVW_WIN_DIR:-build-win}")"
FUZZ_DIR="$(ksvw_abs "${KSVW_FUZZ_DIR:-build-fuzz}")"
if [[ -z "${KSVW_JOBS:-}" ]]; then
  KSVW_JOBS="$(nproc 2>/dev/null || echo 2)"
  ((KSVW_JOBS > 2)) && KSVW_JOBS=2
fi
TOOLCHAIN_FILE="$KSVW_ROOT/cmake/mingw-w64-x86_64.cmake"

# Wine: quiet, no Mono/Gecko installer prompts, prefix beside the Windows build.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE_PREFIX="$WIN_DIR/wineprefix"

say() { printf '==> %s\n' "$*"; }
warn() { printf '%s: warning: %s\n' "${0##*/}" "$*" >&2; }
die() {
  printf '%s: error: %s\n' "${0##*/}" "$*" >&2
  exit 1
}
