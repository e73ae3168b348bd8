// Output files written under a temporary name and renamed at the end.
#include "genomic/staging.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tavo {

namespace {

std::string part_of(const std::string& final_name) { return final_name + PART_SUFFIX; }

bool is_folder(const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

output_stage::~output_stage() { discard_staged(*this); }

FILE* open_staged(output_stage& stage, const std::string& final_name) {
    if (is_folder(final_name)) {
        errno = EISDIR;
        return nullptr;
    }
    const std::string part = part_of(final_name);
    FILE* f = std::fopen(part.c_str(), "w");
    if (f) stage.finals.push_back(final_name);
    return f;
}

bool commit_staged(output_stage& stage, FILE* log) {
    for (size_t i = 0; i < stage.finals.size(); ++i) {
        const std::string& name = stage.finals[i];
        const std::string part = part_of(name);
        if (std::rename(part.c_str(), name.c_str()) == 0) continue;
        const char* reason = std::strerror(errno);
        std::printf("! Problem renaming %s to %s: %s\n", part.c_str(), name.c_str(), reason);
        if (log) std::fprintf(log, "! Problem renaming %s to %s: %s\n", part.c_str(), name.c_str(), reason);
        stage.finals.erase(stage.finals.begin(), stage.finals.begin() + static_cast<std::ptrdiff_t>(i));
        discard_staged(stage);
        return false;
    }
    stage.finals.clear();
    return true;
}

void discard_staged(output_stage& stage) {
    for (const std::string& name : stage.finals) std::remove(part_of(name).c_str());
    stage.finals.clear();
}

}  // namespace tavo
