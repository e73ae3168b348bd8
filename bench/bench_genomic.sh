#!/bin/sh
# Benchmark of tavogen's genomic cycle computation on the reference workloads.
#
#   bench/bench_genomic.sh [W1] [W1d] [W2] [W3] [W4]
#
# Without arguments: W1, W1d and W2 (W3 writes about 1.1 GB of files and runs
# long, W4 about 12 GB; name them to include them; W4 has no literal run). Steps:
#   1. builds tavogen and the bench tools (Release) in build-bench/ (BUILD=dir
#      to use another folder);
#   2. generates each workload into bench/out/genomic_<W>/ with gen_genomic when
#      it is not there yet, and checks the run's consistency (gen_genomic --check);
#   3. unless LITERAL=0, times the literal per-cycle computation in memory
#      (literal_kernel, -O2, one thread): the baseline of the speed-up ratios;
#      W3 runs reduced there and is extrapolated;
#   4. runs `tavogen run.tavo geno <options>` end to end on each workload under
#      peakrun (warm page cache) and reports wall time, CPU time, peak resident
#      memory and whether the run finished with every cycle processed; the
#      variance of the ALL group (or the only group) in the log is compared with
#      the literal computation's when that ran every cycle;
#   5. splits each end-to-end time into loading (tavogen on the same job with
#      an empty model description, which stops after loading with code 6),
#      sample reading (read_samples on run.out: fastest of 3 passes, with its
#      MB/s) and computation with output (the rest of the wall time).
# THREADS=N passes threads=N to tavogen (default: tavogen's own, all cores).
# Run both on a quiet machine and compare ratios within one run: the wall time
# of a busy machine is inflated (the load average is printed first).
# The exit status is 1 when a tavogen run failed or did not process every cycle.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build-bench}
loads=${*:-W1 W1d W2}
for w in $loads; do
    case $w in
    W1 | W1d | W2 | W3 | W4) ;;
    *)
        echo "usage: bench/bench_genomic.sh [W1] [W1d] [W2] [W3] [W4]" >&2
        exit 2
        ;;
    esac
done

echo "Building (Release) in $build ..."
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVO_TESTS=OFF -DTAVO_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target tavogen gen_genomic literal_kernel peakrun read_samples >/dev/null
threads_option=${THREADS:+threads=$THREADS}

for w in $loads; do
    data="$root/bench/out/genomic_$w"
    if [ ! -f "$data/run.info" ]; then
        echo "Generating $w into $data ..."
        rm -rf "$data"
        mkdir -p "$data"
        "$build/bench/gen_genomic" "$data" "$w"
    fi
    "$build/bench/gen_genomic" --check "$data"
done

literal_out="$root/bench/out/genomic_literal.txt"
rm -f "$literal_out"
literal_loads=$(echo "$loads" | tr ' ' '\n' | grep -v '^W4$' | tr '\n' ' ')
if [ "${LITERAL:-1}" != 0 ] && [ -n "${literal_loads% }" ]; then
    echo
    echo "Literal per-cycle computation (in memory) ..."
    # shellcheck disable=SC2086
    "$build/bench/literal_kernel" $literal_loads | tee "$literal_out"
fi

# literal_variance W: the literal computation's posterior mean variance of
# the last group when it ran every cycle of W, else nothing.
literal_variance() {
    [ -f "$literal_out" ] || return 0
    awk -v w="$1" '
        /^load / { table = 1; next }
        table && $1 == w && (w != "W3") { print $NF }' "$literal_out"
}

# log_variance DIR: pm of the first variance in the last row of the log table.
log_variance() {
    awk -F'\t' '
        index($0, "pm.var(") > 0 { for (k = 1; k <= NF; ++k) if (index($k, "pm.var(") == 1) { col = k; break }
                                   n = NF; next }
        col && NF == n { last = $col }
        END { if (col) print last }' "$1/run.glog" 2>/dev/null
}

echo
if [ -r /proc/loadavg ]; then
    echo "Load average before the tavogen runs (1, 5, 15 min): $(cut -d' ' -f1-3 /proc/loadavg)"
fi
echo "tavogen end to end (loading, sample reading and computation; warm page cache)"
printf '%-5s %-22s %7s %8s %8s %9s  %-10s %-12s %s\n' load options status wall_s cpu_s peak_MB result "var(ALL)" \
    literal
