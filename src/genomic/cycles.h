// The cycle loop of tavogen: after the model scan, every saved cycle is read,
// computed and written; then the posterior summaries and output files.
#pragma once

#include <cstdio>
#include <string>

#include "genomic/exit_codes.h"
#include "genomic/terms.h"
#include "genomic/output.h"
#include "jobfile/dataset.h"

namespace tavo {

// What the run driver hands to the cycle loop. The loop takes over the
// sample file and the extra files and closes them; the log stays open.
struct cycle_io {
    file_ptr samples;          // the sample output file, open for reading
    std::string sample_file;
    file_ptr xsample;          // extra sample file, open for writing
    std::string xsample_file;
    file_ptr xlabel;           // extra label file, open for writing
    std::string xlabel_file;
    file_ptr gvalue;           // G-value file, opened before the first cycle
    FILE* log = nullptr;       // the run's log
    std::string log_file;
    output_names names;        // base name, block name and by= value from the command line
    double share = 0.001;      // threshold of the variance shares (share=)
    bool plot = false;         // write the picture of the shares (plot)
};

// Prepares the computation, opens the G-value file, walks the cycles and
// writes every output. Returns 0; ERR_MODEL_REFUSED when the model does not
// fit the data; 1 when the plan's arrays cannot be had; ERR_OUTPUT_FAILED when
// the G-value file cannot be opened (before any cycle is read);
// ERR_READING_STOPPED when the reading stopped for a problem or found no
// cycle; the interrupt code (130, 143) when a signal asked the run to end;
// ERR_OUTPUT_FAILED when a file cannot be written (this one wins over the
// others).
int run_cycles(genomic_model& model, const block_context& ctx, cycle_io& io);

}  // namespace tavo
