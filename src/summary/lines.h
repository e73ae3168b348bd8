// Line and token reading shared by the job, label and sample readers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tavosum {

// Hands out the lines of a file one at a time from one large reused buffer.
// A line ends at "\n", "\r\n", a lone "\r" or the end of the file; lines are
// numbered from 1 and carry the file offset where they start. The buffer grows
// for a line longer than itself, so memory follows the longest line only.
struct line_reader {
    std::FILE* file = nullptr;
    std::vector<char> buffer;
    size_t begin = 0;         // first byte not handed out yet
    size_t end = 0;           // one past the last byte read from the file
    size_t next_nl = 0;       // next '\n' at or after begin, or end when none
    size_t next_cr = 0;       // next '\r' likewise
    bool ends_known = false;  // next_nl and next_cr describe the current buffer
    bool at_eof = false;
    bool failed = false;        // the file could not be read to its end
    std::uint64_t base = 0;     // file offset of buffer[0]
    long long line_number = 0;  // number of the line last handed out
    std::uint64_t line_offset = 0;
};

// The first buffer size of the file readers: a longer line makes the buffer
// grow, and larger reads are no faster, while a small file would pay for
// zeroing a larger buffer.
constexpr size_t LINE_CHUNK = size_t{1} << 16;

// A reader starting at `offset`, where the file is positioned.
line_reader make_line_reader(std::FILE* file, size_t chunk, std::uint64_t offset = 0);

// The next line without its end; the view lives until the next call. False at end of file.
bool next_line(line_reader& reader, std::string_view& line);

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// Walks the blank-separated tokens of one line.
struct token_cursor {
    const char* at;
    const char* end;
    explicit token_cursor(std::string_view line)
        : at(line.data()), end(line.data() + line.size()) {}
    void skip_blanks() {
        while (at != end && is_blank(*at)) ++at;
    }
    // The next token, or an empty view when the line holds no more.
    std::string_view next() {
        skip_blanks();
        const char* start = at;
        while (at != end && !is_blank(*at)) ++at;
        return {start, static_cast<size_t>(at - start)};
    }
};

}  // namespace tavosum
