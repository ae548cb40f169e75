#!/usr/bin/env bash
# The analyzer simulator end to end: a native host client downloads the four
# sections over TCP and over the pty and gets the served DT file byte for
# byte; the handshake refusals, silence, a dropped link and a noisy line
# behave as the remote library expects.
# shellcheck disable=SC2086 # the options of a case are split into words
source "$KSVW_CLI_LIB"

bin="$(dirname "$KSVW_DT")/sim"
SIM="$bin/ksvw-sim"
CLIENT="$bin/ksvw-sim-client"
[[ -x "$SIM" && -x "$CLIENT" ]] || {
  echo "ksvw-sim and ksvw-sim-client are not built beside ksvw-dt" >&2
  exit 1
}

# shellcheck source=scripts/sim.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/sim.sh"
KSVW_SIM="$SIM"
# serve ARGS...: one simulator at a time, output in sim.out and sim.err; sets $port.
serve() {
  start_sim sim "$@"
  port="$(sim_port sim)"
}
stop_serving() {
  local rc=0
  stop_sim sim || rc=$?
  [[ "$rc" == 0 ]] || fail "ksvw-sim: exit status $rc after SIGTERM"
}
trap stop_all_sims EXIT

# Generated CAN/LIN capture over TCP.
serve --records 20000 --board MDCL --seed 3 --dump-capture served.DT
expect_contains sim.out "listening tcp 127.0.0.1:"
run "$CLIENT" --tcp "127.0.0.1:$port" --out got.DT --expect served.DT --keys 3
expect_status 0
expect_contains out "connected model 0x10024 detail 0 board MDCL"
expect_contains out "download matches served.DT"
expect_contains out "key -> screen over 3 presses"
cmp -s got.DT served.DT || fail "downloaded file differs from the served one"
[[ "$(stat -c %s served.DT)" -gt 640000 ]] || fail "served capture is too small"
# A second host after the first one left.
run "$CLIENT" --tcp "127.0.0.1:$port" --no-download --keys 1
expect_status 0
stop_serving
expect_contains sim.err "stopping on SIGTERM"

# A capture file given to the simulator; its data tag sets the board.
serve --records 300 --board MONC --seed 9 --dump-capture monc.DT
stop_serving
serve --capture monc.DT --detail 7
run "$CLIENT" --tcp "127.0.0.1:$port" --expect monc.DT --keys 0
expect_status 0
expect_contains out "connected model 0x10014 detail 7 board MONC"
expect_contains out "download matches monc.DT"
stop_serving

# A capture the sections cannot serve (here not a capture at all) is refused at start-up.
head -c 100 /dev/zero >bad.DT
run "$SIM" --capture bad.DT
expect_status 1
expect_contains err "capture refused"

# Refusals of the handshake, and no answer at all (the connect times out).
for pair in "--refuse busy:0xA0000001" "--refuse version:0xA0000004" "--refuse board:0xA0000009" \
  "--no-answer:0x80070102"; do
  serve ${pair%%:*}
  run "$CLIENT" --tcp "127.0.0.1:$port" --keys 0
  expect_status 3
  expect_contains out "connect failed ${pair#*:}"
  stop_serving
done

# The link drops halfway through the data section.
serve --records 20000 --drop-in-section 0x8101
run "$CLIENT" --tcp "127.0.0.1:$port" --keys 0
expect_status 5
expect_contains out "section 0x8101:"
expect_contains out "0x800708CA"
expect_contains sim.err "midway through section 0x8101"
stop_serving

# The serial stand-in: a pty at 230400 bit/s, clean and then noisy.
for noise in "" "--corrupt-rate 0.00005"; do
  serve --pty ./com1 --records 1500 --seed 4 --line-rate 230400 $noise --dump-capture pty.DT
  expect_contains sim.out "listening pty ./com1 -> /dev/pts/"
  [[ -L com1 ]] || fail "no pty symlink"
  run "$CLIENT" --serial ./com1 --baud 230400 --expect pty.DT --keys 2
  expect_status 0
  expect_contains out "download matches pty.DT"
  stop_serving
  [[ ! -e com1 && ! -L com1 ]] || fail "pty symlink left behind"
done

finish
