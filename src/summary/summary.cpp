#include "summary/summary.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "summary/draws.h"
#include "summary/echo.h"
#include "summary/labels.h"
#include "summary/options.h"
#include "summary/report.h"
#include "summary/samples.h"
#include "summary/selection.h"

namespace tavosum {

namespace {

using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

file_ptr open_file(const std::string& name, const char* mode) {
    return file_ptr(std::fopen(name.c_str(), mode), std::fclose);
}

void print_usage() {
    std::printf("Error: missing argument(s): jobfilebasename moreoptions \n");
    std::fputs(usage_text().c_str(), stdout);
}

// The first --help or --version among the arguments answers alone: text only,
// no file opened. Returns true when one was found.
bool answered_request(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (is_help_request(argv[i])) {
            std::fputs(usage_text().c_str(), stdout);
            return true;
        }
        if (is_version_request(argv[i])) {
            std::printf("tavosum %s\n", version);
            return true;
        }
    }
    return false;
}

// The job file only contributes $path_out=; one that cannot be opened or read
// is said in one line and the run goes on without it.
std::string path_out_of_job(const std::string& job_name) {
    errno = 0;
    file_ptr job = open_file(job_name, "rb");
    bool failed = !job;
    std::string path_out;
    if (job) path_out = read_path_out(job.get(), &failed);
    if (!failed) return path_out;
    std::printf("! Job file %s cannot be read: %s; going on without $path_out\n",
                job_name.c_str(), std::strerror(errno ? errno : EIO));
    return "";
}

// Words the option step does not know are warned about; the run goes on.
void warn_unknown(const std::vector<std::string>& words) {
    for (const std::string& word : words)
        std::printf("! Warning: unrecognized / unused option %s\n", word.c_str());
}

// The summary and means files are written as "<name>.part" and renamed over
// their names only when the run has ended well; the earlier ones stay as
// they were otherwise. What is left when the run ends is removed.
struct staged_names {
    std::vector<std::string> finals;
    staged_names() = default;
    staged_names(const staged_names&) = delete;
    staged_names& operator=(const staged_names&) = delete;
    ~staged_names() {
        for (const std::string& name : finals) std::remove((name + ".part").c_str());
    }
};

// A folder in the file's place could not be replaced: refused as unopenable.
file_ptr open_staged(staged_names& staged, const std::string& name) {
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return file_ptr(nullptr, std::fclose);
    file_ptr file = open_file(name + ".part", "wb");
    if (file) staged.finals.push_back(name);
    return file;
}

// Renames the closed temporary files one after the other; on a failure the
// rest are removed (by the destructor).
bool rename_staged(staged_names& staged) {
    while (!staged.finals.empty()) {
        const std::string name = staged.finals.front();
        const std::string part = name + ".part";
        if (std::rename(part.c_str(), name.c_str()) != 0) {
            std::printf("! Problem renaming %s to %s: %s\n", part.c_str(), name.c_str(), std::strerror(errno));
            return false;
        }
        staged.finals.erase(staged.finals.begin());
    }
    return true;
}

// The run's open files, in the order they are opened.
struct run_files {
    staged_names staged;  // first, so that the files are closed before their removal
    file_ptr out{nullptr, std::fclose};
    file_ptr lab{nullptr, std::fclose};
    file_ptr plog{nullptr, std::fclose};
};

bool open_run_files(const file_names& names, run_files& files) {
    files.out = open_file(names.out, "rb");
    if (!files.out) {
        std::printf("Problem opening job out-file: %s\n", names.out.c_str());
        return false;
    }
    files.lab = open_file(names.lab, "rb");
    if (!files.lab) {
        std::printf("Problem opening job lab-file: %s\n", names.lab.c_str());
        return false;
    }
    files.plog = open_staged(files.staged, names.plog);
    if (!files.plog) {
        std::printf("Problem opening plog file (%s) for writing.\n", names.plog.c_str());
        return false;
    }
    return true;
}

// A read error part way must not pass for the end of the file.
int report_unreadable(const std::string& name) {
    std::printf("! Problem reading file (%s)\n", name.c_str());
    return 1;
}

bool allocate_sums(const std::vector<parameter>& selected, std::vector<level_sums>& sums) {
    try {
        sums.resize(total_levels(selected));
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    std::printf("Insufficient memory\n");
    return false;
}

// Writes the means file; a file that cannot be opened only costs a message.
bool save_means(const file_names& names, const std::vector<parameter>& selected,
                const std::vector<level_sums>& stats, staged_names& staged) {
    std::FILE* mlog = open_staged(staged, names.mlog).release();
    if (!mlog) {
        std::printf("Problem opening .mlog file (%s) for writing.\n", names.mlog.c_str());
        return true;
    }
    write_means(mlog, selected, stats);
    return close_written(mlog, names.mlog);
}

// With an interval or diagnostic asked for: counts the sample lines of the
// selected parameters and reserves their draws, or refuses; then rewinds.
// Returns 0 to go on, else the program's status.
int prepare_draws(const file_names& names, std::FILE* out, const std::vector<parameter>& selected,
                  draw_store& draws) {
    std::vector<size_t> lines;
    if (!count_sample_lines(out, selected, lines)) return report_unreadable(names.out);
    if (!reserve_draws(selected, lines, available_memory(), draws)) return 1;
    if (std::fseek(out, 0, SEEK_SET) != 0) return report_unreadable(names.out);
    return 0;
}

// Everything after the files are open: select, read, summarise, report.
int summarise(const settings& options, const file_names& names, run_files& files) {
    label_index labels;
    if (!read_label_index(files.lab.get(), names.lab, labels)) return report_unreadable(names.lab);
    std::vector<parameter> selected;
    if (!select_parameters(labels, options, selected)) return 1;
    for (const parameter& p : selected)
        if (!levels_fit(labels, p.name, p.levels, files.out.get(), names.out)) return 1;
    std::vector<level_sums> sums;
    if (!allocate_sums(selected, sums)) return 1;
    draw_store draws;
    bool with_draws = wants_draws(options);
    if (with_draws) {
        if (int status = prepare_draws(names, files.out.get(), selected, draws)) return status;
    }
    sample_reader reader =
        make_sample_reader(selected, sums, with_draws ? &draws : nullptr, &labels);
    if (!read_samples(files.out.get(), reader)) return report_unreadable(names.out);
    report_unlabelled(reader);
    finish_statistics(selected, sums);

    summary_kind kind = decide_kind(options, selected);
    summary_input input{
        options, kind, selected, sums, labels, files.lab.get(), with_draws ? &draws : nullptr};
    write_summary(files.plog.get(), input);
    if (!close_written(files.plog.release(), names.plog)) return 1;
    if (!save_means(names, selected, sums, files.staged)) return 1;
    if (!rename_staged(files.staged)) return 1;
    return finish_console(options, names);
}

int run_checked(int argc, char** argv) {
    if (answered_request(argc, argv)) return 0;
    if (argc < 2) {
        print_usage();
        return 1;
    }
    std::string argument = argv[1];
    if (argument.size() >= 241) {  // a documented guard, kept although names have no limit
        std::printf("Error: too long jobfile base name: %s\n", argument.c_str());
        return 1;
    }
    std::vector<std::string> words(argv + 2, argv + argc);
    bool xout = std::find(words.begin(), words.end(), "xout") != words.end();
    file_names names = make_file_names(argument, "", xout);
    if (!xout) names = make_file_names(argument, path_out_of_job(names.job));
    run_files files;
    if (!open_run_files(names, files)) return 1;
    settings options;
    warn_unknown(parse_options(words, options));
    return summarise(options, names, files);
}

}  // namespace

int run(int argc, char** argv) {
    try {
        return run_checked(argc, argv);
    } catch (const std::bad_alloc&) {  // a line or label too long for the memory left
    } catch (const std::length_error&) {
    }
    std::printf("! Insufficient memory\n");
    return 1;
}

}  // namespace tavosum
