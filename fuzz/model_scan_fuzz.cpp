// The model description scan over arbitrary bytes. The first byte picks the
// run options (fit. names, broad dominance, by field, windows, a covariate
// block) so that every path of the scan is reachable.
#include "fuzz_support.h"
#include "model_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static fuzzing::scan_context scene;
    const uint8_t pick = data[0];
    tavo::model_options opt;
    opt.block_name = "geno";
    opt.usefit = pick & 1;
    opt.broad = pick & 2;
    opt.bywindow = (pick & 4) ? 3 : 0;
    opt.model_file = "run.mod";
    opt.sample_file = "run.out";
    opt.sample_bytes = 4096;
    scene.ctx.by_pos = (pick & 8) ? 3 : -1;
    scene.ctx.block->type = (pick & 16) ? tavo::field_type::real_block : tavo::field_type::genotype_block;
    std::string keep;
    fuzzing::file_ptr mod = fuzzing::open_bytes(data + 1, size - 1, keep);
    tavo::genomic_model model;
    tavo::model_scan(mod.get(), opt, scene.ctx, model);
    return 0;
}
