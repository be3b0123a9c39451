#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Installs what the tests need, builds with the test suite switched on (the demo shares build/
# with it switched off) and runs the whole suite.
#   scripts/test.sh             the release build (build/)
#   scripts/test.sh --sanitize  the same suite under AddressSanitizer and UBSan (build-asan/)
#   scripts/test.sh --threads   the concurrency test under ThreadSanitizer (build-tsan/; only the
#                               library and that test are built)
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh --tests

mode=${1:-}
if [ "$mode" = "--threads" ]; then
  flags="-fsanitize=thread -g -O1"
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMBA_BUILD_TESTS=ON \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
  cmake --build build-tsan -j "$(nproc)" --target test-scale-interface
  TSAN_OPTIONS="halt_on_error=1" build-tsan/tests/engine/test-scale-interface \
    --gtest_filter='Concurrency.*'
  exit
fi
if [ "$mode" = "--sanitize" ]; then
  dir=build-asan
  flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g"
  # This compiler's LeakSanitizer misreads the thread-local block of a library that is loaded
  # after start-up (its tracer then crashes at exit). libjpeg is the one such library the
  # modules bring, so the test programs load it from the start.
  preload_tls="-Wl,--push-state,--no-as-needed -ljpeg -Wl,--pop-state"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMBA_BUILD_TESTS=ON \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined $preload_tls" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0"
else
  dir=build
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTAMBA_BUILD_TESTS=ON
fi
cmake --build "$dir" -j "$(nproc)"
cd "$dir"
ctest --output-on-failure -j "$(nproc)" --timeout 600
