// The data loader through a job: a fixed job declares a genotype block in one
// coding and its marker map; the input is the genotype data file, optionally
// followed by a NUL and the annotated marker map. The first byte picks the
// coding among those of the harness's family and whether the map is fuzzed.
// The run's own steps locate the block field and load it (console and log
// text are not checked).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/run.h"
#include "fuzz_support.h"
#include "jobfile/jobfile.h"

namespace fuzzing {

inline const char* const DEFAULT_MAP =
    "geno chrom alleles freq1 nrmiss used\n"
    "m1 chr2 AG 0.5 0 1\nm2 chr2 CT 0.25 0 1\nm3 chr10 AC 0.5 1 1\nm4 chr10 GT 0.75 1 1\n";

inline int load_through_job(const uint8_t* data, size_t size, const std::vector<const char*>& codings) {
    if (size == 0) return 0;
    const uint8_t pick = data[0];
    const std::vector<std::string_view> parts = split_at_nul(data + 1, size - 1, 2);
    const std::string& dir = scratch_folder();
    write_file(dir + "geno.txt", parts[0]);
    write_file(dir + "markers.txt.anno", parts.size() > 1 ? parts[1] : std::string_view(DEFAULT_MAP));
    const std::string coding = codings[pick % codings.size()];
    const bool by_chrom = (pick / codings.size()) % 2 == 1;
    const std::string job_text = "$path=" + dir + "\n"
                                 "data id genos\n  file=geno.txt missing=NA\n  id geno[] " + coding + "\n"
                                 "data geno map\n  file=markers.txt\n";
    std::string keep;
    file_ptr job_in = open_bytes(reinterpret_cast<const uint8_t*>(job_text.data()), job_text.size(), keep);
    tavo::run_settings s;
    s.job_file = dir + "run.tavo";
    s.block_name = "geno";
    s.has_by = by_chrom;
    s.by = "chrom";
    s.log = null_log();
    s.jobdata.file_name = s.job_file;
    if (tavo::read_jobfile(job_in.get(), s.jobdata) != 0) std::abort();  // the fixed job reads cleanly
    if (tavo::locate_block_field(s) == 0) tavo::load_block_data(s);
    s.log = nullptr;
    return 0;
}

}  // namespace fuzzing
