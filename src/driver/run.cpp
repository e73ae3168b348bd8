// The main routine of tavogen: the run's steps in their fixed order, and the
// finishing sequence that ends every run.
#include "driver/run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "genomic/model.h"
#include "genomic/cycles.h"
#include "text/interrupt.h"
#include "text/lines.h"

namespace tavo {

namespace {

constexpr int MIN_ARGUMENTS = 2;  // job name and block name

void print_usage() {
    std::printf("! Error: missing / insufficient arguments\n%s", usage_text().c_str());
}

// --help or --version anywhere on the command line: text only, nothing opened.
bool answer_request(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (is_help_request(argv[i])) {
            std::printf("%s", usage_text().c_str());
            return true;
        }
        if (is_version_request(argv[i])) {
            std::printf("tavogen %s\n", TAVOGEN_VERSION);
            return true;
        }
    }
    return false;
}

// The log starts with the banner (the time text's own newline leaves an
// empty line) and the whole command line.
void write_log_head(const run_settings& s) {
    std::fprintf(s.log, "tavogen - tavo genomics post-analysis %s on %s\n", TAVOGEN_VERSION,
                 calendar_text(s.start_time).c_str());
    std::fprintf(s.log, "Arguments:");
    for (const std::string& arg : s.args) std::fprintf(s.log, " %s", arg.c_str());
    std::fprintf(s.log, "\n\n");
}

int open_log(run_settings& s) {
    s.log = std::fopen(s.log_file.c_str(), "w");
    if (!s.log) {
        std::printf("! Problem opening log file (%s) for writing: %s\n", s.log_file.c_str(), std::strerror(errno));
        return ERR_COMMAND_LINE;
    }
    write_log_head(s);
    return ERR_NONE;
}

// Earlier versions took the block as "data:block"; the data set is now found
// by searching, so a colon means an old command line.
int check_block_name(const run_settings& s) {
    if (s.block_name.find(':') == std::string::npos) return ERR_NONE;
    std::printf("! Error: It looks like you are giving the block-field in the format data:blockname "
                "from older tavogen versions.\n");
    std::printf("  For tavogen 1.2, give only the name of the block-field (no data:), tavogen will "
                "search for it across the tavo data sets\n");
    std::fprintf(s.log, "tavogen QUIT - second command line argument is formatted old-style as data:block.\n");
    return ERR_COMMAND_LINE;
}

// The model description scan: the block field's terms, groups and arrays.
int scan_model(run_settings& s, genomic_model& model) {
    model_options opt;
    opt.block_name = s.block_name;
    opt.usefit = s.usefit;
    opt.broad = s.broad;
    opt.bywindow = s.bywindow;
    opt.model_file = s.model_file;
    opt.sample_file = s.sample_file;
    opt.sample_bytes = regular_file_bytes(s.sample_in.get());
    return model_scan(s.model_in.get(), opt, s.block, model);
}

// What went into the results, and how long the run took.
void log_run_size(const run_settings& s, const genomic_model& model) {
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - s.started;
    // The individuals counted in the variances: those without a genotype record are not.
    const int64_t left_out = std::count(model.no_record.begin(), model.no_record.end(), uint8_t{1});
    std::fprintf(s.log, "Used %lld individuals, %d markers (%d used), %lld cycles in %.1f s\n",
                 static_cast<long long>(model.N - left_out), s.block.markers, model.U,
                 static_cast<long long>(model.cycles), took.count());
}

// The output directory of out=, made before the log is opened in it.
int make_output_dir(const run_settings& s) {
    if (!s.out_dir) return ERR_NONE;
    std::string reason;
    if (prepare_output_dir(*s.out_dir, reason)) return ERR_NONE;
    std::printf("! Problem creating output directory %s: %s\n", s.out_dir->c_str(), reason.c_str());
    return ERR_COMMAND_LINE;
}

// The cycle loop and the output files; the loop takes over the sample file
// and the extra files and closes them.
int walk_cycles(run_settings& s, genomic_model& model) {
    cycle_io io;
    io.samples = std::move(s.sample_in);
    io.sample_file = s.sample_file;
    io.xsample = std::move(s.xsample_out);
    io.xsample_file = s.xsample_file;
    io.xlabel = std::move(s.xlabel_out);
    io.xlabel_file = s.xlabel_file;
    io.log = s.log;
    io.log_file = s.log_file;
    io.names.base_name = s.out_base;
    io.names.block_name = s.block_name;
    io.names.by_name = s.by;
    io.names.stage = &s.outputs;
    io.share = s.share;
    io.plot = s.plot;
    model.threads = s.threads;
    const int code = run_cycles(model, s.block, io);
    if (code == ERR_NONE) log_run_size(s, model);
    return code;
}

// After each step the log is flushed, so that a long run can be followed,
// and a signal to end the run is looked at.
int after_step(const run_settings& s, int code) {
    if (s.log) std::fflush(s.log);
    if (code == ERR_NONE && interrupt_signal() != 0) return interrupt_code();
    return code;
}

// The steps up to the end of the run; returns the error code.
int run_steps(run_settings& s, int argc, char** argv) {
    if (argc - 1 < MIN_ARGUMENTS) {
        print_usage();
        return ERR_COMMAND_LINE;
    }
    s.args.assign(argv + 1, argv + argc);
    s.block_name = s.args[1];
    s.out_dir = find_output_dir(s.args);
    set_job_names(s, s.args[0]);
    if (int code = make_output_dir(s)) return code;
    if (int code = after_step(s, open_log(s))) return code;
    if (int code = after_step(s, check_block_name(s))) return code;
    if (int code = after_step(s, read_options(s))) return code;
    set_run_file_names(s);
    if (int code = after_step(s, check_output_files(s))) return code;
    if (int code = after_step(s, locate_block_field(s))) return code;
    if (int code = after_step(s, load_block_data(s))) return code;
    genomic_model model;
    if (int code = after_step(s, scan_model(s, model))) return code;
    return after_step(s, walk_cycles(s, model));
}

// A signal that asked the run to end is told in both channels and gives the
// run its code.
int note_interrupt(const run_settings& s, int code) {
    if (interrupt_signal() == 0) return code;
    std::printf("tavogen interrupted\n");
    if (s.log) std::fprintf(s.log, "tavogen interrupted\n");
    return interrupt_code();
}

// The temporary output files replace the earlier ones only after a run that
// ended well; they are closed first.
int settle_outputs(run_settings& s, int code) {
    s.xsample_out.reset();
    s.xlabel_out.reset();
    if (code != ERR_NONE) {
        discard_staged(s.outputs);
        return code;
    }
    return commit_staged(s.outputs, s.log) ? code : ERR_OUTPUT_FAILED;
}

}  // namespace

