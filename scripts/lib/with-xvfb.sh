#!/bin/sh
# Runs a command with DISPLAY set to a virtual X server of its own (Xvfb on a
# free display number), which is stopped again afterwards. Answers the
# command's exit code.
set -u

fifo_dir=$(mktemp -d "${TMPDIR:-/tmp}/brevlin-xvfb.XXXXXX")
mkfifo "$fifo_dir/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo_dir/display" 2>/dev/null &
xvfb=$!
# Xvfb writes the display number it chose once it accepts connections.
read -r number <"$fifo_dir/display"
rm -rf "$fifo_dir"
if [ -z "$number" ]; then
  kill "$xvfb" 2>/dev/null
  echo "with-xvfb.sh: Xvfb did not start" >&2
  exit 1
fi

DISPLAY=":$number" "$@"
status=$?
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
exit $status
