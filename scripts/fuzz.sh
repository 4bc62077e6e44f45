#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz/ and runs each of them, from its seeds in
# fuzz/seeds/TARGET and the corpus it has grown so far, sharing the given number of seconds
# (default 30). Exits non-zero when a fuzzer finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-fuzz
targets=()
for target in build-fuzz/*_fuzz; do
    [ -x "$target" ] && targets+=("$(basename "$target")")
done
share=$(( seconds / ${#targets[@]} ))
[ "$share" -ge 1 ] || share=1
# The target keeps nothing from one input to the next (built without the address sanitizer it
# stays at 38 MB at an even speed), so a run that grows is a fault: -rss_limit_mb ends it, and
# leak checks catch what an input leaves allocated. What grew before was the sanitizer's own
# bookkeeping: its 256 MB quarantine of freed blocks, and the stack trace it stores for each
# allocation, whose frames walked through the Qt libraries (built without frame pointers) came
# out different almost every time, so that table grew without end. A 16 MB quarantine still
# spans many inputs; two frames name the allocating function.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:quarantine_size_mb=16:malloc_context_size=2"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
mkdir -p build-fuzz/artifacts
for target in "${targets[@]}"; do
    corpus="build-fuzz/corpus/$target"
    mkdir -p "$corpus"
    seeds=()
    [ -d "fuzz/seeds/$target" ] && seeds=("fuzz/seeds/$target")
    echo "== $target ($share s)"
    "build-fuzz/$target" -max_total_time="$share" -max_len=4096 -rss_limit_mb=1024 \
        -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/ "$corpus" "${seeds[@]}"
done
