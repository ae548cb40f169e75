#!/usr/bin/env bash
# Runs the Windows tests of ksvwrmt.dll against simulated analyzers:
#   run_rmt_tests.sh TEST.EXE -- EMULATOR...   (GTEST_FILTER picks tests)
# Starts native ksvw-sim instances (TCP on loopback; pseudo-terminals that
# become the Wine prefix's COM5, COM6 and COM7, leaving every other COM port
# alone), hands their ports, COM names and captures to the test program in
# KSVW_SIM_* variables, runs it with the emulator (Wine) and stops them.
# Environment: KSVW_SIM (the native ksvw-sim), KSVW_WINEPREFIX.
set -uo pipefail

exe="$1"
shift 2
prefix="${KSVW_WINEPREFIX:-}"
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
[[ -x "${KSVW_SIM:-}" ]] || die "no native ksvw-sim at '${KSVW_SIM:-}': build it" \
  "(scripts/build.sh native) and point KSVW_NATIVE_TOOLS_DIR at its directory"
[[ -f "$prefix/system.reg" ]] || die "no Wine prefix at '$prefix': run scripts/wine-prefix.sh '$prefix'"

# shellcheck source=scripts/sim.sh
source "$KSVW_ROOT/scripts/sim.sh"
trap stop_all_sims EXIT
# A path of this machine as Wine sees it (drive Z: is the root).
win_path() {
  local p
  p="$(realpath -m "$1")"
  printf 'Z:%s' "${p//\//\\}"
}

rm -f ./*.DT
start_sim main --tcp 127.0.0.1:0 --records 20000 --board MDCL --seed 3
start_sim big --tcp 127.0.0.1:0 --records 393216 --board MONC --seed 8 --dump-capture big.DT
start_sim com --pty "$prefix/dosdevices/com5" --records 20000 --seed 4 --dump-capture com.DT
start_sim slow --pty "$prefix/dosdevices/com6" --records 1500 --seed 5 --line-rate 230400 \
  --dump-capture slow.DT
start_sim mute --pty "$prefix/dosdevices/com7" --records 20000 --seed 7 --drop-after-bytes 100000

export KSVW_SIM_PORT="$(sim_port main)"
export KSVW_SIM_BIG_PORT="$(sim_port big)"
export KSVW_SIM_BIG_CAPTURE="$(win_path big.DT)"
export KSVW_SIM_COM=COM5
export KSVW_SIM_COM_CAPTURE="$(win_path com.DT)"
export KSVW_SIM_SLOW_COM=COM6
export KSVW_SIM_SLOW_COM_CAPTURE="$(win_path slow.DT)"
export KSVW_SIM_MUTE_COM=COM7

# A Wine server of our own for the prefix, started quietly: one that Wine
# starts on demand inherits this script's output, holds it open for seconds
# after the test and may print its object dump into it.
if command -v wineserver >/dev/null; then
  WINEPREFIX="$prefix" wineserver -p5 </dev/null >/dev/null 2>&1 || true
fi

timeout -k 10 540 "$@" "$exe"
