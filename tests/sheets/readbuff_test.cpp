#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sheets/readbuff.h"
#include "sheets/datacol.h"
#include "support/testutil.h"

namespace tavo {
namespace {

using stream = testutil::file_ptr;

stream stream_of(const std::string& text) { return testutil::file_with(text); }

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
std::string tokens(const datacol& col) {
    std::string all;
    int32_t cursor = 0;
    for (int32_t i = 0; i < col.tokens.count; ++i) {
        if (i > 0) all += '|';
        all += next_token(col.tokens, cursor);
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

// Lines are read in pieces of 511, 1023, ... up to 65535 characters; tokens,
// blank runs and line ends fall on every side of those borders here.
std::string long_lines_text() {
    uint32_t state = 7;
    auto next = [&state](uint32_t n) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % n;
    };
    std::string text;
    const char* const ends[] = {"\n", "\r\n", "\r"};
    for (int line = 0; line < 24; ++line) {
        for (int i = 0; i < 13; ++i) text += "k ";  // every line has 13 tokens at least
        const uint32_t kind = line % 3;
        const uint32_t tokens = kind == 0 ? 200 + next(40000) : 20 + next(200);
        for (uint32_t t = 0; t < tokens; ++t) {
            if (kind == 0) {  // genotype-like: one character, mostly a single blank
                text += static_cast<char>('0' + next(3));
                if (next(200) == 0) text += "ab";
                text += next(300) == 0 ? "\t " : " ";
            } else {
                text += std::string(1 + next(kind == 1 ? 40 : 3000), static_cast<char>('a' + t % 26));
                text += std::string(1 + next(kind == 1 ? 3 : 1500), next(2) ? ' ' : '\t');
            }
        }
        if (line % 5 == 0) text += std::string(70000, 'z');  // longer than the largest piece
        text += ends[next(3)];
    }
    for (int i = 0; i < 13; ++i) text += "k ";
    return text + "last";  // without a line end
}

// The expected reading of a text: its lines (ended by LF, CR LF or a lone
// CR), each with its tokens joined by '|'.
std::vector<std::string> split_tokens(const std::string& text) {
    std::vector<std::string> lines(1);
    bool in_token = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            if (i + 1 < text.size()) lines.emplace_back();
            in_token = false;
        } else if (c == ' ' || c == '\t' || c == '\v' || c == '\f') {
            in_token = false;
        } else {
            if (!in_token && !lines.back().empty()) lines.back() += '|';
            lines.back() += c;
            in_token = true;
        }
    }
    return lines;
}

TEST(Readbuff, LongLinesReadInPiecesGiveEveryToken) {
    const std::string text = long_lines_text();
    std::vector<std::string> expected;
    for (const std::string& line : split_tokens(text)) expected.push_back("0: " + line);

    auto all = sheet({{0}});
    init_charbuff(all[0].tokens, 100, 4096, 0);
    const std::vector<std::string> lines = read_all(text, all);
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_TRUE(lines[i] == expected[i]) << "line " << i + 1;

    // Thirteen tokens, then the rest: the first field stops inside a run.
    auto split = sheet({{13}, {0}});
    init_charbuff(split[1].tokens, 10, 10, 1000);  // grows by its estimate
    const std::vector<std::string> halves = read_all(text, split);
    ASSERT_EQ(halves.size(), expected.size());
    for (size_t i = 0; i < halves.size(); ++i) {
        std::string joined = halves[i];
        joined[3 + 2 * 13 - 1] = '|';  // "0: k|...|k rest" -> "0: k|...|k|rest"
        EXPECT_TRUE(joined == expected[i]) << "line " << i + 1;
    }
}

TEST(Readbuff, FixedStartPositionOnALongLine) {
    auto cols = sheet({{2}, {1, 3000}, {1, 70001}});
    const std::string line = std::string(1000, 'a') + std::string(1900, ' ') + "bc" + std::string(98, ' ') +
                             std::string(66900, 'd') + std::string(100, ' ') + "e\n";
    stream in = stream_of(line + "next 1\n");
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(tokens(cols[0]), std::string(1000, 'a') + "|bc");
    EXPECT_EQ(tokens(cols[1]), std::string(66900, 'd'));  // position 3000 is a blank
    EXPECT_EQ(tokens(cols[2]), "e");
    EXPECT_EQ(read(in.get(), cols), READ_INCOMPLETE);
    EXPECT_EQ(tokens(cols[0]), "next|1");
}

TEST(Readbuff, BufferFullAtATokensNulGrowsByTheRule) {
    auto cols = sheet({{2}});
    init_charbuff(cols[0].tokens, 3, 5, 10);
    stream in = stream_of("abc de\n" + std::string(200, ' ') + "abc de\n");
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(cols[0].tokens.capacity, 40);  // at the NUL: 10 * (3 / (0 + 1) + 1)
    EXPECT_EQ(tokens(cols[0]), "abc|de");

    init_charbuff(cols[0].tokens, 2, 5, 10);
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(cols[0].tokens.capacity, 30);  // at the 'c': 10 * (2 / (0 + 1) + 1)
    EXPECT_EQ(tokens(cols[0]), "abc|de");
}

TEST(Readbuff, NulByteInsideAToken) {
    auto cols = sheet({{2}});
    stream in = stream_of(std::string("a\0b c\nd e\n", 11));
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(cols[0].tokens.used, 6);
    EXPECT_EQ(cols[0].tokens.count, 2);  // tokens, not NUL bytes
    EXPECT_EQ(std::string(cols[0].tokens.data(), 6), std::string("a\0b\0c\0", 6));
    EXPECT_EQ(read(in.get(), cols), READ_LINE);
    EXPECT_EQ(tokens(cols[0]), "d|e");
}

TEST(Readbuff, StreamThatCannotSeekReadsTheSame) {
    const std::string text = "h1 h2\ra b\r\nc d\r" + std::string(700, 'x') + " y\nlast";
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(ends[1]);
    stream in(fdopen(ends[0], "r"));
    auto cols = sheet({{0}});
    drop_line(in.get());
    std::vector<std::string> lines;
    for (int result; (result = read(in.get(), cols)) != READ_END;) lines.push_back(tokens(cols[0]));
    EXPECT_EQ(lines, (std::vector<std::string>{"a|b", "c|d", std::string(700, 'x') + "|y", "last"}));
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

// A stream over a text in memory whose position can be asked for but that
// cannot be set back: the tokeniser's seek after a piece read past a lone
// carriage return fails.
struct no_seek_back {
    std::string text;
    size_t pos = 0;
};

ssize_t read_cookie(void* cookie, char* buf, size_t size) {
    auto* c = static_cast<no_seek_back*>(cookie);
    const size_t n = std::min(size, c->text.size() - c->pos);
    c->text.copy(buf, n, c->pos);
    c->pos += n;
    return static_cast<ssize_t>(n);
}

int seek_cookie(void* cookie, off64_t* offset, int whence) {
    if (whence != SEEK_CUR || *offset != 0) return -1;
    *offset = static_cast<off64_t>(static_cast<no_seek_back*>(cookie)->pos);
    return 0;
}

TEST(Readbuff, FailedSeekBackIsAReadError) {
    no_seek_back cookie{std::string(5000, 'a') + "\rnext line\n"};
    FILE* in = fopencookie(&cookie, "r", cookie_io_functions_t{read_cookie, nullptr, seek_cookie, nullptr});
    ASSERT_NE(in, nullptr);
    std::vector<datacol> cols = sheet({{}});
    EXPECT_EQ(read(in, cols), READ_END);
    fclose(in);
}

}  // namespace
}  // namespace tavo
