// load_only: loads the block data set of a job the way tavogen does, and
// nothing else, timing the set-up and the load.
//
//   load_only JOBFILE BLOCKNAME [THREADS]
//
// Reads the job file, finds the data set that declares the block field,
// sets up the data sets, types the marker map's statistics fields and loads
// the block data set (which loads its marker map first) with THREADS workers
// (default 1). The loader's console
// messages go to standard output, its log to JOBFILE's base name + ".loadlog".
// The report goes to standard error as one line
//   "load_only: status S setup_s X load_s Y genotype_bytes B load_MB/s R".
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>

#include "loader/loader.h"
#include "jobfile/dataset.h"
#include "jobfile/jobfile.h"
#include "text/keywords.h"
#include "setup/setup.h"

namespace {

using namespace tavo;

double since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The first data set (not keyed by the block name) with a field word that
// begins with the block name.
dataset* find_block_dataset(job& j, std::string_view block) {
    for (dataset* d = j.first; d; d = d->next) {
        if (d->key == block) continue;
        int32_t cursor = 0;
        for (int32_t i = 0; i < d->fieldlist.count; ++i)
            if (std::string_view(next_token(d->fieldlist, cursor)).substr(0, block.size()) == block)
                return d;
    }
    return nullptr;
}

int field_position(const dataset& ds, std::string_view name) {
    for (int i = 0; i < ds.nfields; ++i)
        if (equal_ignoring_case(fields(ds)[i].name, name)) return i;
    return -1;
}

// The statistics fields of a genotype block's marker map, typed as tavogen
// types them before loading.
bool type_marker_map(dataset& map) {
    const int alleles = field_position(map, "alleles");
    const int used = field_position(map, "used");
    const int freq1 = field_position(map, "freq1");
    if (alleles < 0 || used < 0 || freq1 < 0) return false;
    fields(map)[alleles].type = field_type::fixed_text;
    fields(map)[alleles].width = 2;
    fields(map)[used].type = field_type::integer;
    fields(map)[freq1].type = field_type::real;
    map.allele_field = alleles;
    return true;
}

int64_t file_size(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: load_only JOBFILE BLOCKNAME [THREADS]\n");
        return 2;
    }
    load_options options;
    if (argc == 4) options.threads = std::max(1, std::atoi(argv[3]));
    const std::string jobfile = argv[1];
    const std::string block_name = argv[2];
    std::FILE* in = std::fopen(jobfile.c_str(), "rb");
    if (!in) {
        std::perror(jobfile.c_str());
        return 2;
    }
    job j;
    const int problems = read_jobfile(in, j);
    std::fclose(in);
    dataset* block = find_block_dataset(j, block_name);
    if (problems != 0 || !block) {
        std::fprintf(stderr, "load_only: job file problems or no data set with the block field %s\n", argv[2]);
        return 3;
    }
    const auto setup_start = std::chrono::steady_clock::now();
    if (setup_datasets(j, block, nullptr, {}, nullptr, options.threads) != 0) return 4;
    const double setup_s = since(setup_start);
    const int field = field_position(*block, block_name);
    if (field < 0) return 3;
    const datacol& column = fields(*block)[field];
    if (column.type == field_type::genotype_block && (!column.link || !type_marker_map(*column.link))) return 9;

    const std::string base = jobfile.substr(0, jobfile.rfind(".tavo"));
    std::FILE* log = std::fopen((base + ".loadlog").c_str(), "w");
    const auto load_start = std::chrono::steady_clock::now();
    const int status = load_dataset(*block, log, options);
    const double load_s = since(load_start);
    if (log) std::fclose(log);
    std::fflush(stdout);

    const int64_t bytes = file_size(j.data_path + block->file);
    std::fprintf(stderr, "load_only: status %d setup_s %.3f load_s %.3f genotype_bytes %lld load_MB/s %.1f\n", status,
                 setup_s, load_s, static_cast<long long>(bytes), load_s > 0 ? bytes / 1e6 / load_s : 0.0);
    return status == 0 ? 0 : 1;
}
