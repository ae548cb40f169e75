# The sample captures of tests/data convert, list and describe exactly as
# their expected outputs say, byte for byte (CR LF line ends in conversions).
source "$KSVW_CLI_LIB"
data="$KSVW_TEST_DATA"
export SOURCE_DATE_EPOCH=1796562312
samples=(edge monc40 mdcl_edge monc_edge)

same() {  # same EXPECTED ACTUAL
  cmp -s "$1" "$2" || {
    fail "$2 differs from $1"
    diff <(tr -d '\r' <"$1") <(tr -d '\r' <"$2") | head -n 10 >&2
  }
}

for sample in "${samples[@]}"; do cp "$data/$sample.DT" .; done
# All samples in one run, so that nothing of one file leaks into the next.
run "$KSVW_DT" convert "${samples[@]/%/.DT}"
expect_status 0
run "$KSVW_DT" convert --csv "${samples[@]/%/.DT}"
expect_status 0
for sample in "${samples[@]}"; do
  same "$data/$sample.txt" "$sample.txt"
  same "$data/$sample.csv" "$sample.csv"
done

# EXPECTED COMMAND...: a conversion or export goes to the file conv, anything else to stdout.
# --delta is for text output only: CSV ignores it.
# shellcheck disable=SC2086 # the command is split into words
while read -r expected command; do
  rm -f conv
  run "$KSVW_DT" $command
  expect_status 0
  if [[ -e conv ]]; then same "$data/$expected" conv; else same "$data/$expected" out; fi
done <<'CASES'
edge_ch2_delta_rawhex.txt convert --channel 2 --delta --raw-hex -o conv edge.DT
mdcl_edge_delta_rawhex.txt convert --delta --raw-hex -o conv mdcl_edge.DT
mdcl_edge_ch1_rawhex.csv convert --csv --channel 1 --raw-hex -o conv mdcl_edge.DT
monc_edge.csv convert --csv --delta -o conv monc_edge.DT
edge.list list edge.DT
edge_delta.list list --delta edge.DT
mdcl_edge.list list mdcl_edge.DT
mdcl_edge_delta.list list --delta mdcl_edge.DT
monc_edge.list list monc_edge.DT
edge.info info edge.DT
monc40.info info monc40.DT
edge.asc export --format asc -o conv edge.DT
mdcl_edge.asc export --format asc -o conv mdcl_edge.DT
CASES

finish
