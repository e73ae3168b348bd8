// tavosum's label reader over arbitrary bytes: the index of the label lines,
// then the labels of every parameter whose count the sample file (a file of
// the input's size) could hold, as the summary takes them. Real files, as the
// count check asks the file system for the sample file's size.
#include <cstdlib>

#include "fuzz_support.h"
#include "summary/labels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzing::scratch_folder() + "run.lab";
    fuzzing::write_file(path, std::string_view(reinterpret_cast<const char*>(data), size));
    fuzzing::file_ptr in(std::fopen(path.c_str(), "rb"));
    tavosum::label_index index;
    if (!tavosum::read_label_index(in.get(), "run.lab", index)) return 0;
    fuzzing::file_ptr samples(std::fopen(path.c_str(), "rb"));
    tavosum::level_labels labels;
    for (const tavosum::label_line& line : index.lines) {
        const size_t levels = static_cast<size_t>(std::llabs(static_cast<long long>(line.count)));
        if (!tavosum::levels_fit(index, line.name, levels, samples.get(), "run.out")) continue;
        tavosum::find_labels(index, in.get(), line.name, levels, labels);
    }
    return 0;
}
