#!/usr/bin/env bash
# Creates the Wine prefix used by the Windows tests, once: `wineboot -i` takes
# a while, and doing it here keeps it out of the first test's time limit.
#   scripts/wine-prefix.sh [PREFIX]   (default: <Windows build dir>/wineprefix)
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

prefix="${1:-$WINE_PREFIX}"
command -v wine >/dev/null || die "wine is not installed (run scripts/setup.sh)"

if [[ -f "$prefix/system.reg" ]]; then
  say "Wine prefix ready: $prefix"
  exit 0
fi
say "Creating Wine prefix $prefix (once; takes a minute)"
mkdir -p "$(dirname "$prefix")"
# No display: wineboot needs none, and with DISPLAY unset it cannot open
# windows on the user's screen.
env -u DISPLAY WINEPREFIX="$prefix" wineboot -i </dev/null
# Wait for the server to write the registry and exit, so that the prefix is
# complete before the tests start their own server.
env WINEPREFIX="$prefix" wineserver -w
[[ -f "$prefix/system.reg" ]] || die "wineboot did not create $prefix"
say "Wine prefix ready: $prefix"
