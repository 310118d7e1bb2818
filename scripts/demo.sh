#!/usr/bin/env bash
# The main job: builds the program against the host world and plays the bundled default scenario,
# showing its timeline.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host -j"$(nproc)" --target vudizeri-sim >/dev/null
build/host/bin/vudizeri-sim --format text "${1:-scenarios/default.yaml}"
