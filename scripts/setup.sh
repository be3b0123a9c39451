#!/bin/sh
# Installs what the build, the tests and the benchmarks need on Debian 12.
# Safe to run again: apt-get skips what is already there.
set -eu
# libgif-dev serves the GIF benchmark only (giflib is the yardstick it measures against); nothing
# in the library or its modules links it.
PACKAGES="
  build-essential cmake pkg-config
  libglib2.0-dev
  libpng-dev libjpeg62-turbo-dev libtiff-dev libturbojpeg0-dev
  libx11-dev libxext-dev xvfb xauth
  googletest libgtest-dev libgmock-dev libbenchmark-dev libgif-dev
  clang libclang-rt-14-dev
  libpixman-1-dev libopencv-imgproc-dev
  python3
"
missing=""
for p in $PACKAGES; do
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
