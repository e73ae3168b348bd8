#include "summary/labels.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "summary/lines.h"
#include "summary/numbers.h"

namespace tavosum {

bool read_label_index(std::FILE* file, const std::string& file_name, label_index& index) {
    index.file_name = file_name;
    line_reader reader = make_line_reader(file, LINE_CHUNK);
    std::string_view line;
    while (next_line(reader, line)) {
        token_cursor tokens(line);
        std::string_view name = tokens.next();
        if (name.empty()) continue;
        label_line head;
        if (!read_int_token(tokens.next(), head.count)) {
            std::printf("! Label line %lld cannot be read - line skipped\n", reader.line_number);
            continue;
        }
        head.name = name;
        head.offset = reader.line_offset;
        head.line = reader.line_number;
        index.first.try_emplace(head.name, index.lines.size());
        index.lines.push_back(std::move(head));
    }
    return !reader.failed;
}

bool levels_fit(const label_index& index, const std::string& name, size_t levels, std::FILE* samples,
                const std::string& sample_file) {
    struct stat info {};
    if (fstat(fileno(samples), &info) != 0 || !S_ISREG(info.st_mode)) return true;  // size unknown
    const auto bytes = static_cast<std::uint64_t>(info.st_size);
    if (levels <= (bytes + 1) / 2) return true;
    long long line = 0;
    for (const label_line& head : index.lines) {
        if (head.name == name && static_cast<size_t>(std::llabs(head.count)) == levels) {
            line = head.line;
            break;
        }
    }
    std::printf("! %s line %lld declares %s with %zu values, more than %s can hold\n", index.file_name.c_str(), line,
                name.c_str(), levels, sample_file.c_str());
    return false;
}

// The text of the label line that starts at `offset`.
static void read_line_at(std::FILE* file, std::uint64_t offset, std::string& line) {
    line.clear();
    std::clearerr(file);
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return;
    char chunk[1 << 14];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        char* stop =
            std::find_if(chunk, chunk + got, [](char c) { return c == '\n' || c == '\r'; });
        line.append(chunk, static_cast<size_t>(stop - chunk));
        if (stop != chunk + got) return;
    }
}

// The line whose labels `own` uses, or nullptr when its reference names no line.
static const label_line* label_source(const label_index& index, std::FILE* file,
                                      const label_line& own, std::string& scratch) {
    if (own.count >= 0) return &own;
    read_line_at(file, own.offset, scratch);
    token_cursor tokens(scratch);
    tokens.next();
    tokens.next();
    std::string_view reference = tokens.next();
    auto found = index.first.find(reference);
    if (found != index.first.end()) return &index.lines[found->second];
    std::printf("! Labels of %s refer to %.*s, which is not in %s - levels are numbered\n",
                own.name.c_str(), static_cast<int>(reference.size()), reference.data(),
                index.file_name.c_str());
    return nullptr;
}

// Up to `levels` labels after the name and count of `source`'s line. The line
// of another reference holds no labels: references are not followed further.
static void labels_on_line(std::FILE* file, const label_line& source, size_t levels,
                           level_labels& labels) {
    if (source.count < 0) return;
    read_line_at(file, source.offset, labels.line);
    token_cursor tokens(labels.line);
    tokens.next();
    tokens.next();
    for (std::string_view label;
         labels.of_level.size() < levels && !(label = tokens.next()).empty();)
        labels.of_level.push_back(label);
}

// Level numbers for the levels from labels.of_level.size() on.
static void number_the_rest(size_t levels, level_labels& labels) {
    size_t first = labels.of_level.size();
    std::vector<size_t> ends;
    for (size_t level = first; level < levels; ++level) {
        labels.numbers += std::to_string(level + 1);
        ends.push_back(labels.numbers.size());
    }
    size_t begin = 0;
    for (size_t end : ends) {
        labels.of_level.push_back(std::string_view(labels.numbers).substr(begin, end - begin));
        begin = end;
    }
}

void find_labels(const label_index& index, std::FILE* file, const std::string& name, size_t levels,
                 level_labels& labels) {
    labels.line.clear();
    labels.numbers.clear();
    labels.of_level.clear();
    auto own = index.first.find(name);
    if (own != index.first.end()) {
        std::string scratch;
        if (const label_line* source =
                label_source(index, file, index.lines[own->second], scratch)) {
            labels_on_line(file, *source, levels, labels);
            if (labels.of_level.size() < levels)
                std::printf(
                    "! Labels of %s: %zu found in %s, %zu expected - the others are numbered\n",
                    name.c_str(), labels.of_level.size(), index.file_name.c_str(), levels);
        }
    }
    number_the_rest(levels, labels);
}

}  // namespace tavosum
