// Merging an appended data set into its target's sheet by key: matches,
// records set missing, repeated keys, and the genotype block of tavogen's
// identifier filter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/job_fixture.h"

namespace tavo {
namespace {

using job_testing::genotype_row;
using job_testing::test_job;
using job_testing::texts_of;

using testutil::contains;

// A target "main" of four records a..d and a data set "extra" appended to it
// (same key, no block data set).
struct merge_job : test_job {
    dataset* main = nullptr;
    dataset* extra = nullptr;

    void declare_pair(const std::string& extra_lines) {
        write("m.txt", "a\nb\nc\nd\n");
        write("e.txt", extra_lines);
        main = &declare("data id main", "file=m.txt id");
        extra = &declare("data id extra", "file=e.txt id v w");
    }
    // Column k of the appended data set, in the target's sheet.
    datacol& column(int k) { return main->own_fields[static_cast<size_t>(extra->first_field + k)]; }
};

TEST(Merge, UnmatchedTargetRecordsAreSetMissing) {
    merge_job t;
    t.declare_pair("c 3 z\nq 9 y\na 1 x\n");
    t.setup_ready();
    ASSERT_EQ(t.extra->link_target, t.main);
    const auto target = t.load(*t.main);
    ASSERT_EQ(target.result, 0) << target.console;
    EXPECT_EQ(target.console, "Loading data #1 [key=id, name=main] from m.txt\n"
                              " > Data loading OK, 4 records read [More data on id to be merged ...]\n");
    EXPECT_EQ(target.log, "Loading data 1 on id (main) from m.txt\n");  // the sheet is shown once complete

    t.column(1).type = field_type::integer;
    const auto merged = t.load(*t.extra);
    ASSERT_EQ(merged.result, 0) << merged.console;
    EXPECT_EQ(merged.console,
              "Loading data #2 [key=id, name=extra] from e.txt\n"
              "  > This data is appended to (and only retains records that match with) data set 1 (main).\n"
              "  > Data loading OK, 3 records read, 2 matched, 2 records set missing [Merging data on id done]\n");
    EXPECT_TRUE(contains(merged.log, "  > This data is appended to (and only retains records that match with) data set "
                                     "1 (main).\n"));
    EXPECT_TRUE(contains(merged.log, "    ....\n")) << merged.log;  // the target's sheet
    EXPECT_EQ(t.column(1).ints, (std::vector<int32_t>{1, -9999, 3, -9999}));
    EXPECT_EQ(texts_of(t.column(2)), (std::vector<std::string>{"x", "NA", "z", "NA"}));
    EXPECT_EQ(t.column(0).links, (std::vector<int32_t>{2, 0, 1, 3}));  // matched lines, then records set missing
    EXPECT_EQ(t.column(0).skip, 1);
    EXPECT_EQ(t.main->nshown, 4);
    EXPECT_TRUE(t.extra->loaded);
}

// A repeated key raises the match count but stores nothing, so a file that
// repeats keys more often than the target has records cannot overrun it.
TEST(Merge, RepeatedKeysAreCountedNotStored) {
    merge_job t;
    t.declare_pair("a 1 x\na 2 y\nb 3 z\na 4 u\nb 5 v\nb 6 w\nb 7 s\n");
    t.setup_ready();
    ASSERT_EQ(t.load(*t.main).result, 0);
    t.column(1).type = field_type::integer;
    const auto merged = t.load(*t.extra);
    EXPECT_EQ(merged.result, 2);
    EXPECT_TRUE(contains(merged.console, "  ! Multiple matches found for key a\n"
                                         "  ! Multiple matches found for key b\n"))
        << merged.console;
    EXPECT_FALSE(contains(merged.console, "Data loading OK"));
    EXPECT_EQ(fields(*t.main)[0].links, (std::vector<int32_t>{3, 4, 0, 0}));
    EXPECT_EQ(t.column(1).ints[0], 1);  // the first match's value stays
    EXPECT_EQ(t.column(1).ints[1], 3);
    EXPECT_TRUE(t.extra->loaded);
    EXPECT_EQ(t.extra->status, setup_status::load_failed);
}

TEST(Merge, NoMatchingKeyFailsAsAnEmptyFile) {
    merge_job t;
    t.declare_pair("x 1 u\ny 2 v\n");
    t.setup_ready();
    ASSERT_EQ(t.load(*t.main).result, 0);
    const auto merged = t.load(*t.extra);
    EXPECT_EQ(merged.result, 1);
    EXPECT_TRUE(contains(merged.console, "! Problem reading file: file is empty or no matches found.\n"));
}

TEST(Merge, TargetNotLoadedCleanlyStopsTheAppendedLoad) {
    merge_job t;
    t.declare_pair("a 1 x\n");
    t.write("m.txt", "a\na\nb\nc\n");
    t.setup_ready();
    EXPECT_EQ(t.load(*t.main).result, 1);  // duplicate key a
    const auto merged = t.load(*t.extra);
    EXPECT_EQ(merged.result, 1);
    EXPECT_EQ(merged.console, "");
    EXPECT_FALSE(t.extra->loaded);
}

TEST(Merge, OnlyTheLastAppendedDataSetCompletesTheSheet) {
    test_job t;
    t.write("m.txt", "a\nb\n");
    t.write("e1.txt", "b 1\n");
    t.write("e2.txt", "a 2\nb 3\n");
    dataset& main = t.declare("data id main", "file=m.txt id");
    dataset& first = t.declare("data ID first", "file=e1.txt id v");  // key compared ignoring case here
    dataset& second = t.declare("data id second", "file=e2.txt id w");
    t.setup_ready();
    ASSERT_EQ(main.appended_by, &second);
    ASSERT_EQ(t.load(main).result, 0);
    const auto one = t.load(first);
    EXPECT_TRUE(contains(one.console, "  > Data loading OK, 1 records read, 1 matched, 1 records set missing [More data "
                                      "on ID to be merged ...]\n"))
        << one.console;
    EXPECT_EQ(one.log.find("    ...."), std::string::npos);
    const auto two = t.load(second);
    EXPECT_TRUE(contains(two.console, "  > Data loading OK, 2 records read, 2 matched, 0 records set missing [Merging "
                                      "data on id done]\n"))
        << two.console;
    EXPECT_EQ(main.nshown, 5);
    EXPECT_EQ(texts_of(main.own_fields[2]), (std::vector<std::string>{"NA", "1"}));
    EXPECT_EQ(texts_of(main.own_fields[4]), (std::vector<std::string>{"2", "3"}));
}

// A block factor of a record set missing is missing (-9999), not record 0
// of the data set that gives its levels.
TEST(Merge, BlockFactorOfRecordSetMissingIsMissing) {
    test_job t;
    t.write("m.txt", "a\nb\n");
    t.write("levels.txt", "L1\nL2\n");
    t.write("z.txt", "a L2 L1\n");
    dataset& main = t.declare("data id main", "file=m.txt id");
    t.declare("data lev levels", "file=levels.txt lev");
    dataset& extra = t.declare("data id extra", "file=z.txt id lev[2] !fac");
    t.setup_ready();
    ASSERT_EQ(t.load(main).result, 0);
    const auto merged = t.load(extra);
    ASSERT_EQ(merged.result, 0) << merged.console;
    const datacol& lev = fields(extra)[1];
    EXPECT_EQ(lev.ints, (std::vector<int32_t>{1, -9999, 0, -9999}));  // sub-column 1 then 2, rows a and b
}

// The block data set of tavogen appended to its identifier filter: only the
// filter's individuals are kept; those without genotypes get code 0.
TEST(Merge, GenotypeBlockAppendedToIdentifierFilter) {
    test_job t;
    t.write("ids.txt", "i3\ni1\ni9\n");
    t.write("markers.txt.anno", "snp chrom alleles freq1 nrmiss used\nm1 1 AG 0.5 0 1\nm2 1 CT 0.5 0 1\n");
    t.write("g.txt", "i1 0 1\ni2 2 2\ni3 2 NA\n");
    dataset& ids = t.declare("data id ids", "file=ids.txt id");
    dataset& geno = t.declare("data id geno", "file=g.txt id snp[] !genot012");
    dataset& map = t.declare("data snp map", "file=markers.txt");
    t.setup_ready(&geno, &ids);
    ASSERT_EQ(geno.link_target, &ids);
    ASSERT_EQ(t.load(ids).result, 0);
    const auto merged = t.load(geno);
    ASSERT_EQ(merged.result, 0) << merged.console;
    EXPECT_TRUE(map.loaded);
    EXPECT_TRUE(contains(merged.console, "Loading data #3 [key=snp, name=map] from markers.txt.anno\n"));
    EXPECT_TRUE(contains(merged.console, "  > Data loading OK, 3 records read, 2 matched, 1 records set missing "
                                         "[Merging data on id done]\n"))
        << merged.console;
    const datacol& block = fields(geno)[1];
    EXPECT_EQ(genotype_row(block, 0), (std::vector<int>{3, 0}));  // i3
    EXPECT_EQ(genotype_row(block, 1), (std::vector<int>{1, 2}));  // i1
    EXPECT_EQ(genotype_row(block, 2), (std::vector<int>{0, 0}));  // i9: set missing
}

}  // namespace
}  // namespace tavo
