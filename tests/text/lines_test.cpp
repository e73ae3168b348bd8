#include "text/lines.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tavo {
namespace {

using lines = std::vector<std::string>;
using stream = std::unique_ptr<FILE, int (*)(FILE*)>;

stream stream_of(const std::string& text) {
    stream in(std::tmpfile(), std::fclose);
    std::fwrite(text.data(), 1, text.size(), in.get());
    std::rewind(in.get());
    return in;
}

lines by_read_line(const std::string& text, line_ends ends) {
    stream in = stream_of(text);
    lines out;
    for (std::string line; read_line(in.get(), line, ends);) out.push_back(line);
    return out;
}

lines by_line_source(const std::string& text, line_ends ends, size_t chunk) {
    stream in = stream_of(text);
    line_source source;
    start_lines(source, in.get(), ends, chunk);
    lines out;
    for (std::string_view line; next_line(source, line);) out.emplace_back(line);
    EXPECT_FALSE(source.read_error);
    return out;
}

// Every other line dropped by skip_line, the rest read: each skip must stop
// right after its line end.
lines by_skipping(const std::string& text, line_ends ends) {
    stream in = stream_of(text);
    lines out;
    for (std::string line;;) {
        skip_line(in.get(), ends);
        if (!read_line(in.get(), line, ends)) break;
        out.push_back(line);
    }
    return out;
}

lines every_other(const lines& all) {
    lines out;
    for (size_t i = 1; i < all.size(); i += 2) out.push_back(all[i]);
    return out;
}

// The lines as count_lines bounds them: each line's bytes up to the next
// start, its line end dropped.
lines by_line_starts(const std::string& text, line_ends ends) {
    stream in = stream_of(text);
    std::vector<int64_t> starts;
    const int64_t count = count_lines(in.get(), ends, &starts);
    EXPECT_EQ(starts.empty() ? 0 : static_cast<int64_t>(starts.size()) - 1, count);
    lines out;
    for (size_t i = 0; i + 1 < starts.size(); ++i) {
        std::string line = text.substr(static_cast<size_t>(starts[i]), static_cast<size_t>(starts[i + 1] - starts[i]));
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

struct line_case {
    std::string text;
    line_ends ends;
    lines expected;
};

// Every reader of lines and the line counter against the same table, under
// both line-end rules; the buffered reader at chunk sizes that split line
// ends, and a line that crosses the counter's 1 MiB chunk with its CR LF.
TEST(Lines, EdgeSweep) {
    const std::string long_line(size_t{1} << 19, 'x');
    const std::string to_chunk_end((size_t{1} << 20) - 1, 'y');
    const line_ends lf = line_ends::lf;
    const line_ends any = line_ends::any;
    const line_case cases[] = {
        {"", lf, {}},
        {"", any, {}},
        {"a\nb\n", lf, {"a", "b"}},
        {"a\nb\n", any, {"a", "b"}},
        {"a\nb", lf, {"a", "b"}},
        {"a\nb", any, {"a", "b"}},
        {"a\r\nb\r\n", lf, {"a", "b"}},
        {"a\r\nb\r\n", any, {"a", "b"}},
        {"a\rb\r", lf, {"a\rb"}},
        {"a\rb\r", any, {"a", "b"}},
        {"a\rb\rc", lf, {"a\rb\rc"}},
        {"a\rb\rc", any, {"a", "b", "c"}},
        {"a\r\r\nb", lf, {"a\r", "b"}},
        {"a\r\r\nb", any, {"a", "", "b"}},
        {"\n\n", lf, {"", ""}},
        {"\n\n", any, {"", ""}},
        {"\r\r\n\r", lf, {"\r", ""}},
        {"\r\r\n\r", any, {"", "", ""}},
        {" \t \n", any, {" \t "}},
        {std::string("a\0b\n\0", 5), any, {std::string("a\0b", 3), std::string("\0", 1)}},
        {long_line + "\r\n" + long_line, lf, {long_line, long_line}},
        {long_line + "\r" + long_line, any, {long_line, long_line}},
        {to_chunk_end + "\r\nz", lf, {to_chunk_end, "z"}},
        {to_chunk_end + "\r\nz", any, {to_chunk_end, "z"}},
        {to_chunk_end + "\r\r\n", any, {to_chunk_end, ""}},
    };
    for (const line_case& c : cases) {
        const std::string name = c.text.size() > 20 ? c.text.substr(c.text.size() - 20) : c.text;
        const char* rule = c.ends == lf ? "lf" : "any";
        SCOPED_TRACE(testing::Message() << rule << " \"" << name << '"');
        EXPECT_EQ(by_read_line(c.text, c.ends), c.expected);
        for (const size_t chunk : {size_t{1}, size_t{2}, size_t{3}, size_t{4096}})
            EXPECT_EQ(by_line_source(c.text, c.ends, chunk), c.expected) << "chunk " << chunk;
        EXPECT_EQ(by_skipping(c.text, c.ends), every_other(c.expected));
        stream in = stream_of(c.text);
        EXPECT_EQ(count_lines(in.get(), c.ends), static_cast<int64_t>(c.expected.size()));
        EXPECT_EQ(by_line_starts(c.text, c.ends), c.expected);
    }
}

// Line starts are kept for long lines only: many short ones cost more to
// hold than to find again.
TEST(Lines, LineStartsGivenUpForShortLines) {
    std::string short_lines;
    for (int i = 0; i < 5000; ++i) short_lines += "a b\n";
    stream in = stream_of(short_lines);
    std::vector<int64_t> starts{7};
    EXPECT_EQ(count_lines(in.get(), line_ends::any, &starts), 5000);
    EXPECT_TRUE(starts.empty());
    const std::string long_line(LONG_LINE_BYTES, 'x');
    std::string long_lines;
    for (int i = 0; i < 2000; ++i) long_lines += long_line + "\n";
    stream again = stream_of(long_lines);
    EXPECT_EQ(count_lines(again.get(), line_ends::any, &starts), 2000);
    ASSERT_EQ(starts.size(), 2001u);
    EXPECT_EQ(starts[1], LONG_LINE_BYTES + 1);
    EXPECT_EQ(starts.back(), static_cast<int64_t>(long_lines.size()));
}

// What a count leaves: the lines, their starts, and the stream's position.
struct line_count {
    int64_t lines = 0;
    std::vector<int64_t> starts;
    int64_t at = 0;
    bool operator==(const line_count&) const = default;
};

// The count from the end of the first line on (parts 1: the single reader).
line_count count_after_first_line(const std::string& text, line_ends ends, int parts) {
    stream in = stream_of(text);
    skip_line(in.get(), ends);
    line_count c;
    c.starts = {99};
    c.lines = parts == 1 ? count_lines(in.get(), ends, &c.starts) : count_lines_split(in.get(), ends, &c.starts, parts);
    c.at = ftello(in.get());
    EXPECT_EQ(std::fgetc(in.get()), EOF);
    return c;
}

// Split counts agree with the single reader wherever the range borders
// fall: on an LF, right after one, inside empty lines, in a last line
// without LF; with any CR the single reader counts instead.
TEST(Lines, SplitCountMatchesSingleReader) {
    const std::string texts[] = {"h\na\n\nbc\n\n\nd", "h\nab\ncd\n", "h\n\n\n\n", "h\nx", "h\n", "",
                                 "h\na\rb\r\nc\n\r", "h\nab\r"};
    for (const std::string& text : texts) {
        for (const line_ends ends : {line_ends::any, line_ends::lf}) {
            const line_count single = count_after_first_line(text, ends, 1);
            for (int parts = 2; parts <= static_cast<int>(text.size()) + 1; ++parts)
                EXPECT_EQ(count_after_first_line(text, ends, parts), single) << text << " parts " << parts;
        }
    }
}

// Over several MiB the joined starts are given up exactly where the single
// reader gives its list up: short lines from the start, short lines only
// after long ones, and long lines throughout.
TEST(Lines, SplitCountGivesStartsUpLikeSingleReader) {
    const auto lines_of = [](size_t length, size_t bytes) {
        std::string out;
        while (out.size() < bytes) out += std::string(length - 1, 'g') + "\n";
        return out;
    };
    const size_t mib = size_t{1} << 20;
    const std::string texts[] = {"h\n" + lines_of(4, 3 * mib), "h\n" + lines_of(1000, 2 * mib) + lines_of(3, 3 * mib),
                                 "h\n" + lines_of(LONG_LINE_BYTES + 1, 3 * mib) + "tail",
                                 "h\n" + lines_of(LONG_LINE_BYTES * 4, 2 * mib) + lines_of(64, mib / 2)};
    for (const std::string& text : texts) {
        const line_count single = count_after_first_line(text, line_ends::any, 1);
        for (const int parts : {2, 3, 7})
            EXPECT_EQ(count_after_first_line(text, line_ends::any, parts), single) << "parts " << parts;
    }
}

}  // namespace
}  // namespace tavo
