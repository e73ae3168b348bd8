// End-to-end runs of tavogen that case folders cannot hold: a job name of two
// thousand characters, and results compared over thread counts. The runs
// checked against fixed console and log text are in tests/cases (drv-*).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "support/testutil.h"

namespace {

using testutil::mask_times;
using testutil::read_file;
using testutil::run_program;
using testutil::scratch_dir;
using testutil::TAVOGEN_BANNER;
using testutil::tavogen_console_end;
using testutil::write_file;

const std::string COMMENTS_ONLY_JOB = "# a job without data sets\n\n   # indented comment\n";

std::string log_of(const scratch_dir& dir, const std::string& name) {
    return mask_times(read_file(dir.file(name)));
}

// Job names and file names are not limited to a fixed size.
TEST(TavogenRun, JobNameOfTwoThousandCharacters) {
    scratch_dir dir("drv");
    std::string folder;
    for (int level = 0; level < 10; ++level) folder += std::string(199, char('a' + level)) + "/";
    std::filesystem::create_directories(dir.path / folder);
    const std::string job = folder + "run";
    ASSERT_GT(job.size(), 1999u);
    write_file(dir.file(job + ".tavo"), COMMENTS_ONLY_JOB);
    write_file(dir.file(job + ".out"), "");
    const auto r = run_program(TAVOGEN_BIN, {job, "geno"}, dir.path.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(mask_times(r.console), TAVOGEN_BANNER + "! File " + job +
                                         ".mod cannot be opened: No such file or directory\n"
                                         "Quitting because job output files are incomplete (see log file)\n" +
                                         tavogen_console_end(2, job + ".glog"));
    const std::string log = log_of(dir, job + ".glog");
    EXPECT_NE(log.find("Arguments: " + job + " geno\n"), std::string::npos);
    EXPECT_NE(log.find("   tavo job file (" + job + ".tavo) ... available\n"), std::string::npos);
    EXPECT_NE(log.find("   sample output file (" + job + ".out) ... available\n"), std::string::npos);
    EXPECT_NE(log.find("   model description (" + job + ".mod) ... not available\n"), std::string::npos);
    EXPECT_FALSE(testutil::file_exists(dir.file(job + ".xout.part")));  // made, then removed
}

// A genotype run big enough to be split between threads: 700 individuals
// with missing genotypes, 29 markers on chromosomes of 1 to 9 markers, some
// unused and some with alleles new to the analysis, two additive terms with
// effects that binary fractions do not hold exactly, five cycles.
void write_threaded_run(const scratch_dir& dir) {
    uint32_t state = 12345;
    auto next = [&state](uint32_t range) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % range;
    };
    constexpr int INDIVIDUALS = 700;
    constexpr int MARKERS = 29;
    const int chrom_sizes[] = {1, 9, 3, 1, 7, 2, 6};
    std::string map = "geno chrom alleles freq1 used\n";
    int marker = 0;
    for (int c = 0; c < 7; ++c) {
        for (int k = 0; k < chrom_sizes[c]; ++k, ++marker) {
            const char* used = marker % 11 == 4 ? "0" : marker % 7 == 5 ? "-1" : "1";
            map.append("m").append(std::to_string(marker)).append(" c").append(std::to_string(c));
            map.append(" AG ").append(std::to_string(0.05 + 0.03 * marker)).append(" ").append(used).append("\n");
        }
    }
    std::string genotypes;
    for (int i = 0; i < INDIVIDUALS; ++i) {
        genotypes.append("i").append(std::to_string(i));
        for (int m = 0; m < MARKERS; ++m) {
            const uint32_t code = next(40);
            genotypes.append(code == 0 ? " NA" : code % 3 == 0 ? " 0" : code % 3 == 1 ? " 1" : " 2");
        }
        genotypes += "\n";
    }
    int used_markers = 0;
    for (int m = 0; m < MARKERS; ++m) used_markers += m % 11 != 4;
    std::string samples;
    char value[32];
    for (int cycle = 10; cycle <= 50; cycle += 10) {
        samples += std::to_string(cycle) + " mean 1.5\n";
        for (const char* name : {"add.geno.a", "add.geno.b"}) {
            samples += std::to_string(cycle) + " " + name;
            for (int m = 0; m < used_markers; ++m) {
                std::snprintf(value, sizeof value, " %.9g", (static_cast<double>(next(2001)) - 1000.0) / 7.0);
                samples += value;
            }
            samples += "\n";
        }
    }
    const std::string len = std::to_string(used_markers);
    write_file(dir.file("run.tavo"), "data id animals\n  file=geno.txt\n  id geno[] !genot012\n\n"
                                     "data geno map\n  file=markers.txt -header\n");
    write_file(dir.file("markers.txt.anno"), map);
    write_file(dir.file("geno.txt"), genotypes);
    write_file(dir.file("run.mod"), "add.geno.a 5 " + len + " 0 0 a$geno\nadd.geno.b 5 " + len + " 0 0 b$geno\n");
    write_file(dir.file("run.out"), samples);
}

// The log's posterior table, without the calendar time.
std::string posterior_table(const scratch_dir& dir) {
    const std::string log = log_of(dir, "run.glog");
    const size_t start = log.find("Posterior mean");
    return start == std::string::npos ? std::string() : log.substr(start);
}

// Sums over individuals are never split between threads, so every output is
// the same for any thread count, with and without windows.
TEST(TavogenRun, ResultsDoNotDependOnTheThreadCount) {
    scratch_dir dir("drv");
    write_threaded_run(dir);
    for (const char* grouping : {"by=chrom", "bywindow=5"}) {
        SCOPED_TRACE(grouping);
        const bool by = grouping[2] == '=';
        const std::string gvalues = by ? "run.gval.bychrom.txt" : "run.gval.txt";
        std::string xout, gval, table;
        for (const char* threads : {"threads=1", "threads=3", "threads=16"}) {
            SCOPED_TRACE(threads);
            const auto r = run_program(TAVOGEN_BIN, {"run", "geno", grouping, threads}, dir.path.string());
            ASSERT_EQ(r.status, 0) << r.console;
            EXPECT_NE(r.console.find("5 output samples processed\n"), std::string::npos) << r.console;
            if (xout.empty()) {
                xout = read_file(dir.file("run.xout"));
                gval = read_file(dir.file(gvalues));
                table = posterior_table(dir);
                ASSERT_FALSE(xout.empty() || gval.empty() || table.empty());
                continue;
            }
            EXPECT_EQ(read_file(dir.file("run.xout")), xout);
            EXPECT_EQ(read_file(dir.file(gvalues)), gval);
            EXPECT_EQ(posterior_table(dir), table);
        }
    }
}

// The log's last bytes are written when it is closed: a failure there is a
// write error of the log, not a success.
TEST(TavogenRun, LogThatCannotBeClosedWithoutErrorEndsWithCodeEight) {
    scratch_dir dir("drv");
    std::filesystem::create_symlink("/dev/full", dir.file("run.glog"));
    const auto r = run_program(TAVOGEN_BIN, {"run", "geno"}, dir.path.string());
    EXPECT_EQ(r.status, 8);
    const std::string tail = "! Write error on log file run.glog\n";
    ASSERT_GE(r.console.size(), tail.size());
    EXPECT_EQ(r.console.substr(r.console.size() - tail.size()), tail);
}

}  // namespace
