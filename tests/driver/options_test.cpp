// Option table matching, option values and the bywindow= and threads= rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "driver/run.h"
#include "support/testutil.h"

namespace {

using tavo::match_option;

// Everything read_options printed, and its result.
struct reading {
    int code = -1;
    std::string console;
    std::string log;
};

reading read_with(tavo::run_settings& s, const std::vector<std::string>& options) {
    s.args = {"run", "geno"};
    s.args.insert(s.args.end(), options.begin(), options.end());
    s.log = std::tmpfile();
    reading r;
    testing::internal::CaptureStdout();
    r.code = tavo::read_options(s);
    std::fflush(stdout);
    r.console = testing::internal::GetCapturedStdout();
    r.log = testutil::read_back(s.log);
    std::fclose(s.log);
    s.log = nullptr;
    return r;
}

const char* const WIDTH_NOT_READ =
    "! ERROR: cannot read a proper integer number in bywindow= option\n"
    "         Usage example: bywindow=20\n";
const char* const WIDTH_NOT_READ_LOG = "tavogen QUIT - cannot read/process bywindow option.\n";

TEST(OptionTable, WholeWordsNeedTheirExactLengthPrefixesTheirWholePrefix) {
    EXPECT_EQ(match_option("broadly"), tavo::OPT_NONE);
    EXPECT_EQ(match_option("broa"), tavo::OPT_NONE);
    EXPECT_EQ(match_option("broad=1"), tavo::OPT_NONE);
    EXPECT_EQ(match_option("ids"), tavo::OPT_NONE);
    EXPECT_EQ(match_option("by"), tavo::OPT_NONE);
    EXPECT_EQ(match_option("ids="), tavo::OPT_IDS);
    EXPECT_EQ(match_option("bywindow"), tavo::OPT_NONE);
    EXPECT_EQ(match_option("threads"), tavo::OPT_NONE);
    EXPECT_EQ(match_option("threadsX"), tavo::OPT_NONE);
    EXPECT_EQ(match_option("thread=2"), tavo::OPT_NONE);
    EXPECT_EQ(match_option("threads="), tavo::OPT_THREADS);
    EXPECT_EQ(match_option("Threads=4"), tavo::OPT_THREADS);
    EXPECT_EQ(match_option(""), tavo::OPT_NONE);
    EXPECT_EQ(match_option("  \t"), tavo::OPT_NONE);
}

TEST(OptionTable, OptionWordSkipsLeadingBlanksAndEndsAtABlank) {
    EXPECT_EQ(match_option("\t broad"), tavo::OPT_BROAD);
    EXPECT_EQ(match_option("broad extra words"), tavo::OPT_BROAD);
    EXPECT_EQ(match_option("usefit\tx"), tavo::OPT_USEFIT);
    EXPECT_EQ(match_option(" ids=x"), tavo::OPT_IDS);
    EXPECT_EQ(match_option("by =x"), tavo::OPT_NONE);
}

TEST(Options, FlagsAndValuesAreSetWithoutMessages) {
    tavo::run_settings s;
    const reading r = read_with(s, {"BROAD", "Usefit", "IDS=idset", "by=chrom"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.console, "");
    EXPECT_EQ(r.log, "");
    EXPECT_TRUE(s.broad);
    EXPECT_TRUE(s.usefit);
    EXPECT_TRUE(s.has_ids);
    EXPECT_EQ(s.ids, "idset");
    EXPECT_TRUE(s.has_by);
    EXPECT_EQ(s.by, "chrom");
    EXPECT_EQ(s.bywindow, 0);
}

TEST(Options, ProbitIsAcceptedSilentlyAndChangesNothing) {
    tavo::run_settings s;
    const reading r = read_with(s, {"probit", "PROBIT"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.console + r.log, "");
    EXPECT_FALSE(s.broad || s.usefit || s.has_ids || s.has_by);
    EXPECT_EQ(s.bywindow, 0);
}

TEST(Options, UnrecognisedOptionsAreWarnedAndReadingGoesOn) {
    tavo::run_settings s;
    const reading r = read_with(s, {"broadly", "ids", "usefit"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.console,
              "! Warning: unrecognized / unused option broadly\n"
              "! Warning: unrecognized / unused option ids\n");
    EXPECT_EQ(r.log,
              "************\n"
              "* Warning! * The command line option broadly was not recognized and was ignored\n"
              "************\n"
              "************\n"
              "* Warning! * The command line option ids was not recognized and was ignored\n"
              "************\n");
    EXPECT_FALSE(s.broad);
    EXPECT_FALSE(s.has_ids);
    EXPECT_TRUE(s.usefit);
}

// Values start at a fixed position of the whole argument: leading blanks
// shift them, and nothing is trimmed.
TEST(Options, ValuesComeFromFixedPositionsUntrimmed) {
    tavo::run_settings s;
    EXPECT_EQ(read_with(s, {" ids=abc", " by=chr"}).code, 0);
    EXPECT_EQ(s.ids, "=abc");
    EXPECT_EQ(s.by, "=chr");
    EXPECT_EQ(read_with(s, {"ids=a b ", "by=\tchr"}).code, 0);
    EXPECT_EQ(s.ids, "a b ");
    EXPECT_EQ(s.by, "\tchr");
    EXPECT_EQ(read_with(s, {"ids=", "by="}).code, 0);
    EXPECT_TRUE(s.has_ids && s.has_by);
    EXPECT_EQ(s.ids, "");
    EXPECT_EQ(s.by, "");
}

TEST(Options, LaterValueReplacesEarlierOne) {
    tavo::run_settings s;
    EXPECT_EQ(read_with(s, {"ids=a", "by=x", "ids=b", "bywindow=3", "bywindow=5"}).code, 0);
    EXPECT_EQ(s.ids, "b");
    EXPECT_EQ(s.by, "x");
    EXPECT_EQ(s.bywindow, 5);
}

TEST(Bywindow, EvenWidthIsRaisedToOddWithNotesOnBothChannels) {
    tavo::run_settings s;
    const reading r = read_with(s, {"bywindow=20"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(s.bywindow, 21);
    EXPECT_EQ(r.console, "NOTE: bywindow setting needs to be an odd number; it is changed to 21\n");
    EXPECT_EQ(r.log, "NOTE: bywindow setting needs to be an odd number; it was changed to 21\n");
    const reading odd = read_with(s, {"BYWINDOW=21"});
    EXPECT_EQ(odd.console + odd.log, "");
    EXPECT_EQ(s.bywindow, 21);
}

TEST(Bywindow, ZeroOrNegativeStopsAndEndsOptionReading) {
    for (const char* arg : {"bywindow=0", "bywindow=-3", "bywindow=-0"}) {
        SCOPED_TRACE(arg);
        tavo::run_settings s;
        const reading r = read_with(s, {arg, "broad"});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.console, "! ERROR: bywindow setting is zero or negative\n");
        EXPECT_EQ(r.log, "tavogen QUIT - incorrect bywindow option.\n");
        EXPECT_FALSE(s.broad);
    }
}

TEST(Bywindow, NoIntegerStopsAndEndsOptionReading) {
    for (const char* arg : {"bywindow=abc", "bywindow=", "bywindow=+", "bywindow=- 5", " bywindow= 5",
                            "bywindow=99999999999"}) {
        SCOPED_TRACE(arg);
        tavo::run_settings s;
        const reading r = read_with(s, {arg, "broadly"});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.console, WIDTH_NOT_READ);
        EXPECT_EQ(r.log, WIDTH_NOT_READ_LOG);
        EXPECT_EQ(s.bywindow, 0);
    }
}

TEST(Bywindow, ReadLikePercentD) {
    const std::pair<const char*, int> cases[] = {
        {"bywindow=7x", 7}, {"bywindow= 5", 5}, {"bywindow=\t+9;", 9}, {"bywindow=007", 7},
        {"bywindow=8 9", 9}, {"bywindow=2147483647", 2147483647}};
    for (const auto& [arg, width] : cases) {
        SCOPED_TRACE(arg);
        tavo::run_settings s;
        EXPECT_EQ(read_with(s, {arg}).code, 0);
        EXPECT_EQ(s.bywindow, width);
    }
}

TEST(Threads, DefaultIsTheMachinesCoreCount) {
    const tavo::run_settings s;
    const unsigned cores = std::thread::hardware_concurrency();
    EXPECT_EQ(s.threads, cores == 0 ? 1 : static_cast<int>(cores));
    EXPECT_EQ(tavo::default_threads(), s.threads);
}

TEST(Threads, ReadLikePercentDInAnyCaseWithoutMessages) {
    const std::pair<const char*, int> cases[] = {
        {"threads=2", 2}, {"THREADS=3", 3}, {"threads=4x", 4}, {"threads= +1", 1}, {"threads=64", 64}};
    for (const auto& [arg, count] : cases) {
        SCOPED_TRACE(arg);
        tavo::run_settings s;
        const reading r = read_with(s, {arg});
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.console + r.log, "");
        EXPECT_EQ(s.threads, count);
    }
    tavo::run_settings s;
    EXPECT_EQ(read_with(s, {"threads=5", "bywindow=3", "threads=1"}).code, 0);
    EXPECT_EQ(s.threads, 1);
    EXPECT_EQ(s.bywindow, 3);
}

TEST(Threads, NoPositiveIntegerStopsAndEndsOptionReading) {
    for (const char* arg : {"threads=0", "threads=-1", "threads=abc", "threads=", "threads=-0", " threads=2",
                            "threads=99999999999"}) {
        SCOPED_TRACE(arg);
        tavo::run_settings s;
        const int before = s.threads;
        const reading r = read_with(s, {arg, "broadly", "threads=2"});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.console, "! ERROR: threads setting must be a positive whole number\n");
        EXPECT_EQ(r.log, "tavogen QUIT - incorrect threads option.\n");
        EXPECT_EQ(s.threads, before);
    }
}

TEST(ReadLeadingInt, StopsAtTheFirstCharacterItCannotUse) {
    int v = -1;
    EXPECT_TRUE(tavo::read_leading_int(" \n\t-12abc", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(tavo::read_leading_int("-2147483648", v));
    EXPECT_EQ(v, -2147483647 - 1);
    v = 42;
    EXPECT_FALSE(tavo::read_leading_int("2147483648", v));
    EXPECT_FALSE(tavo::read_leading_int("-2147483649", v));
    EXPECT_FALSE(tavo::read_leading_int("", v));
    EXPECT_FALSE(tavo::read_leading_int("x1", v));
    EXPECT_EQ(v, 42);
}

}  // namespace

namespace {

TEST(Share, DefaultThresholdAndPlotOff) {
    tavo::run_settings s;
    EXPECT_EQ(s.share, 0.001);
    EXPECT_FALSE(s.plot);
}

TEST(Share, DecimalNumbersAboveZeroAndBelowOneAreTakenWithPlotInAnyCase) {
    const std::pair<const char*, double> taken[] = {
        {"share=0.05", 0.05}, {"SHARE=.25", 0.25}, {"share=1e-3", 0.001}, {"share=0.999", 0.999}};
    for (const auto& [arg, value] : taken) {
        tavo::run_settings s;
        const reading r = read_with(s, {arg, "Plot"});
        EXPECT_EQ(r.code, 0) << arg;
        EXPECT_EQ(r.console + r.log, "") << arg;
        EXPECT_EQ(s.share, value) << arg;
        EXPECT_TRUE(s.plot);
    }
    EXPECT_EQ(match_option("plots"), tavo::OPT_NONE);
    EXPECT_EQ(match_option("share"), tavo::OPT_NONE);
}

// The whole value must be the number: no sign, blanks, trailing text, hex,
// infinity or not-a-number; and 0 and 1 themselves are refused.
TEST(Share, AnythingElseStopsAndEndsOptionReading) {
    for (const char* arg : {"share=0", "share=1", "share=1.5", "share=-0.1", "share=+0.1", "share=", "share=abc",
                            "share=0.5x", "share= 0.1", "share=0x0.1", "share=nan", "share=inf", "share=1e", "share=."}) {
        tavo::run_settings s;
        const reading r = read_with(s, {arg, "broad"});
        EXPECT_EQ(r.code, tavo::ERR_COMMAND_LINE) << arg;
        EXPECT_EQ(r.console, "! ERROR: share setting must be a number above 0 and below 1\n") << arg;
        EXPECT_EQ(r.log, "tavogen QUIT - incorrect share option.\n") << arg;
        EXPECT_EQ(s.share, 0.001) << arg;
        EXPECT_FALSE(s.broad) << arg;
    }
}

}  // namespace
