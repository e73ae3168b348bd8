#include "summary/numbers.h"

#include "summary/lines.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tavosum {

static bool starts_hex(const char* at, const char* end) {
    return end - at > 2 && at[0] == '0' && (at[1] == 'x' || at[1] == 'X') &&
           (std::isxdigit(static_cast<unsigned char>(at[2])) || at[2] == '.');
}

// Eight characters as one little-endian word.
static std::uint64_t load8(const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, 8);
    return word;
}

// How many of the word's characters, from the first, are digits.
static int digit_run(std::uint64_t word) {
    constexpr std::uint64_t high = 0xF0F0F0F0F0F0F0F0ULL, threes = 0x3030303030303030ULL;
    std::uint64_t not_digit =
        ((word & high) ^ threes) | (((word + 0x0606060606060606ULL) & high) ^ threes);
    return not_digit ? __builtin_ctzll(not_digit) >> 3 : 8;
}

// The number written by the first `count` (1 to 8) characters of the word.
static std::uint64_t digits_value(std::uint64_t word, int count) {
    word = (word - 0x3030303030303030ULL) << (8 - count) * 8;  // leading zeros in front
    word = word * 10 + (word >> 8);
    return (((word & 0x000000FF000000FFULL) * 0x000F424000000064ULL) +
            (((word >> 16) & 0x000000FF000000FFULL) * 0x0000271000000001ULL)) >>
           32;
}

static bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Adds the fraction's digits at `at` to the mantissa, eight at a time where
// eight characters remain. Stops past 19 digits; `count` then tells.
[[gnu::always_inline]] static inline const char* take_fraction(const char* at, const char* end,
                                                               std::uint64_t& mantissa,
                                                               int& count) {
    static constexpr std::uint64_t scale[] = {1,      10,      100,      1000,     10000,
                                              100000, 1000000, 10000000, 100000000};
    while (end - at >= 8) {
        std::uint64_t word = load8(at);
        int run = digit_run(word);
        if (run == 0) return at;
        mantissa = mantissa * scale[run] + digits_value(word, run);  // wraps only past 19 digits
        count += run;
        at += run;
        if (run < 8 || count > 19) return at;
    }
    for (; at != end && is_digit(*at); ++at, ++count) mantissa = mantissa * 10 + (*at - '0');
    return at;
}

// The common case of an unsigned decimal without from_chars: at most 19
// digits making a mantissa up to 2^53, and a power of ten up to 22. Both are
// exact doubles, so one multiplication or division rounds correctly and gives
// from_chars's value. Anything else returns nullptr and is left to from_chars.
[[gnu::always_inline]] static inline const char* read_plain_decimal(const char* at, const char* end,
                                                                    double& value) {
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    std::uint64_t mantissa = 0;  // wraps only past 19 digits, which are refused
    int digits = 0;
    for (; at != end && is_digit(*at); ++at, ++digits) mantissa = mantissa * 10 + (*at - '0');
    int exponent = 0;
    if (at != end && *at == '.') {
        int whole = digits;
        at = take_fraction(at + 1, end, mantissa, digits);
        exponent = whole - digits;
    }
    if (digits == 0 || digits > 19 || mantissa > (std::uint64_t{1} << 53)) return nullptr;
    if (at != end && (*at == 'e' || *at == 'E')) {
        const char* mark = at + 1;
        bool negative = mark != end && *mark == '-';
        if (mark != end && (*mark == '-' || *mark == '+')) ++mark;
        int power = 0, count = 0;
        for (; mark != end && is_digit(*mark) && count < 4; ++mark, ++count)
            power = power * 10 + (*mark - '0');
        if (count == 0 || count == 4) return nullptr;  // "1e" ends before its "e"
        exponent += negative ? -power : power;
        at = mark;
    }
    if (exponent < -22 || exponent > 22) return nullptr;
    double m = static_cast<double>(mantissa);
    value = exponent < 0 ? m / powers[-exponent] : m * powers[exponent];
    return at;
}

// Hexadecimal numbers, "inf", "nan", and decimals beyond the short cut.
[[gnu::noinline]] static const char* read_real_general(const char* at, const char* end,
                                                       double& magnitude) {
    std::from_chars_result got{nullptr, std::errc::invalid_argument};
    if (starts_hex(at, end)) got = std::from_chars(at + 2, end, magnitude, std::chars_format::hex);
    if (got.ec == std::errc::invalid_argument) got = std::from_chars(at, end, magnitude);
    if (got.ec == std::errc::invalid_argument) return nullptr;
    if (got.ec == std::errc::result_out_of_range)  // let strtod give inf or the tiny value
        magnitude = std::strtod(std::string(at, got.ptr).c_str(), nullptr);
    return got.ptr;
}

