// charbuff: a growable byte buffer holding NUL-terminated strings back to back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace tavo {

struct charbuff {
    std::vector<char> buffer;  // capacity bytes; empty = absent (a failed growth)
    int32_t capacity = 0;      // bytes allocated
    int32_t used = 0;          // bytes stored, NULs included
    int32_t count = 0;         // complete strings stored (NUL bytes)
    int32_t expected = 0;      // strings the owner expects in total; 0 = unknown
    int32_t increment = 0;     // smallest growth step (a step is at least half the capacity)
    int32_t limit = 0;         // most bytes the owner can ever store (0 = unknown): caps the estimate

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

// Sets the most bytes the buffer can ever need (clamped to the 32-bit range):
// one long first string must not make the estimate for all expected strings
// ask for more than the data can hold.
void limit_charbuff(charbuff& buf, int64_t bytes);

// Appends the bytes of a text followed by its NUL.
void addtext(charbuff& buf, std::string_view text);

// Reads the string at the cursor (an offset into the buffer) and moves the
// cursor past it; past the end, prints "Problem in readbuff\n" and yields the
// first string.
const char* next_token(const charbuff& buf, int32_t& cursor);

}  // namespace tavo
