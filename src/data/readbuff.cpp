// The line tokeniser: splits one line of a data file into white-space
// separated tokens and hands them to the fields of a data sheet in order.
#include <cstdio>

#include "data/charbuff.h"
#include "data/datacol.h"

namespace tavo {
namespace {

// White space of the C locale: space, tab, line feed, vertical tab, form feed, carriage return.
inline bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool is_line_end(int c) { return c == '\n' || c == '\r' || c == EOF; }

// The character after a carriage return belongs to the line end only when it
// is a line feed; anything else starts the next line and goes back.
void finish_carriage_return(FILE* in) {
    const int next = getc_unlocked(in);
    if (next != '\n' && next != EOF) ungetc(next, in);
}

// Reading state of one line. `c` is the last character read: it counts in
// `pos` (1-based, every character read, white space too) but no field has
// taken it yet, so a line end that stops a token stays here for the next
// field and for the end of the line instead of being lost.
struct line_reader {
    FILE* in;
    int c;
    int64_t pos;
    bool ended = false;  // the line end has been consumed

    void advance() {
        c = getc_unlocked(in);
        ++pos;
    }

    void skip_blanks() {
        while (c == ' ' || c == '\t' || c == '\v' || c == '\f') advance();
    }

    // Consumes the line end standing at `c`.
    void close_line() {
        if (c == '\r') finish_carriage_return(in);
        ended = true;
    }

    void drop_rest() {
        while (!is_line_end(c)) c = getc_unlocked(in);
        close_line();
    }
};

// Appends the token that starts at the reader's character to `buf`, with its
// NUL; returns its length. Bytes go straight into the buffer while it has
// room; a full (or lost) buffer goes through addbuff and its growth rule.
int64_t read_token(line_reader& line, charbuff& buf) {
    int64_t length = 0;
    int c = line.c;
    do {
        if (buf.used < buf.capacity && !buf.absent())
            buf.buffer[static_cast<size_t>(buf.used++)] = static_cast<char>(c);
        else
            addbuff(buf, static_cast<char>(c));
        ++length;
        c = getc_unlocked(line.in);
    } while (c != EOF && !is_space(c));
    line.c = c;
    line.pos += length;
    addbuff(buf, '\0');
    return length;
}

// A later problem of the same field replaces an overlong token (5) but not a
// passed start position (4).
void set_status(datacol& col, int32_t status) {
    if (col.status != FIELD_PASSED) col.status = status;
}

// Moves to the field's fixed start position; result 4 when it lies behind.
int reach_start(line_reader& line, datacol& col) {
    if (col.start <= 0) return READ_LINE;
    if (line.pos > col.start) {
        col.status = FIELD_PASSED;
        return READ_PASSED;
    }
    while (line.pos < col.start && !is_line_end(line.c)) line.advance();
    return READ_LINE;
}

// Takes the field's items tokens (all remaining ones when items <= 0).
int take_tokens(line_reader& line, datacol& col) {
    for (int32_t taken = 0; col.items <= 0 || taken < col.items; ++taken) {
        if (!line.ended) line.skip_blanks();
        if (line.ended || is_line_end(line.c)) {
            if (!line.ended) line.close_line();
            if (col.items <= 0) return READ_LINE;
            set_status(col, FIELD_INCOMPLETE);
            return READ_INCOMPLETE;
        }
        const int64_t length = read_token(line, col.tokens);
        if (col.width > 0 && length > col.width && col.status == 0) col.status = FIELD_OVERFLOW;
    }
    return READ_LINE;
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
    const int c = getc_unlocked(in);
    if (c == EOF) return READ_END;
    if (c == '\n') return READ_EMPTY;
    if (c == '\r') {
        finish_carriage_return(in);
        return READ_EMPTY;
    }
    line_reader line{in, c, 1};
    int result = READ_LINE;  // the first problem of the line is the one reported
    for (int i = 0; i < nfields; ++i) {
        if (first[i].skip) continue;
        const int field_result = read_field(line, first[i]);
        if (result == READ_LINE) result = field_result;
    }
    if (!line.ended) line.drop_rest();
    return result;
}

}  // namespace

int readbuff(FILE* in, datacol* first, int nfields) {
    flockfile(in);  // one lock per line, so the per-character reads need none
    const int result = read_line(in, first, nfields);
    funlockfile(in);
    return result;
}

void drop_line(FILE* in) {
    flockfile(in);
    int c = getc_unlocked(in);
    while (!is_line_end(c)) c = getc_unlocked(in);
    if (c == '\r') finish_carriage_return(in);
    funlockfile(in);
}

}  // namespace tavo
