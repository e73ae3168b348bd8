// The batched computation (blocked value kernel, sliding windows, threads,
// fused and plain kernels, any batch size) against the literal computation
// of the benchmarks (bench/literal_kernel.h), cycle by cycle, marker by
// marker in map order. Effects and frequencies are exactly representable and
// the sums stay exact, so every path must give the reference's bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "../../bench/literal_kernel.h"
#include "genomic/compute.h"
#include "genomic/kernel.h"
#include "genomic/model.h"
#include "support/genotype_codes.h"

namespace {

using namespace tavo;

enum class grouping { none, by, windows, windows_by };

struct config {
    model_kind kind = model_kind::additive;
    bool broad = false;
    grouping how = grouping::none;
    int32_t width = 0;  // window width
    int64_t N = 130;    // more than one row block, not a whole number of them
    int32_t M = 300;    // more than one marker panel, not a whole number of them
    int32_t T = 2;
    int32_t C = 7;
    bool inexact = false;  // effects of thirds: products and sums round
};

// Level of each marker: runs of 1, 1, 5, 1, 9, ... markers, with a few
// markers that have no level (-9999) between them.
std::vector<int32_t> marker_levels(int32_t M, int32_t& nlevels) {
    static const int32_t runs[] = {1, 1, 5, 1, 9, 2, 30, 1, 12};
    std::vector<int32_t> levels;
    int32_t level = 0;
    for (int32_t k = 0; static_cast<int32_t>(levels.size()) < M; ++k) {
        const int32_t run = runs[k % 9];
        for (int32_t j = 0; j < run && static_cast<int32_t>(levels.size()) < M; ++j) levels.push_back(level);
        if (k % 4 == 3 && static_cast<int32_t>(levels.size()) < M) levels.push_back(-9999);
        ++level;
    }
    nlevels = level;
    return levels;
}

double effect(int32_t c, int32_t t, int32_t e, int32_t kind) {
    return static_cast<double>((c * 7 + t * 13 + e * 5 + kind * 3) % 33 - 16) / 8.0;
}

struct fixture {
    config cf;
    dataset blockset;
    dataset map;
    datacol block;
    block_context ctx;
    genomic_model model;
    std::vector<int32_t> levels;
    int32_t nlevels = 0;
    std::vector<uint8_t> codes;  // the block's genotype codes as bytes, marker after marker

    void store_codes() { testutil::store_genotype_codes(block, codes, cf.M, cf.N); }

    explicit fixture(const config& c) : cf(c) {
        map.own_fields.resize(3);  // used, freq1, by
        map.nfields = 3;
        map.nrec = cf.M;
        blockset.nrec = static_cast<int32_t>(cf.N);
        ctx.blockset = &blockset;
        ctx.block = &block;
        ctx.map = &map;
        ctx.markers = cf.M;
        levels = marker_levels(cf.M, nlevels);
        const bool regression = cf.kind == model_kind::regression;
        if (regression) {
            block.type = field_type::real_block;
            block.reals.resize(static_cast<size_t>(cf.N) * cf.M);
            for (size_t k = 0; k < block.reals.size(); ++k)
                block.reals[k] = k % 9 == 4 ? MISSING_COVARIATE : static_cast<double>(k % 5) - 2.0;
            for (int32_t m = 0; m < cf.M; ++m) block.real_runs.push_back(block.reals.data() + m * cf.N);
        } else {
            block.type = field_type::genotype_block;
            codes.resize(static_cast<size_t>(cf.N) * cf.M);
            for (size_t k = 0; k < codes.size(); ++k)
                codes[k] = static_cast<uint8_t>(k % 7 == 3 ? 0 : 1 + (k * 2654435761u >> 7) % 3);
            store_codes();
            ctx.used_pos = 0;
            ctx.freq1_pos = 1;
            for (int32_t m = 0; m < cf.M; ++m) {
                fields(map)[0].ints.push_back(m % 11 == 5 ? 0 : m % 13 == 6 ? -1 : 1);
                fields(map)[1].reals.push_back(0.25 * (1 + m % 3));
            }
        }
        fields(map)[2].ints = levels;
        fields(map)[2].nlevels = nlevels;
        shape();
    }

