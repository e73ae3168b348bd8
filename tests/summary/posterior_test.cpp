// Quantiles, highest-density intervals and the split-chain diagnostics.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "summary/diagnostics.h"
#include "summary/intervals.h"
#include "summary/options.h"
#include "summary_testing.h"

using namespace tavosum;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double not_a_number = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(SumIntervals, QuantilesInterpolateBetweenOrderStatistics) {
    const std::vector<double> even = {1, 2, 3, 4};
    EXPECT_DOUBLE_EQ(quantile7(even.data(), 4, 0.5), 2.5);
    EXPECT_DOUBLE_EQ(quantile7(even.data(), 4, 0.025), 1.075);  // h = 3 * 0.025
    EXPECT_DOUBLE_EQ(quantile7(even.data(), 4, 0.975), 3.925);
    EXPECT_DOUBLE_EQ(quantile7(even.data(), 4, 0), 1);
    EXPECT_DOUBLE_EQ(quantile7(even.data(), 4, 1), 4);
    EXPECT_DOUBLE_EQ(middle_value(even.data(), 4), 2.5);
    const std::vector<double> odd = {1, 2, 4};
    EXPECT_DOUBLE_EQ(quantile7(odd.data(), 3, 0.5), 2);
    EXPECT_DOUBLE_EQ(quantile7(odd.data(), 3, 0.25), 1.5);
    EXPECT_DOUBLE_EQ(middle_value(odd.data(), 3), 2);
    EXPECT_DOUBLE_EQ(quantile7(odd.data(), 1, 0.975), 1);
}

TEST(SumIntervals, HighestDensityIsTheShortestWindowAndTheLowestOnTies) {
    auto hpd = [](const std::vector<double>& sorted, double mass) {
        interval found = highest_density(sorted.data(), sorted.size(), mass);
        return std::vector<double>{found.lo, found.hi};
    };
    using pair = std::vector<double>;
    const std::vector<double> skewed = {1, 2, 3, 4, 10};
    EXPECT_EQ(hpd(skewed, 0.6), (pair{1, 3}));  // k = 3: widths 2, 2, 7
    EXPECT_EQ(hpd(skewed, 0.5), (pair{1, 3}));  // k = ceil(2.5) = 3
    EXPECT_EQ(hpd(skewed, 0.95), (pair{1, 10}));
    EXPECT_EQ(hpd(skewed, 0.01), (pair{1, 1}));  // k is at least 1
    EXPECT_EQ(hpd({1, 1, 1, 5, 5, 5}, 0.5), (pair{1, 1}));
    EXPECT_EQ(hpd({0, 5, 6, 7, 20}, 0.6), (pair{5, 7}));
    std::vector<double> squares;  // 0.07 * 100 is 7.000000000000001: still 7 draws
    for (int i = 0; i < 100; ++i) squares.push_back(i * i);
    EXPECT_EQ(hpd(squares, 0.07), (pair{0, 36}));
}

TEST(SumOptions, IntervalAndDiagnosticWords) {
    settings options;
    std::string console = tavosum_testing::console_of([&] {
        parse_options({"ess", "ci=0.5", "hpd=.8", "cix", "hpd=1e-1", "ci=2.5e-1"}, options);
    });
    EXPECT_EQ(console, "");
    EXPECT_TRUE(options.ci && options.hpd && options.ess);
    EXPECT_DOUBLE_EQ(options.ci_mass, 0.25);
    EXPECT_DOUBLE_EQ(options.hpd_mass, 0.1);
    settings plain;
    parse_options({"ci=0.5", "ci"}, plain);
    EXPECT_DOUBLE_EQ(plain.ci_mass, 0.95);  // a bare word means 0.95
    EXPECT_FALSE(plain.hpd || plain.ess || !wants_draws(plain));
    EXPECT_FALSE(wants_draws(settings{}));

    for (std::string bad : {"1", "0", "-0.5", "0x0.8", "inf", "nan", "0.5x", "", " 0.5", "1e"}) {
        settings reset;
        console = tavosum_testing::console_of([&] {
            parse_options({"hpd=0.5", "hpd=" + bad}, reset);
        });
        EXPECT_EQ(console, "Error: invalid number (" + bad +
                               ") on hpd option, hpd is (re)set to default 0.95.\n");
        EXPECT_TRUE(reset.hpd);
        EXPECT_DOUBLE_EQ(reset.hpd_mass, 0.95);
    }
    console = tavosum_testing::console_of([&] { parse_options({"ci=x"}, options); });
    EXPECT_EQ(console, "Error: invalid number (x) on ci option, ci is (re)set to default 0.95.\n");
}

TEST(SumDiagnostics, InverseNormalAndAutocovariances) {
    // Reference values from the standard library of another language's inverse normal.
    EXPECT_NEAR(inverse_normal(0.975), 1.9599639845400536, 1e-14);
    EXPECT_NEAR(inverse_normal(0.025), -1.9599639845400536, 1e-14);
    EXPECT_NEAR(inverse_normal(1e-10), -6.3613409024040557, 1e-13);
    EXPECT_EQ(inverse_normal(0.5), 0);
    std::vector<double> values;
    for (int i = 0; i < 150; ++i) values.push_back(std::sin(i * 0.7) + (i % 7) * 0.1 - 0.3);
    std::vector<double> direct(150), fft(150);
    autocovariance_direct(values.data(), 150, direct.data());
    autocovariance_fft(values.data(), 150, fft.data());
    for (size_t t = 0; t < 150; ++t) EXPECT_NEAR(fft[t], direct[t], 1e-12) << "lag " << t;
}

