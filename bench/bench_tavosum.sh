#!/bin/sh
# Benchmark of tavosum on a large generated run.
#
#   bench/bench_tavosum.sh [megabytes=1000 [parameters=2000 [max_levels=50000]]]
#
# Builds tavosum and the bench tools (Release) in build-bench/, generates the run
# into bench/out/ when it is not there yet, warms the page cache, then runs
# tavosum with maxlev=0 (every parameter), with par= of the largest parameter and
# with maxlev=0 ci hpd ess (every draw kept, intervals and diagnostics), RUNS
# times each (default 3). Reports, per case, the best wall time and the best
# CPU time (user + system) as MB/s of sample file, the peak resident memory, the
# accumulator memory (16 bytes per selected level, plus 8 bytes per draw when
# the draws are kept) and the peak beyond the accumulators. On a busy machine
# the wall time is inflated by other work; the CPU figure is then the steadier one.
# Targets: at least 400 MB/s and under 50 MB beyond the accumulators; with the
# draws kept, at least a quarter of the maxlev=0 speed of the same run (wall and CPU).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
mb=${1:-1000}
np=${2:-2000}
ml=${3:-50000}
runs=${RUNS:-3}
build="$root/build-bench"

echo "Building (Release) in $build ..."
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVO_TESTS=OFF -DTAVO_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target tavosum gen_samples peakrun >/dev/null

data="$root/bench/out/run_${mb}mb_${np}p_${ml}l"
if [ ! -f "$data/bench.info" ]; then
    echo "Generating $data ..."
    rm -rf "$data"
    mkdir -p "$data"
    "$build/bench/gen_samples" "$data" "$mb" "$np" "$ml"
fi

info() { awk -v k="$1" -v f="$2" '$1 == k { print $f }' "$data/bench.info"; }
out_bytes=$(wc -c <"$data/bench.out")
lab_bytes=$(wc -c <"$data/bench.lab")
total_levels=$(info levels_total 2)
largest=$(info largest 2)
largest_levels=$(info largest 3)
cat "$data/bench.out" "$data/bench.lab" >/dev/null
if [ -r /proc/loadavg ]; then
    echo "Load average before the runs (1, 5, 15 min): $(cut -d' ' -f1-3 /proc/loadavg)"
fi

echo "Sample file: $out_bytes bytes, label file: $lab_bytes bytes, $(info parameters 2) parameters," \
    "$total_levels levels per cycle, $(info cycles 2) cycles (MB = 10^6 bytes; best of $runs runs, warm cache)"
printf '%-22s %7s %9s %7s %9s %8s %9s %10s %6s\n' case wall_s wall_MB/s cpu_s cpu_MB/s peak_MB accum_MB \
    beyond_MB target

# run_case LEVELS DRAWS OPTION...: runs tavosum RUNS times; prints one result row.
# DRAWS is the number of draws kept (0 for sums only); then the target is a
# quarter of the speed of the first case (base_wall, base_cpu).
run_case() {
    levels=$1
    draws=$2
    shift 2
    best=""
    best_cpu=""
    peak=0
    i=0
    while [ "$i" -lt "$runs" ]; do
        i=$((i + 1))
        if ! (cd "$data" && "$build/bench/peakrun" "$build/tavosum" bench "$@" >console.txt 2>peakrun.txt); then
            echo "tavosum $* failed:"
            cat "$data/peakrun.txt" "$data/console.txt"
            exit 1
        fi
        if ! grep -q 'finished - summary is saved in bench.plog' "$data/console.txt"; then
            echo "tavosum $* did not report a written summary:"
            cat "$data/console.txt"
            exit 1
        fi
        report=$(grep '^peakrun:' "$data/peakrun.txt")
        wall=$(echo "$report" | awk '{ print $5 }')
        cpu=$(echo "$report" | awk '{ print $7 }')
        kb=$(echo "$report" | awk '{ print $9 }')
        best=$(awk -v a="$best" -v b="$wall" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }')
        best_cpu=$(awk -v a="$best_cpu" -v b="$cpu" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }')
        peak=$(awk -v a="$peak" -v b="$kb" 'BEGIN { print (b + 0 > a + 0) ? b : a }')
    done
    awk -v name="$*" -v wall="$best" -v cpu="$best_cpu" -v kb="$peak" -v bytes="$out_bytes" -v levels="$levels" \
        -v draws="$draws" -v base_wall="$base_wall" -v base_cpu="$base_cpu" '
    BEGIN {
        rate = bytes / 1e6 / wall; cpu_rate = bytes / 1e6 / (cpu > 0 ? cpu : 0.001)
        peak_mb = kb * 1024 / 1e6; acc = (levels * 16 + draws * 8) / 1e6
        if (draws > 0)
            ok = (wall <= 4 * base_wall && cpu <= 4 * base_cpu && peak_mb - acc < 50) ? "met" : "MISSED"
        else
            ok = (rate >= 400 && peak_mb - acc < 50) ? "met" : "MISSED"
        printf "%-22s %7.2f %9.1f %7.2f %9.1f %8.1f %9.1f %10.1f %6s\n", name, wall, rate, cpu, cpu_rate, peak_mb,
            acc, peak_mb - acc, ok
    }'
    last_wall=$best
    last_cpu=$best_cpu
}

run_case "$total_levels" 0 maxlev=0
base_wall=$last_wall
base_cpu=$last_cpu
run_case "$largest_levels" 0 "par=$largest"
run_case "$total_levels" $((total_levels * $(info cycles 2))) maxlev=0 ci hpd ess
if [ -n "$base_wall" ]; then
    awk -v a="$base_wall" -v b="$last_wall" -v c="$base_cpu" -v d="$last_cpu" \
        'BEGIN { printf "ci hpd ess run at %.2f (wall) and %.2f (CPU) of the maxlev=0 speed\n", a / b, c / d }'
fi
