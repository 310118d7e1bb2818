#!/usr/bin/env bash
# Line and branch coverage of the program's code by the host tests: builds the coverage preset
# (build/coverage: the program unoptimised and counted, _exit made to dump the counters first), runs
# the host tests as the README's test command does, and prints the coverage per program file
# (scripts/coverage.py). Exit status 1 when a branch is never taken that tests/coverage.unreachable
# does not list.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
nice -n 10 cmake --preset coverage >/dev/null
nice -n 10 cmake --build --preset coverage -j"$jobs"
find build/coverage -name '*.gcda' -delete
# The tool's own check compiles samples and runs no program code.
nice -n 10 ctest --preset coverage -j"$jobs" -E '^Wine|^MutantsTool$' >build/coverage/ctest.log 2>&1 || {
  tail -n 30 build/coverage/ctest.log
  echo "coverage: the host tests failed in the coverage build (build/coverage/ctest.log)" >&2
  exit 2
}
exec python3 scripts/coverage.py build/coverage
