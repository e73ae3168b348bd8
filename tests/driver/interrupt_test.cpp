// Interrupted runs of tavogen, made deterministic: the program reads one of
// its input files from a pipe that the test holds open, so it waits inside
// the step that reads it (the cycle loop, the data loader) when the signal
// comes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
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

// Starts `tavogen run geno <extra>` in `dir` with its console going to console.txt.
pid_t start_tavogen(const scratch_dir& dir, const char* extra = nullptr) {
    const pid_t child = fork();
    if (child != 0) return child;
    const int console = ::open(dir.file("console.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (console < 0 || ::chdir(dir.path.c_str()) != 0) _exit(127);
    ::dup2(console, STDOUT_FILENO);
    ::execl(TAVOGEN_BIN, "tavogen", "run", "geno", extra, static_cast<char*>(nullptr));
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

// Waits until `done` holds, for 20 s at most.
template <typename Done>
bool wait_until(Done done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// A scratch folder with the inputs of the case folders `from` and `fifo`
// made a named pipe; an earlier run's results stand beside them.
void prepare(const scratch_dir& dir, std::initializer_list<const char*> from, const char* fifo) {
    for (const char* f : from)
        fs::copy(fs::path(CASES_DIR) / f, dir.path, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    fs::remove_all(dir.file(fifo));
    ASSERT_EQ(::mkfifo(dir.file(fifo).c_str(), 0600), 0);
    write_file(dir.file("run.xout"), "from an earlier run\n");
    write_file(dir.file("run.xlab"), "labels of an earlier run\n");
}

// Sends `sig` to the waiting child and gives its exit status. A signal that
// came just before a read began is seen once the pipe ends.
int interrupt(pid_t child, int sig, int pipe) {
    ::kill(child, sig);
    int status = wait_for(child, std::chrono::seconds(5));
    ::close(pipe);
    if (status == -1) status = wait_for(child, std::chrono::seconds(5));
    return status;
}

// The run ended through the finishing sequence with `code`, with nothing
// else said after the step it was in, and left the earlier results alone.
void expect_interrupted_run(const scratch_dir& dir, int status, int code) {
    EXPECT_EQ(status, code);
    const std::string finish = "tavogen interrupted\nA log file is written to run.glog\n"
                               "tavogen finished with error code " + std::to_string(code) + " at <time>\n";
    const std::string console = testutil::mask_times(read_file(dir.file("console.txt")));
    EXPECT_NE(console.find(finish), std::string::npos) << console;
    EXPECT_EQ(console.find("!"), std::string::npos) << console;  // no problem reported
    const std::string log = testutil::mask_times(read_file(dir.file("run.glog")));
    EXPECT_TRUE(log.starts_with("tavogen - tavo genomics post-analysis")) << log;
    EXPECT_TRUE(log.ends_with("tavogen interrupted\n\ntavogen finished with error code " + std::to_string(code) +
                              " at <time>\n\n"))
        << log;
    EXPECT_EQ(read_file(dir.file("run.xout")), "from an earlier run\n");
    EXPECT_EQ(read_file(dir.file("run.xlab")), "labels of an earlier run\n");
    for (const char* name : {"run.xout.part", "run.xlab.part", "run.gval.txt.part", "run.gval.txt"})
        EXPECT_FALSE(file_exists(dir.file(name))) << name;
}

// The sample file is the pipe: the program waits in the cycle loop, after
// the G-value file was made just before the first cycle.
void interrupt_in_cycles(int sig, int code) {
    scratch_dir dir("intr");
    prepare(dir, {"_shared/genotypes", "gen-one-additive-term/input"}, "run.out");

    const pid_t child = start_tavogen(dir);
    ASSERT_GT(child, 0);
    const int pipe = ::open(dir.file("run.out").c_str(), O_WRONLY);  // waits for the program to open it
    ASSERT_GE(pipe, 0);
    const std::string first_cycle = "10 mean 3.5\n10 add.geno.a 0.5 -1 2 1\n10 var.e 1.25\n";
    ASSERT_EQ(::write(pipe, first_cycle.data(), first_cycle.size()), static_cast<ssize_t>(first_cycle.size()));
    ASSERT_TRUE(wait_until([&] { return file_exists(dir.file("run.gval.txt.part")); })) << read_file(dir.file("run.glog"));
    expect_interrupted_run(dir, interrupt(child, sig, pipe), code);
}

TEST(TavogenRun, InterruptEndsThroughTheFinishingSequenceAndKeepsEarlierResults) {
    interrupt_in_cycles(SIGINT, 130);
}

TEST(TavogenRun, TerminationEndsThroughTheFinishingSequenceWithCode143) {
    interrupt_in_cycles(SIGTERM, 143);
}

// The genotype data file is the pipe, appended to the identifier filter (so
// the set-up does not count its lines first): the program waits in the
// loader's line loop once it has taken the lines written so far.
TEST(TavogenRun, InterruptDuringDataLoadingEndsThroughTheFinishingSequence) {
    scratch_dir dir("intr-load");
    prepare(dir, {"gen-one-additive-term/input", "reg-appended-data-file-is-a-folder/input"}, "geno.txt");

    const pid_t child = start_tavogen(dir, "ids=animals");
    ASSERT_GT(child, 0);
    const int pipe = ::open(dir.file("geno.txt").c_str(), O_WRONLY);
    ASSERT_GE(pipe, 0);
    std::string lines;
    for (int i = 0; i < 3000; ++i) {  // past a look at the signal
        lines += 'A';
        lines += std::to_string(i);
        lines += " 0 1 2 NA\n";
    }
    ASSERT_EQ(::write(pipe, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    ASSERT_TRUE(wait_until([&] {
        int unread = 0;
        return ::ioctl(pipe, FIONREAD, &unread) == 0 && unread == 0;
    }));
    expect_interrupted_run(dir, interrupt(child, SIGINT, pipe), 130);
    EXPECT_NE(read_file(dir.file("console.txt")).find("from geno.txt\n"), std::string::npos);
}

}  // namespace
