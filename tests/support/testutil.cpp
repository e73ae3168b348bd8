#include "support/testutil.h"

#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace testutil {

scratch_dir::scratch_dir(const std::string& tag) {
    static std::atomic<int> serial{0};
    path = std::filesystem::temp_directory_path() /
           ("tavo-" + tag + "-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

static std::string shell_quote(const std::string& word) {
    std::string quoted(1, '\'');
    for (char c : word) {
        if (c == '\'')
            quoted.append("'\\''");
        else
            quoted.push_back(c);
    }
    quoted.push_back('\'');
    return quoted;
}

run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::string& dir) {
    std::ostringstream line;
    line << "cd " << shell_quote(dir) << " && " << shell_quote(program);
    for (const auto& arg : args) line << ' ' << shell_quote(arg);
    line << " 2>&1";
    const std::string command = line.str();
    run_result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.console.append(chunk, got);
    int raw = pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

std::string mask_times(const std::string& text) {
    static const std::regex calendar(
        R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 0-9]\d \d\d:\d\d:\d\d \d{4})");
    return std::regex_replace(text, calendar, "<time>");
}

}  // namespace testutil
