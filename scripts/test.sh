#!/bin/sh
# Installs what is missing, builds, and runs every test twice: in the normal
# build and in the AddressSanitizer + UndefinedBehaviorSanitizer build.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
(cd build && ctest --output-on-failure -j "$(nproc)")
scripts/build.sh asan
(cd build-asan && ctest --output-on-failure -j "$(nproc)")
echo "All tests passed (normal and sanitizer builds)."
