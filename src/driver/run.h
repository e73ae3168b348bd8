// Run settings of tavogen and its main routine.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "jobfile/dataset.h"

namespace tavo {

constexpr const char* TAVOGEN_VERSION = "1.21";

// Error codes of a run (the exit status).
enum error_code : int {
    ERR_NONE = 0,
    ERR_COMMAND_LINE = 1,  // arguments, log file, old-style block name, bywindow=
    ERR_JOB_FILES = 2,     // job output files incomplete or unwritable
    ERR_NOT_FOUND = 3,     // identifier filter or block field not found
    ERR_SETUP = 4,         // data set set-up failed
    ERR_NOT_BLOCK = 5,     // the named field is not a block field
};

struct run_settings {
    std::time_t start_time = 0;
    std::string job_file;      // always ends in the extension
    std::string base_name;     // stem of every other file name
    std::string log_file;      // base + ".glog"
    std::string model_file;    // base + ".mod"
    std::string sample_file;   // base + ".out"
    std::string xsample_file;  // base + ".xout"
    std::string xlabel_file;   // base + ".xlab"
    std::string block_name;
    std::vector<std::string> args;  // the whole command line, program name excluded
    bool broad = false;
    bool usefit = false;
    bool has_ids = false;
    std::string ids;           // ids= value (untrimmed)
    bool has_by = false;
    std::string by;            // by= value (untrimmed)
    int bywindow = 0;          // window width, odd and positive when given
    FILE* log = nullptr;       // open from the log step to the end of the run
    int error = ERR_NONE;
    job jobdata;               // the job's data sets and paths
};

// The whole run of tavogen; returns the exit status.
int run_tavogen(int argc, char** argv);

}  // namespace tavo
