// write_general against printf's "%g" on every kind of value, the near-ties
// the fast path must hand on included.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "text/general.h"

namespace tavo {
namespace {

std::string ours(double v) {
    char text[GENERAL_TEXT_MAX];
    return std::string(text, write_general(text, v));
}

std::string printfs(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

TEST(General, SpecialValuesAndBordersOfTheFixedForm) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {0.0, -0.0, nan, -nan, inf, -inf, 1.0, -1.0, 0.5, 1e-5, 9.99999e-5, 0.0001, 0.00010000049,
                     999999.0, 999999.5, 9999995.0, 1e6, 123456.5, 1e-15, 1e20, 1e300, 4.9e-324, 2.5, 0.125,
                     1.000005, 12345650.0, 3.14159265358979, -2.71828182845904e-7, 6.02214076e23})
        EXPECT_EQ(ours(v), printfs(v)) << v;
}

TEST(General, AgreesWithPrintfOnRandomValuesAndNearTies) {
    uint64_t state = 88172645463325252ull;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    int mismatches = 0;
    for (int k = 0; k < 300000 && mismatches < 5; ++k) {
        const int exponent = static_cast<int>(next() % 44) - 22;
        const double digits = 100000.0 + static_cast<double>(next() % 900000);
        // A value half-way between two six-digit texts, and its neighbours.
        const double tie = (digits + 0.5) * std::pow(10.0, exponent - 5);
        const double random = std::ldexp(static_cast<double>(next() >> 11), static_cast<int>(next() % 140) - 90);
        for (double v : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1e300), random, -random}) {
            if (ours(v) != printfs(v)) {
                ++mismatches;
                ADD_FAILURE() << "value " << v << ": " << ours(v) << " against " << printfs(v);
            }
        }
    }
}

}  // namespace
}  // namespace tavo
