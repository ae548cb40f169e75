# Exports read back by the tools they are for: a candump log with every frame
# shape survives candump -> DT -> candump unchanged; python-can reads the
# .log and .asc exports, and tshark the .pcapng, of the tests/data captures
# with the frames `ksvw-dt list` shows.
source "$KSVW_CLI_LIB"
python=/usr/bin/python3  # Debian's, with python3-can (not a pyenv one on PATH)
readback="$(dirname "$KSVW_CLI_LIB")/export_readback.py"
missing=()
"$python" -c 'import can' 2>/dev/null || missing+=(python3-can)
command -v tshark >/dev/null || missing+=(tshark)
[[ -x "${KSVW_GEN:-}" ]] || missing+=(ksvw-gen)
if ((${#missing[@]} > 0)); then
  echo "FAIL: missing ${missing[*]} (scripts/setup.sh readback installs the packages)" >&2
  exit 1
fi

# Standard and extended identifiers, 0 to 8 bytes, remote frames with and
# without a length, raw DLC fields above 8, both interfaces, an hour wrap
# and a gap of 59 minutes.
cat >shapes.log <<'LOG'
(0000000000.000000) can0 123#
(0000000000.000200) can0 7FF#11
(0000000000.001000) can1 000#1122334455667788
(0000000000.250000) can0 12345678#DEADBEEF
(0000000001.000000) can1 1FFFFFFF#R
(0000000001.000200) can0 456#R5
(0000000001.000400) can0 00000456#R8_C
(0000000001.000600) can1 3A0#0102030405060708_F
(0000003599.999800) can0 100#AA
(0000003600.000200) can1 0ABCDEF0#00
(0000007140.000200) can0 200#0102
LOG
run "$KSVW_GEN" --from-candump shapes.log
expect_status 0
run "$KSVW_DT" export --format candump -o back.log shapes.DT
expect_status 0
cmp -s shapes.log back.log || { fail "candump round trip differs"; diff shapes.log back.log >&2; }

# Payloads stay plain data: no protocol that tshark would guess on top.
tshark_fields=(-T fields
  -E separator=/t -e frame.interface_name -e frame.time_epoch -e can.id -e can.flags.xtd
  -e can.flags.rtr -e can.len -e lin.frame_id -e data.data)
for protocol in autosar-nm signal_pdu ipdum obd-ii iso15765; do
  tshark_fields+=(--disable-protocol "$protocol")
done
for capture in edge monc40; do
  cp "$KSVW_TEST_DATA/$capture.DT" .
  rm -f "$capture".{log,asc,pcapng} # an export never replaces one beside its capture
  "$KSVW_DT" list "$capture.DT" >"$capture.list"
  for format in candump asc pcapng; do
    run "$KSVW_DT" export --format "$format" "$capture.DT"
    expect_status 0
    case "$format" in
      candump) "$python" "$readback" "$capture.list" candump "$capture.log" || fail "$capture.log" ;;
      asc) "$python" "$readback" "$capture.list" asc "$capture.asc" || fail "$capture.asc" ;;
      pcapng)
        run tshark -r "$capture.pcapng"
        expect_status 0
        grep -v '^Running as user "root"' err >tshark.err
        expect_empty tshark.err
        grep -q Malformed out && fail "tshark: malformed packets in $capture.pcapng"
        tshark -r "$capture.pcapng" "${tshark_fields[@]}" >"$capture.fields" 2>/dev/null
        "$python" "$readback" "$capture.list" pcapng "$capture.fields" || fail "$capture.pcapng"
        ;;
    esac
  done
done

# --channel keeps one channel; usage and output errors exit as convert does.
run "$KSVW_DT" export --format candump --channel 2 -o ch2.log edge.DT
expect_status 0
expect_contains ch2.log " can1 "
grep -q " can0 " ch2.log && fail "--channel 2 kept CH1 frames"
run "$KSVW_DT" export edge.DT
expect_status 2
run "$KSVW_DT" export --format asc -o no-such-dir/edge.asc edge.DT
expect_status 3
finish