    // The term table and arrays through the model description scan: T terms
    // on the block field "geno", as the run's options set the groups.
    void shape() {
        const bool regression = cf.kind == model_kind::regression;
        const int32_t len = regression ? cf.M : count_used();
        std::string description;
        for (int32_t t = 0; t < cf.T; ++t) {
            const std::string label = ".geno.t" + std::to_string(t) + " ";
            const std::string length = " " + std::to_string(len) + " 0 0 x$geno\n";
            description += regression ? "reg" + label + "3" + length : "add" + label + "5" + length;
            if (cf.kind == model_kind::additive_dominance) description += "dom" + label + "6" + length;
        }
        const bool windows = cf.how == grouping::windows || cf.how == grouping::windows_by;
        ctx.by_pos = (cf.how == grouping::by || cf.how == grouping::windows_by) ? 2 : -1;
        model_options opt;
        opt.block_name = "geno";
        opt.broad = cf.broad;
        opt.bywindow = windows ? cf.width : 0;
        FILE* mod = std::tmpfile();
        ASSERT_NE(mod, nullptr);
        std::fputs(description.c_str(), mod);
        std::rewind(mod);
        testing::internal::CaptureStdout();
        const int code = model_scan(mod, opt, ctx, model);
        std::fflush(stdout);
        const std::string console = testing::internal::GetCapturedStdout();
        std::fclose(mod);
        ASSERT_EQ(code, 0) << console;
    }

    int32_t count_used() const { return tavo::count_used(ctx); }

    void set_effects(int32_t c) {
        for (int32_t t = 0; t < cf.T; ++t) {
            genomic_term& term = model.terms[t];
            std::vector<double>& first = cf.kind == model_kind::regression ? term.reg_effects : term.add_effects;
            const double scale = cf.inexact ? 1.0 / 3.0 : 1.0;
            for (size_t e = 0; e < first.size(); ++e) first[e] = effect(c, t, static_cast<int32_t>(e), 0) * scale;
            for (size_t e = 0; e < term.dom_effects.size(); ++e)
                term.dom_effects[e] = effect(c, t, static_cast<int32_t>(e), 1) * scale;
        }
    }

    // The batched computation; cycles 0 .. last - 1.
    void run(int32_t capacity, int32_t threads, bool fused, int32_t last = -1, int32_t widest = 2) {
        if (last < 0) last = cf.C;
        model.threads = threads;
        compute_plan plan;
        ASSERT_EQ(build_plan(ctx, model, plan), plan_status::ready);
        plan.fused = fused && fused_kernels_available();
        plan.widest = widest;
        cycle_batch batch;
        ASSERT_TRUE(make_batch(plan, capacity, batch));
        for (int32_t c = 0; c < last; ++c) {
            set_effects(c);
            load_slot(model, batch);
            if (batch.count == batch.capacity || c + 1 == last) {
                compute_batch(plan, batch);
                for (int32_t s = 0; s < batch.count; ++s) finish_slot(plan, batch, s, model);
                batch.count = 0;
            }
        }
    }
};

// ------------------------------------------------------------ the reference

struct reference {
    std::vector<std::vector<double>> gvalues, gsum, gsumsq;  // per term: stored groups x N
    std::vector<double> matrix_sum, matrix_sumsq;
};

reference compute_reference(fixture& f, int32_t cycles) {
    const config& cf = f.cf;
    const genomic_model& model = f.model;
    const bool regression = cf.kind == model_kind::regression;
    const int32_t T = cf.T;
    const std::vector<int32_t> used = regression ? std::vector<int32_t>(cf.M, 1) : fields(f.map)[0].ints;
    tavo_bench::literal_input in;
    in.N = cf.N;
    in.M = cf.M;
    in.T = T;
    in.U = regression ? cf.M : model.U;
    in.dominance = cf.kind == model_kind::additive_dominance;
    in.broad = cf.broad;
    in.window = model.windows ? cf.width : 0;
    in.by = f.ctx.by_pos >= 0;  // markers without a level (-9999) feed no group
    in.levels = f.nlevels;
    in.used = used.data();
    in.freq1 = fields(f.map)[1].reals.data();
    in.level = f.levels.data();
    in.genotypes = f.codes.data();
    if (regression) in.covariates = f.block.reals.data();
    in.missing = MISSING_COVARIATE;
    tavo_bench::literal_state s;
    EXPECT_TRUE(tavo_bench::literal_setup(in, s));
    std::vector<double> add(static_cast<size_t>(T) * in.U), dom(add.size());
    for (int32_t c = 0; c < cycles; ++c) {
        f.set_effects(c);
        for (int32_t t = 0; t < T; ++t) {
            const genomic_term& term = model.terms[t];
            const std::vector<double>& first = regression ? term.reg_effects : term.add_effects;
            std::copy(first.begin(), first.begin() + in.U, add.begin() + t * in.U);
            if (in.dominance) std::copy(term.dom_effects.begin(), term.dom_effects.end(), dom.begin() + t * in.U);
        }
        tavo_bench::literal_cycle(in, add.data(), dom.data(), s);
    }
    // The stored groups: with windows ALL alone, the last.
    const size_t first = static_cast<size_t>(model.total_groups - model.stored_groups) * cf.N;
    reference ref;
    for (int32_t t = 0; t < T; ++t) {
        ref.gvalues.emplace_back(s.values[t].begin() + first, s.values[t].end());
        ref.gsum.emplace_back(s.sum[t].begin() + first, s.sum[t].end());
        ref.gsumsq.emplace_back(s.sumsq[t].begin() + first, s.sumsq[t].end());
    }
    ref.matrix_sum = s.matrix_sum;
    ref.matrix_sumsq = s.matrix_sumsq;
    return ref;
}

// Bit for bit (NaN correlations of zero variances compare equal as NaN).
void expect_same(const std::vector<double>& got, const std::vector<double>& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t k = 0; k < got.size(); ++k) {
        if (std::isnan(want[k]) && std::isnan(got[k])) continue;
        ASSERT_EQ(got[k], want[k]) << what << " at " << k;
    }
}

