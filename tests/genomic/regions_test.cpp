// Shares of the genomic variance per group: the per-cycle arithmetic and its
// summaries, the markers of each group, the ranking of the best regions and
// the picture's structure, size and byte stability.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "genomic/regions.h"
#include "support/testutil.h"

namespace {

using namespace tavo;

// A model of T terms and `groups` groups (the last the total group) whose
// current matrices the tests set.
genomic_model model_of(int32_t T, int32_t groups) {
    genomic_model model;
    model.T = T;
    model.G = groups - 1;
    model.total_groups = groups;
    model.terms.resize(static_cast<size_t>(T));
    for (int32_t t = 0; t < T; ++t) model.terms[static_cast<size_t>(t)].label = std::string(1, char('a' + t));
    model.matrices.assign(static_cast<size_t>(T * T * groups), 0.0);
    return model;
}

void set_variance(genomic_model& model, int32_t g, int32_t t, double v) {
    model.matrices[static_cast<size_t>((g * model.T + t) * model.T + t)] = v;
}

// Three groups (two real, ALL) and three terms over three cycles:
//   a: shares 1/4, 3/4 then 0, 1; a third cycle with total variance 0 does not count;
//   b: counted in the first cycle only; c: never counted.
TEST(Shares, CountedCyclesMeansDeviationsAndProbabilities) {
    genomic_model model = model_of(3, 3);
    share_sums sums;
    ASSERT_TRUE(start_share_sums(model, 0.2, sums));
    const double cycles[3][3][3] = {// [cycle][group][term]
                                    {{1, 1, 0}, {3, 0.4, 0}, {4, 2, 0}},
                                    {{0, 1, 5}, {2, 1, 5}, {2, 0, -1}},
                                    {{1, 1, 1}, {1, 1, 1}, {0, -3, 0}}};
    for (const auto& cycle : cycles) {
        for (int32_t g = 0; g < 3; ++g)
            for (int32_t t = 0; t < 3; ++t) set_variance(model, g, t, cycle[g][t]);
        add_cycle_shares(model, sums);
    }
    const share_summary a0 = summarise_share(sums, 0, 0);
    EXPECT_DOUBLE_EQ(a0.pm, 0.125);
    EXPECT_DOUBLE_EQ(a0.psd, std::sqrt(0.0625 - 0.125 * 0.25));
    EXPECT_DOUBLE_EQ(a0.wppa, 0.5);  // 0.25 above 0.2, 0 not
    const share_summary a1 = summarise_share(sums, 1, 0);
    EXPECT_DOUBLE_EQ(a1.pm, 0.875);
    EXPECT_DOUBLE_EQ(a1.wppa, 1);
    const share_summary total = summarise_share(sums, 2, 0);
    EXPECT_EQ(total.pm, 1);
    EXPECT_EQ(total.psd, 0);
    EXPECT_EQ(total.wppa, 1);
    const share_summary b0 = summarise_share(sums, 0, 1);
    EXPECT_DOUBLE_EQ(b0.pm, 0.5);
    EXPECT_TRUE(std::isnan(b0.psd));  // one counted cycle
    EXPECT_EQ(b0.wppa, 1);
    EXPECT_EQ(summarise_share(sums, 1, 1).wppa, 0);  // 0.4 / 2 equals the threshold: not above
    const share_summary c0 = summarise_share(sums, 0, 2);
    EXPECT_TRUE(std::isnan(c0.pm) && std::isnan(c0.psd) && std::isnan(c0.wppa));
}

// Seven windows and the total group: spans lo..hi, markers, pm share.
struct windows_case {
    share_sums sums;
    std::vector<group_span> spans;
};

windows_case ranked_windows() {
    const double pm[] = {0.5, 0.9, 0.9, 0.7, 0.6, 0.95, NAN, 1};
    const int32_t lo[] = {0, 0, 1, 2, 3, 5, 6, 0};
    const int32_t hi[] = {1, 2, 3, 4, 4, 6, 6, 6};
    const int32_t markers[] = {2, 3, 3, 3, 2, 0, 1, 6};
    windows_case w;
    w.sums.T = 1;
    w.sums.groups = 8;
    w.sums.counted = {1};
    w.sums.sum.assign(std::begin(pm), std::end(pm));
    w.sums.sumsq.assign(8, 0.0);
    w.sums.above.assign(8, 0.0);
    for (int g = 0; g < 8; ++g) {
        group_span span;
        span.lo = lo[g];
        span.hi = hi[g];
        span.markers = markers[g];
        w.spans.push_back(span);
    }
    return w;
}

TEST(BestRegions, OverlappingWindowsTiesEmptyAndUndefinedGroups) {
    const windows_case w = ranked_windows();
    // 5 has no markers, 6 no mean, 7 is the total; 1 ties with 2 and wins;
    // 2, 3 and 0 overlap 1; 4 does not.
    EXPECT_EQ(best_regions(w.sums, w.spans, 0, true, 10), (std::vector<int32_t>{1, 4}));
    // By levels nothing is passed over for overlapping.
    EXPECT_EQ(best_regions(w.sums, w.spans, 0, false, 10), (std::vector<int32_t>{1, 2, 3, 4, 0}));
    EXPECT_EQ(best_regions(w.sums, w.spans, 0, false, 3), (std::vector<int32_t>{1, 2, 3}));
}

// Markers 0..4 by level: 0 0 1 0 1, marker 2 not used, marker 4 without effect.
TEST(GroupSpans, MarkersCountOnlyContributingOnesRangesCountAll) {
    compute_plan plan;
    plan.M = 5;
    plan.markers.resize(5);
    const int32_t group[] = {0, 0, 1, 0, 1};
    const int32_t effect[] = {0, 1, -1, 2, 3};
    for (int m = 0; m < 5; ++m) {
        plan.markers[m].group = group[m];
        plan.markers[m].effect = effect[m];
    }
    genomic_model model = model_of(1, 3);
    model.by = true;
    const std::vector<group_span> spans = group_spans(plan, model);
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(spans[0].markers, 3);
    EXPECT_EQ(spans[0].first, 0);
    EXPECT_EQ(spans[0].last, 3);
    EXPECT_EQ(spans[1].markers, 1);
    EXPECT_EQ(spans[1].first, 4);
    EXPECT_EQ(spans[1].lo, 2);  // the unused marker still bounds the level
    EXPECT_EQ(spans[2].markers, 4);
}

std::string drawn(const region_report& report) {
    FILE* f = std::tmpfile();
    draw_share_plot(f, report);
    const std::string text = testutil::read_back(f);
    std::fclose(f);
    return text;
}

size_t count_of(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// 800,000 windows of two terms: the picture stays small, has a panel per
// term, and the same inputs give the same bytes.
TEST(SharePlot, ManyWindowsStaySmallWithOnePanelPerTermAndTheSameBytes) {
    const int32_t windows = 800000;
    genomic_model model = model_of(2, windows + 1);
    model.windows = true;
    model.half_width = 10;
    share_sums sums;
    ASSERT_TRUE(start_share_sums(model, 0.001, sums));
    sums.counted = {1, 1};
    std::vector<group_span> spans(static_cast<size_t>(windows + 1));
    for (int32_t g = 0; g <= windows; ++g) {
        for (int32_t t = 0; t < 2; ++t)
            sums.sum[static_cast<size_t>(g * 2 + t)] = ((int64_t{g} * 7919 + t * 31) % 1000) * 1e-6;
        spans[static_cast<size_t>(g)] = {1, g, g, g, g, g / 200000};
    }
    block_context ctx;
    output_names names;
    names.block_name = "geno";
    const region_report report{model, ctx, names, sums, spans};
    const std::string svg = drawn(report);
    EXPECT_LT(svg.size(), 2u * 1024 * 1024);
    EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    EXPECT_EQ(count_of(svg, "<g id=\"panel"), 2u);
    EXPECT_EQ(count_of(svg, "<g"), count_of(svg, "</g>"));
    EXPECT_EQ(count_of(svg, "<text"), count_of(svg, "</text>"));
    EXPECT_EQ(count_of(svg, "<script"), 0u);
    EXPECT_EQ(count_of(svg, "geno: share of the genomic variance of b"), 1u);
    EXPECT_EQ(count_of(svg, "stroke-dasharray"), 2u);  // the threshold in each panel
    EXPECT_EQ(svg, drawn(report));
}

}  // namespace
