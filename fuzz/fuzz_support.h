// Shared pieces of the fuzz harnesses: the input as an open stream, and a
// scratch folder for the harnesses that go through data files by name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzing {

struct file_closer {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// The bytes as a read-only stream. fmemopen refuses a size of 0, so an empty
// input reads from /dev/null; `keep` holds the bytes while the stream is open.
inline file_ptr open_bytes(const uint8_t* data, size_t size, std::string& keep) {
    if (size == 0) return file_ptr(std::fopen("/dev/null", "rb"));
    keep.assign(reinterpret_cast<const char*>(data), size);
    return file_ptr(fmemopen(keep.data(), keep.size(), "rb"));
}

// A scratch folder made once per process (in memory where /dev/shm exists),
// removed when the process ends; its name ends in "/".
struct scratch {
    std::string folder;
    scratch() {
        std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/tavo-fuzz-XXXXXX" : "/tmp/tavo-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        folder = pattern + "/";
    }
    ~scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

inline const std::string& scratch_folder() {
    static const scratch made;
    return made.folder;
}

inline void write_file(const std::string& path, std::string_view text) {
    file_ptr f(std::fopen(path.c_str(), "wb"));
    if (!f) std::abort();
    std::fwrite(text.data(), 1, text.size(), f.get());
}

// The input split at its NUL bytes, at most `parts` parts (the last keeps the rest).
inline std::vector<std::string_view> split_at_nul(const uint8_t* data, size_t size, size_t parts) {
    std::vector<std::string_view> out;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (out.size() + 1 < parts) {
        const size_t nul = rest.find('\0');
        if (nul == std::string_view::npos) break;
        out.push_back(rest.substr(0, nul));
        rest.remove_prefix(nul + 1);
    }
    out.push_back(rest);
    return out;
}

}  // namespace fuzzing
