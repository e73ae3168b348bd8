// End-to-end runs of tavogen: command line, log and finishing sequence.
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
using testutil::write_file;

const std::string BANNER = "tavogen - tavo genomics post-analysis 1.21 on <time>\n";
const std::string LOG_BANNER = BANNER + "\n";
const std::string COMMENTS_ONLY_JOB = "# a job without data sets\n\n   # indented comment\n";

std::string finished_with(int code) {
    return "tavogen finished with error code " + std::to_string(code) + " at <time>\n\n";
}

std::string log_of(const scratch_dir& dir, const std::string& name) {
    return mask_times(read_file(dir.file(name)));
}

bool folder_is_empty(const scratch_dir& dir) { return std::filesystem::is_empty(dir.path); }

TEST(TavogenRun, TooFewArgumentsShowUsageAndOpenNoLog) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"run"}, std::vector<std::string>{}}) {
        scratch_dir dir("drv");
        const auto r = run_program(TAVOGEN_BIN, args, dir.path.string());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(mask_times(r.console),
                  BANNER +
                      "! Error: missing / insufficient arguments\n"
                      "  Usage is: tavogen jobfilename blockname moreoptions\n"
                      "  Additional options (in any order): ids=, by=, bywindow=, broad\n" +
                      finished_with(1));
        EXPECT_TRUE(folder_is_empty(dir));
    }
}

