// Convergence diagnostics of one saved chain split into two halves: effective
// sample sizes, the Monte Carlo standard error of the mean and the
// rank-normalised split R-hat of Vehtari, Gelman, Simpson, Carpenter and
// Buerkner (2021), "Rank-normalization, folding, and localization: an improved
// R-hat for assessing convergence of MCMC", Bayesian Analysis 16(2).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tavosum {

// The inverse of the standard normal distribution function, for 0 < p < 1,
// to a relative error near the double precision.
double inverse_normal(double p);

// A draw and where it stands: its place in file order, or in the split halves.
struct ranked {
    double value;
    std::uint32_t position;
};

// The compare-exchange steps that sort `count` values whatever their order
// (Batcher's merge exchange, as Knuth's Algorithm 5.2.2M gives it): short
// chains sort without branches to mispredict.
struct sorting_network {
    size_t count = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> steps;
};

// Sorts by value (the order of equal values does not matter); up to 64 values
// through the network, which is built for their count when not yet.
void sort_by_value(ranked* begin, size_t count, sorting_network& network);

// Space the diagnostics reuse from level to level.
struct diagnostics_work {
    size_t scores_for = 0;       // the S that `scores` holds the normal scores of
    std::vector<double> scores;  // at index 2r: inverse_normal((r - 3/8) / (S + 1/4))
    std::vector<ranked> split_order, folded_order;
    sorting_network network;
    std::vector<double> split, transformed, centred, rho, acov;
};

// Rank normalisation of S values given sorted by value: the value at
// `sorted[i].position` gets the normal score of rank i + 1, ties their mean rank.
void normal_scores(const ranked* sorted, size_t S, double* scores, diagnostics_work& work);

// Autocovariances of the N values at lags 0..N-1, each with divisor N, by
// direct sums and by the FFT (zero-padded to at least 2N).
void autocovariance_direct(const double* values, size_t N, double* acov);
void autocovariance_fft(const double* values, size_t N, double* acov);

// Effective sample size and R-hat of a split pair: `y` holds the two halves of
// N values each, one after the other. nan when the 2N values are all equal or
// not all finite; R-hat is inf when each half is constant but they differ.
double split_ess(const double* y, size_t N, diagnostics_work& work);
double split_rhat(const double* y, size_t N, diagnostics_work& work);

struct chain_diagnostics {
    double ess_bulk;
    double ess_tail;
    double mcse_mean;
    double rhat;
};

// The four diagnostics of one level's n finite draws, given in file order
// (`draws`), sorted (`sorted`) and sorted with their places in file order
// (`order`); nan below four draws.
chain_diagnostics diagnose_chain(const double* draws, const double* sorted, const ranked* order,
                                 size_t n, diagnostics_work& work);

}  // namespace tavosum
