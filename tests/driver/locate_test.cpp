// End-to-end runs of tavogen through the block field location whose checks
// case folders cannot hold: parts of the log, and generated genotype files.
// The stops checked against whole console and log text are in tests/cases
// (loc-*).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver/locate.h"
#include "driver/run.h"
#include "support/testutil.h"

namespace {

using testutil::mask_times;
using testutil::read_file;
using testutil::run_program;
using testutil::tavogen_finished;

// Three individuals, three markers: the usual genotype job.
const std::string GENO012 = "A1 0 1 2\nA2 1 1 NA\nA3 2 0 0\n";
const std::string MAP_ANNO =
    "geno chrom alleles freq1 nrmiss used\n"
    "m1 1 AG 0.5 0 1\n"
    "m2 1 CT 0.4 0 1\n"
    "m3 2 AC 0.3 1 0\n";
const std::string MAP_DECLARATION = "data geno map\n  file=markers.txt\n";
const std::string GENOS_012 = "data id genos\n  file=geno.txt\n  id geno[] !genot012\n";

// How the log shows the marker map of MAP_ANNO once loaded.
const std::string MAP_SHEET =
    "Loading data 3 on geno (map) from markers.txt.anno\n"
    "    geno\t chrom\t alleles\t freq1\t nrmiss\t used\t \n"
    "    m1\t   1\t     AG\t      0.5\t   0\t      1\t    \n"
    "    m2\t   1\t     CT\t      0.4\t   0\t      1\t    \n"
    "    m3\t   2\t     AC\t      0.3\t   1\t      0\t    \n"
    "    ....\n";

// A job in a scratch folder with its sample output and model description.
struct job_run {
    testutil::scratch_dir dir{"loc"};
    testutil::run_result result;

    explicit job_run(const std::string& jobfile) {
        write("run.tavo", jobfile);
        write("run.out", "");
        write("run.mod", "");
    }
    void write(const std::string& name, const std::string& text) const { testutil::write_file(dir.file(name), text); }
    void run(const std::vector<std::string>& args) { result = run_program(TAVOGEN_BIN, args, dir.path.string()); }
    std::string console() const { return mask_times(result.console); }
    std::string log() const { return mask_times(read_file(dir.file("run.glog"))); }
};

// The fixtures' model description is empty: a run that gets through loading
// stops at the model scan, which finds no terms of the block field.
constexpr int NO_MODEL = 6;

// The map's key field and a genotype block's statistics fields cannot group
// the markers: as levels the keys would be stored twice and the used values
// lost. Both count as not found.
TEST(BlockLocation, KeyAndStatisticsFieldsAreNoByField) {
    for (const std::string by : {"by=GENO", "by=used"}) {
        SCOPED_TRACE(by);
        job_run job(GENOS_012 + MAP_DECLARATION);
        job.write("geno.txt", GENO012);
        job.write("markers.txt.anno", MAP_ANNO);
        job.run({"run", "geno", by});
        EXPECT_EQ(job.result.status, 9);
        const std::string log = job.log();
        EXPECT_NE(log.find("! Problem: \"by=\" field cannot be found in annotation/label data\n"), std::string::npos);
        EXPECT_NE(log.find(MAP_SHEET.substr(MAP_SHEET.find('\n') + 1)), std::string::npos) << log;
    }
}

// Duplicate keys are level problems, one per key: 200 give -56 (exit status
// 200), and 247 with the pending by= error make 256, whose low byte 0 must
// not pass for success.
TEST(BlockLocation, LevelProblemCountsAreNeverTakenForSuccess) {
    struct expectation {
        int duplicated;
        const char* by;
        int code;
        int status;
    };
    for (const expectation& e : {expectation{200, "by=chrom", -56, 200}, expectation{247, "by=position", -1, 255},
                                 expectation{256, "by=chrom", -1, 255}}) {
        SCOPED_TRACE(e.duplicated);
        job_run job(GENOS_012 + MAP_DECLARATION);
        job.write("markers.txt.anno", MAP_ANNO);
        std::string genotypes;
        for (int k = 0; k < e.duplicated; ++k)
            for (int copy = 0; copy < 2; ++copy) genotypes.append(1, 'A').append(std::to_string(k)).append(" 0 1 2\n");
        job.write("geno.txt", genotypes);
        job.run({"run", "geno", e.by});
        EXPECT_EQ(job.result.status, e.status);
        const std::string finishing = tavogen_finished(e.code);
        const std::string console = job.console();
        ASSERT_GE(console.size(), finishing.size());
        EXPECT_EQ(console.substr(console.size() - finishing.size()), finishing);
        EXPECT_NE(console.find("! Duplicate keys found for: A0 (2 times)\n"), std::string::npos);
        const std::string log = job.log();
        EXPECT_EQ(log.substr(log.size() - finishing.size() - 1), std::string(1, '\n').append(finishing));
    }
}

// The field GENO, which the block name geno finds ignoring case once the data
// set is found by its word "geno_qc".
TEST(BlockLocation, BlockFieldFoundIgnoringCaseInTheDataSetFoundByAWord) {
    job_run upper("data id genos\n  file=geno.txt\n  id GENO[] !genot012 geno_qc\n" + MAP_DECLARATION);
    upper.write("geno.txt", "A1 0 1 2 ok\n");
    upper.write("markers.txt.anno", MAP_ANNO);
    upper.run({"run", "geno"});
    EXPECT_EQ(upper.result.status, NO_MODEL);
    EXPECT_NE(upper.log().find("    A1\t 1 2 3 \t  ok\t      \n"), std::string::npos) << upper.log();
}

// A filter that is the block data set itself joins nothing.
TEST(BlockLocation, FilterThatIsTheBlockDataSetIsNoFilter) {
    job_run job(GENOS_012 + MAP_DECLARATION);
    job.write("geno.txt", GENO012);
    job.write("markers.txt.anno", MAP_ANNO);
    job.run({"run", "geno", "ids=genos"});
    EXPECT_EQ(job.result.status, NO_MODEL);
    const std::string log = job.log();
    EXPECT_NE(log.find("   Data identified for Id filtering from file geno.txt (genos):\n"), std::string::npos);
    EXPECT_EQ(log.find("appended"), std::string::npos);
    EXPECT_NE(log.find("    A2\t 2 2 0 \t  \n"), std::string::npos) << log;
}

}  // namespace

namespace tavo {
namespace {

// The loading step's code is the signed low byte of the sum, except that a
// nonzero sum never gives 0.
TEST(LoadingCode, SignedLowByteAndWrappedSums) {
    EXPECT_EQ(loading_code(0), 0);
    EXPECT_EQ(loading_code(9), 9);
    EXPECT_EQ(loading_code(127), 127);
    EXPECT_EQ(loading_code(128), -128);
    EXPECT_EQ(loading_code(200), -56);
    EXPECT_EQ(loading_code(255), -1);
    EXPECT_EQ(loading_code(256), ERR_LOAD_WRAPPED);
    EXPECT_EQ(loading_code(257), 1);
    EXPECT_EQ(loading_code(512), ERR_LOAD_WRAPPED);
    EXPECT_EQ(loading_code(int64_t{1} << 32), ERR_LOAD_WRAPPED);
}

}  // namespace
}  // namespace tavo
