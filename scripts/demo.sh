#!/bin/sh
# The main job: builds the library and shows what it offers (version, exported symbols) and a
# colour lookup from the sample colour database the repository carries.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
lib=$(ls build/tamba/libtamba.so.0.* | head -n 1)
echo "library: $lib ($(objdump -p "$lib" | awk '/SONAME/ {print $2}'))"
echo "exported symbols: $(nm -D --defined-only "$lib" | wc -l)"
./build/tests/unit/test-c-api
