// The job file step of the output check: open the job file, have it read,
// and report in the log what it holds.
#include "driver/run.h"
#include "jobfile/jobfile.h"

namespace tavo {

namespace {

int quit_incomplete(const run_settings& s) {
    std::printf("Quitting because job output files are incomplete (see log file)\n");
    std::fprintf(s.log, "Quitting because job output files are incomplete\n");
    return ERR_JOB_FILES;
}

// A folder or a file without read permission may open and still fail at the
// first read; such a job file counts as not available.
bool readable(FILE* in) {
    std::fgetc(in);
    const bool ok = !std::ferror(in);
    std::rewind(in);
    return ok;
}

// What the reader found: whether it read without problems (with the data
// set names), then the problem count, the data path and one line per data set.
void report_job(FILE* log, const job& j, int problems) {
    if (problems == 0) {
        std::fprintf(log, "   ... reading OK, available data sets:");
        for (const dataset* ds = j.first; ds; ds = ds->next) std::fprintf(log, " %s", ds->name.c_str());
        std::fprintf(log, "\n");
    } else {
        std::fprintf(log, "   ... but with reading problems\n");
    }
    std::fprintf(log, "   problems reading the job file: %d\n", problems);
    std::fprintf(log, "   data path: \"%s\"\n", j.data_path.c_str());
    for (const dataset* ds = j.first; ds; ds = ds->next) {
        std::fprintf(log, "   data set %d: key %s, name %s, file \"%s\"\n", ds->number, ds->key.c_str(),
                     ds->name.c_str(), ds->file.c_str());
    }
}

}  // namespace

int check_job_file(run_settings& s) {
    std::fprintf(s.log, "\nChecking output files with this job:\n");
    file_ptr in(std::fopen(s.job_file.c_str(), "r"));
    if (!in || !readable(in.get())) {
        std::fprintf(s.log, "   tavo job file (%s) ... not available\n", s.job_file.c_str());
        return quit_incomplete(s);
    }
    std::fprintf(s.log, "   tavo job file (%s) ... available\n", s.job_file.c_str());
    const int problems = read_jobfile(in.get(), s.jobdata);
    report_job(s.log, s.jobdata, problems);
    if (problems != 0) return quit_incomplete(s);
    return ERR_NONE;
}

}  // namespace tavo
