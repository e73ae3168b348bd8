// End-to-end run of tavogen on the shipped genomic example: the properties of
// its outputs overall, by chromosome and in windows. The small hand-computed
// runs are case folders in tests/cases (gen-*).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using testutil::read_file;

// ------------------------------------------------------- the shipped example

size_t count_of(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// The numbers of the posterior table's last row (the ALL group when grouped),
// which the line of the run's size follows.
std::vector<double> last_row(const std::string& log) {
    const size_t end = log.rfind("\nUsed ");
    const size_t start = log.rfind('\n', end - 1) + 1;
    std::vector<double> numbers;
    const std::string row = log.substr(start, end - start);
    for (size_t tab = row.find('\t'); tab != std::string::npos; tab = row.find('\t', tab + 1))
        numbers.push_back(std::stod(row.substr(tab + 1)));
    return numbers;
}

// examples/geno: 120 cows, 200 markers (195 used) on 3 chromosomes, two
// traits with additive and dominance effects, 50 saved cycles.
TEST(TavogenEndToEnd, ShippedGenomicExampleRunsOverallByChromosomeAndInWindows) {
    testutil::scratch_dir dir("e2e-example");
    for (const char* name : {"geno.tavo", "geno.mod", "geno.out", "geno.lab", "cows.txt", "genotypes.txt",
                             "markers.txt", "markers.txt.anno"})
        std::filesystem::copy_file(std::string(EXAMPLES_DIR) + "/" + name, dir.file(name));
    struct expectation {
        std::vector<std::string> options;
        std::string xlab_head;  // count of values per record and the first label
        std::string gval_name;
    };
    std::vector<std::vector<double>> all_rows;
    for (const expectation& e : {expectation{{}, "var.genom 4 var(yield) ", "geno.gval.txt"},
                                 expectation{{"by=chrom"}, "var.genom 16 var(yield).chromchr1 ", "geno.gval.bychrom.txt"},
                                 expectation{{"bywindow=11"}, "var.genom 804 var(yield).chr1_1025732 ", "geno.gval.txt"}}) {
        std::vector<std::string> args{"geno", "geno"};
        args.insert(args.end(), e.options.begin(), e.options.end());
        SCOPED_TRACE(args.back());
        const testutil::run_result r = testutil::run_program(TAVOGEN_BIN, args, dir.path.string());
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.console.find("\n50 output samples processed\nG-values of individuals were written to file " +
                                 e.gval_name + "\n"),
                  std::string::npos)
            << r.console;
        EXPECT_EQ(read_file(dir.file("geno.xlab")).rfind(e.xlab_head, 0), 0u);
        EXPECT_EQ(count_of(read_file(dir.file("geno.xout")), " var.genom "), 50u);
        EXPECT_EQ(count_of(read_file(dir.file(e.gval_name)), "\n"), 121u);
        all_rows.push_back(last_row(read_file(dir.file("geno.glog"))));
    }
    // The chromosomes' ALL group is the overall result, up to rounding.
    ASSERT_EQ(all_rows[0].size(), 8u);
    ASSERT_EQ(all_rows[1].size(), 8u);
    for (size_t k = 0; k < 8; ++k) EXPECT_NEAR(all_rows[1][k], all_rows[0][k], 1e-5 * std::abs(all_rows[0][k]));
}

}  // namespace
