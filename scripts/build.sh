#!/bin/sh
# Builds the programs (Release) in build/; with "asan", the sanitizer build in build-asan/;
# with "programs", only tavogen and tavosum (no tests, no benchmarks) in build-programs/.
set -e
cd "$(dirname "$0")/.."
if [ "${1:-}" = programs ]; then
    cmake -S . -B build-programs -DCMAKE_BUILD_TYPE=Release -DTAVO_TESTS=OFF -DTAVO_BENCH=OFF >/dev/null
    cmake --build build-programs -j "$(nproc)" --target tavogen tavosum
elif [ "${1:-}" = asan ]; then
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVO_SANITIZE=ON -DTAVO_BENCH=OFF >/dev/null
    cmake --build build-asan -j "$(nproc)"
else
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build -j "$(nproc)"
fi
