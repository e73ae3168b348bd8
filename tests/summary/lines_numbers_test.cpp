// Line reading, tokens, and the reading and writing of numbers.
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "summary/lines.h"
#include "summary/numbers.h"
#include "summary_testing.h"

using namespace tavosum;
using tavosum_testing::file_with;

namespace {

struct read_line {
    std::string text;
    long long number;
    std::uint64_t offset;
    bool operator==(const read_line&) const = default;
};

std::vector<read_line> lines_of(const std::string& text, size_t chunk) {
    auto file = file_with(text);
    line_reader reader = make_line_reader(file.get(), chunk);
    std::vector<read_line> lines;
    std::string_view line;
    while (next_line(reader, line))
        lines.push_back({std::string(line), reader.line_number, reader.line_offset});
    EXPECT_FALSE(reader.failed);
    return lines;
}

}  // namespace

TEST(SumLineReader, EveryLineEndAtEveryChunkSize) {
    // "\n", "\r\n", lone "\r", an empty line, a lone "\r" before "\r\n", a long line, no final end.
    const std::string text = "a\nbb\r\nc\r\n\nd\r\r\n0123456789abcdefghij\rlast";
    const std::vector<read_line> expected = {{"a", 1, 0},
                                             {"bb", 2, 2},
                                             {"c", 3, 6},
                                             {"", 4, 9},
                                             {"d", 5, 10},
                                             {"", 6, 12},
                                             {"0123456789abcdefghij", 7, 14},
                                             {"last", 8, 35}};
    for (size_t chunk = 1; chunk <= 12; ++chunk)
        EXPECT_EQ(lines_of(text, chunk), expected) << chunk;
}

TEST(SumLineReader, CarriageReturnAtTheVeryEnd) {
    EXPECT_EQ(lines_of("x\r", 2), (std::vector<read_line>{{"x", 1, 0}}));
    EXPECT_TRUE(lines_of("", 4).empty());
}

TEST(SumTokens, BlanksAreSpacesTabsAndFeeds) {
    token_cursor tokens(" \tname\v12\f  x ");
    EXPECT_EQ(tokens.next(), "name");
    EXPECT_EQ(tokens.next(), "12");
    EXPECT_EQ(tokens.next(), "x");
    EXPECT_EQ(tokens.next(), "");
}

namespace {

// The value read from `text` and how many characters it took; -1 when refused.
std::pair<double, int> real_of(const std::string& text) {
    double value = -12345;
    const char* end = read_real(text.data(), text.data() + text.size(), value);
    return {value, end ? static_cast<int>(end - text.data()) : -1};
}

}  // namespace

TEST(SumReadReal, ReadsAsPercentLfDoes) {
    EXPECT_EQ(real_of("+1.5"), std::make_pair(1.5, 4));
    EXPECT_EQ(real_of("-2e3 7"), std::make_pair(-2000.0, 4));
    EXPECT_EQ(real_of(".25"), std::make_pair(0.25, 3));
    EXPECT_EQ(real_of("5."), std::make_pair(5.0, 2));
    EXPECT_EQ(real_of("+1E+2"), std::make_pair(100.0, 5));
    EXPECT_EQ(real_of("1.5abc"), std::make_pair(1.5, 3));  // trailing text ends the number
    EXPECT_EQ(real_of("1e"), std::make_pair(1.0, 1));
    EXPECT_EQ(real_of("0x1p4"), std::make_pair(16.0, 5));
    EXPECT_EQ(real_of("-0X.8"), std::make_pair(-0.5, 5));
    EXPECT_EQ(real_of("0x"), std::make_pair(0.0, 1));
    EXPECT_EQ(real_of("-inf"), std::make_pair(-std::numeric_limits<double>::infinity(), 4));
    EXPECT_TRUE(std::isnan(real_of("nan").first));
}

TEST(SumReadReal, OutOfRangeGivesInfinityOrZero) {
    EXPECT_EQ(real_of("1e999"), std::make_pair(std::numeric_limits<double>::infinity(), 5));
    EXPECT_EQ(real_of("-1e999"), std::make_pair(-std::numeric_limits<double>::infinity(), 6));
    EXPECT_EQ(real_of("1e-999").first, 0.0);
}

