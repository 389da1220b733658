#!/bin/sh
# The rooms' includes run one way: a room may include only rooms after it in
# this order. Prints every include that reaches up, and fails on any.
set -eu
cd "$1"
order="app results crawl project ui"
rank() { i=0; for r in $order; do [ "$r" = "$1" ] && { echo $i; return; }; i=$((i + 1)); done; echo -1; }
bad=0
for room in $order; do
    from=$(rank "$room")
    for inc in $(grep -ho '#include "[a-z]*/' "$room"/*.h "$room"/*.cpp 2>/dev/null | sed 's/#include "//; s|/$||' | sort -u); do
        to=$(rank "$inc")
        [ "$to" -lt 0 ] && continue
        if [ "$to" -lt "$from" ]; then
            grep -ln "#include \"$inc/" "$room"/*.h "$room"/*.cpp | sed "s|\$| includes $inc/|"
            bad=1
        fi
    done
done
exit $bad
