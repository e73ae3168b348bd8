// Helpers for the tavosum unit tests: files with given text, captured console.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace tavosum_testing {

using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// An anonymous temporary file holding `text`, positioned at its start.
inline file_ptr file_with(const std::string& text) {
    file_ptr file(std::tmpfile(), std::fclose);
    std::fwrite(text.data(), 1, text.size(), file.get());
    std::rewind(file.get());
    return file;
}

// Runs `action` and returns what it printed on the console.
template <typename Action>
std::string console_of(Action&& action) {
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace tavosum_testing
