// The decimal integer reader that every part of tavogen uses.
//
// A number is read the way the formatted scan's "%d" reads it: white space
// (that of the C locale) passed over, one optional '+' or '-', then at least
// one digit; the digits end at the first other character, and whatever
// follows is left to the caller. A text without such a number leaves the
// value alone.
//
// Callers differ only in what a number beyond the int range gives:
//   clamp  - the nearest limit, INT_MAX or INT_MIN, as strtol followed by a
//            cut to int gives: the data set options read by
//            dataset_int_option and the "!size=" option of block fields;
//   refuse - no number: the value is left alone. The command-line options
//            (bywindow=, threads=), the integer fields of data files, the
//            model description and the cycle numbers of sample files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tavo {

enum class int_overflow : uint8_t { clamp, refuse };

enum class int_status : uint8_t {
    read,          // the value is set
    not_a_number,  // no digit where the number should start
    out_of_range,  // refused: beyond the int range (never with clamp)
};

struct int_reading {
    int_status status = int_status::not_a_number;
    size_t end = 0;  // position after the last digit; 0 when no digit was found

    bool ok() const { return status == int_status::read; }
};

int_reading read_int(std::string_view text, int& value, int_overflow overflow);

}  // namespace tavo
