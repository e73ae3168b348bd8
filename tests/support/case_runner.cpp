#include "support/case_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

#include "support/testutil.h"

namespace fs = std::filesystem;

namespace testutil {

namespace {

// The end of a log's data sheets: a `.tail` file holds what follows it.
const std::string SHEETS_END = "    ....\n";
const std::string TAIL = ".tail";

bool regenerating() {
    const char* flag = std::getenv("TAVO_REGENERATE");
    return flag && std::string(flag) == "1";
}

std::vector<std::string> words_of(const std::string& text) {
    std::istringstream split(text);
    std::vector<std::string> words;
    for (std::string word; split >> word;) words.push_back(word);
    return words;
}

std::string program_path(const std::string& name) {
    if (name == "tavogen") return TAVOGEN_BIN;
    if (name == "tavosum") return TAVOSUM_BIN;
    ADD_FAILURE() << "unknown program " << name;
    return name;
}

// What a `.tail` file compares with: the text after the last data sheet.
std::string after_sheets(const std::string& text) {
    const size_t end = text.rfind(SHEETS_END);
    return end == std::string::npos ? text : text.substr(end + SHEETS_END.size());
}

// Paths (relative to `base`) of everything below it, folders included.
std::set<std::string> entries_below(const fs::path& base) {
    std::set<std::string> entries;
    if (!fs::is_directory(base)) return entries;
    for (const auto& entry : fs::recursive_directory_iterator(base))
        entries.insert(fs::relative(entry.path(), base).generic_string());
    return entries;
}

// Where a case's inputs come from and where they go: its shared input sets
// (a line "set" or "set folder"), then its own input folder.
struct input_source {
    fs::path from;
    std::string into;  // folder below the run's folder, "" for the folder itself
};

std::vector<input_source> input_sources(const fs::path& root, const fs::path& dir) {
    std::vector<input_source> sources;
    if (fs::exists(dir / "inputs")) {
        std::istringstream lines(read_file((dir / "inputs").string()));
        for (std::string line; std::getline(lines, line);) {
            const std::vector<std::string> words = words_of(line);
            if (!words.empty()) sources.push_back({root / "_shared" / words[0], words.size() > 1 ? words[1] : ""});
        }
    }
    sources.push_back({dir / "input", ""});
    return sources;
}

// A file of the run against its expected counterpart (`.tail`: the part
// after the data sheets); with regeneration, the other way round.
void check_output(const fs::path& expected_file, const fs::path& expected_root, const fs::path& run_dir) {
    std::string name = fs::relative(expected_file, expected_root).generic_string();
    const bool tail = ends_with(name, TAIL);
    if (tail) name.resize(name.size() - TAIL.size());
    const fs::path actual = run_dir / name;
    std::string text = mask_times(read_file(actual.string()));
    if (tail) text = after_sheets(text);
    if (regenerating()) {
        write_file(expected_file.string(), text);
        return;
    }
    EXPECT_TRUE(fs::is_regular_file(actual)) << name << " was not written";
    EXPECT_EQ(text, read_file(expected_file.string())) << "output file " << name << (tail ? " after its data sheets" : "");
}

}  // namespace

std::vector<std::string> case_names(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root))
        if (fs::exists(entry.path() / "cmd")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void copy_inputs(const fs::path& from, const fs::path& to) {
    if (fs::is_directory(from))
        fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

namespace {

// Copies a case's inputs into `run_dir`; returns the paths they take there.
std::set<std::string> copy_case_inputs(const fs::path& root, const fs::path& dir, const fs::path& run_dir) {
    std::set<std::string> copied;
    for (const input_source& source : input_sources(root, dir)) {
        fs::create_directories(run_dir / source.into);
        copy_inputs(source.from, run_dir / source.into);
        for (const std::string& entry : entries_below(source.from))
            copied.insert((fs::path(source.into) / entry).generic_string());
        if (!source.into.empty()) copied.insert(source.into);
    }
    return copied;
}

// Checks (or regenerates) every expected output file; returns the paths
// the outputs take in the run's folder.
std::set<std::string> check_outputs(const fs::path& dir, const fs::path& run_dir) {
    std::set<std::string> outputs;
    const fs::path expected = dir / "expected";
    if (!fs::is_directory(expected)) return outputs;
    for (const auto& entry : fs::recursive_directory_iterator(expected)) {
        if (!entry.is_regular_file()) continue;
        check_output(entry.path(), expected, run_dir);
        std::string name = fs::relative(entry.path(), expected).generic_string();
        if (ends_with(name, TAIL)) name.resize(name.size() - TAIL.size());
        for (fs::path p = name; !p.empty(); p = p.parent_path()) outputs.insert(p.generic_string());
    }
    return outputs;
}

}  // namespace

void run_case(const fs::path& root, const std::string& name) {
    const fs::path dir = root / name;
    scratch_dir run_dir("case");
    std::set<std::string> allowed = copy_case_inputs(root, dir, run_dir.path);

    std::vector<std::string> args = words_of(read_file((dir / "cmd").string()));
    ASSERT_FALSE(args.empty()) << "empty cmd";
    const std::string program = program_path(args.front());
    args.erase(args.begin());
    const run_result result = run_program(program, args, run_dir.path.string());

    allowed.merge(check_outputs(dir, run_dir.path));
    const bool console_checked = fs::exists(dir / "console");
    if (regenerating()) {
        write_file((dir / "status").string(), std::to_string(result.status) + "\n");
        if (console_checked) write_file((dir / "console").string(), mask_times(result.console));
        return;
    }
    EXPECT_EQ(std::to_string(result.status), words_of(read_file((dir / "status").string())).at(0)) << "exit status";
    if (console_checked) {
        EXPECT_EQ(mask_times(result.console), read_file((dir / "console").string())) << "console";
    }
    if (fs::exists(dir / "absent")) {
        for (const std::string& absent : words_of(read_file((dir / "absent").string())))
            EXPECT_FALSE(fs::exists(run_dir.path / absent)) << absent << " was written";
    }
    if (fs::exists(dir / "no-other-files")) {
        for (const std::string& entry : entries_below(run_dir.path))
            EXPECT_TRUE(allowed.count(entry)) << entry << " was written";
    }
}

}  // namespace testutil
