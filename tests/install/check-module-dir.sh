#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Reconfigures one build folder step by step and checks where the module directory ends up, in
# the cache, in the library's compiled-in path and in tamba.pc:
#   check-module-dir.sh SOURCE_DIR WORK_DIR
set -eu
src=$1
build=$2
rm -rf "$build"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Each step: the option given to this configure, then the module directory expected after it.
while read -r option expected; do
  cmake -S "$src" -B "$build" -DTAMBA_BUILD_TESTS=OFF "$option" >"$build.log" 2>&1 ||
    { cat "$build.log"; fail "configure with $option"; }
  cached=$(sed -n 's/^TAMBA_MODULE_DIR:[A-Z]*=//p' "$build/CMakeCache.txt")
  compiled=$(sed -n 's/.*-DTAMBA_MODULE_DIR=\\"\([^\\]*\)\\".*/\1/p' \
             "$build/tamba/CMakeFiles/tamba-objects.dir/flags.make")
  pc=$(PKG_CONFIG_PATH="$build" pkg-config --define-variable=pcfiledir=/x/lib/pkgconfig \
       --variable=moduledir tamba)
  echo "$option: cache $cached, library $compiled, tamba.pc $pc"
  [ "$compiled" = "$expected" ] || fail "after $option the library opens modules from $compiled"
  # tamba.pc is read as if installed in /x/lib/pkgconfig: what lies under the prefix moves to /x.
  [ "$(realpath -m "$pc")" = "$(echo "$expected" | sed 's|^/p[0-9]|/x|')" ] ||
    fail "after $option tamba.pc says $pc"
done <<STEPS
-DCMAKE_INSTALL_PREFIX=/p1 /p1/lib/tamba/loaders
-DCMAKE_INSTALL_PREFIX=/p2 /p2/lib/tamba/loaders
-DTAMBA_MODULE_DIR=/opt/modules /opt/modules
-DCMAKE_INSTALL_PREFIX=/p3 /opt/modules
-DTAMBA_MODULE_DIR= /p3/lib/tamba/loaders
-DCMAKE_INSTALL_PREFIX=/p4 /p4/lib/tamba/loaders
-DTAMBA_MODULE_DIR=lib/elsewhere /p4/lib/elsewhere
STEPS
echo "the module directory follows the prefix until it is set"
