// A job of hand-made data set declarations over data files in a scratch
// folder, for the set-up and block size tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "jobfile/dataset.h"
#include "setup/setup.h"
#include "loader/loader.h"
#include "support/testutil.h"

namespace tavo::setup_testing {

struct console_result {
    int result = 0;
    std::string console;
};

// Builds the declarations directly (no job file reader involved).
struct test_job {
    testutil::scratch_dir dir{"setup"};
    job j;

    test_job() { j.data_path = dir.path.string() + "/"; }

    void write(const std::string& name, const std::string& text) const { testutil::write_file(dir.file(name), text); }

    // A declared data set: key ("" keeps "[nokey]"), name, file, field words
    // and kept option words such as "skip=2".
    dataset& add(const std::string& key, const std::string& name, const std::string& file,
                 const std::vector<std::string>& words, const std::vector<std::string>& options = {}) {
        auto ds = std::make_unique<dataset>();
        init_charbuff(ds->fieldlist, 100, 50, 0);
        init_charbuff(ds->options, 50, 50, 0);
        if (!key.empty()) ds->key = key;
        ds->name = name;
        ds->file = file;
        ds->stage = 2;
        for (const auto& word : words) addtext(ds->fieldlist, word);
        for (const auto& option : options) addtext(ds->options, option);
        ds->number = static_cast<int32_t>(j.sets.size()) + 1;
        dataset* added = ds.get();
        if (j.sets.empty()) j.first = added;
        else j.sets.back()->next = added;
        j.sets.push_back(std::move(ds));
        return *added;
    }

    console_result setup(dataset* block = nullptr, dataset* filter = nullptr) {
        testing::internal::CaptureStdout();
        const int result = setup_datasets(j, block, filter);
        return {result, testing::internal::GetCapturedStdout()};
    }
};

inline console_result block_sizes(dataset& ds) {
    testing::internal::CaptureStdout();
    const int result = set_block_sizes(ds);
    return {result, testing::internal::GetCapturedStdout()};
}

inline std::vector<std::string> names_of(const dataset& ds, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back(fields(ds)[i].name);
    return names;
}

inline std::vector<std::string> options_of(const datacol& col) {
    std::vector<std::string> words;
    int32_t cursor = 0;
    for (int32_t i = 0; i < col.options.count; ++i) words.emplace_back(next_token(col.options, cursor));
    return words;
}

inline std::string types_of(const dataset& ds) {
    std::string letters;
    for (int i = 0; i < ds.nfields; ++i) letters += type_letter(fields(ds)[i].type);
    return letters;
}

}  // namespace tavo::setup_testing
