// Genomic values and variance matrices of one saved cycle, and the per-run
// plan they are computed from.
//
// Every value of (term, group, individual) receives its contributions in map
// order of the markers, whatever the loop nesting, and the ALL group is the
// sum of the by levels in group order (with windows: every marker once): with
// exactly representable inputs the results equal a hand computation to the
// last bit.
#include "genomic/compute.h"

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cassert>
#include <new>

#include "genomic/kernel.h"
#include "text/uninit.h"

namespace tavo {

namespace {

constexpr int32_t NO_LEVEL = -1;

// ---------------------------------------------------------------- the plan

// The by level of every marker, NO_LEVEL where its code is missing or not a
// level; all 0 when no by field is in use.
std::vector<int32_t> marker_levels(const block_context& ctx, const genomic_model& model) {
    std::vector<int32_t> levels(static_cast<size_t>(ctx.markers), 0);
    if (!(model.by || model.windows) || ctx.by_pos < 0) return levels;
    const datacol& by = fields(*ctx.map)[ctx.by_pos];
    int32_t L = by.nlevels;
    if (model.by && model.G < L) L = model.G;  // a group must exist for every level
    for (int32_t m = 0; m < ctx.markers; ++m) {
        const int32_t code = by.ints[m];
        levels[m] = (code >= 0 && code < L) ? code : NO_LEVEL;
    }
    return levels;
}

// Window range of marker m: at most h markers each way, never across a change
// of by level. The relation "m feeds window g" is symmetric, so the range is
// also the set of markers that window m holds.
void window_range(const std::vector<int32_t>& levels, int32_t m, int32_t h, marker_plan& out) {
    const int32_t M = static_cast<int32_t>(levels.size());
    int32_t lo = m;
    while (m - lo < h && lo > 0 && levels[lo - 1] == levels[m]) --lo;
    int32_t hi = m;
    while (hi - m < h && hi < M - 1 && levels[hi + 1] == levels[m]) ++hi;
    out.lo = lo;
    out.hi = hi;
}

void plan_markers(const block_context& ctx, const genomic_model& model, compute_plan& plan) {
    const std::vector<int32_t> levels = marker_levels(ctx, model);
    const bool genotypes = model.kind != model_kind::regression;
    const std::vector<int32_t>* used = genotypes ? &fields(*ctx.map)[ctx.used_pos].ints : nullptr;
    const std::vector<double>* freq1 = genotypes ? &fields(*ctx.map)[ctx.freq1_pos].reals : nullptr;
    const bool by_levels = (model.by || model.windows) && ctx.by_pos >= 0;
    int32_t effect = 0;
    for (int32_t m = 0; m < ctx.markers; ++m) {
        marker_plan& mp = plan.markers[m];
        mp.group = levels[m];
        if (by_levels && levels[m] == NO_LEVEL) ++plan.no_level;
        if (model.windows) window_range(levels, m, model.half_width, mp);
        if (!genotypes) {
            mp.effect = m;
            plan.covariates[m] = ctx.block->real_runs[m];
            continue;
        }
        plan.genotypes[m] = ctx.block->genotypes.run(m);
        const int32_t flag = (*used)[m];
        if (flag == 1) {
            mp.effect = effect;
            plan.codings[m] = code_marker((*freq1)[m], model.broad);
        }
        if (flag == 1 || flag == -1) ++effect;
    }
}

void count_individuals(const genomic_model& model, compute_plan& plan) {
    plan.counted = plan.N;
    if (model.no_record.size() != static_cast<size_t>(plan.N)) return;
    plan.no_record = model.no_record;
    for (int64_t i = 0; i < plan.N; ++i)
        if (!plan.no_record[i]) plan.counted_rows.push_back(i);
    plan.counted = static_cast<int64_t>(plan.counted_rows.size());
}

void size_plan(const genomic_model& model, compute_plan& plan) {
    const size_t M = static_cast<size_t>(plan.M);
    plan.markers.assign(M, marker_plan{});
    if (model.kind == model_kind::regression) {
        plan.covariates.assign(M, nullptr);
    } else {
        plan.codings.assign(M, marker_coding{});
        plan.genotypes.assign(M, nullptr);
    }
}

int64_t effect_length(const compute_plan& plan, const genomic_model& model) {
    return plan.kind == model_kind::regression ? plan.M : model.U;
}

// The contributing markers in the order the batched computation walks them.
void plan_order(compute_plan& plan) {
    plan.row_of.assign(static_cast<size_t>(plan.M), -1);
    plan.order.clear();
    const auto contributes = [&](int32_t m) {
        return plan.markers[m].effect >= 0 && plan.markers[m].group != NO_LEVEL;
    };
    if (plan.windows) {
        // ALL, walked by the value kernel as one group: each marker once.
        for (int32_t m = 0; m < plan.M; ++m)
            if (contributes(m)) plan.order.push_back(m);
        plan.group_begin = {0, static_cast<int64_t>(plan.order.size())};
    } else {
        std::vector<std::vector<int32_t>> groups(static_cast<size_t>(plan.G));
        for (int32_t m = 0; m < plan.M; ++m)
            if (contributes(m) && plan.markers[m].group < plan.G) groups[plan.markers[m].group].push_back(m);
        plan.group_begin.assign(static_cast<size_t>(plan.G) + 1, 0);
        for (int32_t g = 0; g < plan.G; ++g) {
            plan.order.insert(plan.order.end(), groups[g].begin(), groups[g].end());
            plan.group_begin[g + 1] = static_cast<int64_t>(plan.order.size());
        }
    }
    for (size_t p = 0; p < plan.order.size(); ++p) plan.row_of[plan.order[p]] = static_cast<int32_t>(p);
}

void add_to_sums(const std::vector<double>& values, std::vector<double>& sum, std::vector<double>& sumsq) {
    for (size_t k = 0; k < values.size(); ++k) {
        sum[k] += values[k];
        sumsq[k] += values[k] * values[k];
    }
}


}  // namespace

marker_coding code_marker(double p, bool broad) {
    marker_coding c;
    c.x[1] = 2 * p - 2;
    c.x[2] = 2 * p - 1;
    c.x[3] = 2 * p;
    const double het = 2 * p * (1 - p);
    if (broad) {
        c.d[1] = -het;
        c.d[2] = 1 - het;
        c.d[3] = -het;
    } else {
        c.d[1] = (2 * p - 2) * (2 * p - 1);
        c.d[2] = (2 * p - 1) * (2 * p - 1);
        c.d[3] = 2 * p * (2 * p - 1);
    }
    return c;
}

plan_status build_plan(const block_context& ctx, const genomic_model& model, compute_plan& out) {
    out = compute_plan{};
    // The model scan has checked the terms against the block and the map and
    // sized every array of the model (allocate_model_arrays).
    assert(static_cast<size_t>(model.T) == model.terms.size() && ctx.block != nullptr);
    assert(model.matrices.size() == static_cast<size_t>(model.T) * model.T * model.total_groups);
    out.kind = model.kind;
    out.N = model.N;
    out.T = model.T;
    out.M = ctx.markers;
    out.G = model.G;
    out.total_groups = model.total_groups;
    out.stored_groups = model.stored_groups;
    out.all_group = (model.windows || model.by) ? model.G : -1;
    out.windows = model.windows;
    try {
        count_individuals(model, out);
        size_plan(model, out);
        plan_markers(ctx, model, out);
        plan_order(out);
        if (out.windows && !build_window_band(out)) throw std::bad_alloc();
    } catch (const std::bad_alloc&) {
        out = compute_plan{};
        printf("! Problem allocating arrays ... insufficient memory\n");
        return plan_status::no_memory;
    }
    out.threads = std::max(model.threads, 1);
    out.effect_len = effect_length(out, model);
    out.fused = fused_kernels_available();
    return plan_status::ready;
}

int32_t no_level_markers(const compute_plan& plan) { return plan.no_level; }

std::vector<int32_t> records_without_block_data(const block_context& ctx) {
    if (ctx.filter == nullptr || ctx.blockset == nullptr || ctx.blockset->link_target != ctx.filter) return {};
    return ctx.blockset->unmatched;
}

void print_no_record_note(const block_context& ctx, FILE* log) {
    const size_t absent = records_without_block_data(ctx).size();
    if (absent == 0) return;
    const char* note =
        "Note: %d of %d individuals have no record in %s: they are left out of the variances and their genomic "
        "values are written as nan\n";
    const int n = ctx.filter->nrec;
    printf(note, static_cast<int>(absent), n, ctx.blockset->name.c_str());
    if (log != nullptr) fprintf(log, note, static_cast<int>(absent), n, ctx.blockset->name.c_str());
}

void print_no_level_note(const compute_plan& plan, FILE* log) {
    if (plan.no_level <= 0) return;
    const char* note = "Note: %d markers have no level of the by= field and are left out of every group\n";
    printf(note, plan.no_level);
    if (log != nullptr) fprintf(log, note, plan.no_level);
}

void* allocate_aligned(size_t bytes) {
    constexpr size_t LINE = 64;
    if (bytes >= 2 * LARGE_BLOCK_BYTES) {
        try {
            return allocate_large_block(bytes);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    return std::aligned_alloc(LINE, bytes > 0 ? (bytes + LINE - 1) / LINE * LINE : LINE);
}

int32_t batch_capacity(const compute_plan& plan) {
    constexpr int32_t WANTED_COLS = 128;
    constexpr double VALUE_BYTES = 512.0 * 1024 * 1024;  // stored values of a batch at most
    const int32_t T = std::max(plan.T, 1);
    int32_t capacity = std::max(1, WANTED_COLS / T);
    const double per_cycle = 8.0 * T * static_cast<double>(plan.stored_groups) * static_cast<double>(plan.N) +
                             8.0 * T * T * static_cast<double>(plan.total_groups);
    while (capacity > 1 && per_cycle * capacity > VALUE_BYTES) capacity /= 2;
    // Many groups (windows): the batch's matrices are fresh memory, each page
    // a fault on first touch; a smaller batch reuses fewer, warmer pages.
    constexpr double MATRIX_BYTES = 48.0 * 1024 * 1024;
    const double matrices = 8.0 * T * T * static_cast<double>(plan.total_groups);
    while (capacity > 1 && matrices * capacity > MATRIX_BYTES) capacity /= 2;
    return capacity;
}

bool make_batch(const compute_plan& plan, int32_t capacity, cycle_batch& batch) {
    batch = cycle_batch{};
    batch.capacity = std::max(capacity, 1);
    const int64_t T = plan.T;
    batch.cols = static_cast<int32_t>((batch.capacity * T + COL_BLOCK - 1) / COL_BLOCK * COL_BLOCK);
    batch.rows = (plan.N + 11) / 12 * 12;
    batch.effect_len = plan.effect_len;
    const int64_t per = plan.kind == model_kind::additive_dominance ? 2 : 1;
    const int64_t cells = T * T * plan.total_groups;
    try {
        // not cleared: load_slot writes a slot's effects whole before they are read
        batch.effects.resize(static_cast<size_t>(batch.capacity * T * per * batch.effect_len));
        // (without windows the kernels gather the effects block by block)
        batch.codings = static_cast<int64_t>(plan.order.size()) * per;
        batch.values.assign(static_cast<size_t>(plan.stored_groups) * batch.rows * batch.cols, 0.0);
        batch.matrices.assign(static_cast<size_t>(batch.capacity * cells), 0.0);
    } catch (const std::bad_alloc&) {
        batch = cycle_batch{};
        printf("! Problem allocating arrays ... insufficient memory\n");
        return false;
    }
    return true;
}

namespace {

// An effect vector into its len places of a slot (0 past its end).
void copy_effects(const std::vector<double>& effects, int64_t len, double* out) {
    const int64_t n = std::min<int64_t>(len, static_cast<int64_t>(effects.size()));
    std::copy_n(effects.begin(), n, out);
    std::fill(out + n, out + len, 0.0);
}

}  // namespace

void load_slot(const genomic_model& model, cycle_batch& batch) {
    const bool regression = model.kind == model_kind::regression;
    const bool dominance = model.kind == model_kind::additive_dominance;
    const int64_t per = dominance ? 2 : 1;
    const int64_t len = batch.effect_len;
    for (int32_t t = 0; t < model.T; ++t) {
        const genomic_term& term = model.terms[t];
        double* out = batch.effects.data() + ((static_cast<int64_t>(batch.count) * model.T + t) * per) * len;
        const std::vector<double>& first = regression ? term.reg_effects : term.add_effects;
        copy_effects(first, len, out);
        if (dominance) copy_effects(term.dom_effects, len, out + len);
    }
    ++batch.count;
}

void compute_batch(const compute_plan& plan, cycle_batch& batch) {
    if (batch.count == 0) return;
    if (plan.windows) {
        group_values(plan, batch, batch.values.data());
        window_values(plan, batch);
        return;
    }
    group_values(plan, batch, batch.values.data());
    const int32_t groups = plan.total_groups;
    const int32_t threads = std::max(1, std::min(plan.threads, groups));
    const size_t group_size = static_cast<size_t>(batch.rows) * batch.cols;
    std::atomic<int32_t> next{0};
    run_parallel(threads, [&](int32_t) {
        std::vector<double> scratch(2 * static_cast<size_t>(batch.cols), 0.0);
        for (int32_t g = next++; g < groups; g = next++)
            group_matrices(plan, batch.values.data() + g * group_size, batch.cols, batch.count, g,
                           batch.matrices.data(), scratch.data());
    });
}

void finish_slot(const compute_plan& plan, const cycle_batch& batch, int32_t slot, genomic_model& model) {
    const size_t N = static_cast<size_t>(plan.N);
    const size_t group_size = static_cast<size_t>(batch.rows) * batch.cols;
    for (int32_t t = 0; t < plan.T; ++t) {
        genomic_term& term = model.terms[t];
        const size_t column = static_cast<size_t>(slot) * plan.T + t;
        for (int32_t sg = 0; sg < plan.stored_groups; ++sg) {
            const double* v = batch.values.data() + sg * group_size + column;
            double* out = term.gvalues.data() + sg * N;
            for (size_t i = 0; i < N; ++i) out[i] = v[i * batch.cols];
        }
        add_to_sums(term.gvalues, term.gsum, term.gsumsq);
    }
    const size_t cells = model.matrices.size();
    std::copy_n(batch.matrices.begin() + slot * cells, cells, model.matrices.begin());
    add_to_sums(model.matrices, model.matrix_sum, model.matrix_sumsq);
    ++model.cycles;
}

void compute_cycle(compute_plan& plan, genomic_model& model) {
    cycle_batch batch;
    if (!make_batch(plan, 1, batch)) return;
    load_slot(model, batch);
    compute_batch(plan, batch);
    finish_slot(plan, batch, 0, model);
}

}  // namespace tavo
