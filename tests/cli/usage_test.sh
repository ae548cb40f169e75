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

# Every command loads a file the same way: a text file, an empty file or the
# magic alone without a data chunk is no capture, a missing file cannot be
# read; exit 1 with the reason on stderr only.
printf 'just some text, not a DT capture file\n' >not-a-capture.DT
: >empty.DT
head -c 16 "$KSVW_TEST_DATA/monc40.DT" >magic-only.DT
for command in info list convert "search --trigger"; do
  for file in not-a-capture.DT empty.DT magic-only.DT missing.DT; do
    # shellcheck disable=SC2086 # the search kind is a second word
    run "$KSVW_DT" ${command%% *} "$file" ${command#"${command%% *}"}
    expect_status 1
    expect_empty out
    if [[ "$file" == missing.DT ]]; then
      expect_contains err "cannot read 'missing.DT'"
    else
      expect_contains err "'$file' is not a DT capture file"
    fi
  done
done

finish
