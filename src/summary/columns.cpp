#include "summary/columns.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "summary/intervals.h"
#include "summary/numbers.h"

namespace tavosum {

std::vector<std::string> extra_column_names(const settings& options) {
    std::vector<std::string> names;
    if (options.ci) names.insert(names.end(), {"median", "ci.lo", "ci.hi"});
    if (options.hpd) names.insert(names.end(), {"hpd.lo", "hpd.hi"});
    if (options.ess) names.insert(names.end(), {"ess.bulk", "ess.tail", "mcse.mean", "rhat"});
    return names;
}

// "\t%g", with any not-a-number written "nan" (never "-nan").
static void append_value(std::string& out, double value) {
    out += '\t';
    if (std::isnan(value))
        out += "nan";
    else
        append_g(out, value);
}

void append_extra_columns(std::string& out, const settings& options, const double* draws, size_t n,
                          level_work& work) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    bool usable = n > 0 && std::all_of(draws, draws + n, [](double x) { return std::isfinite(x); });
    auto& sorted = work.sorted;
    if (usable) {
        work.order.resize(n);
        for (size_t i = 0; i < n; ++i) work.order[i] = {draws[i], static_cast<std::uint32_t>(i)};
        sort_by_value(work.order.data(), n, work.diagnostics.network);
        sorted.resize(n);
        for (size_t i = 0; i < n; ++i) sorted[i] = work.order[i].value;
    }
    bool intervals = usable && n > 1;
    if (options.ci) {
        append_value(out, usable ? quantile7(sorted.data(), n, 0.5) : nan);
        append_value(out, intervals ? quantile7(sorted.data(), n, (1 - options.ci_mass) / 2) : nan);
        append_value(out, intervals ? quantile7(sorted.data(), n, (1 + options.ci_mass) / 2) : nan);
    }
    if (options.hpd) {
        interval shortest{nan, nan};
        if (intervals) shortest = highest_density(sorted.data(), n, options.hpd_mass);
        append_value(out, shortest.lo);
        append_value(out, shortest.hi);
    }
    if (options.ess) {
        chain_diagnostics d{nan, nan, nan, nan};
        if (usable) d = diagnose_chain(draws, sorted.data(), work.order.data(), n, work.diagnostics);
        append_value(out, d.ess_bulk);
        append_value(out, d.ess_tail);
        append_value(out, d.mcse_mean);
        append_value(out, d.rhat);
    }
}

}  // namespace tavosum
