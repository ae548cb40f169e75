# Exports read back by the tools they are for. A candump log with every frame
# shape survives candump -> DT -> candump unchanged; every capture of
# tests/data, in every format, is read by python-can, tshark, tcpdump and
# can-utils' log2asc and asc2log with the frames and times of the capture.
source "$KSVW_CLI_LIB"
python=/usr/bin/python3  # Debian's, with python3-can (not a pyenv one on PATH)
readback="$(dirname "$KSVW_CLI_LIB")/export_readback.py"
missing=()
"$python" -c 'import can' 2>/dev/null || missing+=(python3-can)
for tool in tshark tcpdump log2asc asc2log localedef "${KSVW_GEN:-ksvw-gen}"; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]} > 0)); then
  echo "FAIL: missing ${missing[*]} (scripts/setup.sh readback installs the packages)" >&2
  exit 1
fi
# asc2log reads an ASC date ("... 01:05:12.000 pm 2026") in the locale en_US only.
mkdir -p locales && localedef -i en_US -f ISO-8859-1 locales/en_US 2>/dev/null
export LOCPATH=$PWD/locales TZ=UTC SOURCE_DATE_EPOCH=1796562312

# Standard and extended identifiers, 0 to 8 bytes, remote frames with and
# without a length, raw DLC fields above 8 (kept by --len8-dlc), both
# interfaces, an hour wrap and a gap of 59 minutes.
cat >shapes.log <<'LOG'
(1796562312.000000) can0 123#
(1796562312.000200) can0 7FF#11
(1796562312.001000) can1 000#1122334455667788
(1796562312.250000) can0 12345678#DEADBEEF
(1796562313.000000) can1 1FFFFFFF#R
(1796562313.000200) can0 456#R5
(1796562313.000400) can0 00000456#R8_C
(1796562313.000600) can1 3A0#0102030405060708_F
(1796565911.999800) can0 100#AA
(1796565912.000200) can1 0ABCDEF0#00
(1796569452.000200) can0 200#0102
LOG
run "$KSVW_GEN" --from-candump shapes.log
expect_status 0
run "$KSVW_DT" export --format candump --len8-dlc -o back.log shapes.DT
expect_status 0
cmp -s shapes.log back.log || { fail "candump round trip differs"; diff shapes.log back.log >&2; }

for capture in edge mdcl_edge monc_edge monc40 lin_sums shapes; do
  [[ -e $capture.DT ]] || cp "$KSVW_TEST_DATA/$capture.DT" .
  "$KSVW_DT" list "$capture.DT" >"$capture.list"
  for format in candump asc pcapng blf "pcapng --split-links"; do
    # shellcheck disable=SC2086 # the format's option is a word of its own
    run "$KSVW_DT" export --force --format $format "$capture.DT"
    expect_status 0
  done
  while read -r reader file; do
    "$python" "$readback" "$capture.DT" "$capture.list" "$reader" "$capture$file" ||
      fail "$reader $capture$file"
  done <<'READERS'
candump .log
log2asc .log
asc .asc
asc2log .asc
blf .blf
tshark .blf
tshark .pcapng
tcpdump -can.pcapng
tcpdump -lin.pcapng
READERS
done

# The mixed file stops libpcap readers after its first packet; the split ones
# do not. Interfaces run at the capture's bit rates.
run tcpdump -r edge.pcapng
expect_contains err "different from the type of the first interface"
capinfos lin_sums.pcapng | tr -s ' \n' ' ' >speeds
grep -Eq "Name = lin0 [^#]*Speed = 19200 .*Name = can1 [^#]*Speed = 500000 " speeds ||
  fail "lin_sums.pcapng: interface speeds: $(cat speeds)"

# --channel keeps one channel; a format's option belongs to it; usage and
# output errors exit as convert does.
run "$KSVW_DT" export --format candump --channel 2 -o ch2.log edge.DT
expect_status 0
expect_contains ch2.log " can1 "
grep -q " can0 " ch2.log && fail "--channel 2 kept CH1 frames"
while read -r status command; do
  # shellcheck disable=SC2086 # the command is split into words
  run "$KSVW_DT" export $command
  expect_status "$status"
done <<'CASES'
2 edge.DT
2 --format asc --split-links -o x.asc edge.DT
2 --format pcapng --split-links -o - edge.DT
2 --format xml edge.DT
3 --format blf -o no-such-dir/edge.blf edge.DT
CASES
finish
