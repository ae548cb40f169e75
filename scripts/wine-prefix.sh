#!/usr/bin/env bash
# Creates the Wine prefix used by the Windows tests, once: `wineboot -i` takes
# a while, and doing it here keeps it out of the first test's time limit.
#   scripts/wine-prefix.sh [PREFIX]
# PREFIX is relative to the repository root unless absolute (default: the
# Windows build directory's wineprefix/); its log is PREFIX.log.
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

prefix="$(ksvw_abs "${1:-$WINE_PREFIX}")"
command -v wine >/dev/null || die "wine is not installed (run scripts/setup.sh)"

if [[ -f "$prefix/system.reg" ]]; then
  say "Wine prefix ready: $prefix"
  exit 0
fi
say "Creating Wine prefix $prefix (once; takes a minute)"
mkdir -p "$(dirname "$prefix")"
log="$prefix.log"
# No display: wineboot needs none, and with DISPLAY unset it cannot open
# windows on the user's screen. Its chatter (without the 32-bit loader it
# reports that it cannot set up syswow64, which 64-bit programs never use)
# goes to a log that is shown only when the prefix is not made.
status=0
env -u DISPLAY WINEPREFIX="$prefix" wineboot -i </dev/null >"$log" 2>&1 || status=$?
# Wait for the server to write the registry and exit, so that the prefix is
# complete before the tests start their own server.
env WINEPREFIX="$prefix" wineserver -w >>"$log" 2>&1 || true
if ((status != 0)) || [[ ! -f "$prefix/system.reg" ]]; then
  cat "$log" >&2
  die "wineboot did not create $prefix (exit $status)"
fi
say "Wine prefix ready: $prefix"
