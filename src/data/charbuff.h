// charbuff: a growable byte buffer holding NUL-terminated strings back to
// back, and the line tokeniser that fills the token buffers of a data sheet.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace tavo {

struct datacol;

struct charbuff {
    std::vector<char> buffer;  // capacity bytes; empty = absent (a failed growth)
    int32_t capacity = 0;      // bytes allocated
    int32_t used = 0;          // bytes stored, NULs included
    int32_t count = 0;         // complete strings stored (NUL bytes)
    int32_t expected = 0;      // strings the owner expects in total; 0 = unknown
    int32_t increment = 0;     // growth step when no estimate can be made

    bool absent() const { return buffer.empty(); }
    const char* data() const { return buffer.empty() ? "" : buffer.data(); }
};

// Creates the buffer; returns 1 when allocation failed or a size had to be
// replaced by its default of 100, else 0.
int init_charbuff(charbuff& buf, int capacity, int increment, int expected);

// Appends one byte, growing the buffer as needed (64-bit size arithmetic;
// a capacity beyond the 32-bit range is a failed growth).
void addbuff(charbuff& buf, char byte);

// Grows a full buffer by the growth rule of addbuff, for writers that store
// bytes themselves while there is room. False when the buffer is absent or
// could not grow (it is then lost, after "? addbuff: allocating problem\n").
bool grow_charbuff(charbuff& buf);

// Appends the bytes of a text followed by its NUL.
void addtext(charbuff& buf, std::string_view text);

// Reads the string at the cursor (an offset into the buffer) and moves the
// cursor past it; past the end, prints "Problem in readbuff\n" and yields the
// first string.
const char* next_token(const charbuff& buf, int32_t& cursor);

// Result codes of readbuff.
enum readbuff_result : int {
    READ_LINE = 0,        // a line was read (a field may carry status 5)
    READ_END = 1,         // the stream ended before a line began
    READ_EMPTY = 2,       // an empty line
    READ_INCOMPLETE = 3,  // a field did not get all its items (status 3)
    READ_PASSED = 4,      // a field's start position was already passed (status 4)
};

// Field statuses left by readbuff.
enum field_status : int32_t {
    FIELD_INCOMPLETE = 3,
    FIELD_PASSED = 4,
    FIELD_OVERFLOW = 5,
};

// Reads one line of `in` and hands its tokens to the `nfields` columns
// starting at `first`, field by field.
// After each call a field's token buffer holds this line's tokens only: used
// and count start again from 0, so count is the number of tokens it took (a
// NUL byte inside a token is stored as one of its bytes, not counted). The
// stream is left at the start of the next line.
int readbuff(FILE* in, datacol* first, int nfields);

// Reads and drops the rest of a line up to and including its line end (line
// feed, carriage return + line feed, or a lone carriage return) or the end of
// the stream; for header and skipped lines.
void drop_line(FILE* in);

}  // namespace tavo
