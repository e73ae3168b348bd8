// Shares of the genomic variance per group, their summaries, the per-group
// table file and the best regions.
#include "genomic/regions.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "genomic/model.h"

namespace tavo {

namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr int32_t NO_LEVEL = -1;

size_t at(const share_sums& sums, int32_t g, int32_t t) {
    return static_cast<size_t>(g) * static_cast<size_t>(sums.T) + static_cast<size_t>(t);
}

double variance_of(const genomic_model& model, int32_t g, int32_t t) {
    const auto T = static_cast<size_t>(model.T);
    return model.matrices[static_cast<size_t>(g) * T * T + static_cast<size_t>(t) * T + static_cast<size_t>(t)];
}

bool contributes(const marker_plan& mp) { return mp.effect >= 0 && mp.group != NO_LEVEL; }

void add_marker(group_span& span, int32_t m) {
    if (span.first < 0) span.first = m;
    span.last = m;
    ++span.markers;
}

void window_spans(const compute_plan& plan, std::vector<group_span>& spans) {
    for (int32_t g = 0; g < plan.M && g < static_cast<int32_t>(spans.size()); ++g) {
        group_span& span = spans[static_cast<size_t>(g)];
        span.lo = plan.markers[g].lo;
        span.hi = plan.markers[g].hi;
        span.level = plan.markers[g].group;
        for (int32_t m = span.lo; m <= span.hi; ++m)
            if (contributes(plan.markers[m])) add_marker(span, m);
    }
}

// By levels: a level's markers, and its range from its first to its last
// marker of any kind.
void level_spans(const compute_plan& plan, int32_t G, std::vector<group_span>& spans) {
    for (int32_t m = 0; m < plan.M; ++m) {
        const marker_plan& mp = plan.markers[m];
        if (mp.group < 0 || mp.group >= G) continue;
        group_span& span = spans[static_cast<size_t>(mp.group)];
        span.level = mp.group;
        if (span.hi < 0) span.lo = m;
        span.hi = m;
        if (mp.effect >= 0) add_marker(span, m);
    }
}

// The total group counts every contributing marker of a real group once.
group_span total_span(const compute_plan& plan, int32_t G, bool windows) {
    group_span span;
    span.lo = 0;
    span.hi = plan.M - 1;
    for (int32_t m = 0; m < plan.M; ++m) {
        const marker_plan& mp = plan.markers[m];
        if (contributes(mp) && (windows || mp.group < G)) add_marker(span, m);
    }
    return span;
}

bool overlaps(const group_span& a, const group_span& b) { return a.lo <= b.hi && b.lo <= a.hi; }

// The share columns are written for grouped runs only.
bool grouped(const genomic_model& model) { return model.total_groups > 1; }

// "%g" of a number, "nan" for every not-a-number.
std::string number_text(double value) {
    if (std::isnan(value)) return "nan";
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

void write_table_header(FILE* f, const region_report& r, const std::vector<matrix_entry>& order) {
    switch (layout_of(r.model)) {
    case group_layout::single: std::fprintf(f, "group"); break;
    case group_layout::by_levels: std::fprintf(f, "%s", r.names.by_name.c_str()); break;
    case group_layout::windows:
        std::fprintf(f, "marker");
        if (r.ctx.by_pos >= 0) std::fprintf(f, "\t%s", r.names.by_name.c_str());
        break;
    }
    write_matrix_columns(f, r.model, order);
    if (grouped(r.model)) {
        std::fprintf(f, "\tmarkers");
        for (const genomic_term& term : r.model.terms) {
            const char* label = term.label.c_str();
            std::fprintf(f, "\tpm.share(%s)\tpsd.share(%s)\twppa(%s)", label, label, label);
        }
    }
    std::fprintf(f, "\n");
}

void write_table_row(FILE* f, const region_report& r, const std::vector<matrix_entry>& order, int32_t g) {
    const std::string label = grouped(r.model) ? group_label(r.model, r.ctx, g) : "ALL";
    std::fprintf(f, "%s", label.c_str());
    write_matrix_values(f, r.model, order, g);
    if (grouped(r.model)) {
        std::fprintf(f, "\t%d", r.spans[static_cast<size_t>(g)].markers);
        for (int32_t t = 0; t < r.model.T; ++t) {
            const share_summary s = summarise_share(r.sums, g, t);
            write_number(f, '\t', s.pm);
            write_number(f, '\t', s.psd);
            write_number(f, '\t', s.wppa);
        }
    }
    std::fprintf(f, "\n");
}

// The listing of one term, the same text on both channels.
std::string regions_text(const region_report& r, int32_t t, const std::vector<int32_t>& best) {
    const bool windows = layout_of(r.model) == group_layout::windows;
    std::string text = "\nRegions with the largest share of the genomic variance of " +
                       r.model.terms[static_cast<size_t>(t)].label + " (threshold " + number_text(r.sums.threshold) +
                       "):\n";
    text += "rank\tgroup\tfirst\tlast\tmarkers\tpm.share\tpsd.share\twppa\n";
    int rank = 0;
    for (int32_t g : best) {
        const group_span& span = r.spans[static_cast<size_t>(g)];
        const share_summary s = summarise_share(r.sums, g, t);
        const std::string group = windows ? marker_key_text(r.ctx, g) : by_level_text(r.ctx, g);
        text += std::to_string(++rank) + "\t" + group + "\t" + marker_key_text(r.ctx, span.first) + "\t" +
                marker_key_text(r.ctx, span.last) + "\t" + std::to_string(span.markers) + "\t" +
                number_text(s.pm) + "\t" + number_text(s.psd) + "\t" + number_text(s.wppa) + "\n";
    }
    return text;
}

}  // namespace

bool start_share_sums(const genomic_model& model, double threshold, share_sums& out) {
    out.threshold = threshold;
    out.T = model.T;
    out.groups = model.total_groups;
    const int64_t cells = static_cast<int64_t>(model.T) * model.total_groups;
    bool fine = allocate_zeroed(out.counted, model.T);
    fine = allocate_zeroed(out.sum, cells) && fine;
    fine = allocate_zeroed(out.sumsq, cells) && fine;
    fine = allocate_zeroed(out.above, cells) && fine;
    return fine;
}

void add_cycle_shares(const genomic_model& model, share_sums& sums) {
    const int32_t total = sums.groups - 1;
    for (int32_t t = 0; t < sums.T; ++t) {
        const double whole = variance_of(model, total, t);
        if (!(whole > 0)) continue;
        sums.counted[static_cast<size_t>(t)] += 1;
        for (int32_t g = 0; g < sums.groups; ++g) {
            const double share = variance_of(model, g, t) / whole;
            sums.sum[at(sums, g, t)] += share;
            sums.sumsq[at(sums, g, t)] += share * share;
            if (share > sums.threshold) sums.above[at(sums, g, t)] += 1;
        }
    }
}

share_summary summarise_share(const share_sums& sums, int32_t g, int32_t t) {
    const auto counted = static_cast<int64_t>(sums.counted[static_cast<size_t>(t)]);
    share_summary s;
    s.pm = posterior_mean(sums.sum[at(sums, g, t)], counted);
    s.psd = counted > 0 ? matrix_psd(sums.sum[at(sums, g, t)], sums.sumsq[at(sums, g, t)], counted) : NOT_A_NUMBER;
    s.wppa = counted > 0 ? sums.above[at(sums, g, t)] / static_cast<double>(counted) : NOT_A_NUMBER;
    return s;
}

std::vector<group_span> group_spans(const compute_plan& plan, const genomic_model& model) {
    std::vector<group_span> spans(static_cast<size_t>(model.total_groups));
    if (model.total_groups <= 1) {
        spans[0] = total_span(plan, 1, true);
        return spans;
    }
    if (model.windows) window_spans(plan, spans);
    else level_spans(plan, model.G, spans);
    spans.back() = total_span(plan, model.G, model.windows);
    return spans;
}

std::vector<int32_t> best_regions(const share_sums& sums, const std::vector<group_span>& spans, int32_t t,
                                  bool windows, size_t limit) {
    std::vector<int32_t> candidates;
    for (int32_t g = 0; g + 1 < sums.groups; ++g) {
        if (spans[static_cast<size_t>(g)].markers == 0) continue;
        if (std::isnan(summarise_share(sums, g, t).pm)) continue;
        candidates.push_back(g);
    }
    std::stable_sort(candidates.begin(), candidates.end(), [&](int32_t a, int32_t b) {
        return sums.sum[at(sums, a, t)] > sums.sum[at(sums, b, t)];
    });
    std::vector<int32_t> best;
    for (int32_t g : candidates) {
        if (best.size() >= limit) break;
        const group_span& span = spans[static_cast<size_t>(g)];
        const bool taken = windows && std::any_of(best.begin(), best.end(), [&](int32_t b) {
                               return overlaps(span, spans[static_cast<size_t>(b)]);
                           });
        if (!taken) best.push_back(g);
    }
    return best;
}

std::string gvar_stem(const genomic_model& model, const block_context& ctx, const output_names& names) {
    std::string stem = names.base_name + ".gvar";
    if (model.windows) stem += ".win" + std::to_string(2 * model.half_width + 1);
    if (model.by || (model.windows && ctx.by_pos >= 0)) stem += ".by" + names.by_name;
    return stem;
}

int write_gvar_table(const region_report& report, FILE* log) {
    const std::string name = gvar_stem(report.model, report.ctx, report.names) + ".txt";
    file_ptr file = open_output(report.names, name);
    if (!file) {
        std::printf("! Problem opening file (%s) for writing\n", name.c_str());
        return ERR_OUTPUT_FAILED;
    }
    const std::vector<matrix_entry> order = label_order(report.model.T);
    write_table_header(file.get(), report, order);
    for (int32_t g = 0; g < report.model.total_groups; ++g) write_table_row(file.get(), report, order, g);
    if (!close_output(file, name)) return ERR_OUTPUT_FAILED;
    std::printf("Genomic variances per group were written to file %s\n", name.c_str());
    if (log) std::fprintf(log, "Genomic variances per group were written to file %s\n", name.c_str());
    return 0;
}

void print_best_regions(const region_report& report, FILE* log) {
    if (!grouped(report.model)) return;
    const bool windows = layout_of(report.model) == group_layout::windows;
    constexpr size_t LISTED = 10;
    for (int32_t t = 0; t < report.model.T; ++t) {
        const std::string text = regions_text(report, t, best_regions(report.sums, report.spans, t, windows, LISTED));
        std::printf("%s", text.c_str());
        if (log) std::fprintf(log, "%s", text.c_str());
    }
}

}  // namespace tavo
