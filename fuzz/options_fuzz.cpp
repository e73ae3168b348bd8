// tavogen's command line: the input is the argument list, split at NUL bytes
// (the first argument is the job or base name, the second the block name).
// Names, help and version words, out= and every option are read; nothing is
// created (the output directory is made only by the run itself).
#include "driver/run.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string_view> parts = fuzzing::split_at_nul(data, size, 64);
    static fuzzing::file_ptr log(std::fopen("/dev/null", "w"));
    tavo::run_settings s;
    for (std::string_view part : parts) s.args.emplace_back(part);
    s.log = log.get();
    tavo::is_help_request(s.args[0]);
    tavo::is_version_request(s.args[0]);
    s.out_dir = tavo::find_output_dir(s.args);
    tavo::set_job_names(s, s.args[0]);
    tavo::set_run_file_names(s);
    if (s.args.size() > 1) s.block_name = s.args[1];
    tavo::read_options(s);
    s.log = nullptr;
    return 0;
}
