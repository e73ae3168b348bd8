#!/bin/sh
# Installs what is missing, builds, and runs tavosum on the example run in examples/:
# first the default summary (parameters with up to 25 levels, echoed on the console),
# then a selection: the parameters with exactly 5 levels as one table.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
cd examples
echo
echo "=== tavosum demo"
../build/tavosum demo
echo
echo "=== tavosum demo nlev=5 table"
../build/tavosum demo nlev=5 table
echo "--- demo.plog:"
cat demo.plog
