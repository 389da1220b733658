#!/bin/sh
# Runs a command on the X server of $DISPLAY under openbox, the way a desktop
# runs the program: a window manager places and maximises its windows, and its
# answers reach the program after the window is mapped. Ends openbox afterwards
# and exits with the command's status.
#
#   xvfb-run -a sh with-window-manager.sh COMMAND [ARG...]
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
# Up once it has claimed the screen, which it marks on the root window.
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ] || ! kill -0 "$wm" 2>/dev/null; then
    echo "openbox did not start" >&2
    kill "$wm" 2>/dev/null
    exit 1
  fi
  sleep 0.1
done
"$@"
status=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit "$status"
