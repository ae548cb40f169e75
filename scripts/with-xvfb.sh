#!/usr/bin/env bash
# Runs one command with a virtual X display, for tests that open windows
# (console programs need none):
#   scripts/with-xvfb.sh COMMAND [ARGS...]
# Xvfb picks a free display number itself (-displayfd), so several runs can
# go on side by side; it is stopped when the command ends, and the command's
# exit status is passed on.
# With WINEPREFIX set, the Wine server of that prefix is waited for before
# the display comes and before it goes away: Wine's desktop process keeps its
# X connection (or its lack of one) until the server exits, and a server
# bound to a dead display, or to none, makes the next run of the prefix fail
# to open windows.
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

(($# > 0)) || die "usage: with-xvfb.sh COMMAND [ARGS...]"
command -v Xvfb >/dev/null || die "Xvfb is not installed (run scripts/setup.sh)"

tmp="$(mktemp -d)"
xvfb_pid=""
cleanup() {
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
  3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 </dev/null &
xvfb_pid=$!

# The server writes its display number once it accepts connections.
for _ in $(seq 1 100); do
  [[ -s "$tmp/display" ]] && break
  kill -0 "$xvfb_pid" 2>/dev/null || {
    cat "$tmp/xvfb.log" >&2
    die "Xvfb did not start"
  }
  sleep 0.1
done
[[ -s "$tmp/display" ]] || die "Xvfb gave no display number within 10 s"
display=":$(head -n1 "$tmp/display" | tr -d '[:space:]')"

# A Wine server still running from a run without a display (the console
# tests just before) would hand this run its display-less desktop, on which
# CreateWindowEx fails for every top-level window: let it end first, and end
# it if something keeps it alive.
if [[ -n "${WINEPREFIX:-}" ]] && command -v wineserver >/dev/null; then
  timeout 60 wineserver -w || wineserver -k 2>/dev/null || true
fi

status=0
DISPLAY="$display" "$@" || status=$?
if [[ -n "${WINEPREFIX:-}" ]] && command -v wineserver >/dev/null; then
  wineserver -w || true
fi
exit "$status"
