// The line tokeniser: splits one line of a data file into white-space
// separated tokens and hands them to the fields of a data sheet in order.
//
// A long line is read in pieces with fgets rather than one character at a
// time. fgets stops only after a line feed, so a piece can run past a lone
// carriage return into the next line; the stream is then set back to the
// character after that line end. Either way a call leaves the stream at the
// start of the next line, where the loader and drop_line expect it. A stream
// that cannot seek is read character by character, never past the line end.
// Lines end by the data file rule of text/lines.h (LF, CR LF or a lone CR).
#include <sys/types.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "sheets/readbuff.h"
#include "sheets/datacol.h"
#include "text/lines.h"

namespace tavo {
namespace {

// Characters by their part in a line, looked up in one step. White space is
// that of the C locale; a piece never holds a line end, so the line feed
// stored after every piece stops the scans over blanks and over token
// characters alike.
enum char_kind : uint8_t { TOKEN, BLANK, LINE_END };

constexpr std::array<uint8_t, 256> char_kinds = [] {
    std::array<uint8_t, 256> kinds{};
    for (int c = 0; c < 256; ++c)
        if (is_token_blank(static_cast<char>(c))) kinds[static_cast<size_t>(c)] = BLANK;
    kinds['\n'] = LINE_END;
    kinds['\r'] = LINE_END;
    return kinds;
}();

inline uint8_t char_class(char c) { return char_kinds[static_cast<unsigned char>(c)]; }

// A line's first piece is read character by character: a short line costs
// no more than that. A longer line goes on in pieces read with fgets, which
// start at the same size, so that a piece running past a lone carriage return
// reads little more than the line itself, and double up to the size of the
// room.
constexpr int first_piece = 4096;
constexpr int room_size = 1 << 16;

// One line of the stream, handed out piece by piece: [p, end) are the unread
// characters of the current piece, which never holds a line end character.
struct line_reader {
    FILE* in;
    int64_t before = 0;        // characters of the line in earlier pieces
    bool first = true;         // the next piece is the line's first
    off_t piece_start = -1;    // stream position of the next fgets piece; -1: the stream cannot seek
    int piece_size = first_piece;
    const char* begin;
    const char* p;
    const char* end;
    bool last = false;         // the current piece reaches the end of the line
    bool terminated = false;   // the line has a line end (it was not ended by the end of the stream)
    bool lost = false;         // the stream could not be set back to the line end: a read error
    char room[room_size + 1];  // pieces fill room_size bytes at most

    explicit line_reader(FILE* stream) : in(stream), begin(room), p(room), end(room) { fetch(); }

    // 1-based position of the character at p: every character read counts,
    // white space too.
    int64_t pos() const { return before + (p - begin) + 1; }

    // Whether a character is left on the line; moves to the next piece when
    // the current one is used up.
    bool more() {
        while (p == end) {
            if (last) return false;
            fetch();
        }
        return true;
    }

    void skip_blanks() {
        do {
            while (char_class(*p) == BLANK) ++p;
        } while (p == end && more());
    }

    void drop_rest() {
        while (more()) p = end;
    }

    void fetch() {
        before += end - begin;
        size_t length = 0;
        if (first) {
            length = fetch_characters(first_piece);
            first = false;
            if (!last) piece_start = ftello(in);  // a long line: can the stream seek?
        } else {
            length = piece_start >= 0 ? fetch_piece() : fetch_characters(room_size);
        }
        begin = p = room;
        end = room + length;
        room[length] = '\n';  // stops the scans over the piece
    }

    // The next piece, character by character, stopping at the line end.
    size_t fetch_characters(int size) {
        FILE* const stream = in;  // a local: the stores below could alias the member
        char* out = room;
        char* const full = room + size;
        while (out < full) {
            const int c = getc_unlocked(stream);
            if (c <= '\r' && (c == '\n' || c == '\r' || c == EOF)) {  // one test for most characters
                if (c == '\r') finish_carriage_return(in);
                last = true;
                terminated = c != EOF;
                break;
            }
            *out++ = static_cast<char>(c);
        }
        return static_cast<size_t>(out - room);
    }