[[gnu::always_inline]] static inline const char* read_real_inline(const char* at, const char* end,
                                                                  double& value) {
    bool negative = false;
    if (at != end && (*at == '+' || *at == '-')) {  // from_chars refuses '+', so signs are ours
        negative = *at == '-';
        ++at;
    }
    if (at == end || *at == '+' || *at == '-') return nullptr;
    double magnitude = 0;
    const char* after = starts_hex(at, end) ? nullptr : read_plain_decimal(at, end, magnitude);
    if (!after) after = read_real_general(at, end, magnitude);
    if (!after) return nullptr;
    value = negative ? -magnitude : magnitude;
    return after;
}

// Inlined into the loop that reads a sample line's values, where the time goes.
const char* read_real(const char* at, const char* end, double& value) {
    return read_real_inline(at, end, value);
}

size_t read_reals(const char*& at, const char* end, double* values, size_t wanted) {
    size_t found = 0;
    for (; found < wanted; ++found) {
        while (at != end && is_blank(*at)) ++at;
        const char* after = read_real_inline(at, end, values[found]);
        if (!after) break;
        at = after;
    }
    return found;
}

bool is_integer_token(std::string_view token) {
    if (!token.empty() && (token[0] == '+' || token[0] == '-')) token.remove_prefix(1);
    return !token.empty() &&
           std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool read_int_token(std::string_view token, int& value) {
    if (!is_integer_token(token)) return false;
    if (token[0] == '+') token.remove_prefix(1);
    auto got = std::from_chars(token.data(), token.data() + token.size(), value);
    return got.ec == std::errc() && got.ptr == token.data() + token.size();
}

bool read_leading_int(const std::string& text, int& value) {
    const char* at = text.c_str();
    const char* end = at + text.size();
    while (at != end && std::isspace(static_cast<unsigned char>(*at))) ++at;
    if (at != end && *at == '+') {
        ++at;
        if (at != end && *at == '-') return false;
    }
    return std::from_chars(at, end, value).ec == std::errc();
}

// The decimal exponent X of a (10^X <= a < 10^(X+1), up to a unit in the
// last place at the powers themselves, which the rounding below absorbs).
static int decimal_exponent(double a) {
    static constexpr double powers[] = {1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0,  1e1,
                                        1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                        1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    int exponent = -5;
    while (a >= powers[exponent + 6]) ++exponent;
    return exponent;
}

static std::uint32_t scales_int(int power) {
    static constexpr std::uint32_t powers[] = {1, 10, 100, 1000, 10000, 100000};
    return powers[power];
}

static char* put_digits(char* at, std::uint32_t digits, int count) {
    for (int i = count - 1; i >= 0; --i, digits /= 10) at[i] = static_cast<char>('0' + digits % 10);
    return at + count;
}

// Removes trailing zeros of a fraction, and its point when nothing is left.
static char* trim_fraction(char* begin, char* end) {
    while (end > begin && end[-1] == '0') --end;
    if (end > begin && end[-1] == '.') --end;
    return end;
}

// "%g" for the common magnitudes 1e-5 <= |value| < 1e15 without the general
// converter: the value scaled to six digits carries at most one rounding error
// (below 1e-9 here), so unless its fraction lies within 1e-7 of one half the
// rounding to six significant digits is certain. Returns nullptr otherwise.
static char* format_g_common(double value, char* out) {
    double a = std::fabs(value);
    if (!(a >= 1e-5 && a < 1e15)) return nullptr;
    static constexpr double scales[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
    int exponent = decimal_exponent(a);
    double scaled = exponent <= 5 ? a * scales[5 - exponent] : a / scales[exponent - 5];
    double whole = std::floor(scaled);
    if (std::fabs(scaled - whole - 0.5) < 1e-7) return nullptr;
    auto digits = static_cast<std::uint32_t>(whole) + (scaled - whole > 0.5);
    if (digits >= 1000000) {
        digits /= 10;
        ++exponent;
    }
    char* at = out;
    if (value < 0) *at++ = '-';
    if (exponent < -4 || exponent >= 6) {
        *at++ = static_cast<char>('0' + digits / 100000);
        *at++ = '.';
        at = trim_fraction(at - 1, put_digits(at, digits % 100000, 5));
        *at++ = 'e';
        *at++ = exponent < 0 ? '-' : '+';
        return put_digits(at, std::abs(exponent), 2);
    }
    if (exponent >= 0) {
        at = put_digits(at, digits / scales_int(5 - exponent), exponent + 1);
        char* point = at;
        *at++ = '.';
        return trim_fraction(point,
                             put_digits(at, digits % scales_int(5 - exponent), 5 - exponent));
    }
    char* point = at + 1;
    *at++ = '0';
    *at++ = '.';
    for (int i = -1; i > exponent; --i) *at++ = '0';
    return trim_fraction(point, put_digits(at, digits, 6));
}

void append_g(std::string& out, double value) {
    char text[32];
    char* end = format_g_common(value, text);
    if (!end)
        end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6).ptr;
    out.append(text, end);
}

}  // namespace tavosum
