# shellcheck shell=bash
# Helpers for the command-line tests (source "$KSVW_CLI_LIB").
#   run CMD ARGS...          runs a command, keeping its exit status in $status
#                            and its output in the files out and err
#   expect_status N          fails unless the last run exited with N
#   expect_contains FILE S   fails unless FILE contains the text S
#   expect_empty FILE        fails unless FILE is empty
# Every failure is reported, and the script exits 1 at the end (finish).
set -uo pipefail

failures=0
status=0

fail() {
  printf 'FAIL: %s\n' "$*" >&2
  failures=$((failures + 1))
}

run() {
  last_command="$*"
  status=0
  "$@" >out 2>err </dev/null || status=$?
}

expect_status() {
  if [[ "$status" != "$1" ]]; then
    fail "$last_command: exit status $status, expected $1"
    sed 's/^/  stderr: /' err >&2
  fi
}

expect_contains() {
  grep -qF -- "$2" "$1" || fail "$last_command: $1 lacks '$2'"
}

expect_empty() {
  [[ ! -s "$1" ]] || fail "$last_command: $1 is not empty"
}

finish() {
  if ((failures > 0)); then
    printf '%s: %d check(s) failed\n' "${0##*/}" "$failures" >&2
    exit 1
  fi
  printf '%s: all checks passed\n' "${0##*/}"
  exit 0
}

[[ -x "${KSVW_DT:-}" ]] || {
  echo "KSVW_DT does not name the built ksvw-dt" >&2
  exit 1
}
