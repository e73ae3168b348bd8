// The job name rule: job file name, base name and the names derived from it.
#include <gtest/gtest.h>

#include "driver/run.h"

namespace {

struct names {
    std::string job, base, log;
};

names names_of(const std::string& first_arg) {
    tavo::run_settings s;
    tavo::set_job_names(s, first_arg);
    return {s.job_file, s.base_name, s.log_file};
}

void expect_names(const std::string& arg, const std::string& job, const std::string& base) {
    SCOPED_TRACE(arg);
    const names got = names_of(arg);
    EXPECT_EQ(got.job, job);
    EXPECT_EQ(got.base, base);
    EXPECT_EQ(got.log, base + ".glog");
}

TEST(JobNames, ExtensionIsRecognisedWithoutRegardToCase) {
    expect_names("run", "run.tavo", "run");
    expect_names("run.tavo", "run.tavo", "run");
    expect_names("run.TAVO", "run.TAVO", "run");
    expect_names("dir/run.Tavo", "dir/run.Tavo", "dir/run");
}

TEST(JobNames, FiveCharactersAreCutWhateverPrecedesTheExtension) {
    expect_names("runtavo", "runtavo", "ru");
    expect_names("xtavo", "xtavo", "");
    expect_names("run.tav", "run.tav.tavo", "run.tav");
}

// A first argument shorter than five characters cannot hold the extension
// and the character before it: it is the base name as it stands.
TEST(JobNames, ShortArgumentIsTheBaseName) {
    expect_names("tavo", "tavo.tavo", "tavo");
    expect_names("TAVO", "TAVO.tavo", "TAVO");
    expect_names("abc", "abc.tavo", "abc");
    expect_names("", ".tavo", "");
}

TEST(JobNames, NamesOfAnyLengthAreKeptWhole) {
    const std::string stem(2000, 'j');
    expect_names(stem, stem + ".tavo", stem);
    expect_names(stem + ".tavo", stem + ".tavo", stem);
    tavo::run_settings s;
    tavo::set_job_names(s, stem);
    tavo::set_run_file_names(s);
    EXPECT_EQ(s.xlabel_file, stem + ".xlab");
}

TEST(JobNames, RunFilesAppendTheirExtensionsToTheBaseName) {
    tavo::run_settings s;
    tavo::set_job_names(s, "../jobs/run.tavo");
    tavo::set_run_file_names(s);
    EXPECT_EQ(s.model_file, "../jobs/run.mod");
    EXPECT_EQ(s.sample_file, "../jobs/run.out");
    EXPECT_EQ(s.xsample_file, "../jobs/run.xout");
    EXPECT_EQ(s.xlabel_file, "../jobs/run.xlab");
}

}  // namespace

namespace {

// out=DIR: the files read keep the job's folder, the files written go into
// DIR under the base name's last component; the last out= holds.
TEST(JobNames, OutputDirectoryTakesTheWrittenFilesOnly) {
    tavo::run_settings s;
    s.args = {"ex/geno.tavo", "geno", "out=first", "OUT=res/", "by=chrom"};
    s.out_dir = tavo::find_output_dir(s.args);
    tavo::set_job_names(s, s.args[0]);
    tavo::set_run_file_names(s);
    EXPECT_EQ(s.job_file, "ex/geno.tavo");
    EXPECT_EQ(s.sample_file, "ex/geno.out");
    EXPECT_EQ(s.model_file, "ex/geno.mod");
    EXPECT_EQ(s.log_file, "res/geno.glog");
    EXPECT_EQ(s.xsample_file, "res/geno.xout");
    EXPECT_EQ(s.xlabel_file, "res/geno.xlab");
    EXPECT_FALSE(tavo::find_output_dir({"run", "geno", "outx=a"}).has_value());
}

}  // namespace
