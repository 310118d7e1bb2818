#!/usr/bin/env bash
# The fault sweep: scripts/sweep.sh [--nth N] [--timeout S] [--jobs J] [SCENARIO...] (default: every
# bundled scenario, N = 8). Each call the program makes is failed at its occurrences 1..N and its last,
# one per run, on the ASan+UBSan build; crashes, hangs, a wrong exit and anything still held are
# findings, kept with one reproducing command under build/sweep/findings/. Exit status 1 on findings,
# 2 when a scenario could not be played at all.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
exec python3 scripts/sweep.py "$@"
