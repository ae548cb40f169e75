# ksvw-dt's command line: help, unknown commands and a file that is not a
# capture.
source "$KSVW_CLI_LIB"

run "$KSVW_DT" --help
expect_status 0
expect_contains out "usage: ksvw-dt"
expect_contains out "convert"
expect_empty err

run "$KSVW_DT"
expect_status 2
expect_contains err "usage: ksvw-dt"
expect_empty out

run "$KSVW_DT" frobnicate capture.DT
expect_status 2
expect_contains err "unknown command 'frobnicate'"
expect_empty out

# A text file is no capture: exit 1 with the reason on stderr only.
printf 'just some text, not a DT capture file\n' >not-a-capture.DT
run "$KSVW_DT" info not-a-capture.DT
expect_status 1
expect_not_empty err

# Neither is an empty file, nor the magic alone without a data chunk.
: >empty.DT
run "$KSVW_DT" info empty.DT
expect_status 1
expect_not_empty err
printf 'KESTRIN DATA   \0' >magic-only.DT
run "$KSVW_DT" info magic-only.DT
expect_status 1
expect_not_empty err

finish
