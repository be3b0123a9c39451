#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# The main job: builds the library, its modules and the tools (no test suite), then runs the
# tools on the sample images in data/samples/ and writes what they make into demo-out/:
#   info.txt, info.json       what tamba-tool info says about every sample
#   thumbnails/               a 256-pixel thumbnail of every sample
#   photo-<interp>.png        the JPEG reduced to 400 pixels with each interpolation
#   flower-<interp>.png       the XPM icon enlarged 7.5 times with each interpolation
#   badge-checkerboard.png    the PNG's alpha over a checkerboard
#   frames/frame-N.png        every frame of the GIF, composed as the animation shows it
#   contact-sheet.png         the thumbnails laid out on one canvas by the library itself
#   view-snapshot.png         the viewer's window (at scale 3) showing the GIF's second frame,
#                             under a private Xvfb
# Ends with a table of the outputs, their sizes and how long each step took.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
out=demo-out
samples_dir=data/samples
tool=build/tools/tamba-tool/tamba-tool
view=build/tools/tamba-view/tamba-view

sh scripts/setup.sh

tmp=$(mktemp -d)
xvfb_pid=""
# shellcheck disable=SC2317  # run by the trap
cleanup () {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

now_ms () { echo $(($(date +%s%N) / 1000000)); }

# Table rows: step, output, time; sizes are read when the table is printed.
rows=$tmp/rows
: > "$rows"
failed=0
step_start=0
begin () { step_name=$1; step_start=$(now_ms); }
# done_step OUTPUT...: records the step's time against its outputs (an output may be a folder).
done_step () {
  elapsed=$(($(now_ms) - step_start))
  first=1
  for o in "$@"; do
    t=""
    [ $first -eq 1 ] && t=$elapsed
    printf '%s\t%s\t%s\n' "$step_name" "$o" "$t" >> "$rows"
    first=0
  done
}
fail_step () {
  echo "demo: $step_name failed: $1" >&2
  printf '%s\t%s\t%s\n' "$step_name" "FAILED ($1)" "$(($(now_ms) - step_start))" >> "$rows"
  failed=1
}
skip_step () {
  echo "demo: $step_name skipped: $1" >&2
  printf '%s\t%s\t%s\n' "$step_name" "skipped ($1)" "" >> "$rows"
}
# quiet LOG CMD...: runs CMD with its output in LOG, shown only when it fails.
quiet () {
  log=$1
  shift
  if "$@" > "$log" 2>&1; then return 0; fi
  tail -n 40 "$log" >&2
  return 1
}

begin build
quiet "$tmp/configure.log" cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTAMBA_BUILD_TESTS=OFF \
  || { echo "demo: configuring build/ failed" >&2; exit 1; }
quiet "$tmp/build.log" cmake --build build -j "$(nproc)" \
  || { echo "demo: building failed" >&2; exit 1; }
done_step "library, modules, tools"
# The modules are not installed: the library finds them through the library search path.
LD_LIBRARY_PATH=$root/build/loaders${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
export LD_LIBRARY_PATH

rm -rf "$out"
mkdir -p "$out/frames"
samples=""
for f in "$samples_dir"/*; do
  case $f in *.md) ;; *) samples="$samples $f" ;; esac
done
photo=$samples_dir/photo.jpg
badge=$samples_dir/badge.png
anim=$samples_dir/bounce.gif
icon=$samples_dir/flower.xpm

if [ -x "$tool" ]; then
  begin info
  # shellcheck disable=SC2086
  if "$tool" info $samples > "$out/info.txt" && "$tool" info --json $samples > "$out/info.json" \
     && python3 -m json.tool "$out/info.json" > /dev/null; then
    done_step "$out/info.txt" "$out/info.json"
  else
    fail_step "tamba-tool info"
  fi

  begin thumbnails
  # shellcheck disable=SC2086
  if "$tool" thumbnail --size 256 --output-dir "$out/thumbnails" $samples 2> "$tmp/thumb.log"
  then
    done_step "$out/thumbnails/"
  else
    cat "$tmp/thumb.log" >&2
    fail_step "tamba-tool thumbnail"
  fi

  # Reducing, tiles and bilinear share one box filter; enlarging the icon shows all four apart
  # (by a fraction: at a whole factor tiles falls on nearest and hyper on bilinear).
  # each_interp LABEL INPUT NAME SIZE-OPTION VALUE: one timed row per interpolation.
  each_interp() {
    for interp in nearest tiles bilinear hyper; do
      begin "$1 $interp"
      if "$tool" convert "$2" "$out/$3-$interp.png" "$4" "$5" --interp "$interp"; then
        done_step "$out/$3-$interp.png"
      else
        fail_step "convert $4 $5 --interp $interp"
      fi
    done
  }
  each_interp fit-400 "$photo" photo --fit 400
  each_interp scale-7.5 "$icon" flower --scale 7.5

  begin checkerboard
  if "$tool" convert "$badge" "$out/badge-checkerboard.png" --checkerboard=16; then
    done_step "$out/badge-checkerboard.png"
  else
    fail_step "convert --checkerboard"
  fi

  begin frames
  if "$tool" convert "$anim" "$out/frames/frame-%d.png" --all-frames; then
    done_step "$out/frames/"
  else
    fail_step "convert --all-frames"
  fi
else
  begin tamba-tool
  skip_step "$tool was not built"
fi

begin contact-sheet
# shellcheck disable=SC2046  # pkg-config's flags are meant to split
if ! grep -q tamba_save include/tamba/tamba.h; then
  skip_step "the library cannot save yet"
elif [ ! -d "$out/thumbnails" ]; then
  skip_step "no thumbnails"
elif ! quiet "$tmp/cc.log" cc -std=c11 -O2 -Wall -Wextra -o build/contact-sheet \
       scripts/contact-sheet.c -Iinclude -Igdk/include $(pkg-config --cflags glib-2.0) \
       -Lbuild/tamba -Lbuild/gdk -ltamba -ltamba-gdk \
       -Wl,-rpath,"$root/build/tamba:$root/build/gdk" $(pkg-config --libs glib-2.0); then
  fail_step "compiling scripts/contact-sheet.c"
elif build/contact-sheet "$out/contact-sheet.png" 256 "$out"/thumbnails/*.png; then
  done_step "$out/contact-sheet.png"
else
  fail_step "contact-sheet"
fi

begin snapshot
if [ ! -x "$view" ]; then
  skip_step "$view was not built"
elif ! command -v Xvfb > /dev/null; then
  skip_step "Xvfb is not installed (sh scripts/setup.sh installs it)"
else
  # Xvfb picks a free display itself and writes its number once it accepts connections.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$tmp/display" 2> "$tmp/xvfb.log" &
  xvfb_pid=$!
  n=0
  while [ ! -s "$tmp/display" ] && [ $n -lt 100 ] && kill -0 "$xvfb_pid" 2>/dev/null; do
    sleep 0.1
    n=$((n + 1))
  done
  if [ ! -s "$tmp/display" ]; then
    cat "$tmp/xvfb.log" >&2
    fail_step "Xvfb did not start"
  elif DISPLAY=:$(cat "$tmp/display") timeout 60 \
         "$view" --scale 3 --snapshot "$out/view-snapshot.png" --after 2 "$anim"; then
    done_step "$out/view-snapshot.png"
  else
    fail_step "tamba-view --snapshot"
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
fi

# The table. A folder's row lists its files' total and count.
human () {
  awk -v b="$1" 'BEGIN { if (b < 1024) printf "%d B", b;
                         else if (b < 1048576) printf "%.1f KiB", b / 1024;
                         else printf "%.1f MiB", b / 1048576 }'
}
echo
printf '%-18s %-30s %20s %9s\n' step output size time
printf '%-18s %-30s %20s %9s\n' ---- ------ ---- ----
while IFS="$(printf '\t')" read -r name o t; do
  size=""
  if [ -d "$o" ]; then
    size="$(human "$(find "$o" -type f -exec cat {} + | wc -c)") ($(find "$o" -type f | wc -l) files)"
  elif [ -f "$o" ]; then
    size=$(human "$(wc -c < "$o")")
  fi
  [ -n "$t" ] && t=$(awk -v ms="$t" 'BEGIN { printf "%.2f s", ms / 1000 }')
  printf '%-18s %-30s %20s %9s\n' "$name" "$o" "$size" "$t"
done < "$rows"
echo

# What the outputs cover.
# The formats as the library recognised them, not as the file names say.
n_formats=$(python3 -c 'import json, sys
print(len({e["format"] for e in json.load(open(sys.argv[1]))}))' "$out/info.json" 2>/dev/null \
  || echo 0)
n_thumbs=$(find "$out/thumbnails" -name '*.png' 2>/dev/null | wc -l)
n_interp=$(find "$out" -maxdepth 1 -name 'photo-*.png' | wc -l)
n_enlarged=$(find "$out" -maxdepth 1 -name 'flower-*.png' | wc -l)
n_frames=$(find "$out/frames" -name 'frame-*.png' | wc -l)
# shellcheck disable=SC2086
echo "shown: $(echo $samples | wc -w) samples in $n_formats formats, $n_thumbs thumbnails;" \
  "interpolations: $n_interp of 4 reducing, $n_enlarged of 4 enlarging;"
echo "  checkerboard: $([ -f "$out/badge-checkerboard.png" ] && echo yes || echo no);" \
  "GIF frames: $n_frames; viewer snapshot: $([ -f "$out/view-snapshot.png" ] && echo yes || echo no)"
echo "output: $root/$out"
exit $failed