// The window matrices come from banded cross-products, not from the
// individuals' values: they match the reference within rounding only.
void expect_close(const genomic_model& model, const std::vector<double>& got, const std::vector<double>& want,
                  const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    const size_t cells = static_cast<size_t>(model.T) * model.T;
    for (size_t k = 0; k < got.size(); ++k) {
        if (std::isnan(want[k]) && std::isnan(got[k])) continue;
        if (!model.windows || k / cells == static_cast<size_t>(model.G)) {
            ASSERT_EQ(got[k], want[k]) << what << " at " << k;  // ALL: the value kernel's bits
            continue;
        }
        ASSERT_NEAR(got[k], want[k], 1e-9 * (1 + std::fabs(want[k]))) << what << " at " << k;
    }
}

void expect_matches(const fixture& f, const reference& ref, const std::string& what) {
    expect_close(f.model, f.model.matrix_sum, ref.matrix_sum, what + ": matrix sums");
    expect_close(f.model, f.model.matrix_sumsq, ref.matrix_sumsq, what + ": matrix sums of squares");
    for (int32_t t = 0; t < f.cf.T; ++t) {
        expect_same(f.model.terms[t].gsum, ref.gsum[t], what + ": value sums");
        expect_same(f.model.terms[t].gsumsq, ref.gsumsq[t], what + ": value sums of squares");
        expect_same(f.model.terms[t].gvalues, ref.gvalues[t], what + ": last values");
    }
}

std::string describe(const config& cf, int32_t capacity, int32_t threads, bool fused) {
    return "kind " + std::to_string(static_cast<int>(cf.kind)) + (cf.broad ? " broad" : "") + " grouping " +
           std::to_string(static_cast<int>(cf.how)) + " width " + std::to_string(cf.width) + " batch " +
           std::to_string(capacity) + " threads " + std::to_string(threads) + (fused ? " fused" : " plain");
}

void check_every_path(const config& cf) {
    fixture probe(cf);
    const reference ref = compute_reference(probe, cf.C);
    for (int32_t capacity : {1, 3, 200})
        for (int32_t threads : {1, 2, 3})
            for (bool fused : {false, true}) {
                fixture f(cf);
                f.run(capacity, threads, fused);
                expect_matches(f, ref, describe(cf, capacity, threads, fused));
                if (::testing::Test::HasFatalFailure()) return;
            }
}

TEST(BatchedComputation, AdditiveAndDominanceWithoutGroupsMatchTheReference) {
    for (model_kind kind : {model_kind::additive, model_kind::additive_dominance})
        for (bool broad : {false, true}) {
            config cf;
            cf.kind = kind;
            cf.broad = broad;
            check_every_path(cf);
        }
}

TEST(BatchedComputation, FewIndividualsLeaveTheKernelRowsPartlyEmpty) {
    // 0: no individuals at all; 5: fewer than a kernel's rows; 17 and 29: a
    // last panel whose codes end inside the wide load of a whole panel.
    for (int64_t N : {0, 5, 17, 29})
        for (model_kind kind : {model_kind::additive, model_kind::additive_dominance}) {
            config cf;
            cf.kind = kind;
            cf.N = N;
            cf.M = 70;
            check_every_path(cf);
        }
}

