#!/usr/bin/env bash
# Builds the fuzz harnesses of fuzz/ with clang (build-fuzz/) and runs each for
# SECONDS (default 60), two at a time, under AddressSanitizer and
# UndefinedBehaviorSanitizer with libFuzzer's memory, allocation and time
# limits. The seeds of fuzz/corpus/ are read, new inputs go to
# build-fuzz/corpus/, findings to build-fuzz/findings/ and each run's output
# to build-fuzz/logs/. Prints runs, executions per second and coverage per
# harness; exits 1 when a harness found something.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
harnesses=(jobfile load_coded load_biallelic load_multiallelic model_scan options samples sum_samples sum_labels)

CXX=${CXX:-clang++} cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 >/dev/null
mkdir -p "$build/logs" "$build/findings"

run_one() {
    local h=$1
    mkdir -p "$build/corpus/$h"
    # -close_fd_mask=1: the programs' messages to standard output are not wanted here.
    "$build/fuzz_$h" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=2048 -timeout=5 \
        -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$build/findings/$h-" \
        "$build/corpus/$h" "$root/fuzz/corpus/$h" >"$build/logs/$h.log" 2>&1
}

failed=()
pids=()
names=()
for h in "${harnesses[@]}"; do
    run_one "$h" &
    pids+=($!)
    names+=("$h")
    if ((${#pids[@]} == 2)); then
        wait "${pids[0]}" || failed+=("${names[0]}")
        pids=("${pids[1]}")
        names=("${names[1]}")
    fi
done
for i in "${!pids[@]}"; do wait "${pids[$i]}" || failed+=("${names[$i]}"); done

printf '%-18s %12s %10s %8s\n' harness runs exec/s cov
for h in "${harnesses[@]}"; do
    log="$build/logs/$h.log"
    runs=$(grep -oE 'stat::number_of_executed_units: +[0-9]+' "$log" | grep -o '[0-9]*$' || true)
    rate=$(grep -oE 'stat::average_exec_per_sec: +[0-9]+' "$log" | grep -o '[0-9]*$' || true)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
    printf '%-18s %12s %10s %8s\n' "$h" "${runs:--}" "${rate:--}" "${cov:--}"
done
if ((${#failed[@]})); then
    echo "found something: ${failed[*]} (see $build/logs and $build/findings)"
    exit 1
fi
