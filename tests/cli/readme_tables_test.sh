# The README's tables name every top-level source folder and every */win32/
# folder (as `folder/`), and its setup.sh line every group of scripts/setup.sh.
source "$KSVW_CLI_LIB"

root="$(cd "$KSVW_TEST_DATA/../.." && pwd)"
grep '^|' "$root/README.md" >tables
# The files git tracks; outside a checkout, the tree without its build trees.
git -C "$root" ls-files >files 2>/dev/null ||
  (cd "$root" && find . -path './build*' -prune -o -type f -print | sed 's#^\./##') >files
for folder in $(grep '/' files | cut -d/ -f1 | grep -v '^\.' | sort -u) \
  $(grep -oE '^([^/]+/)*win32/' files | sort -u); do
  grep -qF "\`${folder%/}/" tables || fail "README tables do not name \`${folder%/}/\`"
done
setup_line="$(grep -F 'scripts/setup.sh [' "$root/README.md")"
for group in $(grep -oE '^\s+\[[a-z]+\]=' "$root/scripts/setup.sh" | tr -d ' []='); do
  [[ "$setup_line" == *"[$group]"* ]] || fail "README's setup.sh line lacks [$group]"
done
finish
