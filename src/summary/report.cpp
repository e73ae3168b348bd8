#include "summary/report.h"

#include "summary/columns.h"
#include "summary/numbers.h"

namespace tavosum {

// Collects output text and hands it to the file in large pieces.
struct text_sink {
    std::FILE* file;
    std::string text;
    void flush_if_full() {
        if (text.size() >= (1 << 20)) flush();
    }
    void flush() {
        std::fwrite(text.data(), 1, text.size(), file);
        text.clear();
    }
};

static std::string title_of(const settings& options) {
    std::string prefix = std::string("tavosum (") + version + ") summary ";
    if (mode_of(options) != select_mode::levels) return prefix + "for " + options.par + "\n";
    if (options.nlev != 0)
        return prefix + "for parameters with " + std::to_string(options.nlev) + " levels\n";
    return prefix + "showing parameters with up to " + std::to_string(options.maxlev) + " levels\n";
}

static std::string header_of(const summary_input& input) {
    std::vector<std::string> extras = extra_column_names(input.options);
    std::string extra_names;
    for (const std::string& name : extras) extra_names += "\t" + name;
    switch (input.kind) {
        case summary_kind::long_rows:
        case summary_kind::long_named:
            return "parameter\tlabel\tpost.mean\tpost.stdev" + extra_names + "\n";
        case summary_kind::single:
            return "label\tpost.mean\tpost.stdev" + extra_names + "\n";
        case summary_kind::wide:
            break;
    }
    // Wide columns carry the names after the prefix, or whole names under nlev=.
    size_t cut = input.options.nlev != 0 ? 0 : prefix_of(input.options).size();
    std::string header = "label";
    for (const parameter& p : input.selected) {
        std::string column = p.name.substr(cut);
        header += "\t" + column + ".pm\t" + column + ".psd";
        for (const std::string& name : extras) header += "\t" + column + "." + name;
    }
    return header + "\n";
}

static void append_mean_sd(std::string& out, const level_sums& stats) {
    out += '\t';
    append_g(out, stats.sum);
    out += '\t';
    append_g(out, stats.squares);
}

// The extra columns of one level of selected parameter `index`, when asked for.
static void append_extras(std::string& out, const summary_input& input, size_t index, size_t level,
                          level_work& work) {
    if (!input.draws) return;
    gather_draws(*input.draws, index, input.selected[index], level, work.draws);
    append_extra_columns(out, input.options, work.draws.data(), work.draws.size(), work);
}

// Rows of the kinds long, long with names and single.
static void write_rows(text_sink& sink, const summary_input& input) {
    level_labels labels;
    level_work work;
    for (size_t index = 0; index < input.selected.size(); ++index) {
        const parameter& p = input.selected[index];
        if (p.samples == 0) continue;
        find_labels(input.labels, input.label_file, p.name, p.levels, labels);
        for (size_t level = 0; level < p.levels; ++level) {
            if (input.kind == summary_kind::long_named ||
                (input.kind == summary_kind::long_rows && level == 0))
                sink.text += p.name;
            if (input.kind != summary_kind::single) sink.text += '\t';
            sink.text += labels.of_level[level];
            append_mean_sd(sink.text, input.stats[p.offset + level]);
            append_extras(sink.text, input, index, level, work);
            sink.text += '\n';
            sink.flush_if_full();
        }
    }
}

// One row per level, with the first parameter's labels and every parameter's columns.
static void write_wide(text_sink& sink, const summary_input& input) {
    const parameter& first = input.selected.front();
    level_labels labels;
    find_labels(input.labels, input.label_file, first.name, first.levels, labels);
    level_work work;
    for (size_t level = 0; level < first.levels; ++level) {
        sink.text += labels.of_level[level];
        for (size_t index = 0; index < input.selected.size(); ++index) {
            append_mean_sd(sink.text, input.stats[input.selected[index].offset + level]);
            append_extras(sink.text, input, index, level, work);
        }
        sink.text += '\n';
        sink.flush_if_full();
    }
}

void write_summary(std::FILE* plog, const summary_input& input) {
    text_sink sink{plog, {}};
    if (input.options.title) sink.text += title_of(input.options);
    if (input.options.head) sink.text += header_of(input);
    if (input.kind == summary_kind::wide)
        write_wide(sink, input);
    else
        write_rows(sink, input);
    sink.flush();
}

void write_means(std::FILE* mlog, const std::vector<parameter>& selected,
                 const std::vector<level_sums>& stats) {
    text_sink sink{mlog, {}};
    for (const parameter& p : selected) {
        if (p.samples == 0) continue;
        sink.text += p.name;
        for (size_t level = 0; level < p.levels; ++level) {
            sink.text += ' ';
            append_g(sink.text, stats[p.offset + level].sum);
            sink.flush_if_full();
        }
        sink.text += '\n';
    }
    sink.flush();
}

bool close_written(std::FILE* file, const std::string& name) {
    bool failed = std::ferror(file) != 0;
    failed |= std::fclose(file) != 0;
    if (failed) std::printf("! Problem writing file (%s)\n", name.c_str());
    return !failed;
}

}  // namespace tavosum
