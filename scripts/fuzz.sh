#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Builds the libFuzzer targets (build-fuzz/, clang) and runs every one of them in turn from its
# seeds and its past crashers; any finding fails the run and is left in build-fuzz/findings/.
#   scripts/fuzz.sh            30 seconds per target (what CI runs)
#   scripts/fuzz.sh SECONDS    that long per target, e.g. 600 for a campaign
# Working corpora are kept in build-fuzz/corpus/<target>, so a later run goes on from there.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-30}
sh scripts/setup.sh --fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAMBA_BUILD_FUZZERS=ON -DTAMBA_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)"

cd build-fuzz
root=$(cd .. && pwd)
mkdir -p findings
targets=$(cd fuzz && ls fuzz-* | sed 's/^fuzz-//')
failed=""
for t in $targets; do
  mkdir -p "corpus/$t"
  crashers="$root/tests/data/crashers/$t"
  [ -d "$crashers" ] || crashers=""
  echo "== fuzz-$t: ${seconds}s"
  # Modules are found through the library search path (the loader, XPM data and save targets).
  if ! LD_LIBRARY_PATH="$PWD/loaders" "./fuzz/fuzz-$t" -max_total_time="$seconds" \
      -rss_limit_mb=2560 -timeout=25 -max_len=65536 -seed=1 -print_final_stats=1 \
      -artifact_prefix="findings/$t-" "corpus/$t" "$root/fuzz/seeds/$t" $crashers \
      >"findings/$t.log" 2>&1; then
    failed="$failed $t"
    tail -n 40 "findings/$t.log"
  fi
  grep -E '^(stat::number_of_executed_units|#[0-9]+ +DONE)' "findings/$t.log" | tail -n 1 || true
done
if [ -n "$failed" ]; then
  echo "fuzzing found something in:$failed (inputs in build-fuzz/findings/)" >&2
  exit 1
fi
echo "fuzzing: no findings in $(echo "$targets" | wc -w) targets, ${seconds}s each"
