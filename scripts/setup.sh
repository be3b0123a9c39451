#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Installs what tamba needs on Debian 12. Safe to run again: only missing packages are fetched.
#   scripts/setup.sh            building and running: the library, its modules, the tools, the demo
#   scripts/setup.sh --tests    and the test suite (GoogleTest, clang with its sanitizer runtime,
#                               cjpeg for the sample recipe)
#   scripts/setup.sh --bench    and the benchmarks with the libraries and programs they
#                               measure against
#   scripts/setup.sh --fuzz     and the fuzz targets (clang with libFuzzer)
#   scripts/setup.sh --memcheck and valgrind, for scripts/memcheck.py
# The flags combine.
set -eu

# Xvfb and xauth let the demo take the viewer's snapshot without a display.
PACKAGES="
  build-essential cmake pkg-config python3
  libglib2.0-dev
  libpng-dev libjpeg62-turbo-dev libtiff-dev
  libx11-dev libxext-dev xvfb xauth
"
for flag in "$@"; do
  case $flag in
    --tests) PACKAGES="$PACKAGES googletest libgtest-dev libgmock-dev clang libclang-rt-14-dev
                        libjpeg-turbo-progs" ;;
    # giflib, pixman, OpenCV, Pillow, the TurboJPEG interface and ImageMagick are only yardsticks
    # the benchmarks compare against; nothing in the library or its modules links them. cjpeg
    # makes the thumbnail benchmark's photo. libvips-tools is left out on purpose: through
    # librsvg it loads a desktop toolkit's image library.
    --bench) PACKAGES="$PACKAGES libbenchmark-dev libgif-dev libpixman-1-dev
                        libopencv-imgproc-dev libturbojpeg0-dev imagemagick
                        libjpeg-turbo-progs python3-pil" ;;
    --fuzz) PACKAGES="$PACKAGES clang libclang-rt-14-dev" ;;
    --memcheck) PACKAGES="$PACKAGES valgrind" ;;
    *) echo "usage: $0 [--tests] [--bench] [--fuzz] [--memcheck]" >&2; exit 2 ;;
  esac
done

missing=""
for p in $PACKAGES; do
  case " $missing " in *" $p "*) continue ;; esac
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
