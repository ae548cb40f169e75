#!/usr/bin/env bash
# Runs every test of the project, from a bare Debian 12 machine on:
#   1. setup       installs the missing packages (scripts/setup.sh)
#   2. native      Release build, its CTest suite (unit and command-line tests)
#   3. asan        Debug build under ASan and UBSan, the same suite
#   4. win         Windows build (MinGW-w64), its CTest suite under Wine: the
#                  program's and the remote library's tests against ksvw-sim
#                  without a display, then those that open windows (label
#                  gui: the program's window tests and the tests that drive
#                  ksvw4q.exe from outside) on a virtual X server
#   5. fuzz        every libFuzzer target (the capture reader and converter
#                  from its seed corpus, the link protocol, the candump
#                  import), each for KSVW_FUZZ_SECONDS (default 60)
# Each build and each test run is one stage; a failed stage does not stop the
# ones after it (a test stage whose build failed counts as failed too). The
# last line is "N passed, N failed" over the stages; the exit status is 0
# only when every stage passed.
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

FUZZ_SECONDS="${KSVW_FUZZ_SECONDS:-60}"
[[ "$FUZZ_SECONDS" =~ ^[0-9]+$ ]] || die "KSVW_FUZZ_SECONDS must be a number of seconds"

passed=0
failed=0
report=()
declare -A stage_ok=()

# Runs "$@" as one stage. The stage runs in a subshell of its own, not in a
# condition, so that `set -e` still ends it at its first failing command.
stage() {
  local name="$1"
  shift
  local start=$SECONDS status=0
  printf '\n==> [%s] %s\n' "$name" "$*"
  ("$@") </dev/null &
  wait $! || status=$?
  local took=$((SECONDS - start))
  if ((status == 0)); then
    passed=$((passed + 1))
    stage_ok[$name]=1
    report+=("$(printf 'PASS  %-12s %5ss' "$name" "$took")")
  else
    failed=$((failed + 1))
    report+=("$(printf 'FAIL  %-12s %5ss  (exit %s)' "$name" "$took" "$status")")
    printf '==> [%s] FAILED (exit %s)\n' "$name" "$status"
  fi
}

# A test stage whose build failed is counted as failed without running.
after() {
  local build="$1"
  shift
  if [[ -z "${stage_ok[$build]:-}" ]]; then
    echo "not run: stage $build failed" >&2
    return 1
  fi
  "$@"
}

run_ctest() {
  ctest --test-dir "$1" --output-on-failure --no-tests=error -j "$KSVW_JOBS" "${@:2}"
}

test_asan() {
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
    run_ctest "$ASAN_DIR"
}

test_win() {
  "$KSVW_ROOT/scripts/wine-prefix.sh" "$WINE_PREFIX"
  export WINEPREFIX="$WINE_PREFIX"
  local status=0
  # Console tests run without a display; tests labelled "gui" open windows
  # and get a virtual one.
  env -u DISPLAY ctest --test-dir "$WIN_DIR" --output-on-failure --no-tests=error \
    -j "$KSVW_JOBS" -LE gui || status=$?
  # The list is taken whole first: grep -q leaving a pipe early can kill
  # ctest with SIGPIPE, which pipefail turned into "no gui tests" now and then.
  local gui_tests
  gui_tests="$(ctest --test-dir "$WIN_DIR" -N -L gui)"
  if grep -q '^ *Test *#' <<<"$gui_tests"; then
    "$KSVW_ROOT/scripts/with-xvfb.sh" ctest --test-dir "$WIN_DIR" --output-on-failure -j 1 \
      -L gui || status=$?
  fi
  # Let no Wine server outlive the run.
  wineserver -k 2>/dev/null || true
  return "$status"
}

# One fuzz target for FUZZ_SECONDS: new inputs go to a work corpus of its
# own (kept between runs), crashes to artifacts/<target>/; each input gets at
# most 30 s and 2 GiB. The capture target starts from the seed corpus that
# the build writes to corpus/; any other target from corpus-<target>/ when
# that exists.
fuzz_one() {
  local fuzzer="$1" name
  name="$(basename "$fuzzer")"
  local work="$FUZZ_DIR/corpus-work/$name" artifacts="$FUZZ_DIR/artifacts/$name"
  local log="$FUZZ_DIR/$name.log"
  local -a seeds=()
  if [[ "$name" == ksvw_capture_fuzz ]]; then
    [[ -d "$FUZZ_DIR/corpus" ]] || die "no seed corpus at $FUZZ_DIR/corpus"
    seeds=("$FUZZ_DIR/corpus")
  elif [[ -d "$FUZZ_DIR/corpus-$name" ]]; then
    seeds=("$FUZZ_DIR/corpus-$name")
  fi
  mkdir -p "$work" "$artifacts"
  echo "$name: fuzzing for ${FUZZ_SECONDS}s from ${#seeds[@]} seed corpus(es); log: $log"
  local status=0
  "$fuzzer" -max_total_time="$FUZZ_SECONDS" -max_len=16384 -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "${seeds[@]}" >"$log" 2>&1 ||
    status=$?
  if ((status != 0)); then
    tail -n 80 "$log"
    echo "$name failed (exit $status); reproduce with: $fuzzer $artifacts/<crash file>" >&2
    return "$status"
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added|stat::peak_rss_mb)' "$log" |
    sed "s/^/$name: /" || true
}

run_fuzzers() {
  local -a fuzzers=()
  local fuzzer
  for fuzzer in "$FUZZ_DIR"/tests/fuzz/*_fuzz; do
    [[ -x "$fuzzer" ]] && fuzzers+=("$fuzzer")
  done
  ((${#fuzzers[@]} > 0)) || die "no fuzz targets in $FUZZ_DIR/tests/fuzz"
  local status=0
  for fuzzer in "${fuzzers[@]}"; do
    fuzz_one "$fuzzer" || status=1
  done
  return "$status"
}

build() { "$KSVW_ROOT/scripts/build.sh" "$1"; }

stage setup "$KSVW_ROOT/scripts/setup.sh"
stage build-native build native
stage test-native after build-native run_ctest "$BUILD_DIR"
stage build-asan build asan
stage test-asan after build-asan test_asan
stage build-win build win
stage test-win after build-win test_win
stage build-fuzz build fuzz
stage fuzz after build-fuzz run_fuzzers

printf '\n==> summary\n'
printf '%s\n' "${report[@]}"
printf '%d passed, %d failed\n' "$passed" "$failed"
((failed == 0))
