// An interrupted run of tavogen, made deterministic: the program reads its
// sample file from a pipe that the test holds open, so it waits inside the
// cycle loop when the signal comes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/testutil.h"

namespace {

using testutil::file_exists;
using testutil::read_file;
using testutil::scratch_dir;
using testutil::write_file;

namespace fs = std::filesystem;

// Starts tavogen in `dir` with its console going to console.txt.
pid_t start_tavogen(const scratch_dir& dir) {
    const pid_t child = fork();
    if (child != 0) return child;
    const int console = ::open(dir.file("console.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (console < 0 || ::chdir(dir.path.c_str()) != 0) _exit(127);
    ::dup2(console, STDOUT_FILENO);
    ::execl(TAVOGEN_BIN, "tavogen", "run", "geno", static_cast<char*>(nullptr));
    _exit(127);
}

// The exit status, or -1 when the child has not ended within `limit`.
int wait_for(pid_t child, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    int raw = 0;
    while (::waitpid(child, &raw, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(TavogenRun, InterruptEndsThroughTheFinishingSequenceAndKeepsEarlierResults) {
    scratch_dir dir("intr");
    for (const char* from : {"_shared/genotypes", "gen-one-additive-term/input"})
        fs::copy(fs::path(CASES_DIR) / from, dir.path, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    fs::remove(dir.file("run.out"));
    ASSERT_EQ(::mkfifo(dir.file("run.out").c_str(), 0600), 0);
    write_file(dir.file("run.xout"), "from an earlier run\n");

    const pid_t child = start_tavogen(dir);
    ASSERT_GT(child, 0);
    const int pipe = ::open(dir.file("run.out").c_str(), O_WRONLY);  // waits for the program to open it
    ASSERT_GE(pipe, 0);
    const std::string first_cycle = "10 mean 3.5\n10 add.geno.a 0.5 -1 2 1\n10 var.e 1.25\n";
    ASSERT_EQ(::write(pipe, first_cycle.data(), first_cycle.size()), static_cast<ssize_t>(first_cycle.size()));
    // The G-value file is made just before the first cycle is read.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!file_exists(dir.file("run.gval.txt.part")) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(file_exists(dir.file("run.gval.txt.part"))) << read_file(dir.file("run.glog"));
    ::kill(child, SIGINT);
    int status = wait_for(child, std::chrono::seconds(5));
    // A signal that came just before the read began is seen once the pipe ends.
    ::close(pipe);
    if (status == -1) status = wait_for(child, std::chrono::seconds(5));

    EXPECT_EQ(status, 130);
    const std::string console = testutil::mask_times(read_file(dir.file("console.txt")));
    EXPECT_NE(console.find("tavogen interrupted\nA log file is written to run.glog\n"
                           "tavogen finished with error code 130 at <time>\n"),
              std::string::npos)
        << console;
    const std::string log = testutil::mask_times(read_file(dir.file("run.glog")));
    EXPECT_TRUE(log.starts_with("tavogen - tavo genomics post-analysis")) << log;
    EXPECT_TRUE(log.ends_with("tavogen interrupted\n\ntavogen finished with error code 130 at <time>\n\n")) << log;
    EXPECT_EQ(read_file(dir.file("run.xout")), "from an earlier run\n");
    for (const char* name : {"run.xout.part", "run.xlab.part", "run.gval.txt.part", "run.xlab", "run.gval.txt"})
        EXPECT_FALSE(file_exists(dir.file(name))) << name;
}

}  // namespace
