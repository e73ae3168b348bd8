// Genomic values and variance matrices of one cycle, against hand-computed
// small cases (effects and frequencies exactly representable).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "genomic/compute.h"
#include "genomic/model.h"
#include "support/genotype_codes.h"

namespace {

using namespace tavo;

enum class grouping { none, by, windows };

// A block data set, a marker map and a term table built by hand, shaped as the
// loader and the model scan leave them.
struct fixture {
    dataset blockset;
    dataset map;
    datacol block;
    block_context ctx;
    genomic_model model;

    fixture() {
        map.own_fields.resize(3);  // used, freq1, by
        map.nfields = 3;
        ctx.blockset = &blockset;
        ctx.block = &block;
        ctx.map = &map;
        ctx.used_pos = 0;
        ctx.freq1_pos = 1;
    }

    // codes[m][i]: genotype code of individual i at marker m.
    void genotypes(const std::vector<std::vector<uint8_t>>& codes) {
        block.type = field_type::genotype_block;
        blockset.nrec = static_cast<int32_t>(codes[0].size());
        ctx.markers = map.nrec = static_cast<int32_t>(codes.size());
        ASSERT_TRUE(testutil::store_genotype_codes(block, codes));
        fields(map)[0].ints.assign(codes.size(), 1);
        fields(map)[1].reals.assign(codes.size(), 0.5);
    }

    void covariates(const std::vector<std::vector<double>>& columns) {
        block.type = field_type::real_block;
        blockset.nrec = static_cast<int32_t>(columns[0].size());
        ctx.markers = map.nrec = static_cast<int32_t>(columns.size());
        for (const auto& run : columns) block.reals.insert(block.reals.end(), run.begin(), run.end());
        for (size_t m = 0; m < columns.size(); ++m) block.real_runs.push_back(block.reals.data() + m * blockset.nrec);
        ctx.used_pos = ctx.freq1_pos = 0;
    }

    void levels(const std::vector<int32_t>& codes, int32_t nlevels) {
        fields(map)[2].ints = codes;
        fields(map)[2].nlevels = nlevels;
        ctx.by_pos = 2;
    }

    // The term table as the model scan leaves it, its arrays sized by the scan's own sizing.
    void shape(model_kind kind, int32_t T, grouping how = grouping::none, int32_t width = 0) {
        model.kind = kind;
        model.T = T;
        model.N = blockset.nrec;
        model.broad = false;
        if (how == grouping::by) {
            model.by = true;
            model.G = fields(map)[2].nlevels;
        } else if (how == grouping::windows) {
            model.windows = true;
            model.G = ctx.markers;
            model.half_width = (width - 1) / 2;
        }
        model.total_groups = how == grouping::none ? 1 : model.G + 1;
        model.stored_groups = how == grouping::windows ? 1 : model.total_groups;
        model.U = kind == model_kind::regression ? 0 : count_used(ctx);
        model.terms.assign(T, genomic_term{});
        ASSERT_EQ(allocate_model_arrays(model), 0);
    }

    compute_plan plan;
    void run() {
        ASSERT_EQ(build_plan(ctx, model, plan), plan_status::ready);
        compute_cycle(plan, model);
    }

