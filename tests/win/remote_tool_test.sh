#!/usr/bin/env bash
# ksvw-remote.exe under Wine against simulated analyzers:
#   remote_tool_test.sh KSVW-REMOTE.EXE -- EMULATOR...
# Keys with the SHIFT latch and the screen against the simulator's own
# screen (expect-screen both ways), a download byte for byte, --json read by
# Python, Ctrl-C during a download, an unreachable host, a refused connect,
# a lost link, a step's deadline, refusals before connecting, and the
# README's bench script. Wine can exit 0 from a crashed program, so every
# check looks at what the tool wrote; the last line is PASSED.
# Environment: KSVW_SIM, KSVW_DT (native programs), KSVW_WINEPREFIX, KSVW_README.
set -uo pipefail
exe="$1"
shift 2
emulator=("$@")
prefix="${KSVW_WINEPREFIX:-}"
[[ -f "$prefix/system.reg" ]] || { echo "no Wine prefix at '$prefix'" >&2; exit 1; }
# shellcheck source=scripts/sim.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/sim.sh"
KSVW_SIM_TIMEOUT=300
trap stop_all_sims EXIT
rm -rf ./* ./.[!.]*

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# remote WANT ARGS...: runs the tool (out.json, err.txt) and checks its exit.
remote() {
  local want="$1" got=0
  shift
  "${emulator[@]}" "$exe" "$@" >out.json 2>err.txt || got=$?
  ((got == want)) || fail "exit $got, not $want: $* ($(cat err.txt))"
}
# json PYTHON-EXPRESSION: true of the objects in out.json (a list, `s`).
json() {
  python3 -c 'import json,sys; s=[json.loads(l) for l in open("out.json")]; sys.exit(0 if eval(sys.argv[1]) else 1)' "$1" ||
    fail "out.json: not $1: $(cat out.json)"
}
no_files() { compgen -G "$1" >/dev/null && fail "left behind: $(echo $1)"; }

start_sim panel --records 3000 --seed 3 --verbose --dump-capture served.DT --dump-screen panel.scr
start_sim slow --records 20000 --seed 5 --line-rate 230400
for refusal in busy version board; do start_sim "$refusal" --refuse "$refusal"; done
start_sim drop --records 20000 --drop-in-section 0x8101
start_sim stall --hostile stall-section
lan() { echo "--lan 127.0.0.1:$(sim_port "$1")"; }
if command -v wineserver >/dev/null; then
  WINEPREFIX="$prefix" wineserver -p5 </dev/null >/dev/null 2>&1 || true
fi

# Refused before connecting: nothing listens on port 1, so a refusal that
# came after a connect would exit 4.
for args in "keys Q" "keys SHIFT,M*0" "frob" "screen x.bmp --mode 3" "wait-idle --timeout 0" \
  "download -" "" "keys"; do
  # shellcheck disable=SC2086
  remote 2 --lan 127.0.0.1:1 $args
done
remote 2 --serial COMX info
remote 2 --lan 127.0.0.1:99999 info

# SHIFT latches for the next key (0xFFFFFFFF, then 5 with 0x80); the saved
# screen is the simulator's last one as ksvw-dt renders it; the download is
# the served capture.
remote 0 $(lan panel) --json info keys 'shift 5' keys H screen got.bmp --mode 2 download got.DT
json '[o["step"] for o in s] == ["connect","info","keys","keys","screen","download"]'
json 'all(o["exit"] == 0 and o["code"] == "0x00000000" for o in s)'
json 's[1]["model"] == "0x00010024" and s[1]["board"] == "XP-RT4QX" and not s[1]["measuring"]'
json 's[2]["presses"] == 2 and s[5]["bytes"] == 0 + '"$(stat -c %s served.DT)"
tr '\n' ' ' <panel.err | grep -q 'key 0xFFFFFFFF .*key 0x8085 .*key 0x801A ' ||
  fail "the simulator did not get SHIFT, SHIFT+5, H"
"$KSVW_DT" lcd-image --mode 2 panel.scr -o want.bmp && cmp -s got.bmp want.bmp ||
  fail "got.bmp is not the simulator's screen"
cmp -s got.DT served.DT || fail "got.DT is not the served capture"
no_files '.got.DT.*'

# Another page differs (the current screen is kept beside the reference);
# back on the page, it matches.
remote 1 $(lan panel) --json keys M expect-screen want.bmp --timeout 0.5
json 's[2]["match"] is False and s[2]["differing_pixels"] > 0 and s[2]["exit"] == 1'
[[ -f want.current.bmp ]] && ! cmp -s want.current.bmp want.bmp || fail "no want.current.bmp"
# The link from a settings file, as the viewer keeps it.
printf '[REMOTE]\r\nMETHOD=2\r\n[RB40]\r\nHOST=127.0.0.1\r\nPORT=%s\r\n' "$(sim_port panel)" >lan.ini
remote 0 --settings lan.ini keys H expect-screen want.bmp
# A running measurement changes the screen (wait-screen) and runs past
# wait-idle's deadline (5); the download refuses it.
remote 5 $(lan panel) --json keys R wait-screen --timeout 3 wait-idle --timeout 0.3
json '[o["exit"] for o in s] == [0, 0, 0, 5]'
remote 4 $(lan panel) download no.DT
remote 0 $(lan panel) keys S wait-idle --timeout 5
no_files 'no.DT'
# Outputs in a folder that is not there: 3.
for args in "screen missing/x.bmp" "download missing/x.DT"; do
  # shellcheck disable=SC2086
  remote 3 $(lan panel) $args
done

# Ctrl-C while the records come: the analyzer sees the cancel, no file stays.
"${emulator[@]}" "$exe" $(lan slow) --json download slow.DT >out.json 2>err.txt &
pid=$!
for _ in $(seq 300); do compgen -G '.slow.DT.*' >/dev/null && break; sleep 0.1; done
sleep 0.5
kill -INT "$pid"
status=0
wait "$pid" || status=$?
((status == 130)) || fail "Ctrl-C: exit $status ($(cat err.txt))"
json 's[-1]["step"] == "download" and s[-1]["exit"] == 130 and s[-1]["code"] == "0x800704C7"'
grep -q 'section cancelled' slow.err || fail "the simulator saw no cancel"
no_files 'slow.DT'
no_files '.slow.DT.*'

# The link cannot be made, or is lost: 4, naming the library's code.
remote 4 --lan 127.0.0.1:1 info
grep -q 'no link to the analyzer (LAN 127.0.0.1:1): 0x8007' err.txt || fail "unreachable: $(cat err.txt)"
for refusal in "busy 0xA0000001 another computer" "version 0xA0000004 version is not" \
  "board 0xA0000009 no CAN or CAN/LIN option board"; do
  read -r name code words <<<"$refusal"
  remote 4 $(lan "$name") --json info
  json "s[0][\"code\"] == \"$code\" and \"$words\" in s[0][\"message\"]"
done
remote 4 $(lan drop) --json download lost.DT
json 's[-1]["code"] == "0x800708CA" and "lost" in s[-1]["message"]'
no_files '*lost.DT*'
# An analyzer that stops sending: the download's deadline (5), no file.
remote 5 $(lan stall) download stalled.DT --timeout 1
no_files '*stalled.DT*'

# The README's bench script, as it stands there.
mkdir bench
awk '/^#!\/bin\/sh/,/^```$/' "$KSVW_README" | grep -v '^```' >bench/bench.sh
analyzer="127.0.0.1:$(sim_port panel)"
(cd bench && ANALYZER="$analyzer" REMOTE="${emulator[*]} $exe" DT="$KSVW_DT" sh bench.sh \
  >bench.out 2>&1) || fail "the README's bench script: $(cat bench/bench.out)"
cmp -s bench/nightly.DT served.DT || fail "the bench script's download differs"

((failures == 0)) || exit 1
echo PASSED
