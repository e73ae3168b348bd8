// End to end: tavosum runs whose checks case folders cannot hold (console
// heads, writes to a full device, names of any length). The runs checked as
// whole files are in tests/cases (sum-*).
#include <filesystem>

#include "summary_testing.h"
#include "support/case_runner.h"
#include "support/testutil.h"

namespace {

using testutil::read_file;
using testutil::write_file;

// A copy of the small run of tests/cases/_shared (sum-job, sum-lab, sum-out):
// three saved cycles with mixed line ends, described in the cases' README.
struct summary_run {
    testutil::scratch_dir dir{"sum"};

    summary_run() {
        for (const char* set : {"sum-job", "sum-lab", "sum-out"})
            testutil::copy_inputs(std::filesystem::path(CASES_DIR) / "_shared" / set, dir.path);
    }
    std::string file(const std::string& name) const { return dir.file(name); }
    testutil::run_result run(const std::vector<std::string>& args) const {
        return testutil::run_program(TAVOSUM_BIN, args, dir.path.string());
    }
};

// The summary file of the default run, as its case expects it.
std::string default_plog() {
    const std::string plog = read_file(std::string(CASES_DIR) + "/sum-default/expected/run.plog");
    if (plog.empty()) ADD_FAILURE() << "the default run's expected summary is missing";
    return plog;
}

}  // namespace

TEST(SumRun, BadVariableLineStopsTheJobFileAndTheRunGoesOn) {
    summary_run run;
    write_file(run.file("run.tavo"), "$path_out=\n$oops here\n$path_out=elsewhere/\n");
    auto result = run.run({"run"});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.console.starts_with(
        "Wrong format for $variable (missing equal sign or not given as one string) at job line: "
        "$oops heretavosum (1.1) summary showing parameters with up to 25 levels\n"))
        << result.console;
}

TEST(SumRun, BadNumbersFallBackToDefaults) {
    summary_run run;
    auto result = run.run({"run", "maxlev=many", "nlev=x", "table"});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.console.starts_with(
        "Error: invalid number (many) on maxlev option, maxlev is (re)set to default 25.\n"
        "Error: invalid number (x) on nlev option, nlev option is ignored!\n"
        "tavosum (1.1) summary showing parameters with up to 25 levels\n"))
        << result.console;
}

TEST(SumRun, FailedWritesAreNotSuccess) {
    summary_run run;
    std::filesystem::create_symlink("/dev/full", run.file("run.plog"));
    auto plog = run.run({"run"});
    EXPECT_EQ(plog.status, 1);
    EXPECT_EQ(plog.console, "! Problem writing file (run.plog)\n");
    std::filesystem::remove(run.file("run.plog"));
    std::filesystem::create_symlink("/dev/full", run.file("run.mlog"));
    auto mlog = run.run({"run"});
    EXPECT_EQ(mlog.status, 1);
    EXPECT_EQ(mlog.console, "! Problem writing file (run.mlog)\n");
    EXPECT_EQ(read_file(run.file("run.plog")), default_plog());
}

TEST(SumRun, MissingReferenceLineNumbersTheLevels) {
    summary_run run;
    write_file(run.file("run.lab"), "orphan -2 nowhere\n");
    write_file(run.file("run.out"), "1 orphan 1 2\n2 orphan 3 4\n");
    auto result = run.run({"run"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(run.file("run.plog")),
              "tavosum (1.1) summary showing parameters with up to 25 levels\n"
              "parameter\tlabel\tpost.mean\tpost.stdev\norphan\t1\t2\t1.41421\n\t2\t3\t1.41421\n");
    EXPECT_TRUE(result.console.starts_with(
        "! Labels of orphan refer to nowhere, which is not in run.lab - levels are numbered\n"
        "tavosum (1.1) summary showing parameters with up to 25 levels\n"));
}

TEST(SumRun, NamesLabelsAndJobLinesOfAnyLength) {
    summary_run run;
    std::string name = "p." + std::string(300, 'n');
    std::string label(400, 'l');
    write_file(run.file("run.tavo"),
               "#" + std::string(600, '-') + "$path_out=wrong/\n$path_out=\n");
    write_file(run.file("run.lab"), name + " 1 " + label + "\n");
    write_file(run.file("run.out"), "1 " + name + " 1.5\n2 " + name + " 2.5\n");
    auto result = run.run({"run", "par=" + name});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(run.file("run.plog")), "tavosum (1.1) summary for " + name +
                                                   "\nlabel\tpost.mean\tpost.stdev\n" + label +
                                                   "\t2\t0.707107\n");
    EXPECT_EQ(read_file(run.file("run.mlog")), name + " 2\n");
}
