// The line tokeniser that fills the token buffers of a data sheet's columns.
#pragma once

#include <cstdint>
#include <cstdio>

#include "sheets/datacol.h"

namespace tavo {

// Result codes of readbuff.
enum readbuff_result : int {
    READ_LINE = 0,        // a line was read (a field may carry status 5)
    READ_END = 1,         // the stream ended before a line began, or cannot be read on
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

// The white space that separates a line's tokens (that of the C locale).
constexpr bool is_token_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

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
