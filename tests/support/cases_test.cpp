// Every case folder of tests/cases as one test.
#include <gtest/gtest.h>

#include <cctype>

#include "support/case_runner.h"

namespace {

struct CaseRun : testing::TestWithParam<std::string> {};

TEST_P(CaseRun, GivesItsExpectedStatusConsoleAndFiles) { testutil::run_case(CASES_DIR, GetParam()); }

std::string test_name(const testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Folder, CaseRun, testing::ValuesIn(testutil::case_names(CASES_DIR)), test_name);

}  // namespace
