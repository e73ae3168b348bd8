// End to end: tavosum on small runs written into scratch folders.
#include <filesystem>

#include "summary_testing.h"
#include "support/testutil.h"

namespace {

using testutil::read_file;
using testutil::write_file;

// "head 1 2 ... levels" (with a prefix to each number) and a line end.
std::string numbered_line(const std::string& head, int levels, const std::string& prefix = "") {
    std::string line = head;
    for (int i = 1; i <= levels; ++i) line += " " + prefix + std::to_string(i);
    return line + "\n";
}

// A run of three saved cycles; lines end in "\n", "\r\n" or "\r", and one line holds blanks only.
//   mu: 1 2 3 (mean 2, sd 1); ve: 4 4 4 (sd 0); herd: mean 2 3 4, sd 1 each;
//   fit.herd (labels of herd): one sample (sd nan); b.1: 1,3 and 10,30; b.2: 5 5 and 6 6;
//   large: 30 levels, level k is k twice; never: no samples.
struct summary_run {
    testutil::scratch_dir dir{"sum"};

    summary_run() {
        write_file(file("run.tavo"), "# summary test run\n$path=./\n$path_out=\nmodel\n");
        write_file(file("run.lab"),
                   "mu 1 intercept\nve 1 residual\nherd 3 H1 H2 H3\nfit.herd -3 herd\n"
                   "b.1 2 x y\nb.2 2 p q\n" +
                       numbered_line("large 30", 30, "l") + "never 1 n\n");
        write_file(file("run.out"),
                   "10 mu 1\n10 ve 4\n10 herd 1 2 3\n10 fit.herd 0.5 -1.5 2e3\n"
                   "10 b.1 1 10\n10 b.2 +5 6\n" +
                       numbered_line("10 large", 30) +
                       "20 mu 2\r\n20 ve 4\r20 herd 3 4 5 9\n20 b.1 3 30\n20 b.2 5 6\n" +
                       numbered_line("20 large", 30) + "  \t \n30 mu 3\n30 ve 4\n30 herd 2 3 4\n");
    }
    std::string file(const std::string& name) const { return dir.file(name); }
    testutil::run_result run(const std::vector<std::string>& args) const {
        return testutil::run_program(TAVOSUM_BIN, args, dir.path.string());
    }
};

const std::string default_plog =
    "tavosum (1.1) summary showing parameters with up to 25 levels\n"
    "parameter\tlabel\tpost.mean\tpost.stdev\n"
    "mu\tintercept\t2\t1\n"
    "ve\tresidual\t4\t0\n"
    "herd\tH1\t2\t1\n\tH2\t3\t1\n\tH3\t4\t1\n"
    "fit.herd\tH1\t0.5\tnan\n\tH2\t-1.5\tnan\n\tH3\t2000\tnan\n"
    "b.1\tx\t2\t1.41421\n\ty\t20\t14.1421\n"
    "b.2\tp\t5\t0\n\tq\t6\t0\n";

const std::string default_mlog =
    "mu 2\nve 4\nherd 2 3 4\nfit.herd 0.5 -1.5 2000\nb.1 2 20\nb.2 5 6\n";

// One console row: columns start at 21, 61 and 81 characters.
std::string row(std::string a, std::string b, std::string c, const std::string& d) {
    a.resize(21, ' ');
    b.resize(40, ' ');
    c.resize(20, ' ');
    return a + b + c + d + "\n";
}

const std::string default_rows =
    row("parameter", "label", "post.mean", "post.stdev") + row("mu", "intercept", "2", "1") +
    row("ve", "residual", "4", "0") + row("herd", "H1", "2", "1") + row("", "H2", "3", "1") +
    row("", "H3", "4", "1") + row("fit.herd", "H1", "0.5", "nan") + row("", "H2", "-1.5", "nan") +
    row("", "H3", "2000", "nan") + row("b.1", "x", "2", "1.41421") + row("", "y", "20", "14.1421") +
    row("b.2", "p", "5", "0") + row("", "q", "6", "0");

const std::string saved = "tavosum (1.1) finished - summary is saved in run.plog\n";

}  // namespace

