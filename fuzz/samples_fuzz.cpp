// tavogen's sample reader: every cycle of arbitrary bytes read into the
// effect vectors of a model of two additive and dominance terms over three
// markers (scanned once from a fixed model description).
#include <cstdlib>

#include "fuzz_support.h"
#include "genomic/retrieve.h"
#include "model_common.h"

namespace {

tavo::genomic_model& scanned_model() {
    static fuzzing::scan_context scene;
    static tavo::genomic_model model = [] {
        const std::string mod = "mu 1 1 0 0 mean\n"
                                "add.geno.a 5 3 0 0 x$geno\ndom.geno.a 6 3 1 2 d$geno\n"
                                "add.geno.b 5 3 0 0 x$geno\ndom.geno.b 6 3 1 2 d$geno\n";
        std::string keep;
        fuzzing::file_ptr in = fuzzing::open_bytes(reinterpret_cast<const uint8_t*>(mod.data()), mod.size(), keep);
        tavo::model_options opt;
        opt.block_name = "geno";
        tavo::genomic_model m;
        if (tavo::model_scan(in.get(), opt, scene.ctx, m) != 0) std::abort();
        return m;
    }();
    return model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tavo::genomic_model& model = scanned_model();
    std::string keep;
    fuzzing::file_ptr in = fuzzing::open_bytes(data, size, keep);
    tavo::sample_reader reader;
    // A small chunk makes lines cross the buffer's end and the buffer grow.
    tavo::start_reading(reader, in.get(), "run.out", 64);
    while (tavo::read_cycle(reader, model) == tavo::cycle_read::complete) {
    }
    return 0;
}
