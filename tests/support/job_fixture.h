// A job of data set declarations over data files in a scratch folder, for the
// set-up, block size and loader tests: declared as the job file reader does or
// built directly, set up by the real set-up, and loaded with the console and
// the log captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "jobfile/dataset.h"
#include "loader/loader.h"
#include "setup/setup.h"
#include "support/charbuff_strings.h"
#include "support/testutil.h"

namespace tavo::job_testing {

struct console_result {
    int result = 0;
    std::string console;
};

struct load_result {
    int result = 0;
    std::string console;
    std::string log;
};

struct test_job {
    testutil::scratch_dir dir{"job"};
    job j;

    test_job() { j.data_path = dir.path.string() + "/"; }

    void write(const std::string& name, const std::string& text) const { testutil::write_file(dir.file(name), text); }

    // Declares a data set as the job file reader does: the section line
    // ("data key name"), then each blank-separated word of `words`.
    dataset& declare(const std::string& section_line, const std::string& words) {
        dataset* ds = new_dataset(j);
        EXPECT_NE(ds, nullptr);
        dataset_word(*ds, section_line, 1);
        std::istringstream split(words);
        for (std::string word; split >> word;) dataset_word(*ds, word, 2);
        return *ds;
    }

    // A declared data set built directly (no job file reader involved): key
    // ("" keeps "[nokey]"), name, file, field words and kept option words
    // such as "skip=2".
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

    // Runs the set-up, capturing its console.
    console_result setup(dataset* block = nullptr, dataset* filter = nullptr) {
        testing::internal::CaptureStdout();
        const int result = setup_datasets(j, block, filter);
        return {result, testing::internal::GetCapturedStdout()};
    }

    // Runs the set-up; every data set is expected to be ready.
    void setup_ready(dataset* block = nullptr, dataset* filter = nullptr) {
        const console_result run = setup(block, filter);
        ASSERT_EQ(run.result, 0) << run.console;
    }

    // Loads a data set with a log, capturing what goes to the console and the log.
    static load_result load(dataset& ds, const load_options& options = {}) {
        FILE* log = tmpfile();
        testing::internal::CaptureStdout();
        load_result loaded;
        loaded.result = load_dataset(ds, log, options);
        loaded.console = testing::internal::GetCapturedStdout();
        loaded.log = testutil::read_back(log);
        fclose(log);
        return loaded;
    }
};

inline console_result block_sizes(dataset& ds) {
    testing::internal::CaptureStdout();
    const int result = set_block_sizes(ds);
    return {result, testing::internal::GetCapturedStdout()};
}

// Element `row` of sub-column (marker) `j` of a column-wise block.
inline int genotype(const datacol& col, int j, int row) {
    if (j < 0 || j >= col.genotypes.markers || row < 0 || row >= col.nrec) throw std::out_of_range("genotype");
    return genotype_code(col.genotypes.run(j), row);
}
inline int block_int(const datacol& col, int j, int row) {
    return col.ints.at(static_cast<size_t>(j) * col.nrec + row);
}
inline double block_real(const datacol& col, int j, int row) {
    return col.reals.at(static_cast<size_t>(j) * col.nrec + row);
}

inline std::vector<std::string> texts_of(const datacol& col) {
    std::vector<std::string> texts;
    for (const char* text : col.texts) texts.emplace_back(text ? text : "<null>");
    return texts;
}

inline std::vector<std::string> names_of(const datacol& col) {
    std::vector<std::string> names;
    for (const char* name : col.names) names.emplace_back(name ? name : "<null>");
    return names;
}

inline std::vector<std::string> names_of(const dataset& ds, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back(fields(ds)[i].name);
    return names;
}

// The genotype codes of one record over all markers.
inline std::vector<int> genotype_row(const datacol& col, int row) {
    std::vector<int> codes;
    for (int j = 0; j < col.ncol; ++j) codes.push_back(genotype(col, j, row));
    return codes;
}

inline std::vector<std::string> options_of(const datacol& col) { return text_testing::strings_of(col.options); }

inline std::string types_of(const dataset& ds) {
    std::string letters;
    for (int i = 0; i < ds.nfields; ++i) letters += type_letter(fields(ds)[i].type);
    return letters;
}

}  // namespace tavo::job_testing
