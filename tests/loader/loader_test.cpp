// The data file loader: start steps, values by type letter, factor levels,
// block factors, ragged fields, reading failures, record counts, duplicate
// keys and failed loads of linked data sets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/job_fixture.h"

namespace tavo {
namespace {

using job_testing::block_int;
using job_testing::block_real;
using job_testing::names_of;
using job_testing::test_job;
using job_testing::texts_of;

using testutil::contains;
using testutil::ends_with;

TEST(LoadStart, AnnouncesOnConsoleAndLogAndShowsTheSheetInTheLog) {
    test_job t;
    t.write("r.txt", "a 1\nb 2\n");
    dataset& ds = t.declare("data id recs", "file=r.txt id n");
    t.setup_ready();
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 0);
    EXPECT_EQ(loaded.console,
              "Loading data #1 [key=id, name=recs] from r.txt\n"
              "  > Data loading OK, 2 records read\n");
    EXPECT_EQ(loaded.log.rfind("Loading data 1 on id (recs) from r.txt\n", 0), 0u) << loaded.log;
    EXPECT_TRUE(ends_with(loaded.log, "    ....\n")) << loaded.log;
    EXPECT_TRUE(ds.loaded);
    EXPECT_EQ(texts_of(fields(ds)[0]), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(texts_of(fields(ds)[1]), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(lookup_index(ds.keys, "b"), 1);

    const auto again = t.load(ds);  // loaded once only
    EXPECT_EQ(again.result, 0);
    EXPECT_EQ(again.console, "");
}

TEST(LoadStart, DataSetWithSetupStatusIsNotLoaded) {
    test_job t;
    t.write("r.txt", "a 1\n");
    dataset& ds = t.declare("data id recs", "file=r.txt id n");
    t.setup();
    ds.status = setup_status::key_not_found;
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 0);
    EXPECT_EQ(loaded.console, "");
    EXPECT_FALSE(ds.loaded);
}

TEST(LoadStart, HeaderAndSkippedLinesArePassedOver) {
    test_job t;
    t.write("r.txt", "id n\r\nnote one\nnote two\na 1\nb 2");
    dataset& ds = t.declare("data id recs", "file=r.txt -header skip=2");
    t.setup_ready();
    const auto loaded = t.load(ds);
    ASSERT_EQ(loaded.result, 0) << loaded.console;
    EXPECT_EQ(texts_of(fields(ds)[0]), (std::vector<std::string>{"a", "b"}));
}

TEST(LoadValues, IntegersRealsAndFixedTextWithMissingAndBadValues) {
    test_job t;
    t.write("r.txt", "a 1 1.5 abc\nb NA na abcd\nc x y ab\nd +7 -2e1x NA\n");
    dataset& ds = t.declare("data id recs", "file=r.txt id n x code");
    t.setup();
    fields(ds)[1].type = field_type::integer;
    fields(ds)[2].type = field_type::real;
    fields(ds)[3].type = field_type::fixed_text;
    fields(ds)[3].width = 3;
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_TRUE(ends_with(loaded.console,
                          "  ! field overflow for fixed length text field code at record 2: abcd\n"
                          "  ! non-numeric input for n at record 3: x\n"
                          "  ! non-numeric input for x at record 3: y\n"
                          "! Problem reading file:"))
        << loaded.console;
    EXPECT_FALSE(ds.loaded);
    EXPECT_EQ(ds.status, setup_status::ok);
    EXPECT_EQ(fields(ds)[1].ints, (std::vector<int32_t>{1, -9999, -9999, 7}));  // non-numeric stores missing
    EXPECT_EQ(fields(ds)[2].reals, (std::vector<double>{1.5, -9999.0, -9999.0, -20.0}));
    EXPECT_EQ(texts_of(fields(ds)[3]), (std::vector<std::string>{"abc", "abc", "ab", "NA"}));
}

TEST(LoadValues, RealColumnKeepsItsTexts) {
    test_job t;
    t.write("r.txt", "a 1.50\nb NA\n");
    dataset& ds = t.declare("data id recs", "file=r.txt id x");
    t.setup();
    fields(ds)[1].type = field_type::real;
    const auto loaded = t.load(ds);
    ASSERT_EQ(loaded.result, 0) << loaded.console;
    EXPECT_EQ(texts_of(fields(ds)[1]), (std::vector<std::string>{"1.50", "NA"}));
    EXPECT_EQ(fields(ds)[1].reals, (std::vector<double>{1.5, -9999.0}));
}

TEST(LoadValues, RealBlockBySubColumn) {
    test_job t;
    t.write("c.txt", "a 1 2 3\nb 4 NA x\n");
    dataset& ds = t.declare("data id cov", "file=c.txt id cov[3]");
    t.setup_ready();
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_TRUE(ends_with(loaded.console, "  ! non-numeric input for cov at record 2 sub-column 3: x\n"
                                          "! Problem reading file:"))
        << loaded.console;
    const datacol& cov = fields(ds)[1];
    EXPECT_EQ(cov.type, field_type::real_block);
    EXPECT_EQ(block_real(cov, 0, 1), 4.0);
    EXPECT_EQ(block_real(cov, 1, 0), 2.0);
    EXPECT_EQ(block_real(cov, 1, 1), -9999.0);
    EXPECT_EQ(block_real(cov, 2, 0), 3.0);
}

TEST(LoadValues, RaggedFieldTakesTheRestOfTheLine) {
    test_job t;
    t.write("items.txt", "1\n2\n3\n");
    t.write("r.txt", "a 1 2 3\nb NA 5\nc\nd 4\n");
    t.declare("data item items", "file=items.txt item");
    dataset& ds = t.declare("data id rag", "file=r.txt id item[] !ragged");
    t.setup_ready();
    const auto loaded = t.load(ds);
    ASSERT_EQ(loaded.result, 0) << loaded.console;
    const datacol& rag = fields(ds)[1];
    EXPECT_EQ(rag.type, field_type::ragged);
    EXPECT_EQ(rag.ints, (std::vector<int32_t>{3, 0, 0, 1}));  // a missing first item: no items
    EXPECT_EQ(rag.ragged[0], (std::vector<int32_t>{1, 2, 3}));
    EXPECT_TRUE(rag.ragged[1].empty());
    EXPECT_EQ(rag.ragged[3], (std::vector<int32_t>{4}));
}

TEST(LoadValues, RaggedNonNumericItemIsReported) {
    test_job t;
    t.write("items.txt", "1\n");
    t.write("r.txt", "a 1 x\n");
    t.declare("data item items", "file=items.txt item");
    dataset& ds = t.declare("data id rag", "file=r.txt id item[] !ragged");
    t.setup_ready();
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_TRUE(contains(loaded.console, "  ! non-numeric input for item at record 1 item 2: x\n")) << loaded.console;
}

TEST(FactorLevels, UnlinkedFactorLevelsInTextOrderWithExactMissingTest) {
    struct factor_case { const char* missing; std::vector<std::string> names; std::vector<int32_t> codes; };
    const factor_case cases[] = {
        {"NA", {"a", "b"}, {1, 0, -9999, 1}},
        {"na", {"NA", "a", "b"}, {2, 1, 0, 2}},  // the level test respects case: NA is a level
    };
    for (const factor_case& c : cases) {
        test_job t;
        t.write("r.txt", "1 b\n2 a\n3 NA\n4 b\n");
        dataset& ds = t.declare("data id recs", std::string("file=r.txt missing=") + c.missing + " id grp");
        t.setup();
        fields(ds)[1].type = field_type::factor;
        const auto loaded = t.load(ds);
        ASSERT_EQ(loaded.result, 0) << loaded.console;
        const datacol& grp = fields(ds)[1];
        EXPECT_EQ(grp.type, field_type::coded_factor);
        EXPECT_EQ(grp.nlevels, static_cast<int32_t>(c.names.size()));
        EXPECT_EQ(names_of(grp), c.names);
        EXPECT_EQ(grp.ints, c.codes);
        EXPECT_EQ(texts_of(grp), (std::vector<std::string>{"b", "a", "NA", "b"}));
    }
}

TEST(FactorLevels, LinkedFactorUnknownLevelShowsTheRecordNumber) {
    test_job t;
    t.write("groups.txt", "g1\ng2\n");
    t.write("r.txt", "a g2\nb NA\nc g9\nd g1\n");
    dataset& groups = t.declare("data grp groups", "file=groups.txt grp");
    dataset& ds = t.declare("data id recs", "file=r.txt id grp");
    t.setup_ready();
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_TRUE(groups.loaded);
    EXPECT_TRUE(ends_with(loaded.console, "! At row 3: factor grp level g9 is not available in data #1\n"))
        << loaded.console;
    const datacol& grp = fields(ds)[1];
    EXPECT_EQ(grp.type, field_type::coded_factor);
    EXPECT_EQ(names_of(grp), (std::vector<std::string>{"g1", "g2"}));
    EXPECT_EQ(grp.ints, (std::vector<int32_t>{1, -9999, -1, 0}));
    EXPECT_TRUE(ds.loaded);  // failed after reading: loaded, with status 1
    EXPECT_EQ(ds.status, setup_status::load_failed);
}

TEST(FactorLevels, BlockFactorUnknownLevelShowsRecordCounterPlusOne) {
    test_job t;
    t.write("levels.txt", "L1\nL2\n");
    t.write("z.txt", "a L2 L1\nb NA L3\nc L1 L1\n");
    t.declare("data lev levels", "file=levels.txt lev");
    dataset& ds = t.declare("data id zz", "file=z.txt id lev[2] !fac");
    t.setup_ready();
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_TRUE(ends_with(loaded.console, "! At row 3: factor lev level L3 is not available in data #1\n"))
        << loaded.console;
    const datacol& lev = fields(ds)[1];
    EXPECT_EQ(lev.type, field_type::factor_block);
    EXPECT_EQ(block_int(lev, 0, 0), 1);
    EXPECT_EQ(block_int(lev, 1, 0), 0);
    EXPECT_EQ(block_int(lev, 0, 1), -9999);
    EXPECT_EQ(block_int(lev, 1, 1), -1);
    EXPECT_EQ(block_int(lev, 0, 2), 0);
    EXPECT_EQ(ds.status, setup_status::load_failed);
}

TEST(ReadingFailures, EmptyLineStopsReadingAtItsRecord) {
    test_job t;
    t.write("r.txt", "a 1\n\nb x\n");
    dataset& ds = t.declare("data id recs", "file=r.txt id n");
    t.setup_ready();
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_TRUE(ends_with(loaded.console, "! Problem reading file: empty line found at input record 2\n"));
    EXPECT_FALSE(ds.loaded);
}

TEST(ReadingFailures, IncompleteLineListsTheFields) {
    test_job t;
    t.write("r.txt", "a 1 2\nb 3\n");
    dataset& ds = t.declare("data id recs", "file=r.txt id n m");
    t.setup_ready();
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_TRUE(ends_with(loaded.console,
                          "! Problem reading file: incomplete line found at input record 2\n"
                          "  Reading 3 fields: id n m\n"
                          "  Problem occurred at field: m\n"))
        << loaded.console;
}

TEST(ReadingFailures, PassedFixedPosition) {
    test_job t;
    t.write("r.txt", "abc 1\n");
    dataset& ds = t.declare("data id recs", "file=r.txt id n");
    t.setup();
    fields(ds)[1].start = 2;
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_TRUE(ends_with(loaded.console,
                          "! Problem reading file: already passed position for fixed position reading at input record 1\n"))
        << loaded.console;
}

TEST(ReadingFailures, FileEmptiedAfterCounting) {
    test_job t;
    t.write("r.txt", "a 1\n");
    dataset& ds = t.declare("data id recs", "file=r.txt id n");
    t.setup_ready();
    t.write("r.txt", "");
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_TRUE(ends_with(loaded.console, "! Problem reading file: file is empty or no matches found.\n"));
}

TEST(RecordCount, FewerOrMoreLinesThanCountedFailTheLoad) {
    struct count_case { int32_t counted; const char* message; };
    const count_case cases[] = {
        {5, "! Problem loading data, 3 records read, 5 lines in file on previous count\n"},
        {2, "! Problem loading data, 3 records read, 2 lines in file on previous count\n"},
    };
    for (const count_case& c : cases) {
        test_job t;
        t.write("r.txt", "a 1\nb 2\nc 3\n");
        dataset& ds = t.declare("data id recs", "file=r.txt id n");
        t.setup_ready();
        ds.nrec = c.counted;
        const auto loaded = t.load(ds);
        EXPECT_EQ(loaded.result, 1);
        EXPECT_TRUE(ends_with(loaded.console, c.message)) << loaded.console;
        EXPECT_TRUE(ds.loaded);
        EXPECT_EQ(ds.status, setup_status::load_failed);
    }
}

TEST(DuplicateKeys, ReportedWithTheirCount) {
    test_job t;
    t.write("r.txt", "a\nb\na\nc\na\nb\n");
    dataset& ds = t.declare("data id recs", "file=r.txt id");
    t.setup_ready();
    const auto loaded = t.load(ds);
    EXPECT_EQ(loaded.result, 2);
    EXPECT_TRUE(ends_with(loaded.console,
                          "! Duplicate keys found for: a (3 times)\n"
                          "! Duplicate keys found for: b (2 times)\n"))
        << loaded.console;
    EXPECT_TRUE(ds.loaded);
    EXPECT_EQ(ds.status, setup_status::load_failed);
}

// A genotype data set whose marker map fails to load is not read at all.
TEST(LinkedLoadFailure, FailedMarkerMapStopsTheLoadThatNeedsIt) {
    struct map_case { const char* map_file; bool map_loaded; };
    const map_case cases[] = {
        {"m1 AG 0.5 0 1\nm1 AG 0.5 0 1\n", true},  // duplicate keys: loaded, status 1
        {"m1 AG x 0 1\nm2 AG 0.5 0 1\n", false},  // bad freq1: a reading failure
    };
    for (const map_case& c : cases) {
        test_job t;
        t.write("markers.txt", c.map_file);
        t.write("g.txt", "i1 A A G G\n");
        dataset& markers = t.declare("data snp markers", "file=markers.txt snp alleles freq1 nrmiss used");
        dataset& geno = t.declare("data id geno", "file=g.txt id snp[] !biallelic");
        t.setup_ready();
        const auto loaded = t.load(geno);
        EXPECT_EQ(loaded.result, 1);
        EXPECT_EQ(static_cast<bool>(markers.loaded), c.map_loaded);
        EXPECT_FALSE(contains(loaded.console, "Loading data #2")) << loaded.console;
        EXPECT_FALSE(geno.loaded);
        EXPECT_EQ(geno.status, setup_status::ok);
    }
}

TEST(LinkedLoadFailure, CircularLinksEndWithoutLoading) {
    test_job t;
    t.write("a.txt", "x1 y1\n");
    t.write("b.txt", "y1 x1\n");
    dataset& a = t.declare("data x seta", "file=a.txt x y");
    dataset& b = t.declare("data y setb", "file=b.txt y x");
    t.setup();
    const auto loaded = t.load(a);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_EQ(loaded.console, "! Data #1 cannot be loaded before data #2: their links form a circle\n");
    EXPECT_FALSE(a.loading || b.loading);  // both loads have ended, failed or not
}

}  // namespace
}  // namespace tavo
