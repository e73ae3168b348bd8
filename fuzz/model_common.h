// A block data set of four individuals with a three-marker block field and a
// marker map (key, used, freq1, a by factor of two levels), built by hand as
// the model description scan sees them after loading.
#pragma once

#include <string>
#include <vector>

#include "genomic/model.h"

namespace fuzzing {

struct scan_context {
    tavo::dataset blockset;
    tavo::dataset map;
    std::vector<std::string> keys{"snp1", "snp2", "snp3"};
    tavo::block_context ctx;

    scan_context() {
        blockset.nrec = 4;
        blockset.own_fields.resize(1);
        map.own_fields.resize(4);
        map.keycol = 0;
        for (const std::string& key : keys) fields(map)[0].texts.push_back(key.c_str());
        fields(map)[1].ints = {1, 1, 1};
        fields(map)[2].reals = {0.5, 0.25, 0.75};
        fields(map)[3].type = tavo::field_type::coded_factor;
        fields(map)[3].ints = {1, 2, 1};
        fields(map)[3].nlevels = 2;
        map.nrec = ctx.markers = 3;
        ctx.blockset = &blockset;
        ctx.map = &map;
        ctx.used_pos = 1;
        ctx.freq1_pos = 2;
        ctx.block = &fields(blockset)[0];
        ctx.block->type = tavo::field_type::genotype_block;
    }
};

}  // namespace fuzzing
