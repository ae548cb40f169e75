#!/usr/bin/env bash
# The main job: builds the tools, generates sample captures of both option
# boards with ksvw-gen, and shows what ksvw-dt makes of them: the capture's
# summary (info) and the first lines of its text and CSV conversions. Then
# builds the Windows program and opens it under Wine, connected to a
# simulated analyzer (scripts/run-program.sh).
#   scripts/run.sh [--screenshot FILE]   drive the program as a user would
#                                        (connect, download, open the key
#                                        emulator, press a key), save a picture
#                                        of the main window (FILE) and of the
#                                        key emulator (FILE-keyemu.png), close
#                                        it and run a ksvw-remote.exe script,
#                                        printing its JSON (also the default
#                                        when there is no display)
#   KSVW_RUN_DIR     where the samples and conversions go (default: <build>/run)
#   KSVW_RUN_RECORDS records per sample (default 5000)
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

RUN_DIR="$(ksvw_abs "${KSVW_RUN_DIR:-$BUILD_DIR/run}")"
RECORDS="${KSVW_RUN_RECORDS:-5000}"
program_args=("$@")

"$KSVW_ROOT/scripts/setup.sh" native win
"$KSVW_ROOT/scripts/build.sh" native win

gen="$BUILD_DIR/ksvw-gen"
dt="$BUILD_DIR/ksvw-dt"
[[ -x "$gen" ]] || die "ksvw-gen was not built ($gen)"
[[ -x "$dt" ]] || die "ksvw-dt was not built ($dt)"
mkdir -p "$RUN_DIR"

show_head() {
  printf -- '--- first lines of %s (%s lines)\n' "$1" "$(wc -l <"$1")"
  head -n "$2" "$1" | tr -d '\r'
}

for board in MDCL MONC; do
  sample="$RUN_DIR/sample_${board,,}.DT"
  say "ksvw-gen: $RECORDS records from a $board board -> $sample"
  "$gen" --records "$RECORDS" --board "$board" --seed 7 -o "$sample"

  say "ksvw-dt info $sample"
  "$dt" info "$sample"

  say "ksvw-dt convert: text and CSV beside the sample"
  rm -f "${sample%.DT}.txt" "${sample%.DT}.csv"
  "$dt" convert "$sample"
  "$dt" convert --csv "$sample"
  show_head "${sample%.DT}.txt" 30
  show_head "${sample%.DT}.csv" 8
done
say "run: the samples and their conversions are in $RUN_DIR"

KSVW_RUN_DIR="$RUN_DIR" "$KSVW_ROOT/scripts/run-program.sh" "${program_args[@]}"
say "run: done"
