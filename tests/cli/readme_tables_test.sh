# The README's tables keep up with the tree: every top-level source folder
# and every */win32/ folder is named in a table row (`folder/`), and every
# package group of scripts/setup.sh is in the README's setup.sh line.
source "$KSVW_CLI_LIB"

root="$(cd "$KSVW_TEST_DATA/../.." && pwd)"
readme="$root/README.md"
grep '^|' "$readme" >tables

# The folders git tracks; outside a checkout, the tree without build trees.
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$root" ls-files >files
else
  (cd "$root" && find . -path './build*' -prune -o -type f -print | sed 's#^\./##') >files
fi
grep '/' files | cut -d/ -f1 | grep -v '^\.' | sort -u >folders
grep -oE '^([^/]+/)*win32/' files | sort -u >win32

[[ -s folders && -s win32 ]] || fail "no source folders found below $root"
while read -r folder; do
  grep -qF "\`$folder/" tables || fail "README tables do not name \`$folder/\`"
done <folders
while read -r folder; do
  grep -qF "\`$folder\`" tables || fail "README tables do not name \`$folder\`"
done <win32

setup_line="$(grep -F 'scripts/setup.sh [' "$readme")"
for group in $(grep -oE '^\s+\[[a-z]+\]=' "$root/scripts/setup.sh" | tr -d ' []='); do
  [[ "$setup_line" == *"[$group]"* ]] || fail "README's setup.sh line lacks [$group]"
done

finish
