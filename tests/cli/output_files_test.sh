# Every command that writes a file replaces it only with a whole new one: a
# failed write (a file size limit, a full tmpfs, /dev/full) leaves the old
# file byte for byte, no temporary stays behind, links are written through,
# devices are never removed, and no command overwrites its own input. The
# candump import refuses what is no candump log and counts what it leaves out.
source "$KSVW_CLI_LIB"
[[ -x "${KSVW_GEN:-}" ]] || { echo "FAIL: ksvw-gen is not built" >&2 && exit 1; }
dt() { "$KSVW_DT" "$@"; }
gen() { "$KSVW_GEN" "$@"; }
# Writes past 8 KiB fail with EFBIG, as on a full disk.
limited() { (ulimit -f 8 && trap '' XFSZ && "$@"); }
late() { SOURCE_DATE_EPOCH=253402300800 "$@"; }

# row STATUS "FILE..." TEXT COMMAND...: the command exits STATUS with TEXT on
# stderr; each FILE is byte for byte as before and no temporary is left.
row() {
  local want="$1" text="$3" f
  read -ra kept <<<"$2"
  shift 3
  for f in "${kept[@]}"; do cp "$f" "kept.${f//\//_}"; done
  run "$@"
  expect_status "$want"
  if [[ -n "$text" ]]; then expect_contains err "$text"; else expect_empty err; fi
  for f in "${kept[@]}"; do cmp -s "$f" "kept.${f//\//_}" || fail "$last_command: $f changed"; done
  [[ -z "$(find . -name '.*.tmp')" ]] || fail "$last_command: a temporary file was left"
}

rm -rf screen.real victim in.DT dup.txt dup.log kept.* null full # left by an earlier run
gen --records 3000 --seed 5 -o cap.DT
printf '(1700000000.000100) can0 123#1122\n(1700000000.000300) can1 1ABCDEF0#R\n' >t.log
gen --from-candump t.log
awk 'BEGIN { for (i = 0; i < 600; i++) printf "(%d.000000) can0 123#11\n", i }' >big.log
head -c 1920 /dev/urandom >screen.scr
cp screen.scr SCREEN.bmp
cp t.log x.DT
cp cap.DT dup.DT
cp cap.DT dup.dt
mkdir -p adir
printf 'yesterday\n' | tee cap.txt old.log old.DT big.DT old.bmp real.txt >/dev/null
ln -sf real.txt link.txt
null=/dev/null full=/dev/full # nodes of our own as root: no risk to the system's
[[ $EUID == 0 ]] && mknod null c 1 3 2>/dev/null && mknod full c 1 7 && null=null full=full

while IFS='|' read -r want kept text command; do
  # shellcheck disable=SC2086 # the command is split into words
  row "$want" "$kept" "$text" $command
done <<ROWS
3|cap.txt|cannot write 'cap.txt': File too large|limited dt convert cap.DT
3|old.log|cannot write 'old.log'|limited dt export --format asc -o old.log cap.DT
3|old.DT|cannot write 'old.DT'|limited gen --records 3000 -o old.DT
3|big.DT|cannot write 'big.DT'|limited gen --from-candump big.log
3|old.bmp|cannot write 'old.bmp'|limited dt lcd-image --mode 2 screen.scr -o old.bmp
3|real.txt|cannot write 'link.txt'|limited dt convert -o link.txt cap.DT
3|t.log|'t.log' exists and was not replaced; name another output with -o, or replace it with --force|dt export --format candump t.DT
3|cap.DT|'cap.DT': the output would overwrite its source|dt convert -o cap.DT cap.DT
3|SCREEN.bmp|'SCREEN.bmp': the output would overwrite its source|dt lcd-image SCREEN.bmp
3|screen.scr|'screen.scr': the output would overwrite its source|dt lcd-image screen.scr -o ./screen.scr
3|x.DT|the output 'x.DT' would overwrite the log 'x.DT'|gen --from-candump x.DT
2|dup.DT dup.dt|'dup.DT' and 'dup.dt' would both be written to 'dup.txt'; nothing written|dt convert dup.DT dup.dt
2|dup.DT dup.dt|'dup.DT' and 'dup.dt' would both be written to 'dup.log'; nothing written|dt export --format candump dup.DT dup.dt
3||cannot write 'adir': Is a directory|dt lcd-image screen.scr -o adir
3||cannot write '$full': No space left on device|dt lcd-image screen.scr -o $full
1||cannot read 'adir': Is a directory|dt info adir
1||cannot read 'adir': Is a directory|dt lcd-image adir
2||SOURCE_DATE_EPOCH must be a number of seconds from 0 to 253402300799|late dt convert cap.DT
ROWS
[[ ! -e dup.log && ! -e dup.txt ]] || fail "a refused batch wrote an output"
[[ -c "$null" && -c "$full" ]] || fail "a device the output went to is gone"

# Outputs that succeed: through a link (the link stays), to a device and to
# standard output, or replacing with --force.
chmod 600 real.txt
run dt convert -o link.txt cap.DT
expect_status 0
[[ -L link.txt && $(head -c 3 real.txt) == '*=[' ]] || fail "convert did not write through link.txt"
[[ $(stat -c %a real.txt) == 600 ]] || fail "the replaced real.txt lost its permissions"
run dt lcd-image screen.scr -o "$null"
expect_status 0
[[ -c "$null" ]] || fail "lcd-image removed $null"
export SOURCE_DATE_EPOCH=1700000000
run dt export --format candump -o /dev/stdout t.DT
expect_status 0
expect_contains out "(1700000000.000200) can1 1ABCDEF0#R"
run dt export --format candump --force t.DT
expect_status 0
expect_contains t.log "(1700000000.000000) can0 123#1122"
unset SOURCE_DATE_EPOCH

