#!/usr/bin/env bash
# Builds the fuzz harnesses of fuzz/ with clang (build-fuzz/) and runs each for
# SECONDS (default 60), two at a time, under AddressSanitizer and
# UndefinedBehaviorSanitizer with libFuzzer's memory, allocation and time
# limits. The seeds of fuzz/corpus/ are read, new inputs go to
# build-fuzz/corpus/, findings to build-fuzz/findings/ and each run's output
# to build-fuzz/logs/. Prints runs, executions per second, coverage (cov:
# code edges, ft: features) and the CPU seconds per harness; exits 1 when a
# harness found something.
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

# The CPU seconds of a finished harness (user + system), from bash's times
# of the subshell that ran it: on a shared machine the wall-clock rate alone
# says more about the machine's load than about the harness.
timed_run() {
    local h=$1 me=$BASHPID start end
    start=$(awk '{print $14 + $15 + $16 + $17}' "/proc/$me/stat")
    local status=0
    run_one "$h" || status=$?
    end=$(awk '{print $14 + $15 + $16 + $17}' "/proc/$me/stat")
    echo $(((end - start) / $(getconf CLK_TCK))) >"$build/logs/$h.cpu"
    return $status
}

failed=()
pids=()
names=()
for h in "${harnesses[@]}"; do
    timed_run "$h" &
    pids+=($!)
    names+=("$h")
    if ((${#pids[@]} == 2)); then
        wait "${pids[0]}" || failed+=("${names[0]}")
        pids=("${pids[1]}")
        names=("${names[1]}")
    fi
done
for i in "${!pids[@]}"; do wait "${pids[$i]}" || failed+=("${names[$i]}"); done

printf '%-18s %12s %10s %8s %8s %8s %10s\n' harness runs exec/s cov ft cpu-s runs/cpu-s
for h in "${harnesses[@]}"; do
    log="$build/logs/$h.log"
    runs=$(grep -oE 'stat::number_of_executed_units: +[0-9]+' "$log" | grep -o '[0-9]*$' || true)
    rate=$(grep -oE 'stat::average_exec_per_sec: +[0-9]+' "$log" | grep -o '[0-9]*$' || true)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
    cpu=$(cat "$build/logs/$h.cpu" 2>/dev/null || true)
    per_cpu=-
    if [[ -n $runs && -n $cpu && $cpu -gt 0 ]]; then per_cpu=$((runs / cpu)); fi
    printf '%-18s %12s %10s %8s %8s %8s %10s\n' "$h" "${runs:--}" "${rate:--}" "${cov:--}" "${ft:--}" "${cpu:--}" "$per_cpu"
done
echo "load average at the end: $(cut -d" " -f1-3 /proc/loadavg)"
if ((${#failed[@]})); then
    echo "found something: ${failed[*]} (see $build/logs and $build/findings)"
    exit 1
fi
