#!/bin/sh
# Installs what is missing, builds the two programs (no tests, no benchmarks), and runs the programs on the example runs in examples/:
#   demo  tavosum: the default summary (parameters with up to 25 levels, echoed on the
#         console), then a selection: the parameters with exactly 5 levels as one table.
#   geno  tavogen on the genotype block field geno: overall, per chromosome (by=chrom)
#         and in sliding windows of 11 markers (bywindow=11, with the plot of the
#         windows' shares); then tavosum on the same run.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh programs
cd examples
echo
echo "=== tavosum demo"
../build-programs/tavosum demo
echo
echo "=== tavosum demo nlev=5 table"
../build-programs/tavosum demo nlev=5 table
echo "--- demo.plog:"
cat demo.plog

# The posterior table of a tavogen log: from its title to the last group's row
# (the table's second empty line, or the table file's line, ends it).
posterior_table() {
    awk '/^Posterior mean/ { on = 1 } on && (/^$/ && ++blank == 2 || /^Genomic variances/) { exit } on' geno.glog
}

echo
echo "=== tavogen geno geno (overall)"
../build-programs/tavogen geno geno
echo "--- geno.glog, posterior (co)variances and correlations:"
posterior_table
echo "--- head of geno.gval.txt (G-values of the individuals):"
head -n 4 geno.gval.txt

echo
echo "=== tavogen geno geno by=chrom"
../build-programs/tavogen geno geno by=chrom
echo "--- geno.glog, one row per chromosome, then ALL:"
posterior_table
echo "--- head of geno.gval.bychrom.txt:"
head -n 3 geno.gval.bychrom.txt

echo
echo "=== tavogen geno geno bywindow=11 plot"
../build-programs/tavogen geno geno bywindow=11 plot
echo "--- geno.glog, one row per window (named by its centre marker), then ALL:"
posterior_table | head -n 7
echo "    ..."
posterior_table | tail -n 3
echo "--- head of geno.gval.txt (the ALL group: every marker once, the overall genomic values):"
head -n 3 geno.gval.txt
echo "--- head of geno.gvar.win11.txt (every window's variances, markers, shares and wppa); the plot is geno.gvar.win11.svg:"
head -n 3 geno.gvar.win11.txt

echo
echo "=== tavosum geno"
../build-programs/tavosum geno
