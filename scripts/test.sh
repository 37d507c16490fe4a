#!/usr/bin/env bash
# Builds everything (warnings are errors) and runs every test. Extra arguments name workflow
# presets to run instead of the default "debug" one (for instance: scripts/test.sh debug asan).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(debug)
for preset in "${presets[@]}"; do
    echo "== workflow preset: $preset" >&2
    cmake --workflow --preset "$preset" --fresh
done
