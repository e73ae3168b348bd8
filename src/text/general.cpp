// The common case (finite, 1e-15 <= |value| < 1e20) is done with one exact
// power of ten and one rounding: the six digits come from |value| scaled to
// [1e5, 1e6), whose computed value is within 1e-10 of the true one. Only a
// value whose scaled fraction lies within 1e-6 of one half could round the
// other way; those, and every other value, go to to_chars, which gives the
// text of printf itself.
#include "text/general.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace tavo {
namespace {

constexpr double POWERS[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr char PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// magnitude x 10^(5 - exponent), rounded once (the power is exact).
inline double scaled(double magnitude, int exponent) {
    const int k = 5 - exponent;
    return k >= 0 ? magnitude * POWERS[k] : magnitude / POWERS[-k];
}

char* write_slow(char* out, double value) {
    return std::to_chars(out, out + GENERAL_TEXT_MAX, value, std::chars_format::general, 6).ptr;
}

// Digits d[from .. to) without the trailing zeros; returns the new end.
inline int trimmed(const char* d, int from, int to) {
    while (to > from && d[to - 1] == '0') --to;
    return to;
}

char* copy(char* out, const char* d, int from, int to) {
    for (int i = from; i < to; ++i) *out++ = d[i];
    return out;
}

}  // namespace

char* write_general(char* out, double value) {
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-15 && magnitude < 1e20)) return write_slow(out, value);
    // magnitude lies in [2^binary, 2^(binary + 1)): its decimal exponent is
    // binary x log10(2) (78913 / 2^18, exact enough here), rounded down, or one more.
    const int binary = static_cast<int>((std::bit_cast<uint64_t>(magnitude) >> 52) & 0x7ff) - 1023;
    int exponent = (binary * 78913) >> 18;
    double s = scaled(magnitude, exponent);
    while (s >= 1e6) s = scaled(magnitude, ++exponent);
    while (s < 1e5) s = scaled(magnitude, --exponent);
    const int64_t whole = static_cast<int64_t>(s);
    const double fraction = s - static_cast<double>(whole);
    if (std::fabs(fraction - 0.5) < 1e-6) return write_slow(out, value);
    int64_t n = whole + (fraction > 0.5 ? 1 : 0);
    if (n == 1000000) {
        n = 100000;
        ++exponent;
    }
    char d[6];
    const int64_t pairs[3] = {n / 10000, n / 100 % 100, n % 100};
    for (int i = 0; i < 3; ++i) {
        d[2 * i] = PAIRS[2 * pairs[i]];
        d[2 * i + 1] = PAIRS[2 * pairs[i] + 1];
    }
    if (value < 0) *out++ = '-';
    if (exponent < -4 || exponent >= 6) {
        *out++ = d[0];
        const int end = trimmed(d, 1, 6);
        if (end > 1) {
            *out++ = '.';
            out = copy(out, d, 1, end);
        }
        *out++ = 'e';
        *out++ = exponent < 0 ? '-' : '+';
        const int e = exponent < 0 ? -exponent : exponent;
        *out++ = static_cast<char>('0' + e / 10);
        *out++ = static_cast<char>('0' + e % 10);
        return out;
    }
    if (exponent >= 0) {
        out = copy(out, d, 0, exponent + 1);
        const int end = trimmed(d, exponent + 1, 6);
        if (end > exponent + 1) {
            *out++ = '.';
            out = copy(out, d, exponent + 1, end);
        }
        return out;
    }
    *out++ = '0';
    *out++ = '.';
    for (int i = exponent + 1; i < 0; ++i) *out++ = '0';
    return copy(out, d, 0, trimmed(d, 0, 6));
}

}  // namespace tavo
