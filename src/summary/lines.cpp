#include "summary/lines.h"

#include <algorithm>
#include <cstring>

namespace tavosum {

line_reader make_line_reader(std::FILE* file, size_t chunk, std::uint64_t offset) {
    line_reader reader;
    reader.file = file;
    reader.buffer.resize(chunk);
    reader.base = offset;
    return reader;
}

// Keeps the unread tail, grows the buffer when the tail fills it, reads more.
static void refill(line_reader& r) {
    if (r.begin > 0) {
        std::memmove(r.buffer.data(), r.buffer.data() + r.begin, r.end - r.begin);
        r.base += r.begin;
        r.end -= r.begin;
        r.begin = 0;
    }
    if (r.end == r.buffer.size()) r.buffer.resize(r.buffer.size() * 2);
    size_t got = std::fread(r.buffer.data() + r.end, 1, r.buffer.size() - r.end, r.file);
    r.end += got;
    if (got == 0) {
        r.at_eof = true;
        r.failed = std::ferror(r.file) != 0;
    }
    r.ends_known = false;
}

// Position of the next `c` at or after begin (end when none). A position found
// earlier stays right until the reader passes it, so files with only one kind
// of line end cost one search per buffer for the other kind.
static size_t locate(const line_reader& r, char c, size_t& cached) {
    if (!r.ends_known || cached < r.begin) {
        const void* hit = std::memchr(r.buffer.data() + r.begin, c, r.end - r.begin);
        cached = hit ? static_cast<const char*>(hit) - r.buffer.data() : r.end;
    }
    return cached;
}

static bool hand_out(line_reader& r, size_t stop, size_t after, std::string_view& line) {
    line = std::string_view(r.buffer.data() + r.begin, stop - r.begin);
    r.line_offset = r.base + r.begin;
    r.begin = after;
    ++r.line_number;
    return true;
}

bool next_line(line_reader& r, std::string_view& line) {
    for (;;) {
        size_t nl = locate(r, '\n', r.next_nl);
        size_t cr = locate(r, '\r', r.next_cr);
        r.ends_known = true;
        size_t stop = std::min(nl, cr);
        if (stop < r.end) {
            size_t after = stop + 1;
            if (stop == cr) {
                if (after == r.end && !r.at_eof) {  // a "\n" may follow in the next chunk
                    refill(r);
                    continue;
                }
                if (after < r.end && r.buffer[after] == '\n') ++after;
            }
            return hand_out(r, stop, after, line);
        }
        if (r.at_eof) return r.begin != r.end && hand_out(r, r.end, r.end, line);
        refill(r);
    }
}

}  // namespace tavosum