TEST(SumDiagnostics, SortingNetworkSortsEveryShortCount) {
    sorting_network network;
    unsigned state = 7;
    for (size_t n = 1; n <= 70; ++n) {  // 65 and more go to the general sort
        std::vector<ranked> values;
        for (size_t i = 0; i < n; ++i) {
            state = state * 1103515245 + 12345;
            values.push_back(
                {static_cast<double>(state >> 16 & 15), static_cast<std::uint32_t>(i)});
        }
        std::vector<ranked> sorted = values;
        sort_by_value(sorted.data(), n, network);
        std::vector<bool> seen(n);
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(sorted[i].value, values[sorted[i].position].value) << n;
            seen[sorted[i].position] = true;
            if (i > 0) {
                EXPECT_LE(sorted[i - 1].value, sorted[i].value) << n;
            }
        }
        EXPECT_EQ(std::count(seen.begin(), seen.end(), true), static_cast<long>(n));
    }
}

namespace {

// The test chains, built exactly as the reference computation built them.
std::vector<double> lcg_uniforms(int count) {
    std::vector<double> out;
    unsigned long long state = 12345;
    for (int i = 0; i < count; ++i) {
        state = (1103515245 * state + 12345) % 2147483648ULL;
        out.push_back(static_cast<double>(state) / 2147483648.0);
    }
    return out;
}

// x_t = 0.9 x_(t-1) + (u_t - 0.5): autocorrelation 0.9^t, a bulk ESS near a tenth of the draws.
std::vector<double> ar1_chain(int count) {
    std::vector<double> x;
    double previous = 0;
    for (double u : lcg_uniforms(count)) x.push_back(previous = 0.9 * previous + (u - 0.5));
    return x;
}

// Uniform draws, 3 higher in the second half: the halves disagree.
std::vector<double> jump_chain(int count) {
    std::vector<double> x = lcg_uniforms(count);
    for (int i = count / 2; i < count; ++i) x[i] += 3;
    return x;
}

void expect_diagnostics(const std::vector<double>& draws, const std::vector<double>& expected) {
    std::vector<ranked> order;
    for (double x : draws) order.push_back({x, static_cast<std::uint32_t>(order.size())});
    sorting_network network;
    sort_by_value(order.data(), order.size(), network);
    std::vector<double> sorted;
    for (const ranked& r : order) sorted.push_back(r.value);
    diagnostics_work work;
    chain_diagnostics d =
        diagnose_chain(draws.data(), sorted.data(), order.data(), draws.size(), work);
    const double got[] = {d.ess_bulk, d.ess_tail, d.mcse_mean, d.rhat};
    const char* names[] = {"ess.bulk", "ess.tail", "mcse.mean", "rhat"};
    for (int i = 0; i < 4; ++i) {
        if (std::isnan(expected[i]) || std::isinf(expected[i]))
            EXPECT_EQ(std::isnan(got[i]) ? "nan" : std::to_string(got[i]),
                      std::isnan(expected[i]) ? "nan" : std::to_string(expected[i]))
                << names[i];
        else
            EXPECT_NEAR(got[i], expected[i], 1e-9 * std::fabs(expected[i])) << names[i];
    }
}

}  // namespace

// Expected values: a separate direct computation written from the published
// definitions (standard library Python: direct autocovariance sums, the
// library's inverse normal, ranks by counting), run once on the same chains;
// tests/summary/reference_diagnostics.py.
TEST(SumDiagnostics, AgreeWithAnIndependentComputation) {
    std::vector<double> ar1 = ar1_chain(301);  // odd: the middle draw is left out; FFT lags
    expect_diagnostics(
        ar1, {24.921398264302397, 36.820452718397185, 0.12899113866838016, 1.0454066015132895});
    diagnostics_work work;
    std::vector<double> split(ar1.begin(), ar1.begin() + 150);
    split.insert(split.end(), ar1.end() - 150, ar1.end());
    EXPECT_NEAR(split_ess(split.data(), 150, work), 24.612795230933429, 1e-8);
    EXPECT_NEAR(split_rhat(split.data(), 150, work), 1.0077657696671651, 1e-12);

    expect_diagnostics(jump_chain(40), {1.6370808800400356, 44.679600235155796, 1.3494749297117565,
                                        2.1304760334331099});
    expect_diagnostics(
        {1, 2, 2, 3, 1, 2, 5, 2, 3, 3, 1, 2},  // ties share their mean rank
        {12.9501749525715, 12.705882352941174, 0.33662375658013932, 1.0433742769918746});
    // N = 2: the pair loop is not entered and ESS = S log10 S.
    expect_diagnostics({3, 1, 4, 1, 5},
                       {2.4082399653118496, 2.4082399653118496, 1.1527234004543088, 1});
}

TEST(SumDiagnostics, ConstantDrawsAndConstantHalves) {
    expect_diagnostics(std::vector<double>(9, 2.5),
                       {not_a_number, not_a_number, not_a_number, not_a_number});
    // Halves 1 1 1 1 and 2 2 2 2 (the middle 1 left out): W = 0, R-hat inf;
    // the upper tail indicator is constant, so tail ESS is not_a_number.
    expect_diagnostics({1, 1, 1, 1, 1, 2, 2, 2, 2},
                       {7.2247198959355483, not_a_number, 0.19608223233881775, inf});
    expect_diagnostics({1, 2, 3}, {not_a_number, not_a_number, not_a_number, not_a_number});
}
