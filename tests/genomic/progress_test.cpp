// The progress line a terminal shows during the cycle walk.
#include <gtest/gtest.h>

#include "genomic/progress.h"

namespace {

using namespace tavo;

TEST(ProgressLine, RateAndTimeLeftFromTheShareOfTheSampleFileRead) {
    // 40 cycles in 10 s with a quarter of the file read: 30 s to go.
    EXPECT_EQ(progress_line(400, 40, 10.0, 0.25), "\rcycle 400: 40 computed, 4.0/s, about 30s left");
    EXPECT_EQ(progress_line(7, 1, 0.0, 0.0), "\rcycle 7: 1 computed, 0.0/s, about ? left");
}

TEST(ProgressLine, DurationsInSecondsMinutesOrHours) {
    EXPECT_EQ(duration_text(59.4), "59s");
    EXPECT_EQ(duration_text(59.6), "1m 00s");
    EXPECT_EQ(duration_text(187), "3m 07s");
    EXPECT_EQ(duration_text(7500), "2h 05m");
    EXPECT_EQ(duration_text(-1), "?");
}

}  // namespace
