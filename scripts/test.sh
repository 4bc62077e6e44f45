#!/usr/bin/env bash
# Installs what is missing, builds everything under the address and undefined-behaviour
# sanitizers and runs every test without a display; then fuzzes the parsers of peer input
# briefly (30 seconds shared by the fuzz targets).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOLVEX_SANITIZE=ON
cmake --build build-test
export QT_QPA_PLATFORM=offscreen
if [ -x scripts/fuzz.sh ]; then
    mkdir -p build-fuzz
    if ! scripts/fuzz.sh 30 >build-fuzz/fuzz.log 2>&1; then
        tail -n 60 build-fuzz/fuzz.log
        echo "fuzzing found a crash (see build-fuzz/fuzz.log)"
        exit 1
    fi
    grep -E "^(== |Done|stat::number_of_executed_units)" build-fuzz/fuzz.log || true
fi
cd build-test
ctest --output-on-failure -j2
