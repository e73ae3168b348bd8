#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "data/charbuff.h"
#include "data/datacol.h"

namespace tavo {
namespace {

struct file_closer {
    void operator()(FILE* f) const { fclose(f); }
};
using stream = std::unique_ptr<FILE, file_closer>;

stream stream_of(const std::string& text) {
    stream in(tmpfile());
    fwrite(text.data(), 1, text.size(), in.get());
    rewind(in.get());
    return in;
}

struct field_spec {
    int32_t items = 1;
    int32_t start = 0;
    int32_t width = 0;
    bool skip = false;
};

std::vector<datacol> sheet(const std::vector<field_spec>& specs) {
    std::vector<datacol> cols(specs.size());
    for (size_t i = 0; i < specs.size(); ++i) {
        init_datacol(cols[i]);
        init_charbuff(cols[i].tokens, 20, 20, 0);
        cols[i].items = specs[i].items;
        cols[i].start = specs[i].start;
        cols[i].width = specs[i].width;
        cols[i].skip = specs[i].skip;
    }
    return cols;
}

// The tokens a field took from the last line, joined by '|'.
std::string tokens(datacol& col) {
    std::string all;
    col.token_cursor = 0;
    for (int32_t i = 0; i < col.tokens.count; ++i) {
        if (i > 0) all += '|';
        all += next_token(col.tokens, col.token_cursor);
    }
    return all;
}

int read(FILE* in, std::vector<datacol>& cols) {
    return readbuff(in, cols.data(), static_cast<int>(cols.size()));
}

// Reads every line, recording each result and the fields' tokens.
std::vector<std::string> read_all(const std::string& text, std::vector<datacol>& cols) {
    stream in = stream_of(text);
    std::vector<std::string> lines;
    for (int result; (result = read(in.get(), cols)) != READ_END;) {
        std::string line(1, static_cast<char>('0' + result));
        line += ':';
        for (auto& col : cols) line.append(" ").append(tokens(col));
        lines.push_back(line);
    }
    return lines;
}

TEST(Readbuff, AllLineEndsGiveTheSameTokens) {
    const std::vector<std::string> expected = {"0: a b|c", "0: d e|f"};
    for (const char* text : {"a b c\nd e f\n", "a b c\r\nd e f\r\n", "a b c\rd e f\r",
                             "a\tb\fc\vx\r\nd e f"}) {
        auto cols = sheet({{1}, {2}});
        EXPECT_EQ(read_all(text, cols), expected) << text;
    }
}

TEST(Readbuff, LineEndStoppingATokenIsNotEaten) {
    // The last token of each line is followed directly by the line end.
    for (const char* text : {"a b\nc d\ne f\n", "a b\r\nc d\r\ne f\r\n", "a b\rc d\re f"}) {
        auto cols = sheet({{1}, {1}});
        EXPECT_EQ(read_all(text, cols), (std::vector<std::string>{"0: a b", "0: c d", "0: e f"}))
            << text;
    }
}

TEST(Readbuff, SurplusTokensAreDroppedWithTheirLine) {
    auto cols = sheet({{1}});
    EXPECT_EQ(read_all("a b c\nd\n", cols), (std::vector<std::string>{"0: a", "0: d"}));
}

TEST(Readbuff, LastLineWithoutLineEndThenEnd) {
    auto cols = sheet({{2}});
    stream in = stream_of("x y");
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(tokens(cols[0]), "x|y");
    EXPECT_EQ(read(in.get(), cols), READ_END);
    EXPECT_EQ(read(in.get(), cols), READ_END);
}

TEST(Readbuff, EmptyAndBlankLines) {
    auto cols = sheet({{1}});
    stream in = stream_of("a\n\n\r\n\r   \nb\n");
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(read(in.get(), cols), READ_EMPTY);  // LF
    EXPECT_EQ(read(in.get(), cols), READ_EMPTY);  // CR LF
    EXPECT_EQ(read(in.get(), cols), READ_EMPTY);  // lone CR
    EXPECT_EQ(read(in.get(), cols), READ_INCOMPLETE);  // spaces only: not empty
    EXPECT_EQ(cols[0].status, FIELD_INCOMPLETE);
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(tokens(cols[0]), "b");
    EXPECT_EQ(cols[0].status, 0);
    EXPECT_EQ(read(in.get(), cols), READ_END);
}

TEST(Readbuff, ShortLineMarksEveryFieldLeftWanting) {
    auto cols = sheet({{1}, {2}, {1}, {0}});
    stream in = stream_of("a b\nnext\n");
    EXPECT_EQ(read(in.get(), cols), READ_INCOMPLETE);
    EXPECT_EQ(cols[0].status, 0);
    EXPECT_EQ(cols[1].status, FIELD_INCOMPLETE);
    EXPECT_EQ(tokens(cols[1]), "b");
    EXPECT_EQ(cols[2].status, FIELD_INCOMPLETE);
    EXPECT_EQ(cols[3].status, 0);  // takes all remaining tokens: none is fine
    EXPECT_EQ(read(in.get(), cols), READ_INCOMPLETE);  // the next line is intact
    EXPECT_EQ(tokens(cols[0]), "next");
}

TEST(Readbuff, ItemsNotPositiveTakeTheRestOfTheLine) {
    auto cols = sheet({{1}, {0}, {1}});
    stream in = stream_of("k 1 2 3  \nk\n");
    EXPECT_EQ(read(in.get(), cols), READ_INCOMPLETE);
    EXPECT_EQ(tokens(cols[1]), "1|2|3");
    EXPECT_EQ(cols[1].tokens.count, 3);
    EXPECT_EQ(cols[2].status, FIELD_INCOMPLETE);

    auto ragged = sheet({{1}, {-1}});
    EXPECT_EQ(read_all("k 1 2 3\nk\nk 4\n", ragged),
              (std::vector<std::string>{"0: k 1|2|3", "0: k ", "0: k 4"}));
}

TEST(Readbuff, SkippedFieldsTakeNothing) {
    auto cols = sheet({{1}, {1, 0, 0, true}, {1}});
    EXPECT_EQ(read_all("a b\n", cols), (std::vector<std::string>{"0: a  b"}));
}

TEST(Readbuff, FixedStartPositionsCountSkippedWhiteSpace) {
    //                         123456789012345
    auto cols = sheet({{1, 1}, {1, 5}, {1, 12}});
    stream in = stream_of("ab  cd     efg\n  x y z\n");
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(tokens(cols[0]), "ab");
    EXPECT_EQ(tokens(cols[1]), "cd");
    EXPECT_EQ(tokens(cols[2]), "efg");

    // Position 5 holds "y" here; position 12 lies beyond the line end.
    EXPECT_EQ(read(in.get(), cols), READ_INCOMPLETE);
    EXPECT_EQ(tokens(cols[0]), "x");
    EXPECT_EQ(tokens(cols[1]), "y");
    EXPECT_EQ(cols[2].status, FIELD_INCOMPLETE);
}

TEST(Readbuff, StartPositionBehindReadingPosition) {
    // The first field stops at the blank in position 12.
    auto cols = sheet({{1}, {1, 10}});
    stream in = stream_of("abcdefghijk lm\nnext      word\n");
    EXPECT_EQ(read(in.get(), cols), READ_PASSED);
    EXPECT_EQ(cols[1].status, FIELD_PASSED);
    EXPECT_EQ(read(in.get(), cols), READ_LINE);  // the rest of the bad line was dropped
    EXPECT_EQ(tokens(cols[0]), "next");
    EXPECT_EQ(cols[1].status, 0);

    auto at_stop = sheet({{1}, {1, 12}});
    stream same = stream_of("abcdefghijk lm\n");
    EXPECT_EQ(read(same.get(), at_stop), READ_LINE);
    EXPECT_EQ(tokens(at_stop[1]), "lm");
}

TEST(Readbuff, WidthOverflowHoldsForOneLine) {
    auto cols = sheet({{1, 0, 2}, {1}});
    stream in = stream_of("abc z\nab z\n");
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(cols[0].status, FIELD_OVERFLOW);
    EXPECT_EQ(tokens(cols[0]), "abc");  // kept whole; the loader cuts it
    EXPECT_EQ(tokens(cols[1]), "z");
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(cols[0].status, 0);
}

TEST(Readbuff, LongTokensGrowTheTokenBuffer) {
    auto cols = sheet({{2}});
    const std::string long_token(1000, 'q');
    stream in = stream_of(long_token + " " + long_token + "x\n");
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(tokens(cols[0]), long_token + "|" + long_token + "x");
    EXPECT_EQ(cols[0].tokens.used, 2003);
}

TEST(DropLine, StopsAfterEachKindOfLineEnd) {
    stream in = stream_of("header\r\nsecond\rthird\nfourth");
    drop_line(in.get());
    auto cols = sheet({{1}});
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(tokens(cols[0]), "second");
    drop_line(in.get());
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(tokens(cols[0]), "fourth");
    drop_line(in.get());
    EXPECT_EQ(read(in.get(), cols), READ_END);
}

}  // namespace
}  // namespace tavo
