#include "text/lines.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "text/interrupt.h"

namespace tavo {

namespace {

// Holds the stream's lock for a whole line: the characters are then read
// without a lock each, and an exception still lets the lock go.
struct stream_lock {
    FILE* in;
    explicit stream_lock(FILE* stream) : in(stream) { flockfile(in); }
    ~stream_lock() { funlockfile(in); }
    stream_lock(const stream_lock&) = delete;
    stream_lock& operator=(const stream_lock&) = delete;
};

// next_char for a caller that holds the lock.
int take_char(FILE* in, line_ends ends) {
    const int c = getc_unlocked(in);
    if (c != '\r') return c;
    const int next = getc_unlocked(in);
    if (next == '\n' || next == EOF) return '\n';
    ungetc(next, in);
    return ends == line_ends::any ? '\n' : '\r';
}

// Moves the unread bytes to the front and reads more behind them; the buffer
// doubles when the unread bytes fill it (a line longer than the buffer).
void refill(line_source& s) {
    const size_t kept = s.end - s.pos;
    if (s.pos > 0 && kept > 0) std::memmove(s.buffer.data(), s.buffer.data() + s.pos, kept);
    s.pos = 0;
    s.end = kept;
    if (kept == s.buffer.size()) s.buffer.resize(s.buffer.size() * 2);
    const size_t got = std::fread(s.buffer.data() + s.end, 1, s.buffer.size() - s.end, s.in);
    s.end += got;
    if (got == 0) {
        s.at_eof = true;
        s.read_error = std::ferror(s.in) != 0;
    }
}

}  // namespace

int next_char(FILE* in, line_ends ends) {
    const stream_lock lock(in);
    return take_char(in, ends);
}

void finish_carriage_return(FILE* in) {
    const int next = getc_unlocked(in);
    if (next != '\n' && next != EOF) ungetc(next, in);
}

bool read_line(FILE* in, std::string& line, line_ends ends) {
    line.clear();
    const stream_lock lock(in);
    int c = take_char(in, ends);
    if (c == EOF) return false;
    for (; c != EOF && c != '\n'; c = take_char(in, ends)) line.push_back(static_cast<char>(c));
    return true;
}

void skip_line(FILE* in, line_ends ends) {
    const stream_lock lock(in);
    for (int c = take_char(in, ends); c != EOF && c != '\n'; c = take_char(in, ends)) {
    }
}

namespace {

// The line starts of count_lines, kept while the lines are long enough.
struct start_list {
    std::vector<int64_t>* starts;
    int64_t lines = 0;  // lines whose start is in the list

    // A line begins at `at`; a line end right after a CR that ended a line
    // (`moved`) only moves the start of the line that CR began.
    void begin(int64_t at, bool moved) {
        if (!starts) return;
        if (moved && !starts->empty()) {
            starts->back() = at;
            return;
        }
        starts->push_back(at);
    }

    // Gives the list up once the lines prove short.
    void check(int64_t bytes) {
        if (!starts || !lines_prove_short(static_cast<int64_t>(starts->size()), bytes)) return;
        starts->clear();
        starts->shrink_to_fit();
        starts = nullptr;
    }
};

}  // namespace

int64_t count_lines(FILE* in, line_ends ends, std::vector<int64_t>* starts, int threads) {
    if (threads > 1) {
        const int64_t bytes = regular_file_bytes(in);
        const int64_t at = bytes < 0 ? -1 : ftello(in);
        if (at >= 0 && bytes - at >= PARALLEL_COUNT_BYTES) return count_lines_split(in, ends, starts, threads);
    }
    const bool cr_ends = ends == line_ends::any;
    if (starts) starts->clear();
    start_list list{starts};
    // 1 MiB reads: fewer calls for a large file, and the buffer is filled by
    // each read before it is looked at, so a small file does not pay for
    // clearing it.
    constexpr size_t chunk_size = size_t{1} << 20;
    const auto chunk = std::make_unique_for_overwrite<char[]>(chunk_size);
    int64_t lines = 0;
    int64_t offset = 0;     // of the chunk's first byte
    bool any = false;
    bool after_cr = false;  // the byte before the current chunk was a CR ending a line
    char last = '\0';
    size_t n = 0;
    while ((n = std::fread(chunk.get(), 1, chunk_size, in)) > 0) {
        if (interrupt_signal() != 0) return -1;  // the run is asked to end
        const char* begin = chunk.get();
        const char* end = begin + n;
        if (!any) list.begin(0, false);
        if (!cr_ends || !std::memchr(begin, '\r', n)) {
            // The common case: LF line ends only (an LF right after a CR
            // ending the previous chunk closes no further line).
            const char* from = begin;
            if (after_cr && *begin == '\n') {
                list.begin(offset + 1, true);
                ++from;
            }
            if (!list.starts) {
                lines += std::count(from, end, '\n');
            } else {
                for (const char* p = from; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p) {
                    ++lines;
                    list.begin(offset + (p - begin) + 1, false);
                }
            }
        } else {
            for (const char* p = begin; p < end; ++p) {
                const bool cr_lf = *p == '\n' && after_cr;
                if (*p == '\r' || (*p == '\n' && !after_cr)) ++lines;
                if (*p == '\r' || *p == '\n') list.begin(offset + (p - begin) + 1, cr_lf);
                after_cr = *p == '\r';
            }
        }
        any = true;
        last = end[-1];
        after_cr = cr_ends && last == '\r';
        offset += static_cast<int64_t>(n);
        list.check(offset);
    }
    if (std::ferror(in)) {  // a count of part of the file is no count
        if (list.starts) list.starts->clear();
        return -1;
    }
    // Text after the last line end; by the LF rule a final CR is such text.
    if (any && last != '\n' && !(cr_ends && last == '\r')) {
        ++lines;
        list.begin(offset, false);
    }
    return lines;
}

int64_t regular_file_bytes(FILE* in) {
    struct stat info {};
    if (in == nullptr || fstat(fileno(in), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<int64_t>(info.st_size);
}

void start_lines(line_source& s, FILE* in, line_ends ends, size_t chunk) {
    s.in = in;
    s.ends = ends;
    s.buffer.assign(chunk > 0 ? chunk : 1, '\0');
    s.pos = s.end = 0;
    s.at_eof = s.read_error = false;
}

bool next_line(line_source& s, std::string_view& out) {
    for (;;) {
        const char* begin = s.buffer.data() + s.pos;
        const size_t avail = s.end - s.pos;
        const auto* nl = static_cast<const char*>(std::memchr(begin, '\n', avail));
        const size_t limit = nl ? static_cast<size_t>(nl - begin) : avail;
        const auto* cr = s.ends == line_ends::any ? static_cast<const char*>(std::memchr(begin, '\r', limit))
                                                  : nullptr;
        // A "\r" as the last byte in hand may be followed by the "\n" of "\r\n".
        const bool cr_undecided = cr && cr + 1 == begin + avail && !s.at_eof;
        if ((cr && !cr_undecided) || nl || (s.at_eof && avail > 0)) {
            const size_t length = cr ? static_cast<size_t>(cr - begin) : limit;
            out = std::string_view(begin, length);
            s.pos += length;
            if (s.pos < s.end) ++s.pos;  // the line end itself
            if (cr && s.pos < s.end && s.buffer[s.pos] == '\n') ++s.pos;
            // By the LF rule a CR before the LF, or before the end, is part of the line end.
            if (s.ends == line_ends::lf && !out.empty() && out.back() == '\r') out.remove_suffix(1);
            return true;
        }
        if (s.at_eof) return false;
        refill(s);
    }
}

}  // namespace tavo