TEST(BatchedComputation, SeveralChunksOfIndividualsWithAPartialLastOne) {
    // Threads take chunks of several row blocks and walk the markers over a
    // whole chunk: two whole chunks, then one of a partial row block.
    for (grouping how : {grouping::none, grouping::by}) {
        config cf;
        cf.kind = model_kind::additive_dominance;
        cf.how = how;
        cf.N = 2 * ROW_CHUNK + 101;
        cf.T = 1;
        cf.C = 3;
        check_every_path(cf);
    }
}

TEST(BatchedComputation, NarrowerKernelsGiveTheSameResults) {
    // The AVX2 and the generic kernels (chosen on machines without AVX-512)
    // run here too: partial panels of their own row counts, groups, windows.
    for (int32_t widest : {0, 1})
        for (grouping how : {grouping::none, grouping::by, grouping::windows_by})
            for (int64_t N : {29, 130}) {
                config cf;
                cf.kind = how == grouping::none ? model_kind::additive : model_kind::additive_dominance;
                cf.how = how;
                cf.width = 5;
                cf.N = N;
                fixture probe(cf);
                const reference ref = compute_reference(probe, cf.C);
                for (int32_t threads : {1, 2})
                    for (bool fused : {false, true}) {
                        fixture f(cf);
                        f.run(3, threads, fused, -1, widest);
                        expect_matches(f, ref, describe(cf, 3, threads, fused) + " widest " + std::to_string(widest));
                        if (::testing::Test::HasFatalFailure()) return;
                    }
            }
}

TEST(BatchedComputation, ByLevelsWithOneMarkerLevelsAndMarkersWithoutALevel) {
    config cf;
    cf.kind = model_kind::additive_dominance;
    cf.how = grouping::by;
    check_every_path(cf);
}

// Results that round: every batch size and thread count gives the bits of
// one cycle at a time on one thread (plain and fused each), close to the
// marker-by-marker reference.
void check_paths_agree(const config& cf) {
    fixture probe(cf);
    const reference ref = compute_reference(probe, cf.C);
    for (bool fused : {false, true}) {
        fixture first(cf);
        first.run(1, 1, fused);
        reference one;
        one.matrix_sum = first.model.matrix_sum;
        for (const genomic_term& t : first.model.terms) one.gsum.push_back(t.gsum);
        for (size_t k = 0; k < ref.matrix_sum.size(); ++k) {
            if (std::isnan(ref.matrix_sum[k]) && std::isnan(one.matrix_sum[k])) continue;  // no variance
            ASSERT_NEAR(one.matrix_sum[k], ref.matrix_sum[k], 1e-9 * (1 + std::fabs(ref.matrix_sum[k])));
        }
        for (int32_t capacity : {3, 200})
            for (int32_t threads : {1, 2, 3, 4}) {  // windows: 2-3 threads hand runs on, 4 share them
                fixture f(cf);
                f.run(capacity, threads, fused);
                const std::string what = describe(cf, capacity, threads, fused);
                expect_same(f.model.matrix_sum, one.matrix_sum, what + ": matrix sums");
                for (int32_t t = 0; t < cf.T; ++t) expect_same(f.model.terms[t].gsum, one.gsum[t], what + ": value sums");
                if (::testing::Test::HasFatalFailure()) return;
            }
    }
}

TEST(BatchedComputation, RoundedResultsDoNotDependOnBatchOrThreads) {
    for (grouping how : {grouping::none, grouping::by, grouping::windows_by})
        for (int32_t T : {1, 3}) {
            config cf;
            cf.kind = model_kind::additive_dominance;
            cf.how = how;
            cf.width = 21;
            cf.T = T;
            cf.inexact = true;
            check_paths_agree(cf);
        }
}

TEST(BatchedComputation, SlidingWindowsMatchWindowByWindowSums) {
    config cf;
    cf.kind = model_kind::additive_dominance;
    cf.how = grouping::windows;
    for (int32_t width : {1, 5, 21, 2 * cf.M + 1}) {  // the last is wider than the map
        cf.width = width;
        check_every_path(cf);
    }
}

TEST(BatchedComputation, WindowsStopAtByLevelsWiderThanTheLevels) {
    config cf;
    cf.how = grouping::windows_by;
    cf.width = 7;
    check_every_path(cf);
    cf.N = 5;  // fewer individuals than a kernel's rows
    cf.T = 1;
    check_every_path(cf);
}

TEST(BatchedComputation, WindowsWalkedInBlocksOfIndividualsKeepTheirSums) {
    // Enough individuals for several blocks of a walk (the last one partial)
    // and enough windows for several runs between exact restarts; one term
    // (cross sums column by column) and three (per pair of terms).
    config cf;
    cf.how = grouping::windows_by;
    cf.width = 9;
    cf.N = 301;
    cf.M = 150;
    cf.C = 5;
    for (int32_t T : {1, 3}) {
        cf.T = T;
        check_every_path(cf);
    }
}

