#!/usr/bin/env bash
# Builds everything (warnings are errors) and runs every test:
#   1. workflow preset "debug": g++ debug build, the whole suite (death tests of the debug
#      assertions included);
#   2. workflow preset "asan": clang, address and undefined-behaviour sanitizers, the whole
#      suite again; any sanitizer report fails the run;
#   3. workflow preset "tsan": clang, thread sanitizer, the concurrency tests (names matching
#      "Thread" or "Concurrent");
#   4. the API reference (Doxygen, a few seconds): any undocumented public name fails;
#   5. every fuzz target for 20 s (scripts/fuzz.sh 20).
# Extra arguments name the steps to run instead of all five, for instance
# `scripts/test.sh debug` or `scripts/test.sh asan fuzz` (workflow presets by name, "docs" for
# step 4, "fuzz" for step 5).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
steps=("$@")
[ ${#steps[@]} -eq 0 ] && steps=(debug asan tsan docs fuzz)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for step in "${steps[@]}"; do
    start=$SECONDS
    if [ "$step" = fuzz ]; then
        echo "== fuzz targets, 20 s each" >&2
        scripts/fuzz.sh 20
    elif [ "$step" = docs ]; then
        echo "== API reference" >&2
        [ -f build/debug/CMakeCache.txt ] || cmake --preset debug >/dev/null
        cmake --build build/debug --target docs
    else
        echo "== workflow preset: $step" >&2
        cmake --workflow --preset "$step" --fresh | tee -a "$log"
    fi
    echo "== $step: $((SECONDS - start)) s" >&2
done
# One closing line over every test program run above (a failure has already stopped the run).
passed=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" \
    | awk '{ total += $1 } END { print total + 0 }')
echo "tests: $passed passed, 0 failed"