TEST(TavogenRun, OldStyleBlockNameStopsBeforeAnyOption) {
    scratch_dir dir("drv");
    const auto r = run_program(TAVOGEN_BIN, {"run", "data1:geno", "bywindow=0", "broadly"}, dir.path.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(mask_times(r.console),
              BANNER +
                  "! Error: It looks like you are giving the block-field in the format data:blockname from "
                  "older tavogen versions.\n"
                  "  For tavogen 1.2, give only the name of the block-field (no data:), tavogen will search "
                  "for it across the tavo data sets\n"
                  "A log file is written to run.glog\n" +
                  finished_with(1));
    EXPECT_EQ(log_of(dir, "run.glog"),
              LOG_BANNER +
                  "Arguments: run data1:geno bywindow=0 broadly\n\n"
                  "tavogen QUIT - second command line argument is formatted old-style as data:block.\n"
                  "\n" +
                  finished_with(1));
}

TEST(TavogenRun, LogThatCannotBeOpenedStopsTheRun) {
    scratch_dir dir("drv");
    const auto r = run_program(TAVOGEN_BIN, {"nofolder/run.tavo", "geno"}, dir.path.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(mask_times(r.console),
              BANNER + "! Problem opening log file (nofolder/run.glog) for writing\n" + finished_with(1));
    EXPECT_TRUE(folder_is_empty(dir));
}

// Without the run's sample output and model description the output check
// stops the run after reporting what is there.
TEST(TavogenRun, JobFileAloneStopsAtTheOutputCheck) {
    scratch_dir dir("drv");
    write_file(dir.file("run.tavo"), COMMENTS_ONLY_JOB);
    const auto r = run_program(TAVOGEN_BIN, {"run.tavo", "geno", "probit"}, dir.path.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(mask_times(r.console),
              BANNER +
                  "Quitting because job output files are incomplete (see log file)\n"
                  "A log file is written to run.glog\n" +
                  finished_with(2));
    EXPECT_EQ(log_of(dir, "run.glog"),
              LOG_BANNER +
                  "Arguments: run.tavo geno probit\n\n"
                  "\nChecking output files with this job:\n"
                  "   tavo job file (run.tavo) ... available\n"
                  "   ... reading OK, available data sets:\n"
                  "   sample output file (run.out) ... not available\n"
                  "   model description (run.mod) ... not available\n"
                  "Quitting because job output files are incomplete\n"
                  "\n" +
                  finished_with(2));
}

TEST(TavogenRun, OptionMessagesGoToConsoleAndLogAndTheRunGoesOn) {
    scratch_dir dir("drv");
    write_file(dir.file("run.tavo"), COMMENTS_ONLY_JOB);
    write_file(dir.file("run.out"), "");
    write_file(dir.file("run.mod"), "");
    const auto r = run_program(TAVOGEN_BIN, {"run", "geno", "broadly", "bywindow=4"}, dir.path.string());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(mask_times(r.console),
              BANNER +
                  "! Warning: unrecognized / unused option broadly\n"
                  "NOTE: bywindow setting needs to be an odd number; it is changed to 5\n"
                  "Quitting because of problems identifying the data set with the block field (see log file)\n"
                  "A log file is written to run.glog\n" +
                  finished_with(3));
    EXPECT_EQ(log_of(dir, "run.glog"),
              LOG_BANNER +
                  "Arguments: run geno broadly bywindow=4\n\n"
                  "************\n"
                  "* Warning! * The command line option broadly was not recognized and was ignored\n"
                  "************\n"
                  "NOTE: bywindow setting needs to be an odd number; it was changed to 5\n"
                  "\nChecking output files with this job:\n"
                  "   tavo job file (run.tavo) ... available\n"
                  "   ... reading OK, available data sets:\n"
                  "   sample output file (run.out) ... available\n"
                  "   model description (run.mod) ... available\n"
                  "   No data identified for Id filtering\n"
                  "! The block-field geno was not found in any data set specified in the tavo job file.\n"
                  "\n" +
                  finished_with(3));
}

// The data sets are listed by name; the data path is applied by the set-up,
// whose failure to open a data file stops the run with code 4.
TEST(TavogenRun, ReportsTheDataSetsTheJobDeclares) {
    scratch_dir dir("drv");
    write_file(dir.file("run.tavo"),
               "$path=../data/\n"
               "data id ped\n  file=ped.txt\n  id sire dam\n"
               "model\n  y = geno\n"
               "DATA id geno\n  file=geno.txt !bigenot\n  id geno[]\n");
    write_file(dir.file("run.out"), "");
    write_file(dir.file("run.mod"), "");
    const auto r = run_program(TAVOGEN_BIN, {"run", "geno"}, dir.path.string());
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(mask_times(r.console),
              BANNER +
                  "!Skipping job input at jobline 1: no section defined\n"
                  "ERROR problem opening file [../data/ped.txt] for data 1\n"
                  "ERROR problem opening file [../data/geno.txt] for data 2\n"
                  "A log file is written to run.glog\n" +
                  finished_with(4));
    EXPECT_EQ(log_of(dir, "run.glog"),
              LOG_BANNER +
                  "Arguments: run geno\n\n"
                  "\nChecking output files with this job:\n"
                  "   tavo job file (run.tavo) ... available\n"
                  "   ... reading OK, available data sets: ped geno\n"
                  "   sample output file (run.out) ... available\n"
                  "   model description (run.mod) ... available\n"
                  "   No data identified for Id filtering\n"
                  "   File identified with block covariate/genotype data is: geno.txt\n"
                  "! Problem preparing loading data file(s)\n"
                  "ERROR problem opening file [../data/geno.txt] for data 2\n"
                  "\n" +
                  finished_with(4));
}

// The output check stops on a job file that was read with problems.
TEST(TavogenRun, JobFileWithReadingProblemsStopsWithCodeTwo) {
    scratch_dir dir("drv");
    write_file(dir.file("run.tavo"), "$path\ndata id ped\n");
    write_file(dir.file("run.out"), "");
    write_file(dir.file("run.mod"), "");
    const auto r = run_program(TAVOGEN_BIN, {"run", "geno"}, dir.path.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(mask_times(r.console),
              BANNER +
                  "Wrong format for $variable (missing equal sign) at job line: $path"
                  "Quitting because job output files are incomplete (see log file)\n"
                  "A log file is written to run.glog\n" +
                  finished_with(2));
    EXPECT_EQ(log_of(dir, "run.glog"),
              LOG_BANNER +
                  "Arguments: run geno\n\n"
                  "\nChecking output files with this job:\n"
                  "   tavo job file (run.tavo) ... available\n"
                  "   ... but with reading problems\n"
                  "   sample output file (run.out) ... available\n"
                  "   model description (run.mod) ... available\n"
                  "Quitting because job output files are incomplete\n"
                  "\n" +
                  finished_with(2));
}

// A missing job file, and a folder in its place (it opens but cannot be read).
TEST(TavogenRun, JobFileNotAvailableStopsWithCodeTwo) {
    for (bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "folder" : "missing");
        scratch_dir dir("drv");
        if (folder) std::filesystem::create_directory(dir.path / "run.tavo");
        write_file(dir.file("run.out"), "");
        write_file(dir.file("run.mod"), "");
        const auto r = run_program(TAVOGEN_BIN, {"run", "geno"}, dir.path.string());
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(mask_times(r.console),
                  BANNER +
                      "Quitting because job output files are incomplete (see log file)\n"
                      "A log file is written to run.glog\n" +
                      finished_with(2));
        EXPECT_EQ(log_of(dir, "run.glog"),
                  LOG_BANNER +
                      "Arguments: run geno\n\n"
                      "\nChecking output files with this job:\n"
                      "   tavo job file (run.tavo) ... not available\n"
                      "   sample output file (run.out) ... available\n"
                      "   model description (run.mod) ... available\n"
                      "Quitting because job output files are incomplete\n" +
                      "\n" + finished_with(2));
    }
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
    EXPECT_EQ(mask_times(r.console), BANNER +
                                         "Quitting because job output files are incomplete (see log file)\n"
                                         "A log file is written to " +
                                         job + ".glog\n" + finished_with(2));
    const std::string log = log_of(dir, job + ".glog");
    EXPECT_NE(log.find("Arguments: " + job + " geno\n"), std::string::npos);
    EXPECT_NE(log.find("   tavo job file (" + job + ".tavo) ... available\n"), std::string::npos);
    EXPECT_NE(log.find("   sample output file (" + job + ".out) ... available\n"), std::string::npos);
    EXPECT_NE(log.find("   model description (" + job + ".mod) ... not available\n"), std::string::npos);
    EXPECT_TRUE(testutil::file_exists(dir.file(job + ".xout")));
}

TEST(TavogenRun, ThreadsOptionThatIsNoPositiveNumberStopsOptionReading) {
    scratch_dir dir("drv");
    const auto r = run_program(TAVOGEN_BIN, {"run", "geno", "threads=0", "broadly"}, dir.path.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(mask_times(r.console), BANNER +
                                         "! ERROR: threads setting must be a positive whole number\n"
                                         "A log file is written to run.glog\n" +
                                         finished_with(1));
    EXPECT_EQ(log_of(dir, "run.glog"), LOG_BANNER +
                                           "Arguments: run geno threads=0 broadly\n\n"
                                           "tavogen QUIT - incorrect threads option.\n"
                                           "\n" +
                                           finished_with(1));
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
