// The outputs of the genomic computation: label order, extra sample records
// and label line, the log table and the G-value file, for one group, by=
// levels and windows; posterior deviations; write errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "genomic/output.h"
#include "support/testutil.h"

namespace {

using namespace tavo;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

enum class grouping { none, by, windows };

// Everything written to a temporary stream by `write`.
std::string written(const std::function<void(FILE*)>& write) {
    FILE* f = std::tmpfile();
    write(f);
    const std::string text = testutil::read_back(f);
    std::fclose(f);
    return text;
}

void key_column(datacol& col, const char* name, std::vector<const char*> texts) {
    col.name = name;
    col.texts = std::move(texts);
}

// Two markers m1, m2 on two by levels (or one, see `one_level`), two
// individuals, terms a, b, ... with running sums set by the tests.
struct fixture {
    dataset map;
    dataset blockset;
    dataset filter;
    datacol block;
    block_context ctx;
    genomic_model model;
    output_names names{"run", "snps", "chr"};

    fixture() {
        map.own_fields.resize(2);
        map.nfields = 2;
        map.keycol = 0;
        key_column(fields(map)[0], "snp", {"m1", "m2"});
        datacol& by = fields(map)[1];
        by.name = "CHR";
        by.texts = {"c1", "c2"};
        by.names = {"1", "2"};
        by.ints = {0, 1};
        by.nlevels = 2;
        blockset.own_fields.resize(1);
        blockset.keycol = 0;
        key_column(fields(blockset)[0], "id", {"i1", "i2"});
        filter.own_fields.resize(1);
        filter.keycol = 0;
        key_column(fields(filter)[0], "ID", {"f1", "f2"});
        block.name = "SNPs";
        ctx.blockset = &blockset;
        ctx.block = &block;
        ctx.map = &map;
        ctx.markers = 2;
    }

