#include "jobfile/jobfile.h"

#include <new>
#include <string>
#include <string_view>

#include "text/interrupt.h"
#include "text/keywords.h"
#include "text/lines.h"

namespace tavo {

namespace {

enum section : int { SECTION_DATA, SECTION_XDATA, SECTION_MODEL, SECTION_CHAIN, SECTION_NONE };

constexpr std::string_view section_keywords = "data;xdata;model;chain;";

// Lines between two looks at a signal that asks the run to end.
constexpr int LINES_PER_INTERRUPT_LOOK = 1024;

// A signal asks the run to end: the reading stops at this line.
bool interrupted_at(int line) { return line % LINES_PER_INTERRUPT_LOOK == 0 && interrupt_signal() != 0; }

// Blank lines (blanks, tabs and CRs) and comment lines ("#" as the first
// character that is not a blank or tab) are passed over.
bool is_blank_or_comment(std::string_view line) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) return true;
    if (line[first] == '#') return true;
    return line.find_first_not_of(" \t\r\n", first) == std::string_view::npos;
}

void print_text(std::string_view text) {
    printf("%.*s", static_cast<int>(text.size()), text.data());
}

// Pass 1: the variables $path= and $path_out= (the last occurrence wins);
// a "$" line without "=" stops the reading with result 1.
int read_variables(FILE* in, job& j, std::string& raw) {
    for (int lines = 1; read_line(in, raw, line_ends::lf); ++lines) {
        if (interrupted_at(lines)) return 1;
        const std::string_view line = raw;
        if (line.empty() || line.front() != '$') continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            printf("Wrong format for $variable (missing equal sign) at job line: ");
            print_text(line);
            return 1;
        }
        const std::string_view value = first_word(line.substr(eq + 1));
        if (begins_ignoring_case(line, "$path="))
            j.data_path = value;
        else if (begins_ignoring_case(line, "$path_out="))
            j.output_path = value;
    }
    return 0;
}

// Pass 2: sections and the words of the data set declarations; returns the
// problem count, or 1 when a data set cannot be created.
int read_sections(FILE* in, job& j, std::string& raw) {
    int problems = 0;
    int jobline = 0;
    int current = SECTION_NONE;
    dataset* declared = nullptr;
    while (read_line(in, raw, line_ends::lf)) {
        if (interrupted_at(++jobline)) return problems + 1;
        if (is_blank_or_comment(raw)) continue;
        std::string_view line = raw;
        const int keyword = match_keyword(section_keywords, first_word(line));
        if (keyword >= 0) {
            current = keyword;
            if (current == SECTION_DATA || current == SECTION_XDATA) {
                declared = new_dataset(j);
                if (!declared) return 1;
                problems += dataset_word(*declared, line, jobline);
            }
        } else if (current == SECTION_NONE) {
            printf("!Skipping job input at jobline %d: no section defined\n", jobline);
        } else if (current == SECTION_DATA || current == SECTION_XDATA) {
            for (std::string_view word = take_word(line); !word.empty(); word = take_word(line))
                problems += dataset_word(*declared, word, jobline);
        }
    }
    return problems;
}

}  // namespace

int read_jobfile(FILE* in, job& j) {
    try {
        std::string raw;  // one line buffer for both passes
        if (read_variables(in, j, raw) != 0 || interrupt_signal() != 0) return 1;
        rewind(in);
        const int problems = read_sections(in, j, raw);
        // A read waiting on a pipe ends the file when a signal comes.
        return interrupt_signal() != 0 ? problems + 1 : problems;
    } catch (const std::bad_alloc&) {
        printf("? read_jobfile: allocation problem\n");
        return 1;
    }
}

}  // namespace tavo
