#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Builds this source tree on its own (no tests), installs it into a fresh prefix and uses the
# installed package as a user would: the examples built with pkg-config and with find_package,
# run without LD_LIBRARY_PATH, load a PNG through the installed module directory.
#   install-test.sh SOURCE_DIR WORK_DIR
set -eu
src=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
unset LD_LIBRARY_PATH
jobs=${TAMBA_INSTALL_TEST_JOBS:-2}

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DTAMBA_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX="$prefix" >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" -j "$jobs" >"$work/build.log" 2>&1 || { tail -50 "$work/build.log"; exit 1; }
cmake --install "$work/build" >"$work/install.log"

lib=$prefix/lib
[ -d "$lib" ] || fail "no $lib (a multiarch libdir is not expected for a private prefix)"
moduledir=$lib/tamba/loaders
[ -e "$moduledir/libtambaloader-png.so" ] || fail "the PNG module is not in $moduledir"

# Libraries and modules find their neighbours through RUNPATH alone.
runpath() { readelf -d "$1" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p'; }
[ "$(runpath "$lib/libtamba.so.0")" = '$ORIGIN' ] || fail "libtamba RUNPATH: $(runpath "$lib/libtamba.so.0")"
[ "$(runpath "$moduledir/libtambaloader-png.so")" = '$ORIGIN/../..' ] ||
  fail "PNG module RUNPATH: $(runpath "$moduledir/libtambaloader-png.so")"
# The drawing layer's test hooks stay in the build tree.
if nm -D --defined-only "$lib/libtamba-gdk.so.0" | grep -q ' gdkl_'; then
  fail "the installed libtamba-gdk exports gdkl_* symbols"
fi
nm -D --defined-only "$lib/libtamba-gdk.so.0" | grep -q ' gdk_init_check$' ||
  fail "the installed libtamba-gdk lacks gdk_init_check"
[ ! -e "$prefix/include/gdk/gdklayer.h" ] || fail "gdklayer.h was installed"
# The installed libtamba exports what its headers declare and none of the build tree's hooks.
sh "$here/../core/check-exports.sh" "$lib/libtamba.so.0" "$prefix/include/tamba/tamba.h" \
  "$prefix/include/tamba/pixops.h" || fail "the installed libtamba exports the wrong names"
for f in share/man/man1/tamba-tool.1 share/man/man1/tamba-view.1 share/man/man3/tamba.3 \
         share/doc/tamba/LICENSE share/doc/tamba/examples/CMakeLists.txt \
         lib/cmake/Tamba/TambaConfig.cmake lib/cmake/Tamba/TambaConfigVersion.cmake; do
  [ -s "$prefix/$f" ] || fail "$f was not installed"
done

# pkg-config: the prefix is found from the .pc file's own folder.
export PKG_CONFIG_PATH=$lib/pkgconfig
[ "$(pkg-config --variable=moduledir tamba)" -ef "$moduledir" ] ||
  fail "tamba.pc moduledir is $(pkg-config --variable=moduledir tamba)"
mkdir -p "$work/pc"
for ex in thumbnail progressive x-window; do
  # shellcheck disable=SC2046
  cc -std=c11 -Wall -Werror -o "$work/pc/example-$ex" "$prefix/share/doc/tamba/examples/$ex.c" \
    $(pkg-config --cflags --libs tamba) -Wl,-rpath,"$lib"
done
sh "$here/run-examples.sh" "$work/pc" "$work/pc-run"
# The installed Makefile builds them the same way.
cp -R "$prefix/share/doc/tamba/examples" "$work/make"
make -C "$work/make" LDFLAGS=-Wl,-rpath,"$lib" >"$work/make.log" 2>&1 || { cat "$work/make.log"; exit 1; }

# find_package(Tamba), building the installed examples folder as it is.
cmake -S "$prefix/share/doc/tamba/examples" -B "$work/cm" -DCMAKE_PREFIX_PATH="$prefix" \
  >"$work/cm-configure.log" || { cat "$work/cm-configure.log"; exit 1; }
cmake --build "$work/cm" -j "$jobs" >"$work/cm-build.log" 2>&1 || { cat "$work/cm-build.log"; exit 1; }
sh "$here/run-examples.sh" "$work/cm" "$work/cm-run"

# The version file accepts this minor series and refuses the next one.
cat >"$work/version.cmake" <<VERSION
set(PACKAGE_FIND_VERSION_MAJOR 0)
set(PACKAGE_FIND_VERSION_MINOR \$ENV{WANT_MINOR})
set(PACKAGE_FIND_VERSION 0.\$ENV{WANT_MINOR})
include("$lib/cmake/Tamba/TambaConfigVersion.cmake")
message("\${PACKAGE_VERSION_COMPATIBLE}")
VERSION
minor=$(sed -n 's/^Version: 0\.\([0-9]*\)\..*/\1/p' "$lib/pkgconfig/tamba.pc")
[ "$(WANT_MINOR=$minor cmake -P "$work/version.cmake" 2>&1)" = TRUE ] || fail "0.$minor refused"
[ "$(WANT_MINOR=$((minor + 1)) cmake -P "$work/version.cmake" 2>&1)" = FALSE ] ||
  fail "0.$((minor + 1)) accepted"

if [ -x "$prefix/bin/tamba-tool" ]; then
  [ "$(runpath "$prefix/bin/tamba-tool")" = '$ORIGIN/../lib' ] ||
    fail "tamba-tool RUNPATH: $(runpath "$prefix/bin/tamba-tool")"
  "$prefix/bin/tamba-tool" --version || fail "the installed tamba-tool does not start"
  "$prefix/bin/tamba-tool" info "$work/pc-run/thumb.png" || fail "the installed tamba-tool cannot load a PNG"
fi
echo "install into $prefix: all checks passed"