failed=0
for w in $loads; do
    data="$root/bench/out/genomic_$w"
    options="$(awk '$1 == "options" { $1 = ""; print }' "$data/run.info") $threads_option"
    cycles=$(awk '$1 == "cycles" { print $2 }' "$data/run.info")
    cat "$data/geno.txt" "$data/markers.txt.anno" "$data/run.out" >/dev/null
    rm -f "$data/run.glog" "$data/run.xout" "$data/run.xlab" "$data"/run.gval*.txt
    # shellcheck disable=SC2086
    if (cd "$data" && "$build/bench/peakrun" "$build/tavogen" run.tavo geno $options >console.txt 2>peakrun.txt); then
        status=0
    else
        status=$?
    fi
    report=$(grep '^peakrun:' "$data/peakrun.txt" || true)
    wall=$(echo "$report" | awk '{ print $5 }')
    cpu=$(echo "$report" | awk '{ print $7 }')
    peak=$(echo "$report" | awk '{ printf "%.1f", $9 * 1024 / 1e6 }')
    if [ "$status" = 0 ] && grep -q "^$cycles output samples processed" "$data/console.txt"; then
        result=ok
    else
        result=FAILED
        failed=1
    fi
    logvar=$(log_variance "$data")
    litvar=$(literal_variance "$w")
    printf '%-5s %-22s %7s %8s %8s %9s  %-10s %-12s %s\n' "$w" "${options# }" "$status" "${wall:--}" "${cpu:--}" \
        "${peak:--}" "$result" "${logvar:--}" "${litvar:--}"
    if [ "$result" = FAILED ]; then
        echo "      tavogen did not report \"$cycles output samples processed\"; end of its console output:"
        tr '\r' '\n' <"$data/console.txt" | grep -v '^[0-9]*$' | tail -n 6 | sed 's/^/      | /'
    fi
done
echo "peak_MB: peak resident memory (10^6 bytes); var(ALL): posterior mean of the first variance of the last"
echo "group in the log; literal: the same from the literal computation (the two agree when the results do)."
# peak_field FILE N: field N of the peakrun report in FILE.
peak_field() {
    grep '^peakrun:' "$1" | awk -v n="$2" '{ print $n }'
}

echo
echo "Time split of the end-to-end runs (seconds; warm page cache)"
printf '%-5s %-5s %8s %8s %8s %10s %10s\n' load time total_s load_s read_s compute_s read_MB/s
# split_line W KIND TOTAL LOAD READ BYTES: one row of the split; the
# computation is what the total leaves.
split_line() {
    awk -v w="$1" -v kind="$2" -v t="$3" -v l="$4" -v r="$5" -v bytes="$6" 'BEGIN {
        compute = (t != "" && l != "" && r != "") ? sprintf("%.3f", t - l - r) : "-"
        rate = (r != "" && r > 0) ? sprintf("%.1f", bytes / 1e6 / r) : "-"
        printf "%-5s %-5s %8s %8s %8s %10s %10s\n", w, kind, t == "" ? "-" : t, l == "" ? "-" : l,
            r == "" ? "-" : r, compute, rate }'
}
for w in $loads; do
    data="$root/bench/out/genomic_$w"
    options="$(awk '$1 == "options" { $1 = ""; print }' "$data/run.info") $threads_option"
    # Loading: the same job with an empty model description, in a folder of
    # links to the run's data files.
    loadonly="$root/bench/out/genomic_${w}_loadonly"
    rm -rf "$loadonly"
    mkdir -p "$loadonly"
    for f in run.tavo geno.txt markers.txt markers.txt.anno; do ln -s "$data/$f" "$loadonly/$f"; done
    : >"$loadonly/run.mod"
    : >"$loadonly/run.out"
    # shellcheck disable=SC2086
    (cd "$loadonly" && "$build/bench/peakrun" "$build/tavogen" run.tavo geno $options >console.txt 2>peakrun.txt) ||
        true
    load_ok=$(peak_field "$loadonly/peakrun.txt" 3)
    # Sample reading alone, as the cycle loop reads.
    "$build/bench/read_samples" "$data/run.out" "$data/run.mod" 3 2>"$data/read.txt" >/dev/null || true
    bytes=$(awk '$1 == "sample_bytes" { print $2 }' "$data/run.info")
    for kind in wall cpu; do
        if [ $kind = wall ]; then peak=5 read=9; else peak=7 read=13; fi
        total=$(peak_field "$data/peakrun.txt" $peak)
        load=$(peak_field "$loadonly/peakrun.txt" $peak)
        [ "$load_ok" = 6 ] || load=""
        read_s=$(awk -v n=$read '/^read_samples:/ && $5 == 0 { print $n }' "$data/read.txt")
        split_line "$w" $kind "$total" "$load" "$read_s" "$bytes"
    done
done
echo "load_s: tavogen stopping after loading (empty model description); read_s: read_samples over run.out"
echo "(fastest of 3 passes); compute_s: the rest of total_s, the cycle computation and the output files."
echo "cpu: the same from CPU time (of all threads), which a busy machine inflates less than the wall time."

if [ "$failed" != 0 ]; then
    echo "Some tavogen runs failed or stopped early (until the genomic computation is in place, this is expected)."
    exit 1
fi
