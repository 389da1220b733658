#!/bin/sh
# The launcher's help refresh, step by step through a workspace's life:
#   help_refresh_test.sh PATH/TO/help-refresh.sh
set -eu
. "$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
shipped="$dir/shipped"
help="$dir/workspace/help"
mkdir -p "$shipped"
failures=0

check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected '$2', got '$3'" >&2
    failures=$((failures + 1))
  fi
}
edited() { ls "$help" | grep -c '^default\.edited-.*\.htm$' || true; }

echo "one" > "$shipped/default.htm"
refresh_help "$shipped" "$help"
check "first start copies" "one" "$(cat "$help/default.htm")"

echo "mine" > "$help/default.htm"
refresh_help "$shipped" "$help"
check "an edit stays while the shipped page stays" "mine" "$(cat "$help/default.htm")"

echo "two" > "$shipped/default.htm"
refresh_help "$shipped" "$help"
check "a newer page replaces an edited one" "two" "$(cat "$help/default.htm")"
check "the edited one is kept beside it" "1" "$(edited)"
check "and holds the edit" "mine" "$(cat "$help"/default.edited-*.htm)"

echo "three" > "$shipped/default.htm"
refresh_help "$shipped" "$help"
check "an unedited copy is replaced" "three" "$(cat "$help/default.htm")"
check "without a copy kept" "1" "$(edited)"

rm "$help/default.htm"
refresh_help "$shipped" "$help"
check "a deleted page comes back" "three" "$(cat "$help/default.htm")"

# A workspace whose copy was made before copies were recorded.
rm -f "$help/.shipped" "$help"/default.edited-*.htm
echo "old" > "$help/default.htm"
refresh_help "$shipped" "$help"
check "an unrecorded copy is replaced" "three" "$(cat "$help/default.htm")"
check "and kept, as nobody can tell it from an edit" "1" "$(edited)"

exit "$failures"
