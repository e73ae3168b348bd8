// The output check: the job file and the run's files are opened, the job
// file is read, and the log tells which of them are available.
#include <cerrno>
#include <cstring>

#include "driver/run.h"
#include "jobfile/jobfile.h"
#include "text/interrupt.h"

namespace tavo {

namespace {

// A folder or a file without read permission may open and still fail at the
// first read; such a file counts as not available. `reason` tells why not.
file_ptr open_for_reading(const std::string& name, std::string& reason) {
    errno = 0;
    file_ptr in(std::fopen(name.c_str(), "r"));
    if (in) {
        // The character is given back rather than rewound to, so that a
        // pipe can be read as well.
        const int first = std::fgetc(in.get());
        const bool readable = !std::ferror(in.get());
        if (first != EOF) std::ungetc(first, in.get());
        else std::rewind(in.get());
        if (readable) return in;
        in.reset();
    }
    reason = std::strerror(errno);
    return in;
}

// The console and the log name the files that could not be opened, and why.
void report_unopened(FILE* log, const std::string& name, const std::string& reason) {
    if (reason.empty()) return;
    std::printf("! File %s cannot be opened: %s\n", name.c_str(), reason.c_str());
    std::fprintf(log, "! File %s cannot be opened: %s\n", name.c_str(), reason.c_str());
}

void log_availability(FILE* log, const char* what, const std::string& name, bool available) {
    std::fprintf(log, "   %s (%s) ... %s\n", what, name.c_str(), available ? "available" : "not available");
}

// Has the job file read; true when it was read without problems.
bool read_job(run_settings& s) {
    s.jobdata.file_name = s.job_file;
    const int problems = read_jobfile(s.job_in.get(), s.jobdata);
    if (problems != 0) {
        if (interrupt_signal() == 0) std::fprintf(s.log, "   ... but with reading problems\n");
        return false;
    }
    std::fprintf(s.log, "   ... reading OK, available data sets:");
    for (const dataset* ds = s.jobdata.first; ds; ds = ds->next) std::fprintf(s.log, " %s", ds->name.c_str());
    std::fprintf(s.log, "\n");
    return true;
}

}  // namespace

int check_output_files(run_settings& s) {
    std::fprintf(s.log, "\nChecking output files with this job:\n");
    // All five are opened before anything is reported; the extra files are
    // temporary files, which the finishing sequence removes unless the run
    // ends well, so a stop below leaves earlier results as they were.
    std::string job_reason, sample_reason, model_reason;
    s.job_in = open_for_reading(s.job_file, job_reason);
    s.sample_in = open_for_reading(s.sample_file, sample_reason);
    s.model_in = open_for_reading(s.model_file, model_reason);
    s.xsample_out.reset(open_staged(s.outputs, s.xsample_file));
    s.xlabel_out.reset(open_staged(s.outputs, s.xlabel_file));

    log_availability(s.log, "tavo job file", s.job_file, s.job_in != nullptr);
    const bool job_read = s.job_in && read_job(s);
    if (!job_read && interrupt_signal() != 0) return ERR_JOB_FILES;  // the run tells why it ended
    log_availability(s.log, "sample output file", s.sample_file, s.sample_in != nullptr);
    log_availability(s.log, "model description", s.model_file, s.model_in != nullptr);
    if (!job_read || !s.sample_in || !s.model_in) {
        report_unopened(s.log, s.job_file, job_reason);
        report_unopened(s.log, s.sample_file, sample_reason);
        report_unopened(s.log, s.model_file, model_reason);
        std::printf("Quitting because job output files are incomplete (see log file)\n");
        std::fprintf(s.log, "Quitting because job output files are incomplete\n");
        return ERR_JOB_FILES;
    }
    if (!s.xsample_out || !s.xlabel_out) {
        std::printf("Failure to open sample output files for writing\n");
        std::fprintf(s.log, "Failure to open sample output files for writing\n");
        return ERR_JOB_FILES;
    }
    return ERR_NONE;
}

}  // namespace tavo
