#include "support/testutil.h"

#include <sys/wait.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <fstream>
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

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

file_ptr file_with(const std::string& text) {
    file_ptr file(std::tmpfile());
    std::fwrite(text.data(), 1, text.size(), file.get());
    std::rewind(file.get());
    return file;
}

std::string read_back(std::FILE* f) {
    std::string text;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
}

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

// True when `text` at `pos` holds "Www Mmm dd hh:mm:ss yyyy".
static bool calendar_at(const std::string& text, size_t pos) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (pos + 24 > text.size()) return false;
    auto is_one_of = [&](size_t at, const char* const* names, size_t count) {
        for (size_t k = 0; k < count; ++k)
            if (text.compare(at, 3, names[k]) == 0) return true;
        return false;
    };
    auto digit = [&](size_t at) { return text[at] >= '0' && text[at] <= '9'; };
    // "Mon Dec  7 21:57:40 2026": positions of the fixed characters and digits.
    static const char shape[] = "www mmm dD DD:DD:DD DDDD";
    if (!is_one_of(pos, days, 7) || !is_one_of(pos + 4, months, 12)) return false;
    for (size_t k = 0; k < 24; ++k) {
        const char want = shape[k];
        const char have = text[pos + k];
        if (want == 'D' && !digit(pos + k)) return false;
        if (want == 'd' && !(digit(pos + k) || have == ' ')) return false;
        if ((want == ' ' || want == ':') && have != want) return false;
    }
    return true;
}

// Length of the run's duration "cycles in 12.3 s\n" at `pos` (the number
// alone), or 0.
static size_t duration_at(const std::string& text, size_t pos) {
    static const std::string before = "cycles in ";
    if (text.compare(pos, before.size(), before) != 0) return 0;
    const size_t start = pos + before.size();
    size_t end = start;
    while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.')) ++end;
    return end > start && text.compare(end, 3, " s\n") == 0 ? end - pos : 0;
}

std::string mask_times(const std::string& text) {
    std::string masked;
    masked.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        if (calendar_at(text, pos)) {
            masked.append("<time>");
            pos += 24;
        } else if (const size_t length = duration_at(text, pos)) {
            masked.append("cycles in <seconds>");
            pos += length;
        } else {
            masked.push_back(text[pos++]);
        }
    }
    return masked;
}

std::string tavogen_finished(int code) {
    if (code == 0) return "tavogen finished at <time>\n\n";
    return "tavogen finished with error code " + std::to_string(code) + " at <time>\n\n";
}

std::string tavogen_console_end(int code, const std::string& log) {
    return "A log file is written to " + log + "\n" + tavogen_finished(code);
}

}  // namespace testutil
