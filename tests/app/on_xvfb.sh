#!/bin/sh
# on_xvfb.sh COMMAND...: runs the command on an X server of its own. Xvfb picks a free display
# itself and names it once it is ready, so several of these can run at once.
set -eu
folder=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$folder"
}
trap cleanup EXIT
mkfifo "$folder/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$folder/display" 2>"$folder/log" &
server=$!
if ! read -r display <"$folder/display"; then
  cat "$folder/log" >&2
  exit 1
fi
status=0
DISPLAY=":$display" QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