# A full disk: the old output stays whole although the new one does not fit.
if mkdir -p disk && mount -t tmpfs -o size=64k ksvw-test disk 2>mount.err; then
  printf 'yesterday\n' >disk/cap.txt
  row 3 disk/cap.txt "cannot write 'disk/cap.txt': No space left on device" \
    dt convert -o disk/cap.txt cap.DT
  umount disk
else
  echo "skipped the full tmpfs: cannot mount one ($(cat mount.err))"
fi

# The simulator's screen dump: through a link, never through a planted
# FILE.part, and never beside a directory.
sim="$(dirname "$KSVW_DT")/sim/ksvw-sim"
sim_dump() {  # TARGET: runs the simulator until it has dumped its screen to TARGET or failed to
  : >sim.err # now: the background start may empty it only after the first look
  "$sim" --records 10 --dump-screen "$1" >sim.out 2>>sim.err &
  local pid=$! i
  for ((i = 0; i < 100; i++)); do
    [[ -f "$1" ]] || grep -q "cannot write" sim.err && break
    sleep 0.1
  done
  kill "$pid" && wait "$pid"
}
ln -sf screen.real shown.scr
ln -sf victim shown.scr.part
sim_dump shown.scr
[[ -L shown.scr && $(stat -c %s screen.real) == 1920 && ! -e victim ]] ||
  fail "--dump-screen shown.scr: $(ls -l shown.scr* screen.real victim 2>&1)"
sim_dump adir
expect_contains sim.err "cannot write adir: Is a directory"
[[ -z "$(find . \( -name '*.part' -o -name '.*.tmp' \) ! -name shown.scr.part)" ]] ||
  fail "--dump-screen adir left a file"

# Damaged source bytes: exports place records as the converter does. A
# "MONC" record of source 3 shows as CAN channel 3, an "MDCL" record of
# source 0 as LIN channel '?': no channel of an export gets them.
cp t.DT monc3.DT
printf '\003' | dd of=monc3.DT bs=1 seek=24 conv=notrunc status=none
cp monc3.DT mdcl0.DT
printf 'MDCL' | dd of=mdcl0.DT bs=1 seek=16 conv=notrunc status=none
printf '\000' | dd of=mdcl0.DT bs=1 seek=24 conv=notrunc status=none
for capture in monc3 mdcl0; do
  row 0 "" "1 record(s) left out: their source byte names no channel" \
    dt export --format asc --channel 2 -o "$capture.asc" "$capture.DT"
  [[ $(grep -c ' Rx ' "$capture.asc") == 1 ]] || fail "$capture.asc: $(grep ' Rx ' "$capture.asc")"
done

# The candump import: what it reads, what it counts, what it refuses.
# printf FORMAT of the log | records (- refused, exit 1) | text on stderr
while IFS='|' read -r log records text; do
  # shellcheck disable=SC2059 # the table's logs are printf formats
  printf "$log" >in.log
  if [[ "$records" == - ]]; then
    row 1 in.log "$text" gen --from-candump in.log
    [[ ! -e in.DT ]] || fail "$log: a capture was written"
  else
    row 0 in.log "$text" gen --from-candump in.log
    dt info in.DT | grep -qx "records: $records" || fail "$log: $(dt info in.DT | grep records)"
  fi
  rm -f in.DT
done <<'LOGS'
(1.000000) can0 123#11\r(1.000200) can0 124#22\r(1.000400) can0 125#\r|3|
(1.000000) can0 123#11\r\n\r\n# comment\r\n(1.000200) can1 124#22\r\n|2|
(2.0) can0 123#11\n(1.0) can0 124#22\n(1.5) can0 125#\n(3.0) can0 126#\n|4|1 frame(s) come before the frame above them
(1.0) can0 123#11\n(99999999999.0) can0 124#22\n|1|line 2 (time stamp out of range): (99999999999.0)
(1.0) can0 123#11\n(1.0) can0 C0000123#22\n(1.0) can0 800#\n|1|2 line(s) are no candump -l frame and were left out; the first, line 2 (not a CAN frame (ID#DATA)): (1.0) can0 C0000123#22
(1.0) can0 123#11\n(1.0) can0 12\000#22\n|1|line 2 (a NUL byte in the line): (1.0) can0 12?#22
(1.0) can0 123#11\n(4000.0) can0 124#22\n|2|1 frame(s) come an hour or more after the frame above them
  can0  123   [2]  11 22\n  can0  124   [0]\n|-|line 1 (no (SECONDS.FRACTION) time stamp):   can0  123   [2]  11 22
date Sat Dec 6 10:00:00 2025\nbase hex  timestamps absolute\n   0.001000 1  123  Rx d 2 11 22\n|-|holds no CAN frame for a capture; expected candump -l lines such as
(1.0) can0 123##011\n(1.0) can0 20000080#0000000000000000\n|-|left out 1 CAN FD frame(s), 1 error frame(s) and 0 frame(s)
LOGS
for ((i = 0; i < 66; i++)); do printf '(1.0) can%d 123#11\n' "$i"; done >in.log
row 0 in.log "and 64 frame(s) of a third interface (or one past the 64th)" gen --from-candump in.log
dt info in.DT | grep -qx "records: 2" || fail "66 interfaces: $(dt info in.DT | grep records)"

finish
