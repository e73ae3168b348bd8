// The common case (finite, 1e-15 <= |value| < 1e20) is done with one exact
// power of ten and one rounding: the six digits come from |value| scaled to
// [1e5, 1e6), whose computed value is within 1e-10 of the true one. Only a
// value whose scaled fraction lies within 1e-6 of one half could round the
// other way; those, and every other value, go to to_chars, which gives the
// text of printf itself.
#include "text/general.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace tavo {
namespace {

constexpr double POWERS[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

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
    int binary = 0;
    std::frexp(magnitude, &binary);  // magnitude in [2^(binary-1), 2^binary)
    int exponent = static_cast<int>(std::floor((binary - 1) * 0.30102999566398120));
    double s = scaled(magnitude, exponent);
    if (s >= 1e6) s = scaled(magnitude, ++exponent);
    if (s < 1e5) s = scaled(magnitude, --exponent);
    const double whole = std::floor(s);
    const double fraction = s - whole;
    if (std::fabs(fraction - 0.5) < 1e-6) return write_slow(out, value);
    int64_t n = static_cast<int64_t>(whole) + (fraction > 0.5 ? 1 : 0);
    if (n == 1000000) {
        n = 100000;
        ++exponent;
    }
    char d[6];
    for (int i = 5; i >= 0; --i) {
        d[i] = static_cast<char>('0' + n % 10);
        n /= 10;
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
