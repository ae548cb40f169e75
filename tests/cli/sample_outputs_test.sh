# The sample captures of tests/data convert, list and describe exactly as
# their expected outputs say, byte for byte (CR LF line ends in conversions).
source "$KSVW_CLI_LIB"
data="$KSVW_TEST_DATA"
export SOURCE_DATE_EPOCH=1796562312

same() {  # same EXPECTED ACTUAL
  cmp -s "$1" "$2" || {
    fail "$2 differs from $1"
    diff <(tr -d '\r' <"$1") <(tr -d '\r' <"$2") | head -n 10 >&2
  }
}

cp "$data/edge.DT" "$data/monc40.DT" .

run "$KSVW_DT" convert edge.DT monc40.DT
expect_status 0
same "$data/edge.txt" edge.txt
same "$data/monc40.txt" monc40.txt

run "$KSVW_DT" convert --csv edge.DT monc40.DT
expect_status 0
same "$data/edge.csv" edge.csv
same "$data/monc40.csv" monc40.csv

run "$KSVW_DT" convert --channel 2 --delta --raw-hex -o ch2.txt edge.DT
expect_status 0
same "$data/edge_ch2_delta_rawhex.txt" ch2.txt

run "$KSVW_DT" list edge.DT
expect_status 0
same "$data/edge.list" out
run "$KSVW_DT" list --delta edge.DT
expect_status 0
same "$data/edge_delta.list" out

run "$KSVW_DT" info edge.DT
expect_status 0
same "$data/edge.info" out
run "$KSVW_DT" info monc40.DT
expect_status 0
same "$data/monc40.info" out

# Converting twice gives the same bytes: nothing of the first run leaks in.
run "$KSVW_DT" convert edge.DT
same "$data/edge.txt" edge.txt

finish