TEST(SumRun, DefaultSummaryOfSmallParametersIsShownOnTheConsole) {
    summary_run run;
    auto result = run.run({"run"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(run.file("run.plog")), default_plog);
    EXPECT_EQ(read_file(run.file("run.mlog")), default_mlog);
    EXPECT_EQ(result.console, "tavosum (1.1) summary showing parameters with up to 25 levels\n" +
                                  default_rows + "\nThis summary is also saved in run.plog\n");
}

TEST(SumRun, TableWithoutTitleAndHeaderNamesEveryRow) {
    summary_run run;
    auto result = run.run({"run.tavo", "html", "table", "notitle", "echo", "nohead"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(
        read_file(run.file("run.plog")),
        "mu\tintercept\t2\t1\nve\tresidual\t4\t0\nherd\tH1\t2\t1\nherd\tH2\t3\t1\nherd\tH3\t4\t1\n"
        "fit.herd\tH1\t0.5\tnan\nfit.herd\tH2\t-1.5\tnan\nfit.herd\tH3\t2000\tnan\n"
        "b.1\tx\t2\t1.41421\nb.1\ty\t20\t14.1421\nb.2\tp\t5\t0\nb.2\tq\t6\t0\n");
    EXPECT_EQ(result.console,
              row("mu", "intercept", "2", "1") + row("ve", "residual", "4", "0") +
                  row("herd", "H1", "2", "1") + row("herd", "H2", "3", "1") +
                  row("herd", "H3", "4", "1") + row("fit.herd", "H1", "0.5", "nan") +
                  row("fit.herd", "H2", "-1.5", "nan") + row("fit.herd", "H3", "2000", "nan") +
                  row("b.1", "x", "2", "1.41421") + row("b.1", "y", "20", "14.1421") +
                  row("b.2", "p", "5", "0") + row("b.2", "q", "6", "0"));
}

TEST(SumRun, ExactNameGivesSingleKindWithReferencedLabels) {
    summary_run run;
    auto result = run.run({"run", "par=herd", "par=fit.herd", "table"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(run.file("run.plog")),
              "tavosum (1.1) summary for fit.herd\nlabel\tpost.mean\tpost.stdev\n"
              "H1\t0.5\tnan\nH2\t-1.5\tnan\nH3\t2000\tnan\n");
    EXPECT_EQ(read_file(run.file("run.mlog")), "fit.herd 0.5 -1.5 2000\n");
    EXPECT_EQ(result.console, saved);
}

TEST(SumRun, PrefixTableWithEqualLevelsIsWideWithNamesAfterThePrefix) {
    summary_run run;
    auto result = run.run({"run", "par=b*", "table"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(run.file("run.plog")),
              "tavosum (1.1) summary for b*\nlabel\t.1.pm\t.1.psd\t.2.pm\t.2.psd\n"
              "x\t2\t1.41421\t5\t0\ny\t20\t14.1421\t6\t0\n");
    EXPECT_EQ(result.console, saved);
}

TEST(SumRun, NlevTableIsWideWithFullNamesAndZerosWithoutSamples) {
    summary_run run;
    auto result = run.run({"run", "table", "nlev=1"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(run.file("run.plog")),
              "tavosum (1.1) summary for parameters with 1 levels\n"
              "label\tmu.pm\tmu.psd\tve.pm\tve.psd\tnever.pm\tnever.psd\n"
              "intercept\t2\t1\t4\t0\t0\t0\n");
    EXPECT_EQ(read_file(run.file("run.mlog")), "mu 2\nve 4\n");
    EXPECT_EQ(result.console, saved);
}

TEST(SumRun, MaxlevZeroSummarisesEverythingWithoutEcho) {
    summary_run run;
    auto result = run.run({"run", "maxlev=0"});
    EXPECT_EQ(result.status, 0);
    std::string large_rows = "large\tl1\t1\t0\n";
    for (int level = 2; level <= 30; ++level)
        large_rows += "\tl" + std::to_string(level) + "\t" + std::to_string(level) + "\t0\n";
    std::string expected = "tavosum (1.1) summary showing parameters with up to 0 levels\n" +
                           default_plog.substr(default_plog.find('\n') + 1) + large_rows;
    EXPECT_EQ(read_file(run.file("run.plog")), expected);
    EXPECT_EQ(read_file(run.file("run.mlog")), default_mlog + numbered_line("large", 30));
    EXPECT_EQ(result.console, saved);
}

TEST(SumRun, OutputPathAppliesToTheSampleFileOnly) {
    summary_run run;
    write_file(run.file("run.tavo"), "$path_out=res/\n");
    auto missing = run.run({"run"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.console, "Problem opening job out-file: res/run.out\n");
    std::filesystem::create_directories(run.file("res/run.out"));  // opens, but cannot be read
    auto unreadable = run.run({"run"});
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_EQ(unreadable.console, "! Problem reading file (res/run.out)\n");
    std::filesystem::remove(run.file("res/run.out"));
    std::filesystem::rename(run.file("run.out"), run.file("res/run.out"));
    EXPECT_EQ(run.run({"run"}).status, 0);
    EXPECT_EQ(read_file(run.file("run.plog")), default_plog);
}

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

TEST(SumRun, CommandLineAndFileFailures) {
    summary_run run;
    auto none = run.run({});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(
        none.console,
        "Error: missing argument(s): jobfilebasename moreoptions \n"
        "Addional posssible options: html echo table notitle nohead maxlev=\n"
        "Use maxlev= to get shorter/longer summaries, maxlev=0 makes summary of all parameters\n");
    std::string long_name(241, 'j');
    auto too_long = run.run({long_name});
    EXPECT_EQ(too_long.status, 1);
    EXPECT_EQ(too_long.console, "Error: too long jobfile base name: " + long_name + "\n");
    long_name.pop_back();
    EXPECT_EQ(run.run({long_name}).console, "Problem opening jobfile " + long_name + ".tavo \n");
    auto no_job = run.run({"other.tavo"});
    EXPECT_EQ(no_job.status, 1);
    EXPECT_EQ(no_job.console, "Problem opening jobfile other.tavo \n");

    std::filesystem::create_directory(run.file("run.plog"));
    auto no_plog = run.run({"run"});
    EXPECT_EQ(no_plog.status, 1);
    EXPECT_EQ(no_plog.console, "Problem opening plog file (run.plog) for writing.\n");
    std::filesystem::remove(run.file("run.lab"));
    auto no_lab = run.run({"run"});
    EXPECT_EQ(no_lab.status, 1);
    EXPECT_EQ(no_lab.console, "Problem opening job lab-file: run.lab\n");
}

TEST(SumRun, EmptySelectionAndRepeatedExactName) {
    summary_run run;
    auto none = run.run({"run", "par=zz"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.console,
              "! No parameters found for summary: searching parameters matching zz\n");
    auto no_levels = run.run({"run", "nlev=7"});
    EXPECT_EQ(no_levels.status, 1);
    EXPECT_EQ(no_levels.console,
              "! No parameters found for summary: searching parameters with <=25 levels)\n");
    write_file(run.file("run.lab"), read_file(run.file("run.lab")) + "mu 1 again\n");
    auto twice = run.run({"run", "par=mu"});
    EXPECT_EQ(twice.status, 1);
    EXPECT_EQ(twice.console, "! There are multiple matches for requested parameter mu\n:");
}

TEST(SumRun, MeansFileThatCannotBeOpenedCostsAMessageOnly) {
    summary_run run;
    std::filesystem::create_directory(run.file("run.mlog"));
    auto result = run.run({"run", "par=mu"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.console, "Problem opening .mlog file (run.mlog) for writing.\n" + saved);
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
    EXPECT_EQ(read_file(run.file("run.plog")), default_plog);
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
    write_file(run.file("run.lab"), "big 1000000 b\nsmall 1 s\n");
    std::string heads;
    for (int i = 0; i < 100000; ++i) heads += "1 big\n";
    write_file(run.file("run.out"), heads);
    auto refused = run.run({"run", "maxlev=0", "ci"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.console,
              "! The draws of the selected parameters need 800.0 GB; select fewer with par= or "
              "maxlev=\n");
    auto selected = run.run({"run", "par=small", "ci"});  // a selection keeps the draws small
    EXPECT_EQ(selected.status, 0);
    EXPECT_EQ(selected.console, saved);
}
