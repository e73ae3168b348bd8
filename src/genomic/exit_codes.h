// The exit codes of tavogen, in one place. The computation's steps (model
// scan, cycle loop, outputs) return theirs to the driver, which ends the run
// with the first nonzero one.
#pragma once

namespace tavo {

enum error_code : int {
    ERR_NONE = 0,
    ERR_COMMAND_LINE = 1,     // arguments, log file, old-style block name, bywindow=, threads=
    ERR_JOB_FILES = 2,        // job output files incomplete or unwritable
    ERR_NOT_FOUND = 3,        // identifier filter or block field not found
    ERR_SETUP = 4,            // data set set-up failed
    ERR_NOT_BLOCK = 5,        // the named field is not a block field
    ERR_MODEL_REFUSED = 6,    // every refusal of the model description scan
    ERR_READING_STOPPED = 7,  // the cycle reading stopped for a problem, or no cycle was processed
    ERR_OUTPUT_FAILED = 8,    // the G-value file cannot be opened; a write error on any output file
    ERR_MAP_FIELDS = 9,       // marker map: statistics or by= field missing, no key, no linked data set
    // Loading failed with problem counts whose low byte is 0 (256, 512, ...):
    // the run must not go on as if the data had loaded.
    ERR_LOAD_WRAPPED = -1,
};

}  // namespace tavo
