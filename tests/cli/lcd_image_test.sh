# ksvw-dt lcd-image: the three image modes' file sizes, the default output
# beside the input, and screens that are not 1920 bytes (exit 1, as an
# unreadable one).
source "$KSVW_CLI_LIB"

head -c 1920 /dev/zero | tr '\0' '\125' >stripes.scr
for case in "0 2622" "1 2622" "2 10310"; do
  read -r mode size <<<"$case"
  run "$KSVW_DT" lcd-image --mode "$mode" stripes.scr -o "mode$mode.bmp"
  expect_status 0
  expect_empty err
  [[ $(stat -c %s "mode$mode.bmp") == "$size" ]] || fail "mode $mode: $(stat -c %s "mode$mode.bmp") bytes"
  [[ $(head -c 2 "mode$mode.bmp") == BM ]] || fail "mode $mode: no BM"
done
cmp -s mode0.bmp mode1.bmp && fail "the frame of mode 1 is missing"

run "$KSVW_DT" lcd-image stripes.scr
expect_status 0
cmp mode0.bmp stripes.bmp || fail "default mode or output name"

head -c 1919 stripes.scr >short.scr
cat stripes.scr stripes.scr >long.scr
: >empty.scr
for file in short.scr long.scr empty.scr; do
  run "$KSVW_DT" lcd-image "$file" -o out.bmp
  expect_status 1
  expect_contains err "not a screen of 1920 bytes"
  [[ ! -e out.bmp ]] || fail "$file: an image was written"
done

run "$KSVW_DT" lcd-image missing.scr
expect_status 1
expect_contains err "cannot read 'missing.scr'"

run "$KSVW_DT" lcd-image --mode 3 stripes.scr
expect_status 2

finish
