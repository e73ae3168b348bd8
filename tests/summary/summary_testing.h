// Helpers for the tavosum unit tests: files with given text, captured console.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/testutil.h"

namespace tavosum_testing {

using testutil::file_ptr;
using testutil::file_with;

// Runs `action` and returns what it printed on the console.
template <typename Action>
std::string console_of(Action&& action) {
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace tavosum_testing