    // The next piece through fgets; sets the stream back when the piece ran
    // past the line end.
    size_t fetch_piece() {
        const int size = piece_size;
        if (piece_size < room_size) piece_size *= 2;
        if (!fgets(room, size, in)) {
            last = true;
            return 0;
        }
        size_t length = strlen(room);
        const bool full = length + 1 == static_cast<size_t>(size);
        if (!full && (length == 0 || room[length - 1] != '\n')) {
            // Short of a line feed: the stream ended, or a NUL byte of the data
            // stopped strlen; the stream position tells how much was read.
            const off_t now = ftello(in);
            if (now > piece_start) length = static_cast<size_t>(now - piece_start);
        }
        const char* cr = static_cast<const char*>(memchr(room, '\r', length));
        const char* stop = cr ? cr : (length > 0 && room[length - 1] == '\n' ? room + length - 1 : nullptr);
        if (!stop) {
            last = length + 1 < static_cast<size_t>(size);  // short without a line end: end of stream
            piece_start += static_cast<off_t>(length);
            return length;
        }
        last = true;
        terminated = true;
        const size_t line_length = static_cast<size_t>(stop - room);
        size_t after_end = line_length + 1;  // characters read up to and including the line end
        if (*stop == '\r') {
            if (after_end == length)
                finish_carriage_return(in);
            else if (room[after_end] == '\n')
                ++after_end;
        }
        if (after_end < length && fseeko(in, piece_start + static_cast<off_t>(after_end), SEEK_SET) != 0)
            lost = true;
        return line_length;
    }
};

// Appends a token's NUL, through the growth rule when the buffer is full.
inline void end_token(charbuff& buf) {
    if (buf.used < buf.capacity && !buf.absent()) {
        buf.buffer[static_cast<size_t>(buf.used++)] = '\0';
        ++buf.count;
    } else {
        addbuff(buf, '\0');
    }
}

// Appends the token that starts at the reader's character to `buf`, with its
// NUL; returns its length. The token may go on into later pieces. Bytes are
// stored while the buffer has room; a full buffer grows by the rule of
// addbuff at the byte that does not fit, and a lost buffer takes nothing.
int64_t read_token(line_reader& line, charbuff& buf) {
    int64_t length = 0;
    for (;;) {
        const char* p = line.p;  // a local: the stores below could alias the reader
        const char* const start = p;
        if (buf.absent()) {
            while (char_class(*p) == TOKEN) ++p;
        } else {
            char* const base = buf.buffer.data();
            char* out = base + buf.used;
            char* const full = base + buf.capacity;
            while (char_class(*p) == TOKEN && out < full) *out++ = *p++;
            buf.used = static_cast<int32_t>(out - base);
            if (char_class(*p) == TOKEN) {  // full inside the token
                length += p - start;
                line.p = p;
                grow_charbuff(buf);  // on failure the buffer is lost and takes nothing more
                continue;
            }
        }
        length += p - start;
        line.p = p;
        if (p != line.end || !line.more()) break;  // a blank, or the end of the line
    }
    end_token(buf);
    return length;
}

constexpr uint64_t byte_ones = 0x0101010101010101u;
constexpr uint64_t byte_highs = 0x8080808080808080u;

// The high bit of every byte of `w` that is a blank (space, or 9 to 13: a
// piece holds no line end); exact, no carry crosses a byte.
inline uint64_t blank_bytes(uint64_t w) {
    const uint64_t low7 = w & ~byte_highs;
    const uint64_t spaced = w ^ (byte_ones * ' ');
    const uint64_t space = ~(((spaced & ~byte_highs) + ~byte_highs) | spaced) & byte_highs;
    const uint64_t from_tab = low7 + byte_ones * (0x80 - '\t');
    const uint64_t beyond_cr = low7 + byte_ones * (0x80 - '\r' - 1);
    return space | (from_tab & ~beyond_cr & ~w & byte_highs);
}

// Tokens separated by single blanks (a genotype line: "0 1 2 0 ...") are
// copied eight bytes at a time from p: each blank becomes its token's NUL.
// Words go while their blanks stand alone and at least one ends a token; the
// copy then stops right after a blank. The caller guarantees eight bytes of
// room in the buffer for every eight bytes of the piece. Returns the number
// of tokens taken, never more than `wanted`.
int64_t copy_single_blank_runs(const char*& p, const char* end, char*& out, int64_t wanted) {
    int64_t taken = 0;
    while (end - p >= 8 && wanted - taken >= 8) {
        uint64_t word;
        memcpy(&word, p, 8);
        const uint64_t blanks = blank_bytes(word);
        if (blanks == 0 || (blanks & (blanks << 8)) != 0 || (blanks & 0x80) != 0) break;
        const uint64_t with_nuls = word & ~((blanks >> 7) * 0xFF);
        memcpy(out, &with_nuls, 8);
        taken += static_cast<int64_t>(((blanks >> 7) * byte_ones) >> 56);  // adds up the blank bytes' ones
        // A word that ends with a blank, the usual case, moves on by a
        // constant: the next load then need not wait for this word's bits.
        const int step = __builtin_expect(blanks >> 63, 1) ? 8 : (63 - std::countl_zero(blanks)) / 8 + 1;
        p += step;
        out += step;
    }
    return taken;
}

// Takes up to `wanted` tokens that lie wholly inside the current piece while
// the buffer has room for each with its NUL: the bulk of a long line, kept in
// local variables. Stops before a token that reaches the end of the piece (it
// may go on in the next one) or does not fit; read_token takes that one.
// Returns the number of tokens taken; `overlong` is set when one is longer
// than a positive width.
int64_t take_inside_piece(line_reader& line, charbuff& buf, int64_t wanted, int32_t width, bool& overlong) {
    if (buf.absent()) return 0;
    const char* p = line.p;
    const char* const end = line.end;
    char* const base = buf.buffer.data();
    char* out = base + buf.used;
    char* const full = base + buf.capacity;
    // The tokens and NULs of a piece take no more bytes than the piece: with
    // that much room no token needs a check against the buffer's end.
    const bool roomy = full - out >= end - p;
    const bool word_copy = roomy && width <= 0 && std::endian::native == std::endian::little;
    int64_t taken = 0;
    bool too_long = false;
    while (taken < wanted) {
        while (char_class(*p) == BLANK) ++p;
        if (word_copy && wanted - taken >= 8) {
            const int64_t copied = copy_single_blank_runs(p, end, out, wanted - taken);
            taken += copied;
            if (copied > 0) continue;
        }
        const char* const start = p;
        char* const token = out;
        if (roomy) {
            while (char_class(*p) == TOKEN) *out++ = *p++;
        } else {
            while (char_class(*p) == TOKEN && out < full) *out++ = *p++;
        }
        if (p == end || out == full) {  // left for read_token
            p = start;
            out = token;
            break;
        }
        *out++ = '\0';
        if (width > 0 && p - start > width) too_long = true;
        ++taken;
    }
    line.p = p;
    buf.used = static_cast<int32_t>(out - base);
    buf.count += static_cast<int32_t>(taken);
    overlong |= too_long;
    return taken;
}

// A later problem of the same field replaces an overlong token (5) but not a
// passed start position (4).
void set_status(datacol& col, int32_t status) {
    if (col.status != FIELD_PASSED) col.status = status;
}

// Moves to the field's fixed start position; result 4 when it lies behind.
int reach_start(line_reader& line, datacol& col) {
    if (col.start <= 0) return READ_LINE;
    if (line.pos() > col.start) {
        col.status = FIELD_PASSED;
        return READ_PASSED;
    }
    while (line.pos() < col.start && line.more()) {
        const int64_t step = std::min<int64_t>(col.start - line.pos(), line.end - line.p);
        line.p += step;
    }
    return READ_LINE;
}

// Takes the field's items tokens (all remaining ones when items <= 0).
int take_tokens(line_reader& line, datacol& col) {
    const int64_t wanted = col.items > 0 ? col.items : std::numeric_limits<int64_t>::max();
    bool overlong = false;
    int result = READ_LINE;
    for (int64_t taken = 0; taken < wanted;) {
        if (wanted > 1) {  // a single token goes straight to read_token
            taken += take_inside_piece(line, col.tokens, wanted - taken, col.width, overlong);
            if (taken == wanted) break;
        }
        line.skip_blanks();
        if (!line.more()) {
            if (col.items > 0) result = READ_INCOMPLETE;
            break;
        }
        const int64_t length = read_token(line, col.tokens);
        overlong |= col.width > 0 && length > col.width;
        ++taken;
    }
    if (overlong && col.status == 0) col.status = FIELD_OVERFLOW;
    if (result == READ_INCOMPLETE) set_status(col, FIELD_INCOMPLETE);
    return result;
}

int read_field(line_reader& line, datacol& col) {
    col.status = 0;
    col.tokens.used = 0;
    col.tokens.count = 0;
    const int placed = reach_start(line, col);
    const int taken = take_tokens(line, col);
    return placed != READ_LINE ? placed : taken;
}

int read_line(FILE* in, datacol* first, int nfields) {
    line_reader line(in);
    if (!line.more()) return line.terminated ? READ_EMPTY : READ_END;
    int result = READ_LINE;  // the first problem of the line is the one reported
    for (int i = 0; i < nfields; ++i) {
        if (first[i].skip) continue;
        const int field_result = read_field(line, first[i]);
        if (result == READ_LINE) result = field_result;
    }
    line.drop_rest();
    // Past a failed seek the stream stands somewhere in a later line: the
    // reading ends there, as at any read error.
    return line.lost ? READ_END : result;
}

}  // namespace

int readbuff(FILE* in, datacol* first, int nfields) {
    flockfile(in);  // one lock per line for the stream calls below
    const int result = read_line(in, first, nfields);
    funlockfile(in);
    return result;
}

void drop_line(FILE* in) { skip_line(in, line_ends::any); }

}  // namespace tavo
