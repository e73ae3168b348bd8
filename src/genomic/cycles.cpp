// The cycle loop: read a cycle, compute it, write its record; then the
// summaries.
#include "genomic/cycles.h"

#include <string>
#include <vector>

#include "genomic/compute.h"
#include "genomic/regions.h"
#include "genomic/progress.h"
#include "genomic/retrieve.h"
#include "text/interrupt.h"

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
        write_cycle_record(io.xsample.get(), model, order, numbers[slot], plan.threads);
    }
    batch.count = 0;
    numbers.clear();
}

enum class walk_end : uint8_t { done, stopped, interrupted };

// Reads cycle after cycle into the batch and computes each full batch. A
// cycle's progress number is shown once it is read: the console then shows
// the numbers and the reader's problem messages in reading order, and every
// cycle read before a stop is still computed and written. A signal to end
// the run is looked at per line read (by the reader) and per batch.
walk_end walk_cycles(compute_plan& plan, cycle_batch& batch, genomic_model& model, cycle_io& io, share_sums& shares) {
    sample_reader reader;
    start_reading(reader, io.samples.get(), io.sample_file);
    const std::vector<matrix_entry> order = label_order(model.T);
    std::vector<int32_t> numbers;
    cycle_progress progress = start_progress(io.samples.get());
    walk_end how = walk_end::done;
    for (;;) {
        const cycle_read got = read_cycle(reader, model);
        if (got == cycle_read::end) break;
        if (got == cycle_read::problem || got == cycle_read::interrupted) {
            how = got == cycle_read::problem ? walk_end::stopped : walk_end::interrupted;
            break;
        }
        load_slot(model, batch);
        numbers.push_back(reader.cycle);
        show_cycle(progress, reader.cycle);
        if (batch.count == batch.capacity) flush_batch(plan, batch, numbers, model, order, io, shares);
        if (interrupt_signal() != 0) {
            how = walk_end::interrupted;
            break;
        }
    }
    if (how != walk_end::interrupted) flush_batch(plan, batch, numbers, model, order, io, shares);
    end_progress(progress);
    std::printf("\n");
    io.samples.reset();
    return how;
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
    int code = write_gvalue_file(io.gvalue, gvalue_file_name(model, io.names), model, ctx);
    if (int table = write_gvar_table(report, io.log)) code = table;
    if (io.plot)
        if (int picture = write_share_plot(report, io.log)) code = picture;
    return code;
}

// The G-value file is made before the first cycle, so that one that cannot
// be written stops the run before the cycles are computed.
int open_gvalue_file(const genomic_model& model, cycle_io& io) {
    if (io.gvalue) return 0;
    const std::string name = gvalue_file_name(model, io.names);
    io.gvalue = open_output(io.names, name);
    if (io.gvalue) return 0;
    std::printf("! Problem opening file (%s) for writing\n", name.c_str());
    return ERR_OUTPUT_FAILED;
}

// Every output file must have been written in full.
int check_outputs(const genomic_model& model, cycle_io& io) {
    bool fine = close_output(io.xsample, io.xsample_file);
    fine = close_output(io.gvalue, gvalue_file_name(model, io.names)) && fine;
    fine = close_output(io.xlabel, io.xlabel_file) && fine;
    fine = check_output(io.log, io.log_file) && fine;
    return fine ? 0 : ERR_OUTPUT_FAILED;
}

// The cycles, then the summaries when every cycle was read.
int read_and_summarise(compute_plan& plan, cycle_batch& batch, genomic_model& model, const block_context& ctx,
                       cycle_io& io, share_sums& shares) {
    std::printf("Reading output from MCMC cycle\n");
    const walk_end how = walk_cycles(plan, batch, model, io, shares);
    if (how == walk_end::stopped) return ERR_READING_STOPPED;
    if (how == walk_end::interrupted) return interrupt_code();
    if (model.cycles == 0) {
        std::printf("! No MCMC cycles found in %s\n", io.sample_file.c_str());
        return ERR_READING_STOPPED;
    }
    return write_summaries(model, ctx, io, plan, shares);
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
    int code = open_gvalue_file(model, io);
    if (code == 0) code = read_and_summarise(plan, batch, model, ctx, io, shares);
    if (int written = check_outputs(model, io)) code = written;
    return code;
}

}  // namespace tavo
