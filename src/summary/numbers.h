// Number reading and writing: the forms "%lf", "%d" and "%g" accept and give.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tavosum {

// Reads a number at `at` as "%lf" does once past its blanks: an optional sign,
// then a decimal or hexadecimal floating point text, "inf" or "nan"; a value
// beyond the range of a double becomes infinite or zero. Returns the end of
// the number, or nullptr when `at` holds none.
const char* read_real(const char* at, const char* end, double& value);

// Reads up to `wanted` blank-separated numbers from `at` on into `values`, and
// moves `at` past them; a token that is not a number ends them. Returns how
// many were read.
size_t read_reals(const char*& at, const char* end, double* values, size_t wanted);

// A whole token that is an optionally signed integer of any size (a cycle number).
bool is_integer_token(std::string_view token);

// A whole token that is an optionally signed integer within int (a label count).
bool read_int_token(std::string_view token, int& value);

// The integer at the start of `text` as "%d" reads it: leading white space, an
// optional sign, digits; trailing characters are ignored. False when there are
// no digits or the number is beyond int.
bool read_leading_int(const std::string& text, int& value);

// Appends `value` in "%g" form (six significant digits).
void append_g(std::string& out, double value);

}  // namespace tavosum
