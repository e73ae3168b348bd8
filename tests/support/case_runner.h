// End-to-end runs kept as case folders below tests/cases (see its README):
// the inputs, the command line, the exit status, and the console and output
// files the run must give, times masked.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testutil {

// The case folders below `root` (those holding a `cmd` file), sorted by name.
std::vector<std::string> case_names(const std::filesystem::path& root);

// Copies the files and folders below `from` into `to`, replacing what is there.
void copy_inputs(const std::filesystem::path& from, const std::filesystem::path& to);

// Runs case `name` of `root` in a scratch folder and checks it with gtest
// expectations; with TAVO_REGENERATE=1 in the environment it writes the run's
// status, console and outputs over the case's expected ones instead.
void run_case(const std::filesystem::path& root, const std::string& name);

}  // namespace testutil
