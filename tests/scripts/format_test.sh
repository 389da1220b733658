#!/bin/sh
# The sources keep the format .clang-format describes. Fails naming each file
# that clang-format would change; `clang-format -i FILE` mends it.
#   format_test.sh CLANG_FORMAT SOURCE_DIR
set -eu
tool="$1"
cd "$2"
# The table of named character references is generated, one entry a line.
files=$(find app crawl project results ui tests bench fuzz -name '*.cpp' -o -name '*.h' |
        grep -v 'crawl/NamedCharacterReferenceTable.h' | sort)
bad=0
for f in $files; do
    if ! "$tool" --dry-run -Werror "$f" >/dev/null 2>&1; then
        echo "not formatted: $f"
        bad=1
    fi
done
exit $bad
