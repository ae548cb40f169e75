#!/usr/bin/env bash
# Runs the tests that drive the real program against simulated analyzers:
#   run_gui_tests.sh TEST.EXE [GTEST OPTIONS...] -- EMULATOR...
# Starts one native ksvw-sim per test that needs one (TCP on loopback), lists
# the captures they serve with ksvw-dt, hands the ports and files to the test
# program in KSVW_GUI_* variables, runs it with the emulator (Wine; it needs
# a display) and stops the simulators on every way out.
# Environment: KSVW_SIM, KSVW_DT (native programs), KSVW_WINEPREFIX,
# KSVW_GUI_APP_DIR (ksvw4q.exe and its libraries), KSVW_GUI_DATA_DIR.
set -uo pipefail

exe="$1"
shift
gtest_args=()
while (($# > 0)) && [[ "$1" != "--" ]]; do
  gtest_args+=("$1")
  shift
done
(($# > 0)) && shift
emulator=("$@")

fail() {
  echo "run_gui_tests.sh: $*" >&2
  exit 1
}
[[ -x "${KSVW_SIM:-}" ]] || fail "no native ksvw-sim at '${KSVW_SIM:-}': build it (scripts/build.sh native)"
[[ -x "${KSVW_DT:-}" ]] || fail "no native ksvw-dt at '${KSVW_DT:-}': build it (scripts/build.sh native)"
prefix="${KSVW_WINEPREFIX:-}"
[[ -f "$prefix/system.reg" ]] || fail "no Wine prefix at '$prefix': run scripts/wine-prefix.sh '$prefix'"
[[ -n "${DISPLAY:-}" ]] || fail "no display: run through scripts/with-xvfb.sh"

test_pid=""
app_key='HKCU\Software\Wine\AppDefaults\ksvw4q.exe\X11 Driver'
app_key_set=""
stop_all() {
  [[ -n "$test_pid" ]] && kill -TERM "$test_pid" 2>/dev/null
  stop_all_sims
  if [[ -n "$app_key_set" ]]; then
    "${emulator[@]}" reg delete "$app_key" /v Managed /f >/dev/null 2>&1
    app_key_set=""
  fi
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# shellcheck source=scripts/sim.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/sim.sh"
# Bounded even if this script is killed before it can stop them.
KSVW_SIM_TIMEOUT=300
# serve NAME ARGS...: one simulator on a loopback port of its own, its
# output in sim-NAME.out and sim-NAME.err; exports KSVW_GUI_PORT_NAME.
serve() {
  local name="$1"
  shift
  start_sim "sim-$name" --tcp 127.0.0.1:0 "$@"
  export "KSVW_GUI_PORT_${name^^}=$(sim_port "sim-$name")"
}

rm -rf scratch ./*.DT ./*.list ./sim-*
mkdir -p scratch

serve connect
serve busy --refuse busy
serve version --refuse version
serve board --refuse board
serve silent --no-answer
serve cancel --records 20000 --board MONC --seed 22 --line-rate 230400
serve drop --records 5000 --seed 23 --drop-in-section 0x8101
serve big --records 393216 --board MDCL --seed 24 --dump-capture download.DT
serve keyemu --verbose --dump-screen keyemu.scr
serve oddmodel --model 0x10030
# The key emulator's speed over a serial line: a pseudo-terminal that is the
# prefix's COM8, paced like a 230400 bit/s line.
start_sim sim-keyemu-serial --pty "$prefix/dosdevices/com8" --line-rate 230400
export KSVW_GUI_COM_KEYEMU=COM8

# The simulator wrote download.DT before it listened.
"$KSVW_DT" list download.DT >download.list || fail "ksvw-dt could not list download.DT"

# The capture of the search figures: 12 MiB, whose last record's data
# bytes occur nowhere else on its channel (the test checks that by counting).
"${KSVW_DT%/*}/ksvw-gen" --records 393216 --board MONC --seed 8 -o big.DT ||
  fail "ksvw-gen could not write big.DT"
# A download that holds no records.
"${KSVW_DT%/*}/ksvw-gen" --records 0 -o empty.DT || fail "ksvw-gen could not write empty.DT"

export KSVW_GUI_WORK_DIR="$PWD"

# A Wine server of our own for the prefix, started quietly (one that Wine
# starts on demand inherits this script's output and may hold it open).
if command -v wineserver >/dev/null; then
  WINEPREFIX="$prefix" wineserver -p5 </dev/null >/dev/null 2>&1 || true
fi

# No window manager runs on the test display. Wine's X11 driver waits up to
# two seconds for one whenever a managed window (a message box, a dialog)
# is hidden, which would stall the program after every answered box; let
# it manage the program's windows itself, as it does with no manager, for
# ksvw4q.exe only and only while the tests run. A value that was set
# already is left alone.
if ! "${emulator[@]}" reg query "$app_key" /v Managed >/dev/null 2>&1; then
  "${emulator[@]}" reg add "$app_key" /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 &&
    app_key_set=1
fi

status=0
timeout -k 10 240 "${emulator[@]}" "$exe" "${gtest_args[@]}" &
test_pid=$!
wait "$test_pid" || status=$?
test_pid=""
stop_all
exit "$status"
