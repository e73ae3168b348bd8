#include "summary/diagnostics.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

#include <unsupported/Eigen/FFT>

#include "summary/intervals.h"

namespace tavosum {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// A first guess good to about 1e-9 (rational approximations in a central and
// a lower tail region), for the lower half 0 < p <= 0.5.
double normal_quantile_guess(double p) {
    static constexpr double a[] = {-3.969683028665376e+01, 2.209460984245205e+02,
                                   -2.759285104469687e+02, 1.383577518672690e+02,
                                   -3.066479806614716e+01, 2.506628277459239e+00};
    static constexpr double b[] = {-5.447609879822406e+01, 1.615858368580409e+02,
                                   -1.556989798598866e+02, 6.680131188771972e+01,
                                   -1.328068155288572e+01};
    static constexpr double c[] = {-7.784894002430293e-03, -3.223964580411365e-01,
                                   -2.400758277161838e+00, -2.549732539343734e+00,
                                   4.374664141464968e+00,  2.938163982698783e+00};
    static constexpr double d[] = {7.784695709041462e-03, 3.224671290700398e-01,
                                   2.445134137142996e+00, 3.754408661907416e+00};
    if (p < 0.02425) {
        double q = std::sqrt(-2 * std::log(p));
        return (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
               ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    }
    double q = p - 0.5;
    double r = q * q;
    return (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
           (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
}

// The sum of term(0) ... term(count - 1) in four running totals, so that the
// additions overlap rather than wait on each other.
template <typename Term>
double sum_of(size_t count, Term term) {
    double totals[4] = {0, 0, 0, 0};
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        totals[0] += term(i);
        totals[1] += term(i + 1);
        totals[2] += term(i + 2);
        totals[3] += term(i + 3);
    }
    for (; i < count; ++i) totals[0] += term(i);
    return (totals[0] + totals[1]) + (totals[2] + totals[3]);
}

// What the ESS and the R-hat of a split pair share.
struct split_moments {
    bool usable;      // the values are all finite and not all equal
    double mean_var;  // mean over the halves of the variance with divisor N - 1
    double var_plus;  // mean_var (N - 1) / N + the variance of the two half means
};

// Centres both halves of `y` (N values each) into `centred` and forms their
// moments. The mean of a constant half is its value, so its variance is 0.
split_moments centre_halves(const double* y, size_t N, double* centred) {
    double means[2];
    bool constant[2];
    for (int m = 0; m < 2; ++m) {
        const double* half = y + m * N;
        double sum = sum_of(N, [half](size_t i) { return half[i]; });
        bool same = true;
        for (size_t i = 1; i < N; ++i) same &= half[i] == half[0];
        if (!std::isfinite(sum)) return {false, 0, 0};  // a value not finite (or too large)
        constant[m] = same;
        means[m] = same ? half[0] : sum / static_cast<double>(N);
    }
    if (constant[0] && constant[1] && y[0] == y[N]) return {false, 0, 0};
    double squares = 0;
    for (int m = 0; m < 2; ++m) {
        for (size_t i = m * N; i < (m + 1) * N; ++i) centred[i] = y[i] - means[m];
        const double* c = centred + m * N;
        squares += sum_of(N, [c](size_t i) { return c[i] * c[i]; });
    }
    double count = static_cast<double>(N);
    double mean_var = squares / 2 / (count - 1);
    double gap = means[0] - means[1];
    return {true, mean_var, mean_var * (count - 1) / count + gap * gap / 2};
}

// Up to this half length, or for the first lags, the autocovariances are
// direct sums computed lag by lag as the ESS asks for them; beyond, one FFT.
constexpr size_t direct_length = 64;
constexpr size_t direct_lags = 16;

// The mean over the two halves of the autocovariance at each lag, on demand.
struct mean_autocovariance {
    const double* centred;  // both centred halves
    size_t N;
    std::vector<double>& table;  // every lag, once the FFT has run
    bool tabled = false;

    double at(size_t t) {
        if (!tabled && (N <= direct_length || t < direct_lags)) return direct(t);
        if (!tabled) tabulate();
        return table[t];
    }
    double direct(size_t t) const {
        double sum = 0;
        for (int m = 0; m < 2; ++m) {
            const double* c = centred + m * N;
            sum += sum_of(N - t, [c, t](size_t i) { return c[i] * c[i + t]; });
        }
        return sum / static_cast<double>(N) / 2;
    }
    void tabulate() {
        std::vector<double> second(N);
        table.resize(N);
        autocovariance_fft(centred, N, table.data());
        autocovariance_fft(centred + N, N, second.data());
        for (size_t t = 0; t < N; ++t) table[t] = (table[t] + second[t]) / 2;
        tabled = true;
    }
};

// tau = -1 + 2 (rho[0] + ... + rho[max_t - 1]) + rho[max_t] over the
// autocorrelations summed in pairs while the pairs stay positive, made
// monotone (Geyer's initial monotone sequence), bounded below by 1 / log10 S.
double integrated_time(mean_autocovariance& acov, const split_moments& moments, size_t N,
                       std::vector<double>& rho) {
    auto rho_at = [&](long t) {
        return 1 - (moments.mean_var - acov.at(static_cast<size_t>(t))) / moments.var_plus;
    };
    long length = static_cast<long>(N);
    rho.assign(N, 0.0);
    double rho_even = 1;
    double rho_odd = rho_at(1);
    rho[0] = rho_even;
    rho[1] = rho_odd;
    long t = 0;
    while (t < length - 5 && rho_even + rho_odd > 0) {
        t += 2;
        rho_even = rho_at(t);
        rho_odd = rho_at(t + 1);
        if (rho_even + rho_odd >= 0) {
            rho[t] = rho_even;
            rho[t + 1] = rho_odd;
        }
    }
    long max_t = t;
    if (rho_even > 0) rho[max_t] = rho_even;
    t = 0;
    while (t <= max_t - 4) {
        t += 2;
        if (rho[t] + rho[t + 1] > rho[t - 2] + rho[t - 1]) {
            double bound = (rho[t - 2] + rho[t - 1]) / 2;
            rho[t] = bound;
            rho[t + 1] = bound;
        }
    }
    double sum = 0;
    for (long i = 0; i < max_t; ++i) sum += rho[i];
    double tau = -1 + 2 * sum + rho[max_t];
    return std::max(tau, 1 / std::log10(2 * static_cast<double>(N)));
}

}  // namespace

double inverse_normal(double p) {
    if (!(p > 0 && p < 1)) return not_a_number;
    if (p > 0.5) return -inverse_normal(1 - p);  // 1 - p is exact here
    double x = normal_quantile_guess(p);
    for (int step = 0; step < 2; ++step) {  // Halley's method on the distribution function
        double error = 0.5 * std::erfc(-x / std::sqrt(2.0)) - p;
        double u = error * std::sqrt(2 * std::numbers::pi) * std::exp(x * x / 2);
        x -= u / (1 + x * u / 2);
    }
    return x;
}

// Knuth's Algorithm 5.2.2M, recording its compare-exchange steps.
static void build_network(size_t count, sorting_network& network) {
    network.count = count;
    network.steps.clear();
    if (count < 2) return;
    size_t t = 1;
    while ((size_t{1} << t) < count) ++t;
    for (size_t p = size_t{1} << (t - 1); p > 0; p /= 2) {
        size_t q = size_t{1} << (t - 1);
        size_t r = 0;
        size_t d = p;
        for (;;) {
            for (size_t i = 0; i + d < count; ++i)
                if ((i & p) == r)
                    network.steps.emplace_back(static_cast<std::uint32_t>(i),
                                               static_cast<std::uint32_t>(i + d));
            if (q == p) break;
            d = q - p;
            q /= 2;
            r = p;
        }
    }
}

void sort_by_value(ranked* begin, size_t count, sorting_network& network) {
    if (count > 64) {
        std::sort(begin, begin + count,
                  [](const ranked& a, const ranked& b) { return a.value < b.value; });
        return;
    }
    if (network.count != count) build_network(count, network);
    for (auto [i, j] : network.steps) {
        ranked a = begin[i];
        ranked b = begin[j];
        // Arithmetic rather than a branch: minimum, maximum and masked exchange.
        std::uint32_t exchange =
            (a.position ^ b.position) & -static_cast<std::uint32_t>(b.value < a.value);
        begin[i] = {std::min(a.value, b.value), a.position ^ exchange};
        begin[j] = {std::max(a.value, b.value), b.position ^ exchange};
    }
}

void normal_scores(const ranked* sorted, size_t S, double* scores, diagnostics_work& work) {
    if (work.scores_for != S) {  // every rank of every level of this S shares one table
        double count = static_cast<double>(S);
        work.scores.assign(2 * S + 1, not_a_number);
        for (size_t twice = 2; twice <= 2 * S; ++twice)
            work.scores[twice] =
                inverse_normal((static_cast<double>(twice) / 2 - 0.375) / (count + 0.25));
        work.scores_for = S;
    }
    for (size_t first = 0; first < S;) {
        size_t last = first;
        while (last + 1 < S && sorted[last + 1].value == sorted[first].value) ++last;
        double score = work.scores[first + last + 2];  // twice the mean rank (ranks from 1)
        for (size_t i = first; i <= last; ++i) scores[sorted[i].position] = score;
        first = last + 1;
    }
}

void autocovariance_direct(const double* values, size_t N, double* acov) {
    for (size_t t = 0; t < N; ++t) {
        double sum = 0;
        for (size_t i = 0; i + t < N; ++i) sum += values[i] * values[i + t];
        acov[t] = sum / static_cast<double>(N);
    }
}

void autocovariance_fft(const double* values, size_t N, double* acov) {
    size_t padded = 1;
    while (padded < 2 * N) padded *= 2;
    std::vector<double> signal(values, values + N);
    signal.resize(padded, 0.0);
    std::vector<std::complex<double>> spectrum;
    Eigen::FFT<double> fft;
    fft.fwd(spectrum, signal);
    for (auto& bin : spectrum) bin = std::norm(bin);
    fft.inv(signal, spectrum);  // scaled by 1 / padded
    for (size_t t = 0; t < N; ++t) acov[t] = signal[t] / static_cast<double>(N);
}

namespace {

double ess_of(const split_moments& moments, size_t N, diagnostics_work& work) {
    if (!moments.usable) return not_a_number;
    mean_autocovariance acov{work.centred.data(), N, work.acov};
    return 2 * static_cast<double>(N) / integrated_time(acov, moments, N, work.rho);
}

double rhat_of(const split_moments& moments) {
    return moments.usable ? std::sqrt(moments.var_plus / moments.mean_var) : not_a_number;
}

split_moments moments_of(const double* y, size_t N, diagnostics_work& work) {
    work.centred.resize(2 * N);
    if (N < 2) return {false, 0, 0};
    return centre_halves(y, N, work.centred.data());
}

}  // namespace

double split_ess(const double* y, size_t N, diagnostics_work& work) {
    return ess_of(moments_of(y, N, work), N, work);
}

double split_rhat(const double* y, size_t N, diagnostics_work& work) {
    return rhat_of(moments_of(y, N, work));
}

namespace {

// The split draws in the order of `order` (all n draws sorted), without the
// middle draw of an odd n, with their places in the split halves.
void order_split(const ranked* order, size_t n, size_t N, std::vector<ranked>& split_order) {
    std::uint32_t dropped = n % 2 == 1 ? static_cast<std::uint32_t>(N) : UINT32_MAX;
    std::uint32_t shift = static_cast<std::uint32_t>(n - 2 * N);
    split_order.clear();
    for (size_t i = 0; i < n; ++i) {
        std::uint32_t position = order[i].position;
        if (position == dropped) continue;
        split_order.push_back({order[i].value, position < N ? position : position - shift});
    }
}

// The folded draws |x - m| in increasing order, merged outwards from m through
// the sorted split draws (without branches on the values, which would be
// mispredicted half of the time). False when one is not finite.
bool order_folded(const std::vector<ranked>& split_order, double m, std::vector<ranked>& folded) {
    size_t S = split_order.size();
    size_t right = 0;
    while (right < S && split_order[right].value <= m) ++right;
    size_t left = right;  // split_order[left - 1] is the next one below m
    folded.resize(S);
    size_t k = 0;
    for (; left > 0 && right < S; ++k) {
        double below = m - split_order[left - 1].value;
        double above = split_order[right].value - m;
        size_t take_left = below <= above;
        size_t taken = right + (left - 1 - right) * take_left;  // left - 1 or right (modular)
        folded[k] = {std::min(below, above), split_order[taken].position};
        left -= take_left;
        right += 1 - take_left;
    }
    for (; left > 0; ++k, --left)
        folded[k] = {m - split_order[left - 1].value, split_order[left - 1].position};
    for (; right < S; ++k, ++right)
        folded[k] = {split_order[right].value - m, split_order[right].position};
    return std::isfinite(folded[S - 1].value);  // the largest
}

}  // namespace

chain_diagnostics diagnose_chain(const double* draws, const double* sorted, const ranked* order,
                                 size_t n, diagnostics_work& work) {
    chain_diagnostics result{not_a_number, not_a_number, not_a_number, not_a_number};
    if (n < 4) return result;
    size_t N = n / 2;
    size_t S = 2 * N;
    auto& split = work.split;
    auto& z = work.transformed;
    split.assign(draws, draws + N);  // with odd n the middle draw is left out
    split.insert(split.end(), draws + n - N, draws + n);
    z.resize(S);

    order_split(order, n, N, work.split_order);
    normal_scores(work.split_order.data(), S, z.data(), work);
    split_moments bulk = moments_of(z.data(), N, work);
    result.ess_bulk = ess_of(bulk, N, work);
    double rhat_bulk = rhat_of(bulk);

    double rhat_folded = not_a_number;
    if (order_folded(work.split_order, middle_value(sorted, n), work.folded_order)) {
        normal_scores(work.folded_order.data(), S, z.data(), work);
        rhat_folded = split_rhat(z.data(), N, work);
    }
    if (!std::isnan(rhat_bulk) && !std::isnan(rhat_folded))
        result.rhat = std::max(rhat_bulk, rhat_folded);

    double ess_tails[2];
    double cuts[2] = {quantile7(sorted, n, 0.05), quantile7(sorted, n, 0.95)};
    for (int k = 0; k < 2; ++k) {
        for (size_t i = 0; i < S; ++i) z[i] = split[i] <= cuts[k] ? 1.0 : 0.0;
        ess_tails[k] = split_ess(z.data(), N, work);
    }
    if (!std::isnan(ess_tails[0]) && !std::isnan(ess_tails[1]))
        result.ess_tail = std::min(ess_tails[0], ess_tails[1]);

    double mean = 0;
    for (size_t i = 0; i < n; ++i) mean += draws[i];
    mean /= static_cast<double>(n);
    double squares = 0;
    for (size_t i = 0; i < n; ++i) squares += (draws[i] - mean) * (draws[i] - mean);
    double sd = std::sqrt(squares / static_cast<double>(n - 1));
    result.mcse_mean = sd / std::sqrt(split_ess(split.data(), N, work));
    return result;
}

}  // namespace tavosum
