#include "text/numbers.h"

#include <algorithm>
#include <climits>

namespace tavo {

namespace {

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int_reading read_int(std::string_view text, int& value, int_overflow overflow) {
    constexpr long long beyond = static_cast<long long>(INT_MAX) + 1;  // -INT_MIN
    size_t i = 0;
    while (i < text.size() && is_c_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size() || !is_digit(text[i])) return {};
    long long magnitude = 0;  // held just past `beyond` once beyond it: every digit is still taken
    for (; i < text.size() && is_digit(text[i]); ++i)
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), beyond + 1);
    const long long limit = negative ? beyond : INT_MAX;
    if (magnitude > limit) {
        if (overflow == int_overflow::refuse) return {int_status::out_of_range, i};
        magnitude = limit;
    }
    value = static_cast<int>(negative ? -magnitude : magnitude);
    return {int_status::read, i};
}

}  // namespace tavo
