#include <gtest/gtest.h>

#include <string>

#include "text/charbuff.h"

namespace tavo {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A buffer that is exactly full: capacity = used.
charbuff full_buffer(int32_t used, int32_t count, int32_t expected, int32_t increment) {
    charbuff buf;
    init_charbuff(buf, used, increment, expected);
    buf.used = used;
    buf.count = count;
    return buf;
}

TEST(InitCharbuff, DefaultsReplaceNonPositiveSizes) {
    charbuff buf;
    EXPECT_EQ(init_charbuff(buf, 0, 0, -3), 1);
    EXPECT_EQ(buf.capacity, 100);
    EXPECT_EQ(buf.increment, 100);
    EXPECT_EQ(buf.expected, 0);
    EXPECT_EQ(init_charbuff(buf, 20, -1, 0), 1);
    EXPECT_EQ(buf.increment, 100);

    EXPECT_EQ(init_charbuff(buf, 20, 20, 5), 0);
    EXPECT_EQ(buf.capacity, 20);
    EXPECT_EQ(buf.used, 0);
    EXPECT_EQ(buf.count, 0);
    EXPECT_STREQ(buf.data(), "");  // a new buffer reads as one empty text
}

TEST(Addbuff, EstimatesFromAverageLengthForExpectedStrings) {
    charbuff buf = full_buffer(50, 9, 100, 7);
    addbuff(buf, 'x');
    EXPECT_EQ(buf.capacity, 600);  // 100 * (50 / 10 + 1)
    EXPECT_EQ(buf.used, 51);
    EXPECT_EQ(buf.buffer[50], 'x');
}

TEST(Addbuff, GrowsByHalfItsCapacityAtLeastTheIncrementWithoutEstimate) {
    charbuff no_expectation = full_buffer(50, 9, 0, 7);
    addbuff(no_expectation, 'x');
    EXPECT_EQ(no_expectation.capacity, 75);

    charbuff all_seen = full_buffer(50, 10, 10, 30);  // count has reached expected
    addbuff(all_seen, 'x');
    EXPECT_EQ(all_seen.capacity, 80);

    charbuff small_estimate = full_buffer(50, 0, 1, 7);  // one string expected: estimate 51
    addbuff(small_estimate, 'x');
    EXPECT_EQ(small_estimate.capacity, 75);
}

// A long first string must not size the buffer for every expected string
// beyond what the owner's data can hold; the limit never stops growth.
TEST(Addbuff, LimitCapsTheEstimateButNotTheStep) {
    charbuff buf = full_buffer(2000, 0, 1000, 10);  // estimate 1000 * 2001
    limit_charbuff(buf, 5000);
    addbuff(buf, 'x');
    EXPECT_EQ(buf.capacity, 5000);
    buf.used = buf.capacity;
    addbuff(buf, 'y');
    EXPECT_EQ(buf.capacity, 7500);  // past the limit: the geometric step
}

// One long text costs a number of growths logarithmic in its length, so the
// bytes copied stay linear in it, whatever the increment or estimate.
TEST(Addbuff, OneLongTextGrowsGeometrically) {
    for (int expected : {0, 1}) {
        charbuff buf;
        init_charbuff(buf, 100, 50, expected);
        int growths = 0;
        for (int i = 0; i < (1 << 22); ++i) {
            const int32_t before = buf.capacity;
            addbuff(buf, 'a');
            growths += buf.capacity != before;
        }
        EXPECT_EQ(buf.used, 1 << 22);
        EXPECT_LE(growths, 40);
    }
}

TEST(Addbuff, KeepsContentsAndCountsStringsAcrossGrowth) {
    charbuff buf;
    init_charbuff(buf, 4, 3, 0);
    addtext(buf, "alpha");
    addtext(buf, "");
    addtext(buf, "be");
    EXPECT_EQ(buf.used, 10);
    EXPECT_EQ(buf.count, 3);
    EXPECT_GE(buf.capacity, buf.used);
    EXPECT_EQ(std::string(buf.buffer.data(), 10), std::string("alpha\0\0be\0", 10));
}

TEST(Addbuff, CapacityBeyond32BitsIsAFailedGrowth) {
    charbuff buf = full_buffer(100, 0, 1 << 30, 10);  // estimate 2^30 * 101
    CaptureStdout();
    addbuff(buf, 'x');
    addbuff(buf, 'y');  // a lost buffer takes nothing more, silently
    EXPECT_EQ(GetCapturedStdout(), "? addbuff: allocating problem\n");
    EXPECT_TRUE(buf.absent());
    EXPECT_EQ(buf.used, 100);
    EXPECT_STREQ(buf.data(), "");
}

TEST(GrowCharbuff, GrowsAFullBufferByTheRuleAndAllocatesNoMore) {
    charbuff buf = full_buffer(50, 9, 100, 7);
    EXPECT_TRUE(grow_charbuff(buf));
    EXPECT_EQ(buf.capacity, 600);
    EXPECT_EQ(buf.used, 50);  // nothing stored, nothing counted
    EXPECT_EQ(buf.count, 9);
    charbuff stepped = full_buffer(100, 0, 0, 10);  // an unhinted buffer: half its capacity
    EXPECT_TRUE(grow_charbuff(stepped));
    EXPECT_EQ(stepped.capacity, 150);
    EXPECT_EQ(stepped.buffer.capacity(), 150u);  // not doubled behind the rule's back

    charbuff too_big = full_buffer(100, 0, 1 << 30, 10);
    CaptureStdout();
    EXPECT_FALSE(grow_charbuff(too_big));
    EXPECT_FALSE(grow_charbuff(too_big));  // lost: silently refused
    EXPECT_EQ(GetCapturedStdout(), "? addbuff: allocating problem\n");
}

TEST(NextToken, WalksStringsThenFallsBackToFirst) {
    charbuff buf;
    init_charbuff(buf, 8, 8, 0);
    addtext(buf, "one");
    addtext(buf, "");
    addtext(buf, "three");
    int32_t cursor = 0;
    EXPECT_STREQ(next_token(buf, cursor), "one");
    EXPECT_STREQ(next_token(buf, cursor), "");
    EXPECT_STREQ(next_token(buf, cursor), "three");
    EXPECT_EQ(cursor, buf.used);

    CaptureStdout();
    EXPECT_STREQ(next_token(buf, cursor), "one");
    EXPECT_EQ(GetCapturedStdout(), "Problem in readbuff\n");
    EXPECT_EQ(cursor, buf.used);  // the cursor stays where it was
}

TEST(NextToken, EmptyBufferHasNoStrings) {
    charbuff buf;
    init_charbuff(buf, 10, 10, 0);
    int32_t cursor = 0;
    CaptureStdout();
    EXPECT_STREQ(next_token(buf, cursor), "");
    EXPECT_EQ(GetCapturedStdout(), "Problem in readbuff\n");
}

}  // namespace
}  // namespace tavo
