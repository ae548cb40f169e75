#!/usr/bin/env bash
# Whole-process figures of ksvw-dt, printed (never checked):
#  1. `ksvw-dt convert` of 1 M "MONC" records against can-utils' log2asc
#     converting the same frames (the capture's candump export) to ASC, each
#     timed as a whole process, best of 5; beside them ksvw_bench's
#     in-process conversion of the same records (its best repetition).
#  2. Peak memory (/usr/bin/time -v, maximum resident set) of convert, export,
#     list, info and search on a capture of 10 M records (320 MB) made by
#     ksvw-gen --from-candump from such an export.
# Usage: bench/cli_bench.sh [1] [2]   (default both; after scripts/build.sh native)
# The captures and outputs live in a temporary folder removed at the end
# (KSVW_BENCH_DIR keeps them there instead, for another run).
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
bash "$KSVW_ROOT/scripts/setup.sh" bench >/dev/null
dt="$BUILD_DIR/ksvw-dt"
gen="$BUILD_DIR/ksvw-gen"
bench="$BUILD_DIR/bench/ksvw_bench"
for tool in "$dt" "$gen"; do [[ -x "$tool" ]] || die "$tool is not built (scripts/build.sh native)"; done
work="${KSVW_BENCH_DIR:-}"
if [[ -z "$work" ]]; then
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
cd "$work"

# best CMD...: "ELAPSED CPU", the shortest elapsed time and the shortest
# processor time (user and system) of five runs, in milliseconds. On a busy
# machine the processor time is the steadier figure.
best() {
  local best_e="" best_c="" i e c
  for ((i = 0; i < 5; i++)); do
    read -r e c < <(
      TIMEFORMAT='%3R %3U %3S'
      { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }'
    )
    [[ -z "$best_e" || $e -lt $best_e ]] && best_e=$e
    [[ -z "$best_c" || $c -lt $best_c ]] && best_c=$c
  done
  echo "$best_e $best_c"
}

speed() {
  # The records of ksvw_bench's BM_Convert: GenerateCapture(1000000, "MONC", 1).
  [[ -f m1.DT ]] || "$gen" --records 1000000 --board MONC --seed 1 -o m1.DT
  [[ -f m1.log ]] || "$dt" export --format candump -o m1.log m1.DT 2>/dev/null
  local frames ours theirs inproc
  frames=$(wc -l <m1.log)
  read -r -a ours < <(best "$dt" convert -o m1.txt m1.DT)
  read -r -a theirs < <(best log2asc -I m1.log -O m1.asc can0 can1)
  echo "figure: ksvw-dt convert, 1000000 records (m1.DT, $(stat -c %s m1.DT) bytes):" \
    "${ours[0]} ms elapsed, ${ours[1]} ms processor"
  echo "figure: log2asc, the same $frames CAN frames (m1.log):" \
    "${theirs[0]} ms elapsed, ${theirs[1]} ms processor"
  ratio "ksvw-dt convert against log2asc, elapsed" "${theirs[0]}" "${ours[0]}"
  ratio "ksvw-dt convert against log2asc, processor" "${theirs[1]}" "${ours[1]}"
  [[ -x "$bench" ]] || return 0
  # Its best repetition: "REAL CPU" in milliseconds.
  read -r -a inproc < <("$bench" --benchmark_filter='^BM_Convert/mdcl:0/csv:0/records:1000000/' \
    --benchmark_repetitions=5 --benchmark_format=csv 2>/dev/null |
    awk -F, '$1 ~ /real_time"?$/ { if (r == "" || $3 < r) r = $3; if (c == "" || $4 < c) c = $4 }
             END { printf "%.0f %.0f\n", r, c }')
  echo "figure: ksvw_bench's in-process conversion of the same records:" \
    "${inproc[0]} ms elapsed, ${inproc[1]} ms processor"
  ratio "whole process against in process, elapsed" "${ours[0]}" "${inproc[0]}"
  ratio "whole process against in process, processor" "${ours[1]}" "${inproc[1]}"
}

# ratio TEXT A B: prints A / B.
ratio() {
  awk -v t="$1" -v a="$2" -v b="$3" 'BEGIN { printf "figure: %s: %.2fx\n", t, a / (b ? b : 1) }'
}

memory() {
  if [[ ! -f big.DT ]]; then
    "$gen" --records 10000000 --board MONC --seed 3 -o big-gen.DT
    "$dt" export --format candump --force -o big.log big-gen.DT 2>/dev/null
    rm -f big-gen.DT
    "$gen" --from-candump big.log -o big.DT
    rm -f big.log
  fi
  echo "figure: capture big.DT of $(stat -c %s big.DT) bytes ($("$dt" info big.DT | grep records))"
  local -a commands=(
    "convert -o big.txt big.DT"
    "export --format asc -o big.asc big.DT"
    "list big.DT"
    "info big.DT"
    "search big.DT --data --count"
    "search big.DT --time 59,59,99 --up --from 9999999"
  )
  local command kb
  for command in "${commands[@]}"; do
    # shellcheck disable=SC2086 # the command is split into words
    /usr/bin/time -v -o time.txt "$dt" $command >/dev/null 2>&1 || true
    kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' time.txt)
    echo "figure: peak memory of ksvw-dt $command: $kb KiB"
  done
  rm -f big.txt big.asc
}

parts=("$@")
((${#parts[@]} > 0)) || parts=(1 2)
for part in "${parts[@]}"; do
  case "$part" in
    1) speed ;;
    2) memory ;;
    *) die "unknown part '$part' (expected 1 or 2)" ;;
  esac
done
