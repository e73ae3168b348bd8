// tavosum's sample reader over arbitrary bytes, for a selection of three
// parameters (with and without levels) and a label index that names one more;
// inputs of odd length also take the first pass and keep every draw.
#include "fuzz_support.h"
#include "summary/samples.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<tavosum::parameter> selected{{"mu", 1, 0, 0}, {"herd", 3, 1, 0}, {"none", 0, 4, 0}};
    std::vector<tavosum::level_sums> sums(tavosum::total_levels(selected));
    tavosum::label_index labels;
    labels.file_name = "run.lab";
    labels.lines.push_back({"other", 2, 0, 1});
    labels.first.emplace("other", 0);
    std::string keep;
    fuzzing::file_ptr in = fuzzing::open_bytes(data, size, keep);
    tavosum::draw_store draws;
    bool keep_draws = size & 1;
    if (keep_draws) {
        std::vector<size_t> lines;
        keep_draws = tavosum::count_sample_lines(in.get(), selected, lines) &&
                     tavosum::reserve_draws(selected, lines, 1e9, draws);
        std::rewind(in.get());
    }
    tavosum::sample_reader reader =
        tavosum::make_sample_reader(selected, sums, keep_draws ? &draws : nullptr, &labels);
    tavosum::read_samples(in.get(), reader);
    tavosum::report_unlabelled(reader);
    tavosum::finish_statistics(selected, sums);
    return 0;
}
