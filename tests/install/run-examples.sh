#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Runs the three example programs found in BINDIR on a PNG made here and checks what they print:
#   run-examples.sh BINDIR WORKDIR
# The X example runs under an Xvfb started (and stopped, by its pid) here, when Xvfb exists.
set -eu
bin=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }
# expect OUTPUT PATTERN: the output must hold a line matching the extended regular expression.
expect() { printf '%s\n' "$1" | grep -Eq "$2" || fail "expected /$2/ in: $1"; }

python3 "$here/make-png.py" "$work/in.png" 40 30

out=$("$bin/example-thumbnail" "$work/in.png" "$work/thumb.png" 16)
expect "$out" "^$work/thumb.png: 16x12\$"
[ -s "$work/thumb.png" ] || fail "no thumbnail written"

# The thumbnail goes back in through the progressive loader, 7 bytes at a time.
out=$("$bin/example-progressive" "$work/thumb.png" 7)
expect "$out" '^area_prepared 16x12$'
expect "$out" '^area_updated [0-9]+,[0-9]+ [0-9]+x[0-9]+$'
expect "$out" '^closed$'
expect "$out" "^$work/thumb.png: 16x12, 3 channels, [1-9][0-9]* updates\$"

# Errors go to stderr with a non-zero status.
if "$bin/example-thumbnail" "$work/missing.png" "$work/x.png" 2>/dev/null; then
  fail "thumbnail of a missing file succeeded"
fi
if "$bin/example-progressive" "$work/missing.png" 2>/dev/null; then
  fail "progressive loading of a missing file succeeded"
fi

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "Xvfb not found: the X example was not run"
  exit 0
fi
rm -f "$work/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 320x240x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
tries=0
while [ ! -s "$work/display" ]; do
  tries=$((tries + 1))
  [ "$tries" -le 100 ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  sleep 0.1
done
out=$(DISPLAY=":$(cat "$work/display")" "$bin/example-x-window" "$work/in.png")
expect "$out" '^captured 40x30 from a depth-24 window: 1200 of 1200 pixels as drawn$'

# Without a display the X example skips.
set +e
(unset DISPLAY; "$bin/example-x-window" "$work/in.png" 2>/dev/null)
status=$?
set -e
[ "$status" -eq 77 ] || fail "x-window without a display exited $status, not 77"
echo "examples in $bin: all checks passed"
