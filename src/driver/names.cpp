// Names of the run's files, all derived from the job name.
#include "driver/run.h"
#include "text/keywords.h"

namespace tavo {

namespace {

constexpr std::string_view JOB_EXTENSION = "tavo";

bool ends_with_nocase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && equal_ignoring_case(text.substr(text.size() - tail.size()), tail);
}

// DIR/<last part of the base name>, or the base name itself without DIR.
std::string output_base(const run_settings& s) {
    if (!s.out_dir) return s.base_name;
    const size_t slash = s.base_name.find_last_of('/');
    const std::string last = slash == std::string::npos ? s.base_name : s.base_name.substr(slash + 1);
    const std::string& dir = *s.out_dir;
    return dir.ends_with('/') ? dir + last : dir + "/" + last;
}

}  // namespace

void set_job_names(run_settings& s, std::string_view job_arg) {
    // The extension and the character before it (normally the dot) are cut;
    // a name too short to hold both is taken as the base name as it stands.
    const size_t cut = JOB_EXTENSION.size() + 1;
    if (job_arg.size() >= cut && ends_with_nocase(job_arg, JOB_EXTENSION)) {
        s.job_file = job_arg;
        s.base_name = job_arg.substr(0, job_arg.size() - cut);
    } else {
        s.base_name = job_arg;
        s.job_file = std::string(job_arg) + ".tavo";
    }
    s.out_base = output_base(s);
    s.log_file = s.out_base + ".glog";
}

void set_run_file_names(run_settings& s) {
    s.model_file = s.base_name + ".mod";
    s.sample_file = s.base_name + ".out";
    s.xsample_file = s.out_base + ".xout";
    s.xlabel_file = s.out_base + ".xlab";
}

}  // namespace tavo
