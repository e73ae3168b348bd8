// The value walk: genomic values of a batch of cycles as a blocked product
// of the markers' coded genotypes (individuals x codings) and the packed
// effects (codings x columns), group by group. Threads take chunks of rows;
// within a chunk the walk goes over a group's markers a block at a time,
// copying their codes and gathering their effects, and hands each block of
// markers and rows to the table kernel (kernel_table.cpp) or the product
// kernels (kernel_micro.cpp).
//
// Each value accumulates its contributions one coding at a time in the plan's
// order (map order within a group, additive before dominance), starting at 0,
// product then sum: the same roundings as adding marker after marker, for any
// block sizes and any number of threads. The fused kernels form each product
// and sum in one rounding instead (within the tolerance of the program).

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "genomic/kernel_internal.h"

namespace tavo {

namespace {

// Rows row0 .. row1 of markers order[p0 .. p1) into out (stride bytes apart),
// a byte per code. Chunks start at whole table kernel rows, so row0 starts a
// byte of the two-bit runs; the bytes after the last row (up to the next
// multiple of 4) get the runs' padding code 0, and the stride has room.
static_assert(TABLE_ROWS % CODES_PER_BYTE == 0, "chunks start at whole bytes of the two-bit runs");
void copy_codes(const compute_plan& plan, int64_t p0, int64_t p1, int64_t row0, int64_t row1, int64_t stride,
                uint8_t* out) {
    const int64_t n = std::min(row1, plan.N) - row0;
    if (n <= 0) return;
    for (int64_t p = p0; p < p1; ++p) unpack_genotype_codes(plan.genotypes[plan.order[p]], row0, n, out + (p - p0) * stride);
}

// A thread's work space.
struct kernel_space {
    aligned_doubles panel;          // coded values of a row block and marker block
    std::vector<uint32_t> offsets;  // table offsets of a row block and marker block
    aligned_doubles tables;         // the marker block's tables, one per column block
    aligned_doubles effects;        // the marker block's effects (effect_rows)
    // Genotype codes for the chunk's rows: the block of markers worked on,
    // and the next block, copied a share at a time while this one is worked
    // on (two buffers, swapped).
    std::vector<uint8_t> codes[2];
    int32_t current = 0;
    int64_t code_stride = 0;
    int64_t ahead_q0 = -1;    // first marker of the next block (-1: none under way)
    int64_t ahead_end = -1;   // its end
    int64_t ahead_done = -1;  // its markers copied so far end here
    int64_t ahead_row0 = -1;  // the chunk it is copied for
};

// The rows a thread takes at a time. It walks the marker blocks over all of
// them, so a marker block's effects or tables are prepared once per chunk
// and the chunk's values stay in the core's cache.
struct row_chunk {
    int64_t begin = 0;
    int64_t end = 0;
};

int64_t row_blocks(const row_chunk& chunk) { return (chunk.end - chunk.begin + ROW_BLOCK - 1) / ROW_BLOCK; }

// The markers whose codes are copied at a time; a marker block of the
// kernels lies within one such block.
constexpr int64_t CODE_MARKERS = 128;
static_assert(CODE_MARKERS % MARKER_BLOCK == 0 && CODE_MARKERS % TABLE_ENTRIES == 0, "no marker block straddles two");

// The codes of markers order[p0 .. p1) for the chunk's rows in the thread's
// space (nothing with covariates): the buffer copied ahead when it holds
// them (completed if need be), else a fresh copy. The next block's copy is
// then set under way.
code_rows marker_block_codes(const compute_plan& plan, const row_chunk& chunk, int64_t p0, int64_t p1,
                             int64_t group_end, kernel_space& space) {
    code_rows src;
    if (plan.kind == model_kind::regression) return src;
    const int64_t stride = space.code_stride;
    if (space.ahead_q0 == p0 && space.ahead_row0 == chunk.begin && space.ahead_end == p1) {
        space.current = 1 - space.current;
        uint8_t* buffer = space.codes[space.current].data();
        copy_codes(plan, space.ahead_done, p1, chunk.begin, chunk.end, stride, buffer + (space.ahead_done - p0) * stride);
    } else {
        copy_codes(plan, p0, p1, chunk.begin, chunk.end, stride, space.codes[space.current].data());
    }
    space.ahead_q0 = p1;
    space.ahead_end = std::min(p1 + CODE_MARKERS, group_end);
    space.ahead_done = p1;
    space.ahead_row0 = chunk.begin;
    src.data = space.codes[space.current].data();
    src.stride = stride;
    src.p0 = p0;
    src.row0 = chunk.begin;
    return src;
}

// Share k of `shares` of the next block's codes into the other buffer.
void copy_ahead(const compute_plan& plan, const row_chunk& chunk, int64_t k, int64_t shares, kernel_space& space) {
    if (plan.kind == model_kind::regression || space.ahead_end <= space.ahead_q0) return;
    const int64_t n = space.ahead_end - space.ahead_q0;
    const int64_t b = space.ahead_q0 + n * (k + 1) / shares;
    if (b <= space.ahead_done) return;
    uint8_t* buffer = space.codes[1 - space.current].data();
    copy_codes(plan, space.ahead_done, b, chunk.begin, chunk.end, space.code_stride,
               buffer + (space.ahead_done - space.ahead_q0) * space.code_stride);
    space.ahead_done = b;
}

// The codes and effects of the markers of a group, a block of CODE_MARKERS
// at a time: at step k of a block's `steps` (a marker block and a row
// block), share k of the next block's codes is copied ahead.
struct code_walk {
    int64_t q0 = 0, q1 = 0;  // the markers copied
    int64_t step = 0;
    int64_t steps = 1;
};

code_walk start_code_block(const compute_plan& plan, const cycle_batch& batch, const row_chunk& chunk, int64_t q0,
                           int64_t group_end, int64_t marker_step, int32_t used_cols, kernel_space& space,
                           code_rows& src, effect_rows& eff) {
    code_walk w;
    w.q0 = q0;
    w.q1 = std::min(q0 + CODE_MARKERS, group_end);
    w.steps = (w.q1 - w.q0 + marker_step - 1) / marker_step * row_blocks(chunk);
    src = marker_block_codes(plan, chunk, w.q0, w.q1, group_end, space);
    const int32_t per = codings_per_marker(plan);
    gather_effects(plan, batch, w.q0, w.q1, used_cols, space.effects.data());
    eff = effect_rows{space.effects.data(), (w.q1 - w.q0) * per * COL_BLOCK, w.q0 * per};
    return w;
}

void next_step(const compute_plan& plan, const row_chunk& chunk, code_walk& w, kernel_space& space) {
    copy_ahead(plan, chunk, w.step++, w.steps, space);
}

// The markers of group g over a chunk, `step` at a time (a marker block):
// prepare(src, eff, p0, p1) once per marker block, then
// rows(src, eff, p0, p1, i0, nrows, values of row i0) per row block.
template <class Prepare, class Rows>
void walk_markers(const compute_plan& plan, const cycle_batch& batch, int32_t g, const row_chunk& chunk,
                  int64_t step, int32_t used_cols, double* c, kernel_space& space, Prepare prepare, Rows rows) {
    const int64_t group_end = plan.group_begin[g + 1];
    code_rows src;
    effect_rows eff;
    code_walk walk;
    for (int64_t p0 = plan.group_begin[g]; p0 < group_end; p0 += step) {
        if (p0 == plan.group_begin[g] || p0 >= walk.q1)
            walk = start_code_block(plan, batch, chunk, p0, group_end, step, used_cols, space, src, eff);
        const int64_t p1 = std::min(p0 + step, walk.q1);
        prepare(src, eff, p0, p1);
        for (int64_t i0 = chunk.begin; i0 < chunk.end; i0 += ROW_BLOCK) {
            next_step(plan, chunk, walk, space);
            rows(src, eff, p0, p1, i0, std::min(ROW_BLOCK, chunk.end - i0), c + (i0 - chunk.begin) * batch.cols);
        }
    }
}

// One group's values of a chunk through the tables.
void table_chunk(const compute_plan& plan, const cycle_batch& batch, int32_t g, const row_chunk& chunk,
                 int32_t used_cols, double* c, kernel_space& space) {
    const int32_t per = table_entries_per_marker(plan);
    auto prepare = [&](const code_rows&, const effect_rows& eff, int64_t p0, int64_t p1) {
        build_tables(plan, eff, p0, p1, used_cols, space.tables.data());
    };
    auto rows = [&](const code_rows& src, const effect_rows&, int64_t p0, int64_t p1, int64_t i0, int64_t nrows,
                    double* out) {
        table_rows(plan, src, p0, p1, i0, nrows, used_cols, space.tables.data(), space.offsets.data(), out,
                   batch.cols);
    };
    walk_markers(plan, batch, g, chunk, TABLE_ENTRIES / per, used_cols, c, space, prepare, rows);
}

// One group's values of a chunk through the products.
void product_chunk(const compute_plan& plan, const cycle_batch& batch, const kernel_choice& kernel, int32_t g,
                   const row_chunk& chunk, int32_t used_cols, double* c, kernel_space& space) {
    const int32_t per = codings_per_marker(plan);
    auto prepare = [](const code_rows&, const effect_rows&, int64_t, int64_t) {};
    auto rows = [&](const code_rows& src, const effect_rows& eff, int64_t p0, int64_t p1, int64_t i0, int64_t nrows,
                    double* out) {
        const int64_t ncod = (p1 - p0) * per;
        pack_codes(plan, src, p0, p1, i0, nrows, kernel.mr, space.panel.data());
        for (int32_t j = 0; j < used_cols; j += COL_BLOCK) {
            const double* e = effect_row(eff, p0 * per, j);
            for (int64_t r0 = 0; r0 < nrows; r0 += kernel.mr)
                kernel.fn(ncod, space.panel.data() + (r0 / kernel.mr) * ncod * kernel.mr, e, COL_BLOCK,
                          out + r0 * batch.cols + j, batch.cols);
        }
    };
    walk_markers(plan, batch, g, chunk, MARKER_BLOCK, used_cols, c, space, prepare, rows);
}

// One chunk of rows: every group's values, then ALL.
void chunk_values(const compute_plan& plan, const cycle_batch& batch, const kernel_choice& kernel,
                  const row_chunk& chunk, double* values, kernel_space& space) {
    const int32_t cols = batch.cols;
    const int32_t used_cols = ((batch.count * static_cast<int32_t>(plan.T) + COL_BLOCK - 1) / COL_BLOCK) * COL_BLOCK;
    const size_t group_size = static_cast<size_t>(batch.rows) * cols;
    const int64_t cells = (chunk.end - chunk.begin) * cols;
    // With windows the one group walked is ALL: every contributing marker once.
    const int32_t groups = plan.windows ? 1 : plan.G;
    for (int32_t g = 0; g < groups; ++g) {
        double* c = values + g * group_size + chunk.begin * cols;
        std::fill(c, c + cells, 0.0);
        if (kernel.table)
            table_chunk(plan, batch, g, chunk, used_cols, c, space);
        else
            product_chunk(plan, batch, kernel, g, chunk, used_cols, c, space);
    }
    if (plan.all_group < 0 || plan.windows) return;
    double* all = values + plan.G * group_size + chunk.begin * cols;
    std::fill(all, all + cells, 0.0);
    for (int32_t g = 0; g < plan.G; ++g) {
        const double* v = values + g * group_size + chunk.begin * cols;
        for (int64_t k = 0; k < cells; ++k) all[k] += v[k];
    }
}

void size_space(const compute_plan& plan, const cycle_batch& batch, const kernel_choice& kernel,
                int64_t chunk_rows, kernel_space& space) {
    const int64_t col_blocks = batch.cols / COL_BLOCK;
    space.effects.assign(static_cast<size_t>(CODE_MARKERS * codings_per_marker(plan) * batch.cols), 0.0);
    if (plan.kind != model_kind::regression) {
        // room for a 16-byte load at the chunk's last whole panel
        space.code_stride = (chunk_rows + 16 + 63) / 64 * 64;  // also the up to 3 codes unpacked past the rows
        for (std::vector<uint8_t>& buffer : space.codes)
            buffer.assign(static_cast<size_t>(CODE_MARKERS * space.code_stride), 0);
    }
    if (kernel.table) {
        space.offsets.assign(static_cast<size_t>(ROW_BLOCK * TABLE_ENTRIES), 0);
        space.tables.assign(static_cast<size_t>(col_blocks * TABLE_DOUBLES), 0.0);
        return;
    }
    const int64_t ncod = MARKER_BLOCK * codings_per_marker(plan);
    space.panel.assign(static_cast<size_t>(ROW_BLOCK * ncod), 0.0);
}

}  // namespace

void run_parallel(int32_t threads, const std::function<void(int32_t)>& body) {
    std::vector<std::thread> team;
    for (int32_t k = 1; k < threads; ++k) team.emplace_back(body, k);
    body(0);
    for (std::thread& t : team) t.join();
}

void gather_effects(const compute_plan& plan, const cycle_batch& batch, int64_t q0, int64_t q1, int32_t cols,
                    double* out) {
    const int32_t per = codings_per_marker(plan);
    const int64_t len = batch.effect_len;
    const int32_t filled = batch.count * plan.T;
    // A column block at a time: its effect vectors are read along, its rows
    // written in order.
    for (int32_t c = 0; c < cols; c += COL_BLOCK) {
        const int32_t width = std::clamp(filled - c, 0, COL_BLOCK);
        double* dst = out + (c / COL_BLOCK) * (q1 - q0) * per * COL_BLOCK;
        for (int64_t p = q0; p < q1; ++p) {
            const int32_t e = plan.markers[plan.order[p]].effect;
            for (int32_t j = 0; j < per; ++j, dst += COL_BLOCK) {
                const double* in = batch.effects.data() + (static_cast<int64_t>(c) * per + j) * len + e;
                for (int32_t k = 0; k < width; ++k) dst[k] = in[k * per * len];
                std::fill(dst + width, dst + COL_BLOCK, 0.0);
            }
        }
    }
}

void group_values(const compute_plan& plan, const cycle_batch& batch, double* values) {
    const kernel_choice kernel = choose_kernel(plan);
    const int64_t panels = batch.rows / TABLE_ROWS;
    if (panels == 0) return;
    const int32_t threads = static_cast<int32_t>(std::min<int64_t>(std::max(plan.threads, 1), panels));
    // Chunks of equal size in whole kernel rows: at most ROW_CHUNK rows, as
    // many as the threads or a multiple of that.
    int64_t chunks = std::max<int64_t>(threads, (batch.rows + ROW_CHUNK - 1) / ROW_CHUNK);
    chunks = (chunks + threads - 1) / threads * threads;
    const int64_t chunk_rows = (panels + chunks - 1) / chunks * TABLE_ROWS;
    chunks = (batch.rows + chunk_rows - 1) / chunk_rows;
    std::atomic<int64_t> next{0};
    run_parallel(threads, [&](int32_t) {
        kernel_space space;
        size_space(plan, batch, kernel, chunk_rows, space);
        for (int64_t k = next++; k < chunks; k = next++) {
            const row_chunk chunk{k * chunk_rows, std::min((k + 1) * chunk_rows, batch.rows)};
            chunk_values(plan, batch, kernel, chunk, values, space);
        }
    });
}

}  // namespace tavo
