#!/usr/bin/env bash
# Installs what is missing, builds everything under the address and undefined-behaviour
# sanitizers and runs every test without a display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOLVEX_SANITIZE=ON
cmake --build build-test
export QT_QPA_PLATFORM=offscreen
(cd build-test && ctest --output-on-failure -j2)
if [ -x scripts/fuzz.sh ]; then
    scripts/fuzz.sh 30
fi
