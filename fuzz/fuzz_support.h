// Shared pieces of the fuzz harnesses: the input as an open stream, and a
// scratch folder for the harnesses that go through data files by name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
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

// Written by plain system calls: a stream would allocate and zero a buffer
// for every file of every run.
inline void write_file(const std::string& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

// One stream to /dev/null for the whole process, for the programs' logs.
inline FILE* null_log() {
    static const file_ptr log(std::fopen("/dev/null", "w"));
    return log.get();
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
