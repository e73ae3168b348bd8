#!/bin/sh
# Installs what is missing, lints the manual pages, builds, and runs every test
# twice: in the normal build and in the AddressSanitizer + UndefinedBehaviorSanitizer build.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
# The manual pages must lint clean: any warning fails the tests.
lint=$(mandoc -T lint -W warning man/tavogen.1 man/tavosum.1 2>&1 || true)
if [ -n "$lint" ]; then
    echo "$lint"
    echo "Manual pages: mandoc -T lint reports the lines above."
    exit 1
fi
scripts/build.sh
(cd build && ctest --output-on-failure -j "$(nproc)")
scripts/build.sh asan
(cd build-asan && ctest --output-on-failure -j "$(nproc)")
echo "All tests passed (normal and sanitizer builds)."