std::string calendar_text(std::time_t when) {
    const char* text = std::ctime(&when);
    return text ? text : "(time unknown)\n";
}

int run_tavogen(int argc, char** argv) {
    if (answer_request(argc, argv)) return ERR_NONE;
    catch_interrupts();
    run_settings s;
    s.start_time = std::time(nullptr);
    s.started = std::chrono::steady_clock::now();
    std::printf("tavogen - tavo genomics post-analysis %s on %s", TAVOGEN_VERSION,
                calendar_text(s.start_time).c_str());
    return finish_run(s, run_steps(s, argc, argv));
}

int finish_run(run_settings& s, int code) {
    s.block = block_context{};  // points into the data sets released next
    s.jobdata.first = nullptr;
    s.jobdata.sets.clear();  // every data set releases its sheet, buffers and indexes
    code = settle_outputs(s, note_interrupt(s, code));
    s.error = code;
    if (s.log) std::printf("A log file is written to %s\n", s.log_file.c_str());
    // The time text ends in its own newline, so each finishing line is
    // followed by an empty one.
    const std::string finished = calendar_text(std::time(nullptr));
    if (code != ERR_NONE) {
        std::printf("tavogen finished with error code %d at %s\n", code, finished.c_str());
        if (s.log) std::fprintf(s.log, "\ntavogen finished with error code %d at %s\n", code, finished.c_str());
    } else {
        std::printf("tavogen finished at %s\n", finished.c_str());
        if (s.log) std::fprintf(s.log, "\ntavogen finished at %s\n", finished.c_str());
    }
    // The log's last bytes reach the file only when it is closed: a run whose
    // log could not be written completely does not end as it would have.
    if (s.log && std::fclose(s.log) != 0) {
        std::printf("! Write error on log file %s\n", s.log_file.c_str());
        code = ERR_OUTPUT_FAILED;
    }
    s.log = nullptr;
    return code;
}

}  // namespace tavo
