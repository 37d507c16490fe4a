#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, address and undefined-behaviour
# sanitizers) and runs each of them in turn for a bounded time, starting from the seed corpus
# kept in fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh [seconds per target, default 60] [target...]
#
# New interesting inputs go to build/fuzz/corpus/<target>/ (the seeds in the repository are
# never written to); an input that breaks a check or trips a sanitizer is saved as
# build/fuzz/artifacts/<target>/crash-* and the script fails. To replay one:
#   build/fuzz/fuzz/<target> build/fuzz/artifacts/<target>/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(attribute_manager_fuzzer macro_edge_sort_fuzzer
    internal_distance_fuzzer element_search_fuzzer mesh_reader_fuzzer)

scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1:abort_on_error=1}

status=0
for target in "${targets[@]}"; do
    work=build/fuzz/corpus/$target
    artifacts=build/fuzz/artifacts/$target
    mkdir -p "$work" "$artifacts"
    echo "== fuzzing $target for ${seconds}s" >&2
    if ! "build/fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$target" \
        2> "build/fuzz/$target.log"; then
        tail -n 60 "build/fuzz/$target.log" >&2
        echo "== $target FAILED: input saved in $artifacts/" >&2
        status=1
    else
        grep -E '^stat::number_of_executed_runs|^Done' "build/fuzz/$target.log" >&2 || true
    fi
done
exit $status
