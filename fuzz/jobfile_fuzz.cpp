// The job file reader over arbitrary bytes: variables, sections and data set
// declarations (the data files are not opened).
#include "fuzz_support.h"
#include "jobfile/jobfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string keep;
    fuzzing::file_ptr in = fuzzing::open_bytes(data, size, keep);
    tavo::job j;
    j.file_name = "fuzz.tavo";
    tavo::read_jobfile(in.get(), j);
    return 0;
}
