#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for a bounded time: scripts/fuzz.sh [SECONDS] (default 30). Fails on any finding; the
# crashing input is left in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
status=0
scripts/setup.sh clang || status=$?
if [ "$status" -eq 3 ]; then
  echo "fuzz: SKIPPED: the package registry lacks a package the fuzz run needs (named above)" >&2
  echo "fuzz: skipped"
  exit 0
fi
[ "$status" -eq 0 ] || exit "$status"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" --target fuzz_status_poll
mkdir -p build/fuzz/corpus/status_poll build/fuzz/findings
build/fuzz/bin/fuzz_status_poll -max_total_time="$seconds" -max_len=4000 -print_final_stats=1 \
  -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus/status_poll
