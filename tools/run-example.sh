#!/usr/bin/env bash
# Installs what the build needs, builds mcreg and fits the warpbreaks example:
# the number of warp breaks per loom by wool type, tension and their interaction.
#   tools/run-example.sh [extra mcreg options, e.g. --json]
# MCREG_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${MCREG_BUILD_DIR:-build}
tools/deps.sh
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target mcreg_cli
"$build/cli/mcreg" glm --data examples/warpbreaks.csv \
    --formula "breaks ~ wool + tension + wool*tension" "$@"
