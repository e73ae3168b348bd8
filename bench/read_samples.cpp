// read_samples: reads a run's sample output file cycle by cycle the way
// tavogen's cycle loop does, and nothing else, timing the sample reading.
//
//   read_samples SAMPLEFILE MODELFILE [REPEATS]
//
// The terms are taken from the model description without a marker map: each
// line of type 5 (additive) is a term whose effect vector has the line's
// length; a line of type 6 (dominance) joins the additive term with the same
// last word, and makes the model one of additive and dominance terms; lines
// of type 3 (regression) are terms of a regression model. The file is read
// REPEATS times (default 3) from a warm page cache and the fastest pass is
// reported on standard error as one line
//   "read_samples: cycles C status S sample_bytes B read_s X read_MB/s R cpu_s Y"
// (wall time, and the process's CPU time of the same pass, which a busy
// machine inflates less). Status 0: every cycle complete up to the end of the file.
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "genomic/terms.h"
#include "genomic/retrieve.h"

namespace {

using namespace tavo;

constexpr int REGRESSION_TYPE = 3;
constexpr int ADDITIVE_TYPE = 5;
constexpr int DOMINANCE_TYPE = 6;

genomic_term* term_labelled(genomic_model& model, const std::string& label) {
    for (genomic_term& term : model.terms)
        if (term.label == label) return &term;
    return nullptr;
}

// The terms of every additive, dominance and regression line of the model
// description; false when it names none.
bool read_terms(const std::string& path, genomic_model& model) {
    std::ifstream in(path);
    std::string line;
    bool dominance = false, regression = false;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name, last, word;
        int type = 0, length = 0;
        if (!(words >> name >> type >> length)) continue;
        while (words >> word) last = word;
        if (length <= 0) continue;
        if (type == ADDITIVE_TYPE || type == REGRESSION_TYPE) {
            genomic_term term;
            term.label = last;
            if (type == ADDITIVE_TYPE) {
                term.add_name = name;
                term.add_len = length;
                term.add_effects.assign(static_cast<size_t>(length), 0.0);
                model.U = length;
            } else {
                regression = true;
                term.reg_name = name;
                term.reg_len = length;
                term.reg_effects.assign(static_cast<size_t>(length), 0.0);
            }
            model.terms.push_back(std::move(term));
        } else if (type == DOMINANCE_TYPE) {
            genomic_term* term = term_labelled(model, last);
            if (!term) continue;
            dominance = true;
            term->dom_name = name;
            term->dom_len = length;
            term->dom_effects.assign(static_cast<size_t>(length), 0.0);
        }
    }
    model.kind = regression ? model_kind::regression
                 : dominance ? model_kind::additive_dominance
                             : model_kind::additive;
    model.T = static_cast<int32_t>(model.terms.size());
    return !model.terms.empty();
}

int64_t file_size(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
}

struct pass_result {
    int64_t cycles = 0;
    int status = 0;
    double seconds = 0;
    double cpu_seconds = 0;
};

pass_result read_all(const std::string& samples, genomic_model& model) {
    pass_result result;
    std::FILE* in = std::fopen(samples.c_str(), "rb");
    if (!in) {
        std::perror(samples.c_str());
        result.status = 2;
        return result;
    }
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu_start = std::clock();
    sample_reader reader;
    start_reading(reader, in, samples);
    cycle_read got;
    while ((got = read_cycle(reader, model)) == cycle_read::complete) ++result.cycles;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.cpu_seconds = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    result.status = got == cycle_read::end ? 0 : 1;
    std::fclose(in);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: read_samples SAMPLEFILE MODELFILE [REPEATS]\n");
        return 2;
    }
    const std::string samples = argv[1];
    const int repeats = argc == 4 ? std::atoi(argv[3]) : 3;
    genomic_model model;
    if (!read_terms(argv[2], model)) {
        std::fprintf(stderr, "read_samples: no additive or regression term in %s\n", argv[2]);
        return 3;
    }
    pass_result best;
    for (int pass = 0; pass < (repeats > 0 ? repeats : 1); ++pass) {
        const pass_result r = read_all(samples, model);
        if (pass == 0 || r.seconds < best.seconds) best = r;
    }
    const int64_t bytes = file_size(samples);
    std::fflush(stdout);
    std::fprintf(stderr,
                 "read_samples: cycles %lld status %d sample_bytes %lld read_s %.3f read_MB/s %.1f cpu_s %.3f\n",
                 static_cast<long long>(best.cycles), best.status, static_cast<long long>(bytes), best.seconds,
                 best.seconds > 0 ? bytes / 1e6 / best.seconds : 0.0, best.cpu_seconds);
    return best.status;
}
