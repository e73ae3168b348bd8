// The term table of the genomic post-analysis: the model terms built on the
// block field, the groups of markers, and the arrays of the computation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jobfile/dataset.h"

namespace tavo {

// What the block field location hands on to the model scan and the computation.
struct block_context {
    dataset* filter = nullptr;    // identifier filter data set, or none
    dataset* blockset = nullptr;  // the data set holding the block field; its records are the individuals
    datacol* block = nullptr;     // the block field (type g or B)
    dataset* map = nullptr;       // marker map: one record per block column
    int32_t by_pos = -1;          // by= field among the map's fields, -1 none
    int32_t alleles_pos = 0;      // alleles, used and freq1 fields of the map (genotype blocks; 0 otherwise)
    int32_t used_pos = 0;
    int32_t freq1_pos = 0;
    int32_t markers = 0;          // record count of the marker map
};

enum class model_kind : uint8_t { regression, additive, additive_dominance };

// One genomic term: one model term of the block field (with its paired
// dominance term), its effect vectors of the current cycle and its values.
struct genomic_term {
    std::string label;       // name after its last ".", used in every heading
    std::string add_name;    // searched in the sample file ("fit." prefixed with usefit)
    std::string dom_name;
    std::string reg_name;
    int32_t add_len = 0;
    int32_t dom_len = 0;
    int32_t reg_len = 0;
    int32_t found_add = 0;   // per cycle: lines found for each name
    int32_t found_dom = 0;
    int32_t found_reg = 0;
    std::vector<double> add_effects;
    std::vector<double> dom_effects;
    std::vector<double> reg_effects;
    // Genomic values of the current cycle and their running sums and sums of
    // squares: N values per stored group, group-major.
    std::vector<double> gvalues;
    std::vector<double> gsum;
    std::vector<double> gsumsq;
};

struct genomic_model {
    model_kind kind = model_kind::additive;
    std::vector<genomic_term> terms;
    int32_t T = 0;              // number of terms
    int64_t N = 0;              // individuals: records of the block data set
    int32_t G = 1;              // real groups
    int32_t total_groups = 1;   // G, plus the ALL group when there are several
    int32_t half_width = 0;     // (bywindow - 1) / 2 with windows
    int32_t U = 0;              // used markers (used = 1 or -1)
    bool broad = false;         // dominance in the broad sense
    bool windows = false;       // bywindow= grouping
    bool by = false;            // by= grouping without windows
    // Groups whose genomic values are held in the terms' arrays: all groups,
    // except with windows, where only the ALL group's values are read by any
    // output (each window's values live only while its matrix is formed).
    int32_t stored_groups = 1;
    // Variance matrices of the current cycle, running sums and sums of squares:
    // T x T per group, row-major; covariances on and below the diagonal,
    // correlations above.
    std::vector<double> matrices;
    std::vector<double> matrix_sum;
    std::vector<double> matrix_sumsq;
    int64_t cycles = 0;         // cycles processed
    int32_t threads = 1;        // threads of the computation (threads= option)
    // Per individual, 1 when the block data set has no record for it (it was
    // set missing when joined to the identifier filter): left out of every
    // mean and (co)variance, its genomic values written as nan. Empty when
    // every individual has a record.
    std::vector<uint8_t> no_record;
};

}  // namespace tavo
