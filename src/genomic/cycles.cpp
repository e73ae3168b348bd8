// The cycle loop: read a cycle, compute it, write its record; then the
// summaries.
#include "genomic/cycles.h"

#include <string>
#include <vector>

#include "genomic/compute.h"
#include "genomic/regions.h"
#include "genomic/progress.h"
#include "genomic/retrieve.h"

namespace tavo {

namespace {

constexpr int PLAN_NO_MEMORY = 1;  // one failed allocation

int prepare(const block_context& ctx, const genomic_model& model, compute_plan& plan) {
    switch (build_plan(ctx, model, plan)) {
    case plan_status::ready:
        return 0;
    case plan_status::no_memory:
        return PLAN_NO_MEMORY;
    }
    return PLAN_NO_MEMORY;
}

// The cycles of a full batch (or the last one): computed together, then
// finished and written one by one in cycle order.
void flush_batch(const compute_plan& plan, cycle_batch& batch, std::vector<int32_t>& numbers,
                 genomic_model& model, const std::vector<matrix_entry>& order, cycle_io& io, share_sums& shares) {
    compute_batch(plan, batch);
    for (int32_t slot = 0; slot < batch.count; ++slot) {
        finish_slot(plan, batch, slot, model);
        add_cycle_shares(model, shares);
        write_cycle_record(io.xsample.get(), model, order, numbers[slot]);
    }
    batch.count = 0;
    numbers.clear();
}

// Reads cycle after cycle into the batch and computes each full batch; false
// when the reading stopped for a problem. A cycle's progress number is shown
// once it is read: the console then shows the numbers and the reader's
// problem messages in reading order, and every cycle read before a stop is
// still computed and written.
bool walk_cycles(compute_plan& plan, cycle_batch& batch, genomic_model& model, cycle_io& io, share_sums& shares) {
    sample_reader reader;
    start_reading(reader, io.samples.get(), io.sample_file);
    const std::vector<matrix_entry> order = label_order(model.T);
    std::vector<int32_t> numbers;
    cycle_progress progress = start_progress(io.samples.get());
    bool stopped = false;
    for (;;) {
        const cycle_read got = read_cycle(reader, model);
        if (got == cycle_read::end) break;
        if (got == cycle_read::problem) {
            stopped = true;
            break;
        }
        load_slot(model, batch);
        numbers.push_back(reader.cycle);
        show_cycle(progress, reader.cycle);
        if (batch.count == batch.capacity) flush_batch(plan, batch, numbers, model, order, io, shares);
    }
    flush_batch(plan, batch, numbers, model, order, io, shares);
    end_progress(progress);
    std::printf("\n");
    io.samples.reset();
    return !stopped;
}

// The summaries after the last cycle: console count, log table, the best
// regions, extra label line, G-value file, the table of every group and the
// plot. A file that fails does not keep the others from being written.
int write_summaries(const genomic_model& model, const block_context& ctx, cycle_io& io, const compute_plan& plan,
                    const share_sums& shares) {
    std::printf("%lld output samples processed\n", static_cast<long long>(model.cycles));
    if (io.log) write_log_table(io.log, model, ctx, io.names);
    const std::vector<group_span> spans = group_spans(plan, model);
    const region_report report{model, ctx, io.names, shares, spans};
    print_best_regions(report, io.log);
    if (io.xlabel) write_label_line(io.xlabel.get(), model, ctx, io.names.by_name);
    int code = write_gvalue_file(model, ctx, io.names);
    if (int table = write_gvar_table(report, io.log)) code = table;
    if (io.plot)
        if (int picture = write_share_plot(report, io.log)) code = picture;
    return code;
}

// Every output file must have been written in full.
int check_outputs(cycle_io& io) {
    bool fine = close_output(io.xsample, io.xsample_file);
    fine = close_output(io.xlabel, io.xlabel_file) && fine;
    fine = check_output(io.log, io.log_file) && fine;
    return fine ? 0 : ERR_OUTPUT_FAILED;
}

}  // namespace

int run_cycles(genomic_model& model, const block_context& ctx, cycle_io& io) {
    compute_plan plan;
    if (int code = prepare(ctx, model, plan)) return code;
    cycle_batch batch;
    if (!make_batch(plan, batch_capacity(plan), batch)) return PLAN_NO_MEMORY;
    share_sums shares;
    if (!start_share_sums(model, io.share, shares)) {
        std::printf("! Problem allocating arrays ... insufficient memory\n");
        return PLAN_NO_MEMORY;
    }
    print_no_level_note(plan, io.log);
    std::printf("Reading output from MCMC cycle\n");
    int code = 0;
    if (!walk_cycles(plan, batch, model, io, shares)) {
        code = ERR_READING_STOPPED;
    } else if (model.cycles == 0) {
        std::printf("! No MCMC cycles found in %s\n", io.sample_file.c_str());
        code = ERR_READING_STOPPED;
    } else {
        code = write_summaries(model, ctx, io, plan, shares);
    }
    if (int written = check_outputs(io)) code = written;
    return code;
}

}  // namespace tavo
