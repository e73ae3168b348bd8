#!/bin/sh
# Benchmark of one long token: a word of N MB in a data section of the job
# file, and a token of N MB in a data file (the key of one record of the
# annotated marker map). Both must cost time linear in N.
#
#   bench/bench_long_token.sh [megabytes ...]     (default: 4 8 16 32 64)
#
# Builds tavogen (Release) in build-bench/ unless TAVOGEN names a built one,
# generates both runs per size into bench/out/long_token/ and times tavogen on
# each (best of RUNS, default 3; the run stops after the job file or after
# loading, as the model description and sample file are empty). Prints CPU
# seconds (/usr/bin/time) and seconds per MB, and fails when the time per MB of the largest size is
# more than 3 times that of the smallest (quadratic growth would make it
# N_max / N_min times as large: 16 with the default sizes).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
sizes=${*:-4 8 16 32 64}
runs=${RUNS:-3}
tavogen=${TAVOGEN:-}
if [ -z "$tavogen" ]; then
    build="$root/build-bench"
    echo "Building tavogen (Release) in $build ..."
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVO_TESTS=OFF -DTAVO_BENCH=ON >/dev/null
    cmake --build "$build" -j2 --target tavogen >/dev/null
    tavogen="$build/tavogen"
fi
out="$root/bench/out/long_token"

# N MB of the letter a, without a line end.
letters() { head -c $(($1 * 1048576)) /dev/zero | tr '\0' a; }

# job/: a job file whose data section holds one N MB word.
# data/: a genotype run whose marker map has a record keyed by an N MB token.
generate() {
    dir="$out/$1"
    [ -f "$dir/done" ] && return 0
    rm -rf "$dir"
    mkdir -p "$dir/job" "$dir/data"
    { printf 'data id big\n'; letters "$1"; printf '\n'; } >"$dir/job/run.tavo"
    printf 'data id genotypes\n  file=geno.txt\n  id geno[] !genot012\ndata geno map\n  file=markers.txt\n  geno\n' \
        >"$dir/data/run.tavo"
    printf 'i1 0 1 2\ni2 1 1 0\n' >"$dir/data/geno.txt"
    { printf 'geno alleles freq1 nrmiss used\nm1 AT 0.5 0 1\nm2 AT 0.5 0 1\n'; letters "$1"; printf ' AT 0.5 0 1\n'; } \
        >"$dir/data/markers.txt.anno"
    for d in job data; do : >"$dir/$d/run.out"; : >"$dir/$d/run.mod"; done
    touch "$dir/done"
}

# Best CPU time (user + system) in seconds of tavogen in folder $1; on this
# shared machine the wall time mostly measures the others' work.
best_time() {
    best=""
    i=0
    while [ "$i" -lt "$runs" ]; do
        i=$((i + 1))
        (cd "$1" && /usr/bin/time -f "%U %S" -o time.txt "$tavogen" run geno threads=1 >console.txt 2>&1) || true
        best=$(awk -v a="$best" '{ t = $1 + $2 } END { print (a == "" || t < a + 0) ? t : a }' "$1/time.txt")
    done
    echo "$best"
}

echo "size MB | job file word CPU s | s/MB | data file token CPU s | s/MB   (best of $runs)"
first_job="" first_data="" last_job="" last_data=""
for mb in $sizes; do
    generate "$mb"
    tj=$(best_time "$out/$mb/job")
    td=$(best_time "$out/$mb/data")
    grep -q "Data loading OK" "$out/$mb/data/console.txt" || { echo "the data run did not load:"; cat "$out/$mb/data/console.txt"; exit 1; }
    pj=$(awk -v t="$tj" -v m="$mb" 'BEGIN { printf "%.4f", t / m }')
    pd=$(awk -v t="$td" -v m="$mb" 'BEGIN { printf "%.4f", t / m }')
    printf '%7s | %19.3f | %s | %21.3f | %s\n' "$mb" "$tj" "$pj" "$td" "$pd"
    [ -z "$first_job" ] && first_job=$pj && first_data=$pd
    last_job=$pj
    last_data=$pd
done
if awk -v a="$first_job" -v b="$last_job" -v c="$first_data" -v d="$last_data" \
    'BEGIN { exit !(b > 3 * a + 0.002 || d > 3 * c + 0.002) }'; then
    echo "NOT linear: the time per MB grows with the size"
    exit 1
fi
echo "linear: the time per MB of the largest size is within 3 times that of the smallest"