TEST(SumReadReal, RefusesWhatIsNoNumber) {
    for (const char* text : {"", "+", "-", "+-1", "--1", "-+1", "abc", ".", "e5", " 1"})
        EXPECT_EQ(real_of(text).second, -1) << text;
}

TEST(SumReadReal, AgreesWithFromCharsOnEveryCommonForm) {
    // The short cut for plain decimals must give from_chars's value and end,
    // whatever follows the number and however near the end of the text it is.
    std::mt19937_64 random(7);
    const char* formats[] = {"%g", "%.17g", "%.3e", "%.10f", "%.0f", "%.1f", "%E"};
    const char* tails[] = {"", " 1.5 2", "x", "e", "e+", "E-7x", ".5", "1234567890123"};
    for (int i = 0; i < 200000; ++i) {
        double scale = std::pow(10.0, static_cast<int>(random() % 50) - 25);
        double number = std::ldexp(static_cast<double>(random() >> 11), -53) * scale;
        char text[96];
        std::snprintf(text, sizeof text, formats[i % 7], i % 3 ? number : std::round(number));
        std::string input = text + std::string(tails[random() % 8]);
        double expected = 0;
        auto reference = std::from_chars(input.data(), input.data() + input.size(), expected);
        if (reference.ec != std::errc()) continue;  // a tail of digits after an exponent
        auto [value, used] = real_of(input);
        ASSERT_EQ(used, reference.ptr - input.data()) << input;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(expected))
            << input;
    }
}

TEST(SumIntegers, CycleNumbersAndCounts) {
    int value = 0;
    EXPECT_TRUE(is_integer_token("+12"));
    EXPECT_TRUE(is_integer_token("-99999999999999999999"));
    for (const char* bad : {"", "+", "12a", "+-1", "1.0"})
        EXPECT_FALSE(is_integer_token(bad)) << bad;
    EXPECT_TRUE(read_int_token("+7", value));
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(read_int_token("-3", value));
    EXPECT_EQ(value, -3);
    EXPECT_FALSE(read_int_token("3000000000", value));
    EXPECT_FALSE(read_int_token("5x", value));
}

TEST(SumIntegers, LeadingIntegerIgnoresTrailingText) {
    int value = 0;
    const std::vector<std::pair<std::string, int>> good = {
        {"5x", 5}, {" 7", 7}, {"+3", 3}, {"-2", -2}, {"0", 0}};
    for (const auto& [text, expected] : good) {
        EXPECT_TRUE(read_leading_int(text, value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
    for (const char* bad : {"", "x5", "+-1", "--1", "+", "99999999999"})
        EXPECT_FALSE(read_leading_int(bad, value)) << bad;
}

TEST(SumAppendG, MatchesPrintfPercentG) {
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1,
                                  -1.5,
                                  0.1,
                                  123456,
                                  1234567,
                                  999999.5,
                                  1e-5,
                                  0.0001,
                                  0.000123456789,
                                  1e100,
                                  -2.5e-300,
                                  4.9e-324,
                                  100000,
                                  1e6,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    // Halfway cases, neighbours of powers of ten, and a spread of magnitudes.
    for (int power = -7; power <= 16; ++power) {
        double ten = std::pow(10.0, power);
        for (double near : {std::nextafter(ten, 0.0), ten, std::nextafter(ten, 1e300)})
            for (double factor : {1.0, 1.234565, 9.999995, 9.9999949999, -2.5})
                values.push_back(near * factor);
    }
    std::mt19937_64 random(11);
    for (int i = 0; i < 100000; ++i) {
        double scale = std::pow(10.0, static_cast<int>(random() % 26) - 8);
        values.push_back(static_cast<double>(random() % 100000000) / 1e7 * scale);
        values.push_back((static_cast<double>(random() % 1000000) + 0.5) / 1e6 * -scale);
    }
    for (double value : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%g", value);
        std::string text;
        append_g(text, value);
        EXPECT_EQ(text, expected);
    }
}
