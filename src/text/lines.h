// The line readers of tavogen: where a line ends is the caller's choice of
// rule, and every reader below applies it the same way.
//
// The data sheet tokeniser (sheets/readbuff) reads its lines in fgets pieces
// for speed; it ends them by the `any` rule and takes the LF of a CR LF
// through finish_carriage_return.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tavo {

enum class line_ends : uint8_t {
    // The job file: a LF ends a line. A CR right before the LF, or right
    // before the end of the stream, belongs to the line end; any other CR is
    // a character of the line.
    lf,
    // Data, model and sample files: a LF, a CR LF or a lone CR.
    any,
};

// The next character of the stream with a line end read as one '\n'; EOF at
// the end of the stream. Reads no further than the line end.
int next_char(FILE* in, line_ends ends);

// After a CR that ends a line by the `any` rule: a LF right behind it is
// taken as part of the same line end, anything else is given back. The
// caller holds the stream's lock (flockfile).
void finish_carriage_return(FILE* in);

// The next line into `line`, without its line end, however long it is;
// false when the stream ends before the line's first character. Reads no
// further than the line end, so the stream can be handed on or rewound.
bool read_line(FILE* in, std::string& line, line_ends ends);

// Reads and drops the rest of a line, its line end included.
void skip_line(FILE* in, line_ends ends);

// The lines from the stream's position to its end: one for every line end,
// and one for text after the last line end. Leaves the stream at its end;
// -1 when reading it failed.
//
// With `starts`, also the line boundaries, as byte offsets from the stream's
// position: the start of every line, then the end of the data (lines + 1
// offsets; a line's bytes run up to the next offset, its line end included).
// They are left empty for a file of short lines (fewer than
// LONG_LINE_BYTES on average over more than a few lines), where holding an
// offset per line would cost more than finding the lines again.
//
// With `threads` above 1, a regular file of at least PARALLEL_COUNT_BYTES
// from the stream's position is counted by count_lines_split.
constexpr int64_t LONG_LINE_BYTES = 256;
constexpr int64_t PARALLEL_COUNT_BYTES = int64_t{64} << 20;
// Whether `held` line starts over `read` bytes prove the lines short.
constexpr bool lines_prove_short(int64_t held, int64_t read) {
    return held >= 1024 && read < LONG_LINE_BYTES * held;
}
int64_t count_lines(FILE* in, line_ends ends, std::vector<int64_t>* starts = nullptr, int threads = 1);

// count_lines with the rest of the regular file behind `in` cut into `parts`
// byte ranges, each read by a thread of its own (with pread, past the
// stream's buffer) and the LF positions joined in file order; same result,
// same stream position afterwards. Line ends other than LF are not looked
// for in parallel: by the `any` rule a file holding a CR anywhere is counted
// again by the single reader, and so is a stream that is no regular file or
// a file that changes size while it is read.
int64_t count_lines_split(FILE* in, line_ends ends, std::vector<int64_t>* starts, int parts);

// Bytes of the regular file behind the stream; -1 for no stream, a stream
// that is no regular file (a pipe, a device) or one whose size cannot be had.
int64_t regular_file_bytes(FILE* in);

// The lines of a whole stream, read in large chunks into one reused buffer
// and handed out in place: for files read once from start to end.
struct line_source {
    FILE* in = nullptr;  // not owned
    line_ends ends = line_ends::any;
    std::vector<char> buffer;  // bytes read and not yet taken; doubles for a longer line
    size_t pos = 0;            // first unread byte of the buffer
    size_t end = 0;            // end of the bytes read
    bool at_eof = false;       // nothing more to read (end of stream or read error)
    bool read_error = false;
};

// Starts reading `in` with a buffer of `chunk` bytes (at least 1).
void start_lines(line_source& source, FILE* in, line_ends ends, size_t chunk);

// The next line without its line end, as a view into the buffer that stays
// valid until the next call; false at the end of the stream (read_error
// then tells whether a read failed).
bool next_line(line_source& source, std::string_view& line);

}  // namespace tavo
