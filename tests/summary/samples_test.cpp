// Reading sample lines into sums, and the posterior statistics.
#include <cmath>

#include "summary/samples.h"
#include "summary_testing.h"

using namespace tavosum;
using tavosum_testing::console_of;
using tavosum_testing::file_with;

namespace {

// Parameters a (2 levels), z (0 levels), a again (3 levels, never fed: the first a takes its
// lines).
struct sampled_run {
    std::vector<parameter> selected{{"a", 2, 0, 0}, {"z", 0, 2, 0}, {"a", 3, 2, 0}};
    std::vector<level_sums> sums = std::vector<level_sums>(5);
    std::string console;

    explicit sampled_run(const std::string& out) {
        sample_reader reader = make_sample_reader(selected, sums);
        auto file = file_with(out);
        console = console_of([&] { EXPECT_TRUE(read_samples(file.get(), reader)); });
    }
    std::vector<double> level_sum() const {
        std::vector<double> all;
        for (const level_sums& s : sums) all.push_back(s.sum);
        return all;
    }
};

}  // namespace

TEST(SumSamples, ValuesFromEveryLineEndWithSignsAndExtraValuesIgnored) {
    sampled_run run("1 a +1 2\r\n 2\ta -3e0 +4 99\r3 b 7 7\n\n \t \r\n4 z junk\n5 a 0.5 .5");
    EXPECT_EQ(run.console, "");
    EXPECT_EQ(run.level_sum(), (std::vector<double>{-1.5, 6.5, 0, 0, 0}));
    EXPECT_EQ(run.sums[0].squares, 1 + 9 + 0.25);
    EXPECT_EQ(run.selected[0].samples, 3);
    EXPECT_EQ(run.selected[1].samples, 1);  // no levels: the line still counts
    EXPECT_EQ(run.selected[2].samples, 0);
}

TEST(SumSamples, ShortLineIsSkippedWholeAndNeverCompletedFromTheNextLine) {
    // Reading on over the line end would have taken 5 from line 2 and lost a sample.
    sampled_run run("1 a 1\n2 a 5 6\n3 a 7 x 8\n4 a 2 3abc\n");
    EXPECT_EQ(run.console,
              "! Sample line 1: a has 1 values, 2 expected - line skipped\n"
              "! Sample line 3: a has 1 values, 2 expected - line skipped\n");
    EXPECT_EQ(run.level_sum(), (std::vector<double>{7, 9, 0, 0, 0}));
    EXPECT_EQ(run.selected[0].samples, 2);
}

TEST(SumSamples, UnreadableHeadIsSkippedAndReadingGoesOn) {
    sampled_run run("1 a 1 1\nx a 9 9\n7\n+8 a 2 2\n1.5 a 9 9\r-9 a 3 3\n");
    EXPECT_EQ(run.console,
              "! Sample line 2 cannot be read - line skipped\n"
              "! Sample line 3 cannot be read - line skipped\n"
              "! Sample line 5 cannot be read - line skipped\n");
    EXPECT_EQ(run.level_sum(), (std::vector<double>{6, 6, 0, 0, 0}));
}

TEST(SumStatistics, MeanAndStandardDeviation) {
    level_sums three = statistics_of({6, 14}, 3);  // samples 1, 2, 3
    EXPECT_EQ(three.sum, 2);
    EXPECT_EQ(three.squares, 1);
    // Constant samples: rounding may leave a tiny negative variance; it gives 0.
    double x = 0.1;
    level_sums constant = statistics_of({3 * x, 3 * x * x - 1e-17}, 3);
    EXPECT_EQ(constant.squares, 0);
}

TEST(SumStatistics, OneSampleHasNoSpread) {
    level_sums one = statistics_of({-2.5, 6.25}, 1);
    EXPECT_EQ(one.sum, -2.5);
    ASSERT_TRUE(std::isnan(one.squares));
    EXPECT_FALSE(std::signbit(one.squares));                // written "nan", never "-nan"
    level_sums negative_nan = statistics_of({-NAN, 1}, 2);  // as x86 makes inf - inf
    EXPECT_TRUE(std::isnan(negative_nan.sum) && !std::signbit(negative_nan.sum));
    EXPECT_TRUE(std::isnan(negative_nan.squares) && !std::signbit(negative_nan.squares));
}
