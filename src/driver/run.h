// Run settings of tavogen and its main routine.
#pragma once

#include <cstdio>
#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "genomic/exit_codes.h"
#include "genomic/staging.h"
#include "genomic/terms.h"
#include "jobfile/dataset.h"

namespace tavo {

constexpr const char* TAVOGEN_VERSION = "1.21";

// The number of cores the machine reports, or 1 when it reports none: the
// thread count of the cycle computation when no threads= option is given.
int default_threads();

struct run_settings {
    std::time_t start_time = 0;
    std::string job_file;      // always ends in the extension
    std::string base_name;     // stem of the files the run reads
    std::string out_base;      // stem of the files the run writes: base, or DIR/<last part of base> with out=
    std::optional<std::string> out_dir;  // out= value (the last one)
    std::string log_file;      // out_base + ".glog"
    std::string model_file;    // base + ".mod"
    std::string sample_file;   // base + ".out"
    std::string xsample_file;  // out_base + ".xout"
    std::string xlabel_file;   // out_base + ".xlab"
    std::string block_name;
    std::vector<std::string> args;  // the whole command line, program name excluded
    bool broad = false;
    bool usefit = false;
    bool has_ids = false;
    std::string ids;           // ids= value (untrimmed)
    bool has_by = false;
    std::string by;            // by= value (untrimmed)
    int bywindow = 0;          // window width, odd and positive when given
    int threads = default_threads();  // threads of the cycle computation (threads=)
    double share = 0.001;      // share= threshold of the variance shares (above 0, below 1)
    bool plot = false;         // plot: the picture of the shares
    FILE* log = nullptr;       // open from the log step to the end of the run
    int error = ERR_NONE;
    job jobdata;               // the job's data sets and paths
    std::chrono::steady_clock::time_point started;  // for the run's duration in the log
    // The written files but the log, made as temporary files and put in
    // place by the finishing sequence of a run that ended well.
    output_stage outputs;
    // The run's files, open from the output check to the end of the run.
    file_ptr job_in;           // job file, read by the job file reader
    file_ptr sample_in;        // base + ".out"
    file_ptr model_in;         // base + ".mod"
    file_ptr xsample_out;      // out_base + ".xout", written as a temporary file
    file_ptr xlabel_out;       // out_base + ".xlab", written as a temporary file
    block_context block;       // filter, block data set, block field and marker map
};

// The whole run of tavogen; returns the exit status.
int run_tavogen(int argc, char** argv);

// The pieces of the run, in the order the run takes them.

// A calendar time in its 24-character text form, which carries its own newline.
std::string calendar_text(std::time_t when);

// Job file name and base name from the first argument, and the log file name.
// A first argument of at least five characters ending in "tavo" (any case) is
// the job file name, and the base name is that argument less five characters;
// any other first argument is the base name itself. With an output directory
// (s.out_dir) the written files take its name and the base name's last part.
void set_job_names(run_settings& s, std::string_view job_arg);

// The model, sample and extra file names: the base name with their extensions.
void set_run_file_names(run_settings& s);

// The help text: the command line and one line per entry of the option table.
std::string usage_text();

// True when an argument asks for the help text or the version.
bool is_help_request(std::string_view arg);
bool is_version_request(std::string_view arg);

// The out= value of the options (the last one holds), or none.
std::optional<std::string> find_output_dir(const std::vector<std::string>& args);

// Makes the output directory when it is missing (one level) and checks that
// files can be written in it; false with errno's reason otherwise.
bool prepare_output_dir(const std::string& dir, std::string& reason);

// Entries of the option table "probit;broad;ids=*;by=*;usefit;bywindow=*;threads=*;share=*;plot;out=*".
enum option_entry : int {
    OPT_NONE = -1,
    OPT_PROBIT = 0,
    OPT_BROAD = 1,
    OPT_IDS = 2,
    OPT_BY = 3,
    OPT_USEFIT = 4,
    OPT_BYWINDOW = 5,
    OPT_THREADS = 6,
    OPT_SHARE = 7,
    OPT_PLOT = 8,
    OPT_OUT = 9,
};

// The table entry that a command-line option matches, or OPT_NONE.
option_entry match_option(std::string_view arg);

// Reads a decimal integer the way "%d" does: leading white space and a sign
// are accepted, trailing text is ignored. False when no digit follows, or
// when the number does not fit an int.
bool read_leading_int(std::string_view text, int& value);

// Reads a share= value: the whole text a decimal number above 0 and below 1.
bool read_share(std::string_view text, double& value);

// Reads the options (arguments from the third on) into the settings, warning
// about unrecognised ones on the console and in the log. Returns 0, or the
// error code of a stop.
int read_options(run_settings& s);

// Output check: opens the job file and the run's files (the extra files as
// temporary files of s.outputs), has the job file read and reports what is
// available. Returns 0, or ERR_JOB_FILES.
int check_output_files(run_settings& s);

// Finds the identifier filter, the block data set, has the data sets set up,
// finds the block field and its marker map. Returns 0 or the stop's code.
int locate_block_field(run_settings& s);

// Checks and types the marker map's fields (by=, and alleles, used, freq1 of
// a genotype block), loads the data and reports markers with new alleles.
// Returns 0 or the stop's code (possibly negative: the signed low byte of
// the loading problems).
int load_block_data(run_settings& s);

// The finishing sequence: releases the data sets; after a signal prints
// "tavogen interrupted\n" and takes its code (130, 143); puts the temporary
// output files in place when the code is 0 (ERR_OUTPUT_FAILED when a rename
// fails) and removes them otherwise; prints the finishing lines, closes the
// log and returns the code as the exit status, or ERR_OUTPUT_FAILED (after
// "! Write error on log file %s\n") when the log cannot be closed without a
// write error. A negative code reaches the operating system as its low byte.
int finish_run(run_settings& s, int code);

}  // namespace tavo
