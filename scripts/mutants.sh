#!/usr/bin/env bash
# Mutation testing of the program against the host tests (see scripts/mutants.py, or --help).
#   scripts/mutants.sh [FILE...] [--since COMMIT] [--jobs J] [--timeout S] [--list] [--replay FILE#N [--suite tsan|wine]]
set -euo pipefail
cd "$(dirname "$0")/.."
exec nice -n 10 python3 scripts/mutants.py "$@"
