#!/usr/bin/env bash
# Builds the library in release mode and runs the demo. Arguments go to the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target orvex_demo
exec build/release/examples/orvex_demo "$@"