TEST(BatchedComputation, CovariateBlocksWithMissingValuesAndWindows) {
    config cf;
    cf.kind = model_kind::regression;
    check_every_path(cf);
    cf.how = grouping::windows;
    cf.width = 9;
    check_every_path(cf);
}

TEST(BatchedComputation, AStopInsideABatchKeepsTheCyclesBeforeIt) {
    config cf;
    cf.how = grouping::windows;
    cf.width = 3;
    fixture probe(cf);
    const reference ref = compute_reference(probe, 4);
    fixture f(cf);
    f.run(3, 2, false, 4);  // one full batch of 3 and one cycle of the next
    expect_matches(f, ref, "stop after 4 cycles");
    EXPECT_EQ(f.model.cycles, 4);
}

// Individuals the block data set has no record for (every code missing, as
// the join leaves them) are passed over: the matrices are those of a run
// over the others alone, bit for bit, and so are the others' values.
bool absent_individual(const config& cf, int64_t i) { return i % 4 == 1 || i == cf.N - 1; }

// f's block with the absent individuals' codes missing; g's block the others'.
void blank_and_compact(const config& cf, fixture& f, fixture& g) {
    const bool regression = cf.kind == model_kind::regression;
    f.model.no_record.assign(static_cast<size_t>(cf.N), 0);
    int64_t k = 0;
    for (int64_t i = 0; i < cf.N; ++i) {
        const bool absent = absent_individual(cf, i);
        f.model.no_record[static_cast<size_t>(i)] = absent ? 1 : 0;
        for (int32_t m = 0; m < cf.M; ++m) {
            const size_t from = static_cast<size_t>(m * cf.N + i);
            const size_t to = static_cast<size_t>(m * g.cf.N + k);
            if (absent && regression) f.block.reals[from] = MISSING_COVARIATE;
            if (absent && !regression) f.codes[from] = 0;
            if (!absent && regression) g.block.reals[to] = f.block.reals[from];
            if (!absent && !regression) g.codes[to] = f.codes[from];
        }
        if (!absent) ++k;
    }
    if (!regression) {
        f.store_codes();
        g.store_codes();
    }
}

void check_absent_left_out(const config& cf) {
    config small = cf;
    small.N = 0;
    for (int64_t i = 0; i < cf.N; ++i) small.N += absent_individual(cf, i) ? 0 : 1;
    for (int32_t threads : {1, 2}) {
        fixture f(cf);
        fixture g(small);
        blank_and_compact(cf, f, g);
        f.run(3, threads, false);
        g.run(3, threads, false);
        const std::string what = describe(cf, 3, threads, false) + " with absent individuals";
        expect_same(f.model.matrix_sum, g.model.matrix_sum, what + ": matrix sums");
        expect_same(f.model.matrix_sumsq, g.model.matrix_sumsq, what + ": matrix sums of squares");
        for (int32_t t = 0; t < cf.T; ++t)
            for (int64_t sg = 0, k = 0; sg < f.model.stored_groups; ++sg, k = 0)
                for (int64_t i = 0; i < cf.N; ++i) {
                    if (absent_individual(cf, i)) continue;
                    ASSERT_EQ(f.model.terms[t].gsum[sg * cf.N + i], g.model.terms[t].gsum[sg * small.N + k++]) << what;
                }
    }
}

TEST(BatchedComputation, IndividualsWithoutRecordAreLeftOutOfTheMatrices) {
    config cf;
    cf.kind = model_kind::additive_dominance;
    for (grouping how : {grouping::none, grouping::by, grouping::windows_by}) {
        cf.how = how;
        cf.width = 7;
        check_absent_left_out(cf);
    }
    cf.kind = model_kind::regression;
    cf.how = grouping::windows;
    cf.T = 1;
    check_absent_left_out(cf);
}

TEST(BatchedComputation, BatchCapacityFollowsTheTermsAndTheMemory) {
    config cf;
    fixture f(cf);
    compute_plan plan;
    ASSERT_EQ(build_plan(f.ctx, f.model, plan), plan_status::ready);
    EXPECT_EQ(batch_capacity(plan), 64);  // two terms
    plan.N = int64_t{1} << 26;            // the stored values of one cycle alone fill the budget
    EXPECT_EQ(batch_capacity(plan), 1);
}

}  // namespace
