// The model description scan: records, the term table, refusals, groups and arrays.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "genomic/model.h"
#include "support/testutil.h"

namespace {

using tavo::model_kind;
using testutil::ends_with;

struct scan_result {
    int code = -1;
    std::string console;
};

// A block data set with a block field, and a marker map with the fields
// key, used, freq1 and a by factor, built by hand.
struct model_fixture {
    testutil::scratch_dir dir{"model"};
    tavo::dataset blockset;
    tavo::dataset map;
    std::vector<std::string> keys;
    tavo::block_context ctx;
    tavo::model_options opt;
    tavo::genomic_model model;

    model_fixture() {
        blockset.nrec = 4;
        blockset.own_fields.resize(1);
        map.own_fields.resize(4);
        map.keycol = 0;
        fields(map)[3].type = tavo::field_type::coded_factor;
        opt.block_name = "geno";
        ctx.blockset = &blockset;
        ctx.map = &map;
        ctx.used_pos = 1;
        ctx.freq1_pos = 2;
        genotype_block();
        markers({1, 1, 1}, {0.5, 0.5, 0.5});
    }
    void genotype_block() { ctx.block = &fields(blockset)[0], ctx.block->type = tavo::field_type::genotype_block; }
    void covariate_block() { ctx.block = &fields(blockset)[0], ctx.block->type = tavo::field_type::real_block; }
    void markers(const std::vector<int32_t>& used, const std::vector<double>& freq) {
        keys.clear();
        fields(map)[0].texts.clear();
        for (size_t m = 0; m < used.size(); ++m) keys.push_back("snp" + std::to_string(m + 1));
        for (const std::string& key : keys) fields(map)[0].texts.push_back(key.c_str());
        fields(map)[1].ints = used;
        fields(map)[2].reals = freq;
        map.nrec = ctx.markers = static_cast<int32_t>(used.size());
    }
    void by_levels(int32_t levels) {
        fields(map)[3].nlevels = levels;
        ctx.by_pos = 3;
    }
    scan_result scan(const std::string& mod_text) {
        testutil::write_file(dir.file("run.mod"), mod_text);
        FILE* mod = std::fopen(dir.file("run.mod").c_str(), "rb");
        scan_result r;
        testing::internal::CaptureStdout();
        r.code = tavo::model_scan(mod, opt, ctx, model);
        std::fflush(stdout);
        r.console = testing::internal::GetCapturedStdout();
        std::fclose(mod);
        return r;
    }
};

const char* const NARROW = "! Note: dominance is handled in the \"narrow\" sense.\n";
const char* const DONE = "Model scanning done\n";

// Three-marker additive and dominance lines (length 3 = the used markers).
std::string add_line(const std::string& name, int length = 3, const std::string& field = "geno") {
    return name + " 5 " + std::to_string(length) + " 0 0 x$" + field + "\n";
}
std::string dom_line(const std::string& name, int length = 3) {
    return name + " 6 " + std::to_string(length) + " 1 2 d$geno\n";
}

TEST(ModelScan, InterleavedLinesPairTheNthAdditiveWithTheNthDominanceTerm) {
    model_fixture f;
    scan_result r = f.scan(dom_line("dom.geno.a") + add_line("add.geno.a") + dom_line("dom.geno.b") +
                           "mu 1 1 0 0 mean\n" + add_line("b"));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.console, "Found dom model term: dom.geno.a\nFound add model term: add.geno.a\n"
                         "Found dom model term: dom.geno.b\nFound add model term: b\n" +
                             std::string(NARROW) + DONE);
    ASSERT_EQ(f.model.T, 2);
    EXPECT_EQ(f.model.kind, model_kind::additive_dominance);
    EXPECT_EQ(f.model.terms[0].label, "a");
    EXPECT_EQ(f.model.terms[0].add_name, "add.geno.a");
    EXPECT_EQ(f.model.terms[0].dom_name, "dom.geno.a");
    EXPECT_EQ(f.model.terms[1].label, "b");  // a name without a dot is its own label
    EXPECT_EQ(f.model.terms[1].dom_name, "dom.geno.b");
    EXPECT_EQ(f.model.terms[1].add_effects.size(), 3u);
    EXPECT_EQ(f.model.terms[1].dom_effects.size(), 3u);
    EXPECT_TRUE(f.model.terms[1].reg_effects.empty());
}

