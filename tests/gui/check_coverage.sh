#!/usr/bin/env bash
# Fails when a GUI test that tests/gui/README.md or a test's comment names as
# covering a behaviour does not exist, so that renaming or dropping one
# cannot silently drop what other tests leave to it:
#   check_coverage.sh SOURCE_DIR -- COMMAND...   (COMMAND runs ksvw_gui_tests)
# A test is named as a code span whose suite ends in "Test" (no other suite
# does), with the instance of a parameterised one:
# `Program/ConnectFailureTest.ShowsItsTextAndReturnsToNotConnected/AtOnce`.
set -euo pipefail
src="$1"
shift 2
# "Suite." lines, each followed by "  Name" lines (Wine's console adds CRs).
names="$("$@" --gtest_list_tests | tr -d '\r' |
  awk '/^[^ ]/ { suite = $1; next } /^  [^ ]/ { print suite $1 }')"
# shellcheck disable=SC2016 # the backquotes are Markdown's
named="$(cd "$src" && grep -rnoE '`[A-Za-z0-9_/]*Test\.[A-Za-z0-9_/]+`' tests \
  --include='*.cpp' --include='*.h' --include='*.sh' --include='*.md' | tr -d '`')"
[[ -n "$names" && -n "$named" ]] || { echo "check_coverage.sh: nothing listed or named" >&2; exit 1; }
status=0
while IFS=: read -r file line name; do
  grep -qxF "$name" <<<"$names" || { echo "$file:$line: no GUI test $name" >&2; status=1; }
done <<<"$named"
echo "check_coverage.sh: $(wc -l <<<"$named") names checked against $(wc -l <<<"$names") tests"
exit "$status"
