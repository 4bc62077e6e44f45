#!/usr/bin/env bash
# Builds the protocol fuzz target with clang in build-fuzz/ and runs it for the given
# number of seconds (default 30). Exits non-zero when the fuzzer finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-fuzz
mkdir -p build-fuzz/corpus build-fuzz/artifacts
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
build-fuzz/protocol_fuzz -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/ build-fuzz/corpus
