// The cycle loop from the sample file to every output, with hand-computed
// numbers, and its error codes: reading stops, no cycles, unwritable outputs.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "genomic/model.h"
#include "genomic/cycles.h"
#include "support/genotype_codes.h"
#include "support/testutil.h"

namespace {

using namespace tavo;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Three individuals i1..i3 and two markers m1 (codes 1 2 3) and m2 (codes
// 3 2 1), both used with freq1 0.5, so the additive covariates are -1 0 1
// and 1 0 -1; m1 on level "1", m2 on level "2" of the by field "chr". One
// additive term "a" (parameter add.a).
struct run_fixture {
    testutil::scratch_dir dir{"cycles"};
    dataset blockset;
    dataset map;
    datacol block;
    block_context ctx;
    genomic_model model;
    cycle_io io;
    std::string console;

    run_fixture() {
        block.type = field_type::genotype_block;
        block.name = "SNPs";
        testutil::store_genotype_codes(block, {{1, 2, 3}, {3, 2, 1}});
        blockset.nrec = 3;
        blockset.own_fields.resize(1);
        blockset.keycol = 0;
        fields(blockset)[0].name = "id";
        fields(blockset)[0].texts = {"i1", "i2", "i3"};
        map.nrec = 2;
        map.own_fields.resize(4);  // snp, used, freq1, chr
        map.nfields = 4;
        map.keycol = 0;
        fields(map)[0].texts = {"m1", "m2"};
        fields(map)[1].ints = {1, 1};
        fields(map)[2].reals = {0.5, 0.5};
        fields(map)[3].ints = {0, 1};
        fields(map)[3].names = {"1", "2"};
        fields(map)[3].texts = {"c1", "c2"};
        fields(map)[3].nlevels = 2;
        ctx.blockset = &blockset;
        ctx.block = &block;
        ctx.map = &map;
        ctx.used_pos = 1;
        ctx.freq1_pos = 2;
        ctx.markers = 2;
        io.names = {dir.file("run"), "snps", "chr"};
        shape(false);
    }

    // The term table as the model scan leaves it; `by` groups by chr.
    void shape(bool by) {
        model = genomic_model{};
        model.kind = model_kind::additive;
        model.T = 1;
        model.N = 3;
        model.U = 2;
        model.by = by;
        model.G = by ? 2 : 1;
        model.total_groups = model.stored_groups = by ? 3 : 1;
        ctx.by_pos = by ? 3 : -1;
        genomic_term term;
        term.label = "a";
        term.add_name = "add.a";
        term.add_len = 2;
        model.terms = {term};
        ASSERT_EQ(allocate_model_arrays(model), 0);
    }

    std::string path(const char* ext) const { return dir.file(std::string("run") + ext); }

    // Opens the run's files as the driver does and runs the loop.
    int run(const std::string& samples, const std::string& xout = "") {
        testutil::write_file(path(".out"), samples);
        io.samples.reset(std::fopen(path(".out").c_str(), "r"));
        io.sample_file = "run.out";
        io.xsample_file = xout.empty() ? path(".xout") : xout;
        io.xsample.reset(std::fopen(io.xsample_file.c_str(), "w"));
        io.xlabel_file = path(".xlab");
        io.xlabel.reset(std::fopen(io.xlabel_file.c_str(), "w"));
        io.log_file = path(".glog");
        FILE* log = std::fopen(io.log_file.c_str(), "w");
        io.log = log;
        CaptureStdout();
        const int code = run_cycles(model, ctx, io);
        console = GetCapturedStdout();
        std::fclose(log);
        return code;
    }

    std::string text(const char* ext) const { return testutil::read_file(path(ext)); }
};

const std::string TITLE =
    "\nPosterior mean and sd for explained (co)variances and correlationsassociated with snps\n"
    "    stat: pm=posterior mean, psd=posterior standard deviation.\n\n";

// Cycle 1: effects 1, 5: values 4 0 -4 (variance 16); cycle 2: effects 2, 7:
// values 5 0 -5 (variance 25).
TEST(CycleLoop, SingleGroupRunWritesEveryOutput) {
    run_fixture fx;
    EXPECT_EQ(fx.run("1 add.a 1 5\n2 add.a 2 7\n"), 0);
    const std::string table_note = "Genomic variances per group were written to file " + fx.path(".gvar.txt") + "\n";
    EXPECT_EQ(fx.console, "Reading output from MCMC cycle\n1\r2\r\n2 output samples processed\n"
                          "G-values of individuals were written to file " + fx.path(".gval.txt") + "\n" + table_note);
    EXPECT_EQ(fx.text(".xout"), "1 var.genom 16\n1 gval.a 4 0 -4\n2 var.genom 25\n2 gval.a 5 0 -5\n");
    EXPECT_EQ(fx.text(".xlab"), "var.genom 1 var(a)\n");
    EXPECT_EQ(fx.text(".glog"), TITLE + "\tpm.var(a)\tpsd.var(a)\n\t20.5\t6.36396\n" + table_note);
    EXPECT_EQ(fx.text(".gvar.txt"), "group\tpm.var(a)\tpsd.var(a)\nALL\t20.5\t6.36396\n");
    EXPECT_EQ(fx.text(".gval.txt"), "id\tpm.a\tpsd.a\ni1\t4.5\t0.707107\ni2\t0\t0\ni3\t-4.5\t0.707107\n");
    EXPECT_FALSE(fx.io.samples || fx.io.xsample || fx.io.xlabel);  // closed
}

// By chr: level 1 holds m1 (variances 1 and 4), level 2 m2 (25 and 49), ALL
// both (16 and 25). Shares of level 1: 1/16 and 4/25; of level 2 1.5625 and
// 1.96 (the levels' values are negatively correlated).
TEST(CycleLoop, ByLevelsRunKeepsEachRecordOnOneLine) {
    run_fixture fx;
    fx.shape(true);
    EXPECT_EQ(fx.run("1 add.a 1 5\n2 add.a 2 7\n"), 0);
    EXPECT_EQ(fx.text(".xout"), "1 var.genom 1 25 16\n2 var.genom 4 49 25\n");
    EXPECT_EQ(fx.text(".xlab"), "var.genom 3 var(a).chr1 var(a).chr2 var(a).ALL\n");
    EXPECT_EQ(fx.text(".glog"), TITLE + "chr\tpm.var(a)\tpsd.var(a)\n"
                                        "1\t2.5\t2.12132\n2\t37\t16.9706\nALL\t20.5\t6.36396\n"
                                        "\nRegions with the largest share of the genomic variance of a (threshold 0.001):\n"
                                        "rank\tgroup\tfirst\tlast\tmarkers\tpm.share\tpsd.share\twppa\n"
                                        "1\t2\tm2\tm2\t1\t1.76125\t0.281075\t1\n"
                                        "2\t1\tm1\tm1\t1\t0.11125\t0.0689429\t1\n"
                                        "Genomic variances per group were written to file " +
                                        fx.path(".gvar.bychr.txt") + "\n");
    EXPECT_EQ(fx.text(".gvar.bychr.txt"),
              "chr\tpm.var(a)\tpsd.var(a)\tmarkers\tpm.share(a)\tpsd.share(a)\twppa(a)\n"
              "1\t2.5\t2.12132\t1\t0.11125\t0.0689429\t1\n"
              "2\t37\t16.9706\t1\t1.76125\t0.281075\t1\n"
              "ALL\t20.5\t6.36396\t2\t1\t0\t1\n");
    EXPECT_EQ(fx.text(".gval.bychr.txt"),
              "id\tpm.a_1\tpsd.a_1\tpm.a_2\tpsd.a_2\tpm.a_all\tpsd.a_all\n"
              "i1\t-1.5\t0.707107\t6\t1.41421\t4.5\t0.707107\n"
              "i2\t0\t0\t0\t0\t0\t0\n"
              "i3\t1.5\t0.707107\t-6\t1.41421\t-4.5\t0.707107\n");
}

TEST(CycleLoop, EmptySampleFileEndsWithSevenAndNoSummaries) {
    run_fixture fx;
    EXPECT_EQ(fx.run(""), ERR_READING_STOPPED);
    EXPECT_EQ(fx.console, "Reading output from MCMC cycle\n\n! No MCMC cycles found in run.out\n");
    EXPECT_EQ(fx.text(".xout"), "");
    EXPECT_EQ(fx.text(".xlab"), "");
    EXPECT_EQ(fx.text(".glog"), "");
    EXPECT_EQ(fx.text(".gval.txt"), "");  // made before the cycles; the driver removes it
}

TEST(CycleLoop, ReadingStopEndsWithSevenAfterTheCyclesBefore) {
    run_fixture fx;
    EXPECT_EQ(fx.run("1 add.a 1 5\n2 add.b 2 7\n3 add.a 1 1\n"), ERR_READING_STOPPED);
    EXPECT_EQ(fx.console, "Reading output from MCMC cycle\n1\r"
                          "\n!Problem retrieving samples for cycle 2: add.a not found\n\n");
    EXPECT_EQ(fx.text(".xout"), "1 var.genom 16\n1 gval.a 4 0 -4\n");
    EXPECT_EQ(fx.text(".xlab"), "");
    EXPECT_EQ(fx.text(".glog"), "");
    EXPECT_EQ(fx.text(".gval.txt"), "");  // made before the cycles; the driver removes it
    EXPECT_EQ(fx.model.cycles, 1);
}

TEST(CycleLoop, UnopenableGValueFileEndsWithEightBeforeTheFirstCycle) {
    run_fixture fx;
    fx.io.names.base_name = "/nonexistent-folder/run";
    EXPECT_EQ(fx.run("1 add.a 1 5\n"), ERR_OUTPUT_FAILED);
    EXPECT_EQ(fx.console, "! Problem opening file (/nonexistent-folder/run.gval.txt) for writing\n");
    EXPECT_EQ(fx.text(".xout"), "");
    EXPECT_EQ(fx.text(".glog"), "");
    EXPECT_EQ(fx.model.cycles, 0);
}

TEST(CycleLoop, WriteErrorOnTheExtraSampleFileEndsWithEight) {
    run_fixture fx;
    EXPECT_EQ(fx.run("1 add.a 1 5\n", "/dev/full"), ERR_OUTPUT_FAILED);
    EXPECT_NE(fx.console.find("G-values of individuals were written"), std::string::npos);
    const std::string tail = "! Problem writing file (/dev/full)\n";
    EXPECT_EQ(fx.console.substr(fx.console.size() - tail.size()), tail);

    run_fixture stopped;  // a write error also wins over a reading stop
    EXPECT_EQ(stopped.run("1 add.a 1 5\n2 add.b 1 5\n", "/dev/full"), ERR_OUTPUT_FAILED);
}

TEST(CycleLoop, TheNoLevelNoteComesBeforeTheFirstCycle) {
    run_fixture note;  // m2 has no level of the by field
    note.shape(true);
    fields(note.map)[3].ints = {0, -9999};
    EXPECT_EQ(note.run("1 add.a 1 5\n2 add.a 2 7\n"), 0);
    EXPECT_EQ(note.console.rfind("Note: 1 markers have no level of the by= field and are left out of every group\n"
                                 "Reading output from MCMC cycle\n", 0),
              0u);
    EXPECT_EQ(note.text(".xout"), "1 var.genom 1 0 1\n2 var.genom 4 0 4\n");
}

}  // namespace
