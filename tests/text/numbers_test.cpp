#include "text/numbers.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace tavo {
namespace {

constexpr int UNTOUCHED = 777;

struct int_case {
    std::string text;
    int_status status;
    int clamped;  // the value under clamp (UNTOUCHED when nothing is read)
    int refused;  // the value under refuse
    size_t end;
};

// Every edge of the "%d" rule, read under both overflow rules: a failure
// leaves the value alone, and only an out-of-range number tells them apart.
TEST(ReadInt, EdgeSweep) {
    const std::string many_nines(23, '9');
    const int_case cases[] = {
        {"0", int_status::read, 0, 0, 1},
        {"42", int_status::read, 42, 42, 2},
        {" \t\n\v\f\r17", int_status::read, 17, 17, 8},
        {"+5", int_status::read, 5, 5, 2},
        {"-5", int_status::read, -5, -5, 2},
        {"-0", int_status::read, 0, 0, 2},
        {"12abc", int_status::read, 12, 12, 2},
        {"3.9", int_status::read, 3, 3, 1},
        {"0x10", int_status::read, 0, 0, 1},
        {"7 8", int_status::read, 7, 7, 1},
        {"000000000000000000000042", int_status::read, 42, 42, 24},
        {"2147483647", int_status::read, INT_MAX, INT_MAX, 10},
        {"-2147483648", int_status::read, INT_MIN, INT_MIN, 11},
        {"2147483648", int_status::out_of_range, INT_MAX, UNTOUCHED, 10},
        {"-2147483649", int_status::out_of_range, INT_MIN, UNTOUCHED, 11},
        {many_nines + "x", int_status::out_of_range, INT_MAX, UNTOUCHED, 23},
        {" -" + many_nines, int_status::out_of_range, INT_MIN, UNTOUCHED, 25},
        {"", int_status::not_a_number, UNTOUCHED, UNTOUCHED, 0},
        {"   ", int_status::not_a_number, UNTOUCHED, UNTOUCHED, 0},
        {"+", int_status::not_a_number, UNTOUCHED, UNTOUCHED, 0},
        {"-", int_status::not_a_number, UNTOUCHED, UNTOUCHED, 0},
        {"+-5", int_status::not_a_number, UNTOUCHED, UNTOUCHED, 0},
        {"-+5", int_status::not_a_number, UNTOUCHED, UNTOUCHED, 0},
        {"- 5", int_status::not_a_number, UNTOUCHED, UNTOUCHED, 0},
        {"x1", int_status::not_a_number, UNTOUCHED, UNTOUCHED, 0},
        {".5", int_status::not_a_number, UNTOUCHED, UNTOUCHED, 0},
        {std::string("\0" "1", 2), int_status::not_a_number, UNTOUCHED, UNTOUCHED, 0},
    };
    for (const int_case& c : cases) {
        int clamped = UNTOUCHED;
        const int_reading by_clamp = read_int(c.text, clamped, int_overflow::clamp);
        const int_status clamp_status = c.status == int_status::out_of_range ? int_status::read : c.status;
        EXPECT_EQ(by_clamp.status, clamp_status) << '"' << c.text << '"';
        EXPECT_EQ(clamped, c.clamped) << '"' << c.text << '"';
        EXPECT_EQ(by_clamp.end, c.end) << '"' << c.text << '"';

        int refused = UNTOUCHED;
        const int_reading by_refusal = read_int(c.text, refused, int_overflow::refuse);
        EXPECT_EQ(by_refusal.status, c.status) << '"' << c.text << '"';
        EXPECT_EQ(refused, c.refused) << '"' << c.text << '"';
        EXPECT_EQ(by_refusal.end, c.end) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace tavo