    std::vector<double> values(int32_t t, int32_t g) const {
        const auto& v = model.terms[t].gvalues;
        return {v.begin() + g * model.N, v.begin() + (g + 1) * model.N};
    }
    double cell(int32_t g, int32_t r, int32_t c) const {
        return model.matrices[(static_cast<size_t>(g) * model.T + r) * model.T + c];
    }
};

using values = std::vector<double>;

// Sample variance of hand-computed values (divisor N - 1).
double sample_variance(const values& v) {
    double mean = 0;
    for (double x : v) mean += x;
    mean /= v.size();
    double ss = 0;
    for (double x : v) ss += (x - mean) * (x - mean);
    return ss / (v.size() - 1);
}

// Three markers, four individuals: x is -1/0/1 at p = 0.5, -1.5/-0.5/0.5 at p = 0.25.
void three_markers(fixture& f) {
    f.genotypes({{1, 2, 3, 0}, {3, 3, 1, 2}, {2, 1, 3, 3}});
    fields(f.map)[1].reals = {0.5, 0.5, 0.25};
}

TEST(ComputeCycle, OneAdditiveTermGivesSampleVariance) {
    fixture f;
    three_markers(f);
    f.shape(model_kind::additive, 1);
    f.model.terms[0].add_effects = {1, 0.5, 2};
    f.run();
    const values v = {-1.5, -2.5, 1.5, 1};  // missing genotype of individual 3 at marker 0 adds nothing
    EXPECT_EQ(f.values(0, 0), v);
    EXPECT_DOUBLE_EQ(f.cell(0, 0, 0), 11.1875 / 3);
    EXPECT_EQ(f.model.terms[0].gsum, v);
    EXPECT_EQ(f.model.terms[0].gsumsq, (values{2.25, 6.25, 2.25, 1}));
    EXPECT_EQ(f.model.matrix_sum[0], f.cell(0, 0, 0));
    EXPECT_EQ(f.model.cycles, 1);
}

TEST(ComputeCycle, TwoTermsCovarianceBelowCorrelationAbove) {
    fixture f;
    three_markers(f);
    f.shape(model_kind::additive, 2);
    f.model.terms[0].add_effects = {1, 0.5, 2};
    f.model.terms[1].add_effects = {0, 1, -1};
    f.run();
    EXPECT_EQ(f.values(1, 0), (values{1.5, 2.5, -1.5, -0.5}));
    const double var0 = 11.1875 / 3, var1 = 10.0 / 3, cov = -10.5 / 3;
    EXPECT_DOUBLE_EQ(f.cell(0, 0, 0), var0);
    EXPECT_DOUBLE_EQ(f.cell(0, 1, 1), var1);
    EXPECT_DOUBLE_EQ(f.cell(0, 1, 0), cov);
    EXPECT_DOUBLE_EQ(f.cell(0, 0, 1), cov / std::sqrt(var0 * var1));
}

TEST(ComputeCycle, MarkerCodingNarrowAndBroad) {
    const marker_coding narrow = code_marker(0.25, false);
    EXPECT_EQ(std::vector<double>(narrow.x, narrow.x + 4), (values{0, -1.5, -0.5, 0.5}));
    EXPECT_EQ(std::vector<double>(narrow.d, narrow.d + 4), (values{0, 0.75, 0.25, -0.25}));
    const marker_coding broad = code_marker(0.25, true);
    EXPECT_EQ(std::vector<double>(broad.d, broad.d + 4), (values{0, -0.375, 0.625, -0.375}));
    const marker_coding half = code_marker(0.5, false);
    EXPECT_EQ(std::vector<double>(half.d, half.d + 4), (values{0, 0, 0, 0}));
    const marker_coding half_broad = code_marker(0.5, true);
    EXPECT_EQ(std::vector<double>(half_broad.d, half_broad.d + 4), (values{0, -0.5, 0.5, -0.5}));
}

// Two markers at p = 0.5; individual 4 is missing everywhere.
void dominance_case(fixture& f, bool broad) {
    f.genotypes({{1, 2, 3, 0, 0}, {2, 2, 1, 3, 0}});
    f.shape(model_kind::additive_dominance, 1);
    f.model.broad = broad;
    f.model.terms[0].add_effects = {1, 2};
    f.model.terms[0].dom_effects = {4, 2};
    f.run();
}

TEST(ComputeCycle, AdditiveAndDominanceNarrowAndBroad) {
    fixture narrow;
    dominance_case(narrow, false);
    EXPECT_EQ(narrow.values(0, 0), (values{-1, 0, -1, 2, 0}));  // narrow d is 0 at p = 0.5
    fixture broad;
    dominance_case(broad, true);
    const values v = {-2, 3, -4, 1, 0};
    EXPECT_EQ(broad.values(0, 0), v);
    EXPECT_DOUBLE_EQ(broad.cell(0, 0, 0), sample_variance(v));
}

TEST(ComputeCycle, UsedFlagsDecideContributionAndEffectIndex) {
    fixture f;  // used 1, -1, 0, 1: effect index 1 is taken by the -1 marker, marker 3 reads index 2
    f.genotypes({{3, 1, 2}, {3, 3, 3}, {3, 3, 3}, {1, 3, 3}});
    fields(f.map)[0].ints = {1, -1, 0, 1};
    f.shape(model_kind::additive, 1);
    ASSERT_EQ(f.model.U, 3);
    f.model.terms[0].add_effects = {1, 100, 2};
    f.run();
    EXPECT_EQ(f.values(0, 0), (values{-1, 1, 2}));

    fixture g;  // used 2 counts as 0: no contribution, no advance
    g.genotypes({{3, 1, 2}, {3, 3, 3}, {1, 3, 3}});
    fields(g.map)[0].ints = {1, 2, 1};
    g.shape(model_kind::additive, 1);
    ASSERT_EQ(g.model.U, 2);
    g.model.terms[0].add_effects = {1, 2};
    g.run();
    EXPECT_EQ(g.values(0, 0), (values{-1, 1, 2}));
    EXPECT_EQ(g.plan.markers[1].effect, -1);
    EXPECT_EQ(g.plan.markers[2].effect, 1);
}

// Five markers at p = 0.5, each coding individuals as x = 1, -1, 0, with
// effects 1, 2, 4, 8, 16: a group holding effects summing to S has values
// (S, -S, 0) and variance S * S.
void ladder(fixture& f) {
    f.genotypes(std::vector<std::vector<uint8_t>>(5, {3, 1, 2}));
}
void ladder_effects(fixture& f) { f.model.terms[0].add_effects = {1, 2, 4, 8, 16}; }

TEST(ComputeCycle, ByGroupsWithAll) {
    fixture f;
    ladder(f);
    f.levels({0, 1, 0, 1, 1}, 2);
    f.shape(model_kind::additive, 1, grouping::by);
    ladder_effects(f);
    f.run();
    EXPECT_EQ(f.values(0, 0), (values{5, -5, 0}));
    EXPECT_EQ(f.values(0, 1), (values{26, -26, 0}));
    EXPECT_EQ(f.values(0, 2), (values{31, -31, 0}));
    EXPECT_EQ(f.cell(0, 0, 0), 25);
    EXPECT_EQ(f.cell(1, 0, 0), 676);
    EXPECT_EQ(f.cell(2, 0, 0), 961);
    EXPECT_EQ(f.model.terms[0].gsum.size(), 9u);

    fixture one;  // a by field of one level: ALL equals group 0
    ladder(one);
    one.levels({0, 0, 0, 0, 0}, 1);
    one.shape(model_kind::additive, 1, grouping::by);
    ladder_effects(one);
    one.run();
    EXPECT_EQ(one.values(0, 0), one.values(0, 1));
    EXPECT_EQ(one.cell(0, 0, 0), one.cell(1, 0, 0));
}

std::vector<double> window_variances(const fixture& f) {
    std::vector<double> out;
    for (int32_t g = 0; g < f.model.total_groups; ++g) out.push_back(f.cell(g, 0, 0));
    return out;
}

TEST(ComputeCycle, WindowsWithoutByField) {
    fixture f;
    ladder(f);
    f.shape(model_kind::additive, 1, grouping::windows, 3);
    ladder_effects(f);
    f.run();
    EXPECT_EQ(f.plan.markers[0].lo, 0);  // marker 0 feeds windows 0 and 1
    EXPECT_EQ(f.plan.markers[0].hi, 1);
    EXPECT_EQ(f.plan.markers[4].lo, 3);  // the last marker feeds the last two
    EXPECT_EQ(f.plan.markers[4].hi, 4);
    // windows hold 1+2, 1+2+4, 2+4+8, 4+8+16, 8+16; ALL counts each marker once
    EXPECT_EQ(window_variances(f), (values{9, 49, 196, 784, 576, 31 * 31}));
    EXPECT_EQ(f.values(0, 0), (values{31, -31, 0}));  // only ALL is stored
    EXPECT_EQ(f.model.terms[0].gsum, (values{31, -31, 0}));
}

TEST(ComputeCycle, WindowsStopAtByLevelBorders) {
    fixture f;
    ladder(f);
    f.levels({0, 0, 0, 1, 1}, 2);
    f.shape(model_kind::additive, 1, grouping::windows, 3);
    ladder_effects(f);
    f.run();
    EXPECT_EQ(f.plan.markers[2].hi, 2);  // the first marker of level 1 feeds no window of level 0
    EXPECT_EQ(f.plan.markers[3].lo, 3);
    EXPECT_EQ(window_variances(f), (values{9, 49, 36, 576, 576, 31 * 31}));
}

TEST(ComputeCycle, MarkersWithoutByLevelBelongToNoGroup) {
    fixture f;  // marker 1 missing, marker 3 not a level; marker 2 still reads effect index 2
    f.genotypes(std::vector<std::vector<uint8_t>>(4, {3, 1, 2}));
    f.levels({0, -9999, 1, 5}, 2);
    f.shape(model_kind::additive, 1, grouping::by);
    f.model.terms[0].add_effects = {1, 2, 4, 8};
    f.run();
    EXPECT_EQ(f.values(0, 0), (values{1, -1, 0}));
    EXPECT_EQ(f.values(0, 1), (values{4, -4, 0}));
    EXPECT_EQ(f.values(0, 2), (values{5, -5, 0}));
    EXPECT_EQ(no_level_markers(f.plan), 2);

    FILE* log = tmpfile();
    ASSERT_NE(log, nullptr);
    testing::internal::CaptureStdout();
    print_no_level_note(f.plan, log);
    const std::string note = "Note: 2 markers have no level of the by= field and are left out of every group\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), note);
    rewind(log);
    char line[200] = {};
    ASSERT_NE(fgets(line, sizeof line, log), nullptr);
    EXPECT_EQ(std::string(line), note);
    fclose(log);
}

TEST(ComputeCycle, WindowsStopAtMarkersWithoutByLevel) {
    fixture f;
    ladder(f);
    f.levels({0, 0, -1, 0, 0}, 1);
    f.shape(model_kind::additive, 1, grouping::windows, 5);
    ladder_effects(f);
    f.run();
    EXPECT_EQ(f.plan.markers[1].hi, 1);
    EXPECT_EQ(f.plan.markers[3].lo, 3);
    // window 2 holds only its own marker, which feeds nothing: variance 0; nor
    // does it feed ALL
    EXPECT_EQ(window_variances(f), (values{9, 9, 0, 576, 576, 27 * 27}));
    testing::internal::CaptureStdout();
    print_no_level_note(f.plan, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Note: 1 markers have no level of the by= field and are left out of every group\n");
}

TEST(ComputeCycle, CovariateBlockSkipsMissingCovariates) {
    fixture f;
    f.covariates({{1, MISSING_COVARIATE, 2}, {0.5, 1, MISSING_COVARIATE}});
    f.shape(model_kind::regression, 1);
    f.model.terms[0].reg_effects = {2, 8};
    f.run();
    EXPECT_EQ(f.values(0, 0), (values{6, 8, 4}));
    EXPECT_EQ(f.cell(0, 0, 0), 4);

    fixture w;  // with windows a covariate column feeds the windows that hold it
    w.covariates(std::vector<std::vector<double>>(3, {1, -1, MISSING_COVARIATE}));
    w.shape(model_kind::regression, 1, grouping::windows, 3);
    w.model.terms[0].reg_effects = {1, 2, 4};
    w.run();
    EXPECT_EQ(window_variances(w), (values{9, 49, 36, 7 * 7}));
}

TEST(ComputeCycle, RunningSumsOverTwoCycles) {
    fixture f;
    three_markers(f);
    f.shape(model_kind::additive, 1);
    f.model.terms[0].add_effects = {1, 0.5, 2};
    f.run();
    const double var1 = f.cell(0, 0, 0);
    f.model.terms[0].add_effects = {0, 1, -1};
    compute_cycle(f.plan, f.model);
    const values second = {1.5, 2.5, -1.5, -0.5};
    EXPECT_EQ(f.values(0, 0), second);  // values restart every cycle
    EXPECT_EQ(f.model.terms[0].gsum, (values{0, 0, 0, 0.5}));
    EXPECT_EQ(f.model.terms[0].gsumsq, (values{4.5, 12.5, 4.5, 1.25}));
    EXPECT_DOUBLE_EQ(f.model.matrix_sum[0], var1 + 10.0 / 3);
    EXPECT_DOUBLE_EQ(f.model.matrix_sumsq[0], var1 * var1 + 100.0 / 9);
    EXPECT_EQ(f.model.cycles, 2);
}

}  // namespace
