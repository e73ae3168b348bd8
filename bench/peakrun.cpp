// peakrun: runs a command and reports its wall time and peak resident memory.
//
//   peakrun command [arguments...]
//
// The command inherits standard input and output; the report goes to standard
// error as one line "peakrun: status S wall_s W cpu_s C maxrss_kb M", so that
// scripts can read it. The CPU time (user + system) shows the program's own cost
// on a machine that other work keeps busy, where the wall time is inflated. The exit status is the command's (127 when it could not be started).
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

static double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: peakrun command [arguments...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "peakrun: fork failed: %s\n", std::strerror(errno));
        return 127;
    }
    if (child == 0) {
        execvp(argv[1], argv + 1);
        std::fprintf(stderr, "peakrun: cannot start %s: %s\n", argv[1], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "peakrun: wait failed: %s\n", std::strerror(errno));
            return 127;
        }
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const double cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    std::fprintf(stderr, "peakrun: status %d wall_s %.3f cpu_s %.3f maxrss_kb %ld\n", code, wall.count(), cpu,
                 usage.ru_maxrss);
    return code;
}
