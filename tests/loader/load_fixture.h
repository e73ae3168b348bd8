// A job of data set declarations over data files in a scratch folder, set up
// by the real set-up and loaded with the console and the log captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "loader/loader.h"
#include "jobfile/dataset.h"
#include "setup/setup.h"
#include "support/testutil.h"

namespace tavo::load_testing {

struct load_result {
    int result = 0;
    std::string console;
    std::string log;
};

struct test_job {
    testutil::scratch_dir dir{"load"};
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

    // Runs the set-up; every data set is expected to be ready.
    void setup(dataset* block = nullptr, dataset* filter = nullptr) {
        testing::internal::CaptureStdout();
        const int failed = setup_datasets(j, block, filter);
        const std::string console = testing::internal::GetCapturedStdout();
        ASSERT_EQ(failed, 0) << console;
    }

    // Loads a data set with a log, capturing what goes to the console and the log.
    static load_result load(dataset& ds) {
        FILE* log = tmpfile();
        testing::internal::CaptureStdout();
        load_result loaded;
        loaded.result = load_dataset(ds, log);
        loaded.console = testing::internal::GetCapturedStdout();
        fflush(log);
        rewind(log);
        for (int c = getc(log); c != EOF; c = getc(log)) loaded.log += static_cast<char>(c);
        fclose(log);
        return loaded;
    }
};

// Element `row` of sub-column (marker) `j` of a column-wise block.
inline int genotype(const datacol& col, int j, int row) {
    return col.genotypes.at(static_cast<size_t>(j) * col.nrec + row);
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

// The genotype codes of one record over all markers.
inline std::vector<int> genotype_row(const datacol& col, int row) {
    std::vector<int> codes;
    for (int j = 0; j < col.ncol; ++j) codes.push_back(genotype(col, j, row));
    return codes;
}

}  // namespace tavo::load_testing