    void shape(int32_t T, grouping how, model_kind kind = model_kind::additive) {
        model.kind = kind;
        model.T = T;
        model.N = 2;
        model.by = how == grouping::by;
        model.windows = how == grouping::windows;
        model.G = how == grouping::none ? 1 : 2;
        model.total_groups = how == grouping::none ? 1 : 3;
        model.stored_groups = how == grouping::windows ? 1 : model.total_groups;
        if (how != grouping::none) ctx.by_pos = 1;
        model.terms.assign(static_cast<size_t>(T), genomic_term{});
        for (int32_t t = 0; t < T; ++t) {
            genomic_term& term = model.terms[static_cast<size_t>(t)];
            term.label = std::string(1, static_cast<char>('a' + t));
            const size_t values = static_cast<size_t>(model.N * model.stored_groups);
            term.gvalues.assign(values, 0.0);
            term.gsum.assign(values, 0.0);
            term.gsumsq.assign(values, 0.0);
        }
        const size_t cells = static_cast<size_t>(T * T * model.total_groups);
        model.matrices.assign(cells, 0.0);
        model.matrix_sum.assign(cells, 0.0);
        model.matrix_sumsq.assign(cells, 0.0);
    }
};

// Labels of a record, read back from the label line.
std::string label_line(fixture& fx) {
    return written([&](FILE* f) { write_label_line(f, fx.model, fx.ctx, fx.names.by_name); });
}

TEST(GenomicOutput, LabelOrderRunsCovariancesByRowAndCorrelationsByColumn) {
    fixture fx;
    fx.shape(2, grouping::none);
    EXPECT_EQ(label_line(fx), "var.genom 4 var(a) var(b) covar(b,a) corr(a,b)\n");
    fx.shape(3, grouping::none);
    EXPECT_EQ(label_line(fx),
              "var.genom 9 var(a) var(b) var(c) covar(b,a) covar(c,a) covar(c,b) "
              "corr(a,b) corr(a,c) corr(b,c)\n");
    EXPECT_TRUE(label_order(0).empty());
}

TEST(GenomicOutput, LabelLineNamesEveryValueOfAGroupedRecord) {
    fixture fx;
    fx.shape(2, grouping::by);
    EXPECT_EQ(label_line(fx),
              "var.genom 12"
              " var(a).chr1 var(b).chr1 covar(b,a).chr1 corr(a,b).chr1"
              " var(a).chr2 var(b).chr2 covar(b,a).chr2 corr(a,b).chr2"
              " var(a).ALL var(b).ALL covar(b,a).ALL corr(a,b).ALL\n");
    fx.shape(1, grouping::windows);
    EXPECT_EQ(label_line(fx), "var.genom 3 var(a).m1 var(a).m2 var(a).ALL\n");
}

TEST(GenomicOutput, CycleRecordIsOneLinePerCycleWithGenomicValuesOnlyForOneGroup) {
    fixture fx;
    fx.shape(2, grouping::by);
    for (size_t i = 0; i < fx.model.matrices.size(); ++i) fx.model.matrices[i] = static_cast<double>(i) / 2;
    fx.model.matrices[1] = -std::numeric_limits<double>::quiet_NaN();  // a correlation of a zero variance
    const std::vector<matrix_entry> order = label_order(2);
    EXPECT_EQ(written([&](FILE* f) { write_cycle_record(f, fx.model, order, 17); }),
              "17 var.genom 0 1.5 1 nan 2 3.5 3 2.5 4 5.5 5 4.5\n");

    fx.shape(1, grouping::none);
    fx.model.matrices[0] = 0.125;
    fx.model.terms[0].gvalues = {-1e-7, 123456789};
    EXPECT_EQ(written([&](FILE* f) { write_cycle_record(f, fx.model, label_order(1), 3); }),
              "3 var.genom 0.125\n3 gval.a -1e-07 1.23457e+08\n");

    // A record of many groups is formatted by several threads, in group order.
    fx.shape(1, grouping::windows);
    fx.model.total_groups = 20001;
    fx.model.matrices.resize(20001);
    for (size_t i = 0; i < fx.model.matrices.size(); ++i) fx.model.matrices[i] = 1.0 / (1.0 + static_cast<double>(i));
    const std::string one = written([&](FILE* f) { write_cycle_record(f, fx.model, label_order(1), 5, 1); });
    EXPECT_EQ(written([&](FILE* f) { write_cycle_record(f, fx.model, label_order(1), 5, 3); }), one);
    EXPECT_EQ(one.substr(0, 21), "5 var.genom 1 0.5 0.3");
    EXPECT_EQ(one.substr(one.size() - 13), " 4.99975e-05\n");
}

TEST(GenomicOutput, PosteriorDeviationsAreGuardedAndUndefinedForOneCycle) {
    // Arguments below zero from rounding give 0, never a NaN.
    EXPECT_EQ(matrix_psd(3, 2.999, 3), 0.0);
    EXPECT_EQ(value_psd(3, 2.999, 3), 0.0);
    for (int64_t c = 2; c <= 60; ++c) {
        double s = 0, q = 0;
        for (int64_t k = 0; k < c; ++k) {
            s += 0.1;
            q += 0.1 * 0.1;
        }
        EXPECT_FALSE(std::isnan(matrix_psd(s, q, c))) << c;
        EXPECT_FALSE(std::isnan(value_psd(s, q, c))) << c;
        EXPECT_LT(value_psd(s, q, c), 1e-7);
    }
    EXPECT_DOUBLE_EQ(matrix_psd(5, 17, 2), std::sqrt(4.5));
    EXPECT_DOUBLE_EQ(value_psd(-3, 5, 2), std::sqrt(0.5));
    EXPECT_TRUE(std::isnan(matrix_psd(5, 25, 1)));
    EXPECT_TRUE(std::isnan(value_psd(5, 25, 1)));
    EXPECT_EQ(posterior_mean(5, 2), 2.5);
    EXPECT_EQ(written([](FILE* f) {
                  write_number(f, ' ', -std::numeric_limits<double>::quiet_NaN());
                  write_number(f, '\t', std::sqrt(-1.0));
                  write_number(f, ' ', -0.5);
              }),
              " nan\tnan -0.5");
}

std::string log_table(fixture& fx) {
    return written([&](FILE* f) { write_log_table(f, fx.model, fx.ctx, fx.names); });
}

const char* const TITLE =
    "\nPosterior mean and sd for explained (co)variances and correlationsassociated with snps\n"
    "    stat: pm=posterior mean, psd=posterior standard deviation.\n";

TEST(GenomicOutput, LogTableWithoutGroupsHasNoLabelColumn) {
    fixture fx;
    fx.shape(2, grouping::none);
    fx.model.cycles = 2;
    fx.model.matrix_sum = {5, 1, 0.5, 3};       // var(a), corr(a,b), covar(b,a), var(b)
    fx.model.matrix_sumsq = {17, 0.5, 0.125, 5};
    EXPECT_EQ(log_table(fx), std::string(TITLE) +
                                 "\n"
                                 "\tpm.var(a)\tpsd.var(a)\tpm.var(b)\tpsd.var(b)"
                                 "\tpm.covar(b,a)\tpsd.covar(b,a)\tpm.corr(a,b)\tpsd.corr(a,b)\n"
                                 "\t2.5\t2.12132\t1.5\t0.707107\t0.25\t0\t0.5\t0\n");
}

TEST(GenomicOutput, LogTableRowsAreLabelledPerLevelOrWindow) {
    fixture fx;
    fx.shape(1, grouping::by, model_kind::additive_dominance);
    fx.model.cycles = 1;
    fx.model.matrix_sum = {1, 2, 3};
    EXPECT_EQ(log_table(fx), std::string(TITLE) +
                                 "    note: dominance effects are present and are handled in the \"narrow\" sense.\n"
                                 "\n"
                                 "chr\tpm.var(a)\tpsd.var(a)\n"
                                 "1\t1\tnan\n2\t2\tnan\nALL\t3\tnan\n");

    fx.shape(1, grouping::windows, model_kind::additive_dominance);
    fx.model.broad = true;
    fx.model.cycles = 1;
    EXPECT_EQ(log_table(fx), std::string(TITLE) +
                                 "    note: dominance effects are present and are handled in the \"broad\" sense.\n"
                                 "\n"
                                 "SNPs\tchr\tpm.var(a)\tpsd.var(a)\n"
                                 "m1\tc1\t0\tnan\nm2\tc2\t0\tnan\nALL\tALL\t0\tnan\n");

    fx.shape(1, grouping::windows);
    fx.ctx.by_pos = -1;
    fx.model.cycles = 1;
    EXPECT_EQ(log_table(fx), std::string(TITLE) + "\nSNPs\tpm.var(a)\tpsd.var(a)\nm1\t0\tnan\nm2\t0\tnan\nALL\t0\tnan\n");
}

TEST(GenomicOutput, GValueFileNameCarriesTheByFieldOnlyWithoutWindows) {
    fixture fx;
    fx.shape(1, grouping::none);
    EXPECT_EQ(gvalue_file_name(fx.model, fx.names), "run.gval.txt");
    fx.shape(1, grouping::by);
    EXPECT_EQ(gvalue_file_name(fx.model, fx.names), "run.gval.bychr.txt");
    fx.shape(1, grouping::windows);
    EXPECT_EQ(gvalue_file_name(fx.model, fx.names), "run.gval.txt");
}

// Writes the G-value file into a scratch folder; returns its text.
std::string gvalue_file(fixture& fx, int expected_code = 0) {
    testutil::scratch_dir dir("gval");
    fx.names.base_name = dir.file("run");
    CaptureStdout();
    EXPECT_EQ(write_gvalue_file(fx.model, fx.ctx, fx.names), expected_code);
    const std::string console = GetCapturedStdout();
    const std::string name = gvalue_file_name(fx.model, fx.names);
    EXPECT_EQ(console, "G-values of individuals were written to file " + name + "\n");
    return testutil::read_file(name);
}

TEST(GenomicOutput, GValueRowsAreKeyedByTheIdentifierSource) {
    fixture fx;
    fx.shape(2, grouping::none);
    fx.model.cycles = 2;
    fx.model.terms[0].gsum = {-3, 0};
    fx.model.terms[0].gsumsq = {5, 0};
    fx.model.terms[1].gsum = {1, 2};
    fx.model.terms[1].gsumsq = {0.5, 2};
    EXPECT_EQ(gvalue_file(fx), "id\tpm.a\tpsd.a\tpm.b\tpsd.b\ni1\t-1.5\t0.707107\t0.5\t0\ni2\t0\t0\t1\t0\n");
    fx.ctx.filter = &fx.filter;  // ids= named a filter data set
    EXPECT_EQ(gvalue_file(fx), "ID\tpm.a\tpsd.a\tpm.b\tpsd.b\nf1\t-1.5\t0.707107\t0.5\t0\nf2\t0\t0\t1\t0\n");
    fx.ctx.filter = nullptr;
    fx.blockset.keycol = -1;  // no key field: no identifier column
    EXPECT_EQ(gvalue_file(fx), "\tpm.a\tpsd.a\tpm.b\tpsd.b\n\t-1.5\t0.707107\t0.5\t0\n\t0\t0\t1\t0\n");
}

TEST(GenomicOutput, GValueColumnsPerLevelOrOfTheTotalGroupWithWindows) {
    fixture fx;
    fx.shape(1, grouping::by);
    fx.model.cycles = 1;
    fx.model.terms[0].gsum = {1, 2, 3, 4, 5, 6};  // level 1, level 2, ALL; two individuals each
    EXPECT_EQ(gvalue_file(fx), "id\tpm.a_1\tpsd.a_1\tpm.a_2\tpsd.a_2\tpm.a_all\tpsd.a_all\n"
                               "i1\t1\tnan\t3\tnan\t5\tnan\ni2\t2\tnan\t4\tnan\t6\tnan\n");
    fx.shape(1, grouping::windows);
    fx.model.cycles = 1;
    fx.model.terms[0].gsum = {7, 8};  // the ALL group, the only one stored
    EXPECT_EQ(gvalue_file(fx), "id\tpm.a\tpsd.a\ni1\t7\tnan\ni2\t8\tnan\n");
}

TEST(GenomicOutput, UnopenableOrUnwritableFilesFailWithCodeEight) {
    fixture fx;
    fx.shape(1, grouping::none);
    fx.model.cycles = 1;
    fx.names.base_name = "/nonexistent-folder/run";
    CaptureStdout();
    EXPECT_EQ(write_gvalue_file(fx.model, fx.ctx, fx.names), ERR_OUTPUT_FAILED);
    EXPECT_EQ(GetCapturedStdout(), "! Problem opening file (/nonexistent-folder/run.gval.txt) for writing\n");

    file_ptr full(std::fopen("/dev/full", "w"));
    ASSERT_TRUE(full);
    std::fprintf(full.get(), "some text\n");
    CaptureStdout();
    EXPECT_FALSE(close_output(full, "run.xout"));
    EXPECT_FALSE(full);
    FILE* log = std::fopen("/dev/full", "w");
    std::fprintf(log, "log text\n");
    EXPECT_FALSE(check_output(log, "run.glog"));
    std::fclose(log);
    file_ptr none;
    EXPECT_TRUE(close_output(none, "none"));
    EXPECT_EQ(GetCapturedStdout(), "! Problem writing file (run.xout)\n! Problem writing file (run.glog)\n");
}

}  // namespace