TEST(ModelScan, UsefitPrefixesAdditiveAndRegressionNamesButNotDominance) {
    model_fixture f;
    f.opt.usefit = f.opt.broad = true;
    scan_result r = f.scan(add_line("add.geno") + dom_line("dom.geno"));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.console, "Found add model term: add.geno\nFound dom model term: dom.geno\n"
                         "NOTE: the parameter being searched for is now fit.add.geno\n" +
                             std::string(DONE));  // broad: no narrow note
    EXPECT_EQ(f.model.terms[0].add_name, "fit.add.geno");
    EXPECT_EQ(f.model.terms[0].dom_name, "dom.geno");
    EXPECT_EQ(f.model.terms[0].label, "geno");

    f.covariate_block();
    r = f.scan("reg.cov 3 3 0 0 r$geno\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.console.find("NOTE: the parameter being searched for is now fit.reg.cov\n"), std::string::npos);
    EXPECT_EQ(f.model.kind, model_kind::regression);
    EXPECT_EQ(f.model.terms[0].reg_name, "fit.reg.cov");
    EXPECT_EQ(f.model.terms[0].label, "cov");
}

TEST(ModelScan, OnlyTheTextAfterTheFirstDollarNamesTheField) {
    model_fixture f;
    std::string long_name(300, 'n');  // names of any length
    scan_result r = f.scan(add_line("x1", 3, "geno$geno") + add_line("x2", 3, "Geno") + "x3 5 3 0 0 geno\n" +
                           "x4 3 3 0 0 r$other\nx5 6 3 0 0 d$genotypes\n" + add_line(long_name) +
                           "x6 5 3 0 0 a$b$geno\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.console, "Found add model term: " + long_name + "\n" + DONE);
    ASSERT_EQ(f.model.T, 1);
    EXPECT_EQ(f.model.terms[0].label, long_name);
}

TEST(ModelScan, RecordsSpanLinesAndAnyLineEndClosesTheSixthItem) {
    model_fixture f;
    scan_result r = f.scan("a 5\r\n3 0\r0 x$geno trailing words 6 3 0 0 y$geno\r\n"
                           "b 6 3 0 0 y$geno extra\rc 5 7 0 0 z$other\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.console, "Found add model term: a\nFound dom model term: b\n" + std::string(NARROW) + DONE);
}

TEST(ModelScan, UnreadableRecordsAreReportedOnceAndInheritNothing) {
    model_fixture f;
    // Line 1 is short: the next line's name starts the next record. Line 3
    // fails in its middle and loses the rest of its line. Line 5 runs into
    // the end of the file.
    scan_result r = f.scan("a 5 3\r\n" + add_line("b") + "c 5 x 0 0 z$geno d 5 3 0 0 z$geno\n" + dom_line("e") +
                           "f 6 3 0");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.console, "! Model description line 1 cannot be read - skipped\n"
                         "Found add model term: b\n"
                         "! Model description line 3 cannot be read - skipped\n"
                         "Found dom model term: e\n"
                         "! Model description line 5 cannot be read - skipped\n" +
                             std::string(NARROW) + DONE);
    ASSERT_EQ(f.model.T, 1);
    EXPECT_EQ(f.model.terms[0].add_name, "b");
    EXPECT_EQ(f.model.terms[0].dom_name, "e");

    // A number that does not fit an int is no number.
    r = f.scan("a 5 99999999999 0 0 x$geno\n" + add_line("b"));
    EXPECT_EQ(r.console, "! Model description line 1 cannot be read - skipped\nFound add model term: b\n" +
                             std::string(DONE));
}

TEST(ModelScan, RefusedCombinationsStopWithCodeSix) {
    const std::string none = "! There are no suitable model parameters found with block field geno\n";
    const struct {
        std::string mod;
        std::string tail;
    } cases[] = {
        {"", none},
        {add_line("a", 3, "other") + "mu 1 1 0 0 geno\n", none},
        {"r 3 3 0 0 r$geno\n" + dom_line("d"),
         " Combination of regression and genotype fit models found for block field geno.\n"
         " This situation cannot be handled now.\n"},
        {add_line("a") + add_line("b") + dom_line("d"),
         "! 2 add terms and 1 dom terms found for block field geno\n  This situation can not be handled now.\n"},
        {dom_line("d"),
         "! Dominance fit without addtive fit found for block field geno\n This situation cannot be handled now.\n"},
        {add_line("a") + dom_line("d", 4), "! Dimension of additive and dominance effect vectors do not match\n"},
    };
    for (const auto& c : cases) {
        model_fixture f;
        scan_result r = f.scan(c.mod);
        EXPECT_EQ(r.code, tavo::ERR_MODEL_REFUSED) << c.mod;
        EXPECT_TRUE(ends_with(r.console, c.tail)) << r.console;
    }
}

TEST(ModelScan, UsedCountTakesOneAndMinusOneOnly) {
    model_fixture f;
    f.markers({1, -1, 0, 2, 1}, {0.5, -9999.0, -9999.0, 7.0, 0.25});
    scan_result r = f.scan(add_line("a") + add_line("b", 4) + add_line("c", 5));
    EXPECT_EQ(r.code, tavo::ERR_MODEL_REFUSED);
    EXPECT_EQ(r.console, "Found add model term: a\nFound add model term: b\nFound add model term: c\n"
                         "! Dimension of b (4) is not matching \"used\" markers in annotated map file (3)\n"
                         "! Dimension of c (5) is not matching \"used\" markers in annotated map file (3)\n");
    EXPECT_EQ(f.model.U, 3);

    r = f.scan(add_line("a"));  // the -1 and 2 markers' frequencies are never read
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(f.model.U, 3);
}

TEST(ModelScan, UsedMarkersNeedAFrequencyWithinZeroAndOne) {
    model_fixture f;
    f.markers({1, 1, -1, 1, 1}, {-9999.0, 1.5, -9999.0, 0.0, 1.0});
    scan_result r = f.scan(add_line("a", 5));
    EXPECT_EQ(r.code, tavo::ERR_MODEL_REFUSED);
    EXPECT_TRUE(ends_with(r.console, "! Marker snp1 is used but its freq1 is missing or outside 0..1\n"
                                     "! Marker snp2 is used but its freq1 is missing or outside 0..1\n"));
}

TEST(ModelScan, TermsMustSuitTheBlockTypeBeforeTheUsedCount) {
    model_fixture f;
    f.covariate_block();
    scan_result r = f.scan(add_line("a", 9));
    EXPECT_EQ(r.code, tavo::ERR_MODEL_REFUSED);
    EXPECT_EQ(r.console, "Found add model term: a\n! Block field geno cannot be used with genotype model terms\n");

    f.genotype_block();
    r = f.scan("r 3 3 0 0 r$geno\n");
    EXPECT_EQ(r.code, tavo::ERR_MODEL_REFUSED);
    EXPECT_EQ(r.console, "Found reg model term: r\n! Block field geno cannot be used with regression model terms\n");
}

TEST(ModelScan, RegressionVectorsMustCoverTheBlockColumns) {
    model_fixture f;
    f.covariate_block();
    f.opt.usefit = true;
    scan_result r = f.scan("r1 3 2 0 0 r$geno\nr2 3 4 0 0 r$geno\nr3 3 -1 0 0 r$geno\n");
    EXPECT_EQ(r.code, tavo::ERR_MODEL_REFUSED);
    EXPECT_TRUE(ends_with(r.console,
                          "! Dimension of fit.r1 (2) is smaller than the number of block columns (3)\n"
                          "! Dimension of fit.r3 (-1) is smaller than the number of block columns (3)\n"));

    r = f.scan("r1 3 3 0 0 r$geno\nr2 3 4 0 0 r$geno\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(f.model.terms[1].reg_effects.size(), 4u);
    EXPECT_TRUE(f.model.terms[1].add_effects.empty());
}

// A regression length needs 2 bytes per value of the sample file (the last
// value may lack its separator); beyond that nothing is allocated.
TEST(ModelScan, RegressionLengthsMustFitTheSampleFile) {
    model_fixture f;
    f.covariate_block();
    f.opt.model_file = "run.mod";
    f.opt.sample_file = "run.out";
    f.opt.sample_bytes = 7;
    scan_result r = f.scan("r1 3 4 0 0 r$geno\nr2 3 400000000 0 0 r$geno\nr3 3 5 0 0 r$geno\n");
    EXPECT_EQ(r.code, tavo::ERR_MODEL_REFUSED);
    EXPECT_TRUE(ends_with(r.console, "! run.mod line 2 declares r2 with 400000000 values, more than run.out can hold\n"
                                     "! run.mod line 3 declares r3 with 5 values, more than run.out can hold\n"));
    EXPECT_TRUE(f.model.terms[1].reg_effects.empty());

    f.opt.sample_bytes = -1;  // size unknown: no check
    EXPECT_EQ(f.scan("r1 3 5 0 0 r$geno\n").code, 0);
}

TEST(ModelScan, GroupsAndArraySizes) {
    struct expected {
        int window;
        bool by;
        int32_t G, total, half, stored;
        bool windows, by_flag;
    };
    const expected cases[] = {
        {0, false, 1, 1, 0, 1, false, false},
        {0, true, 5, 6, 0, 6, false, true},
        {3, false, 3, 4, 1, 1, true, false},
        {5, true, 3, 4, 2, 1, true, false},  // windows win over by=
    };
    for (const expected& e : cases) {
        model_fixture f;
        f.opt.bywindow = e.window;
        if (e.by) f.by_levels(5);
        ASSERT_EQ(f.scan(add_line("a") + add_line("b")).code, 0);
        const tavo::genomic_model& m = f.model;
        EXPECT_EQ(m.N, 4);
        EXPECT_EQ(m.G, e.G);
        EXPECT_EQ(m.total_groups, e.total);
        EXPECT_EQ(m.half_width, e.half);
        EXPECT_EQ(m.stored_groups, e.stored);
        EXPECT_EQ(m.windows, e.windows);
        EXPECT_EQ(m.by, e.by_flag);
        EXPECT_EQ(m.terms[1].gvalues.size(), size_t(4 * e.stored));
        EXPECT_EQ(m.terms[1].gsumsq, std::vector<double>(4 * e.stored, 0.0));
        EXPECT_EQ(m.matrix_sum, std::vector<double>(2 * 2 * e.total, 0.0));
        EXPECT_EQ(m.matrices.size(), m.matrix_sumsq.size());
    }
}

TEST(ModelScan, AllocationFailuresAreCountedWithSizesInSixtyFourBits) {
    model_fixture f;
    f.markers({1}, {0.5});
    f.blockset.nrec = 1 << 30;  // N x groups and T x T x groups exceed any vector
    f.by_levels(1 << 30);
    std::string mod;
    for (int t = 0; t < 1 << 16; ++t) mod.append("a").append(std::to_string(t)).append(" 5 1 0 0 x$geno\n");
    scan_result r = f.scan(mod);
    EXPECT_EQ(r.code, 3 * (1 << 16) + 3);
    EXPECT_TRUE(ends_with(r.console, "Found add model term: a65535\n"
                                     "! Problem allocating arrays ... insufficient memory\n"));

    std::vector<double> v(3, 1.0);
    EXPECT_FALSE(tavo::allocate_zeroed(v, -1));
    EXPECT_TRUE(v.empty());
    EXPECT_TRUE(tavo::allocate_zeroed(v, 2));
    EXPECT_EQ(v, std::vector<double>(2, 0.0));
}

}  // namespace
