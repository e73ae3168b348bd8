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

// The per-parameter means of the default run, as its case expects them.
const std::string default_mlog = read_file(std::string(CASES_DIR) + "/sum-default/expected/run.mlog");

// One console row: columns start at 21, 61 and 81 characters.
std::string row(std::string a, std::string b, std::string c, const std::string& d) {
    a.resize(21, ' ');
    b.resize(40, ' ');
    c.resize(20, ' ');
    return a + b + c + d + "\n";
}

const std::string saved = "tavosum (1.1) finished - summary is saved in run.plog\n";

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

// The files are written as "<name>.part": a link from there to /dev/full
// makes the write fail. A failed run leaves the earlier files as they were.
TEST(SumRun, FailedWritesAreNotSuccess) {
    summary_run run;
    std::filesystem::create_symlink("/dev/full", run.file("run.plog.part"));
    auto plog = run.run({"run"});
    EXPECT_EQ(plog.status, 1);
    EXPECT_EQ(plog.console, "! Problem writing file (run.plog)\n");
    EXPECT_FALSE(std::filesystem::exists(run.file("run.plog")));
    EXPECT_FALSE(std::filesystem::is_symlink(run.file("run.plog.part")));  // removed
    ASSERT_EQ(run.run({"run"}).status, 0);
    const std::string good_means = read_file(run.file("run.mlog"));
    std::filesystem::create_symlink("/dev/full", run.file("run.mlog.part"));
    auto mlog = run.run({"run", "maxlev=1"});
    EXPECT_EQ(mlog.status, 1);
    EXPECT_EQ(mlog.console, "! Problem writing file (run.mlog)\n");
    EXPECT_EQ(read_file(run.file("run.plog")), default_plog());
    EXPECT_EQ(read_file(run.file("run.mlog")), good_means);
    EXPECT_FALSE(std::filesystem::exists(run.file("run.plog.part")));
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

// The interval and diagnostic columns, one case per layout. The values of the
// summary run follow from its three (or fewer) draws by hand; those of the
// chain run come from tests/summary/reference_diagnostics.py (chain pi_10).
TEST(SumRun, IntervalColumnsInTheDefaultLayoutAndItsEcho) {
    summary_run run;
    auto result = run.run({"run", "ess", "hpd", "ci=2"});
    EXPECT_EQ(result.status, 0);
    const std::string nans = "\tnan\tnan\tnan\tnan";
    EXPECT_EQ(read_file(run.file("run.plog")),
              "tavosum (1.1) summary showing parameters with up to 25 levels\n"
              "parameter\tlabel\tpost.mean\tpost.stdev\tmedian\tci.lo\tci.hi\thpd.lo\thpd.hi"
              "\tess.bulk\tess.tail\tmcse.mean\trhat\n"
              "mu\tintercept\t2\t1\t2\t1.05\t2.95\t1\t3" +
                  nans +
                  "\n"
                  "ve\tresidual\t4\t0\t4\t4\t4\t4\t4" +
                  nans +
                  "\n"
                  "herd\tH1\t2\t1\t2\t1.05\t2.95\t1\t3" +
                  nans +
                  "\n"
                  "\tH2\t3\t1\t3\t2.05\t3.95\t2\t4" +
                  nans +
                  "\n"
                  "\tH3\t4\t1\t4\t3.05\t4.95\t3\t5" +
                  nans +
                  "\n"
                  "fit.herd\tH1\t0.5\tnan\t0.5\tnan\tnan\tnan\tnan" +
                  nans +
                  "\n"
                  "\tH2\t-1.5\tnan\t-1.5\tnan\tnan\tnan\tnan" +
                  nans +
                  "\n"
                  "\tH3\t2000\tnan\t2000\tnan\tnan\tnan\tnan" +
                  nans +
                  "\n"
                  "b.1\tx\t2\t1.41421\t2\t1.05\t2.95\t1\t3" +
                  nans +
                  "\n"
                  "\ty\t20\t14.1421\t20\t10.5\t29.5\t10\t30" +
                  nans +
                  "\n"
                  "b.2\tp\t5\t0\t5\t5\t5\t5\t5" +
                  nans +
                  "\n"
                  "\tq\t6\t0\t6\t6\t6\t6\t6" +
                  nans + "\n");
    EXPECT_EQ(read_file(run.file("run.mlog")), default_mlog);
    EXPECT_TRUE(result.console.starts_with(
        "Error: invalid number (2) on ci option, ci is (re)set to default 0.95.\n"
        "tavosum (1.1) summary showing parameters with up to 25 levels\n" +
        row("parameter", "label", "post.mean",
            "post.stdev median ci.lo ci.hi hpd.lo hpd.hi ess.bulk ess.tail mcse.mean rhat") +
        row("mu", "intercept", "2", "1 2 1.05 2.95 1 3 nan nan nan nan")))
        << result.console;
}

TEST(SumRun, IntervalColumnsInTheWideLayoutFollowEachParameter) {
    summary_run run;
    auto result = run.run({"run", "table", "nlev=1", "hpd=0.5", "ci"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(run.file("run.plog")),
              "tavosum (1.1) summary for parameters with 1 levels\n"
              "label\tmu.pm\tmu.psd\tmu.median\tmu.ci.lo\tmu.ci.hi\tmu.hpd.lo\tmu.hpd.hi"
              "\tve.pm\tve.psd\tve.median\tve.ci.lo\tve.ci.hi\tve.hpd.lo\tve.hpd.hi"
              "\tnever.pm\tnever.psd\tnever.median\tnever.ci.lo\tnever.ci.hi\tnever.hpd.lo"
              "\tnever.hpd.hi\n"
              "intercept\t2\t1\t2\t1.05\t2.95\t1\t2\t4\t0\t4\t4\t4\t4\t4\t0\t0\tnan\tnan\tnan\tnan"
              "\tnan\n");
    EXPECT_EQ(result.console, saved);
}

namespace {

// Ten cycles of s (level a: 3 1 4 1 5 9 2 6 5 3; level b the same with an
// infinite fifth draw) and t (constant 7), with one short line of s.
struct chain_run : summary_run {
    chain_run() {
        write_file(file("run.lab"), "s 2 a b\nt 1 c\n");
        const int draws[] = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3};
        std::string out;
        for (int i = 0; i < 10; ++i) {
            std::string a = std::to_string(draws[i]);
            out += std::to_string(i) + " s " + a + " " + (i == 4 ? "inf" : a) + "\n";
            out += std::to_string(i) + " t 7\n";
        }
        write_file(file("run.out"), out + "11 s 8\n");
    }
};

}  // namespace

TEST(SumRun, DiagnosticsInTheSingleLayout) {
    chain_run run;
    auto result = run.run({"run", "par=s", "ci=0.5", "hpd=0.5", "ess"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(run.file("run.plog")),
              "tavosum (1.1) summary for s\n"
              "label\tpost.mean\tpost.stdev\tmedian\tci.lo\tci.hi\thpd.lo\thpd.hi\tess.bulk"
              "\tess.tail\tmcse.mean\trhat\n"
              "a\t3.9\t2.46982\t3.5\t2.25\t5\t1\t3\t10\t10\t0.781025\t1.14022\n"
              "b\tinf\tnan\tnan\tnan\tnan\tnan\tnan\tnan\tnan\tnan\tnan\n");
    EXPECT_EQ(result.console,
              "! Sample line 21: s has 1 values, 2 expected - line skipped\n" + saved);
}

TEST(SumRun, DiagnosticsInTheNamedLongLayout) {
    chain_run run;
    auto result = run.run({"run", "table", "notitle", "ess"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(run.file("run.plog")),
              "parameter\tlabel\tpost.mean\tpost.stdev\tess.bulk\tess.tail\tmcse.mean\trhat\n"
              "s\ta\t3.9\t2.46982\t10\t10\t0.781025\t1.14022\n"
              "s\tb\tinf\tnan\tnan\tnan\tnan\tnan\n"
              "t\tc\t7\t0\tnan\tnan\tnan\tnan\n");
}

TEST(SumRun, DrawsThatWouldNotFitAreRefusedBeforeReading) {
    summary_run run;
    write_file(run.file("run.lab"), "big 250000 b\nsmall 1 s\n");  // the sample file can hold the levels
    std::string heads;
    for (int i = 0; i < 100000; ++i) heads += "1 big\n";
    write_file(run.file("run.out"), heads);
    auto refused = run.run({"run", "maxlev=0", "ci"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.console,
              "! The draws of the selected parameters need 200.0 GB; select fewer with par= or "
              "maxlev=\n");
    auto selected = run.run({"run", "par=small", "ci"});  // a selection keeps the draws small
    EXPECT_EQ(selected.status, 0);
    EXPECT_EQ(selected.console, saved);
}
