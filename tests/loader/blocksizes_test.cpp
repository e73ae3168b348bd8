#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/job_fixture.h"

namespace tavo {
namespace {

using job_testing::block_sizes;
using job_testing::test_job;

std::string numbered_lines(const std::string& prefix, int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += prefix + std::to_string(i) + "\n";
    return text;
}

// Lines "1 0 0 ...", "2 0 0 ...": a key and `values` zeros each, so that the
// file can hold the values that the set-up finds declared.
std::string lines_of_zeros(int count, int values) {
    std::string zeros;
    for (int v = 0; v < values; ++v) zeros += " 0";
    std::string text;
    for (int i = 1; i <= count; ++i) text += std::to_string(i) + zeros + "\n";
    return text;
}

// A marker map of 1000 markers and a data set of three individuals whose
// block field takes its columns from the map.
struct marker_job {
    test_job t;
    dataset* map = nullptr;
    dataset* geno = nullptr;

    explicit marker_job(const std::string& coding) {
        t.write("m.txt", numbered_lines("m", 1000));
        t.write("g.txt", lines_of_zeros(3, 2000));
        map = &t.add("snp", "markers", "m.txt", {"snp"});
        geno = &t.add("id", "geno", "g.txt", {"id", "snp[]", coding});
        const auto run = t.setup();
        EXPECT_EQ(run.result, 0) << run.console;
    }
};

TEST(BlockSizes, GenotypeBlocksReadOneOrTwoTokensPerMarker) {
    struct expectation {
        const char* coding;
        field_type type;
        int items;
    };
    constexpr field_type genotypes = field_type::genotype_block;
    constexpr field_type alleles = field_type::allele_block;
    for (const expectation& e :
         {expectation{"!biallelic", genotypes, 2000}, expectation{"!multiallelic", alleles, 2000},
          expectation{"!genot012", genotypes, 1000}, expectation{"!dart", genotypes, 1000}}) {
        SCOPED_TRACE(e.coding);
        marker_job g(e.coding);
        const auto run = block_sizes(*g.geno);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.console, "");
        const datacol& col = fields(*g.geno)[1];
        EXPECT_EQ(col.type, e.type);
        EXPECT_EQ(col.ncol, 1000);
        EXPECT_EQ(col.items, e.items);
        EXPECT_EQ(col.nrec, 3);
        EXPECT_FALSE(col.tokens.absent());
        if (e.type == field_type::genotype_block) {
            EXPECT_EQ(col.genotypes.markers, 1000);
        } else {
            EXPECT_EQ(col.ints.size(), 6000u);
        }
        EXPECT_EQ(fields(*g.geno)[0].nrec, 3);
        EXPECT_EQ(fields(*g.geno)[0].links.size(), 3u);
        // No buffer's estimate may pass what the file holds: a line, or every token with its NUL.
        const int32_t file_bytes = 3 * 4002;
        EXPECT_EQ(col.tokens.limit, file_bytes + 1);
        EXPECT_EQ(fields(*g.geno)[0].values.limit, file_bytes + 3 + 1);
    }
}

TEST(BlockSizes, AddedStatisticsFieldsGetNoStorageButTheAlleles) {
    marker_job g("!genot012");
    ASSERT_EQ(g.map->nfields, 5);
    const auto run = block_sizes(*g.map);
    EXPECT_EQ(run.result, 0);
    const datacol& alleles = fields(*g.map)[1];
    EXPECT_EQ(alleles.nrec, 1000);
    EXPECT_EQ(alleles.fixed_text.size(), 3000u);
    for (int i = 2; i < 5; ++i) {
        const datacol& unused = fields(*g.map)[i];
        EXPECT_TRUE(unused.tokens.absent());
        EXPECT_TRUE(unused.texts.empty());
    }
}

TEST(BlockSizes, RealBlocksFromTheBracketsOrTheirLink) {
    test_job t;
    t.write("a.txt", lines_of_zeros(4, 11));
    dataset& ds = t.add("id", "1", "a.txt", {"id", "cov[7]", "rel[]", "!square", "ped[]", "!ragged"});
    t.write("p.txt", "1\n2\n");
    t.add("ped", "pp", "p.txt", {"ped"});
    ASSERT_EQ(t.setup().result, 0);
    const auto run = block_sizes(ds);
    EXPECT_EQ(run.result, 0) << run.console;
    const datacol& cov = fields(ds)[1];
    EXPECT_EQ(cov.type, field_type::real_block);
    EXPECT_EQ(cov.ncol, 7);
    EXPECT_EQ(cov.items, 7);
    ASSERT_EQ(cov.reals.size(), 28u);
    EXPECT_EQ(cov.real_runs[3], cov.reals.data() + 12);
    const datacol& rel = fields(ds)[2];
    EXPECT_EQ(rel.ncol, 4);
    EXPECT_EQ(rel.items, 4);
    const datacol& ragged = fields(ds)[3];
    EXPECT_EQ(ragged.type, field_type::ragged);
    EXPECT_EQ(ragged.ncol, 2);
    EXPECT_EQ(ragged.items, -1);
}

TEST(BlockSizes, BlockWithoutAReadableSize) {
    test_job t;
    t.write("a.txt", "1 2\n");
    dataset& ds = t.add("", "1", "a.txt", {"x", "geno[abc]"});
    ASSERT_EQ(t.setup().result, 0);
    const auto run = block_sizes(ds);
    EXPECT_EQ(run.result, 9);
    EXPECT_EQ(run.console,
              "!Cannot get size for block-field geno\n"
              " There should be a data set with key-field geno for counting size of the block-field, or\n"
              " in some cases it can be indicated between the square brackets on the field name\n");
    EXPECT_TRUE(fields(ds)[0].tokens.absent());  // nothing is created after a missing size
}

// A data set of herds and a block factor of herds in another data set.
struct factor_job {
    test_job t;
    dataset* herds = nullptr;
    dataset* animals = nullptr;

    explicit factor_job(const std::string& field_word) {
        t.write("h.txt", "h1\nh2\nh3\nh4\nh5\n");
        t.write("a.txt", "1 h1 h2\n2 h3 h4\n");
        herds = &t.add("herd", "herds", "h.txt", {"herd"});
        animals = &t.add("id", "animals", "a.txt", {"id", field_word, "!fac"});
        EXPECT_EQ(t.setup().result, 0);
    }
};

TEST(BlockSizes, FactorBlockTakesItsSizeFromTheBracketsAndLevelsFromItsLink) {
    factor_job f("herd[2]");
    const auto run = block_sizes(*f.animals);
    EXPECT_EQ(run.result, 0) << run.console;
    const datacol& col = fields(*f.animals)[1];
    EXPECT_EQ(col.type, field_type::factor_block);
    EXPECT_EQ(col.ncol, 2);
    EXPECT_EQ(col.items, 2);
    EXPECT_EQ(col.nlevels, 5);
    EXPECT_EQ(col.ints.size(), 4u);
}

TEST(BlockSizes, FactorBlockWithoutSize) {
    factor_job f("herd[]");
    ASSERT_EQ(fields(*f.animals)[1].type, field_type::factor_block);
    const auto run = block_sizes(*f.animals);
    EXPECT_EQ(run.result, 9);
    EXPECT_EQ(run.console,
              "!Cannot get size for block-factor herd\n"
              " For block-factors size (numner of columns) should be indicated between the square brackets on the "
              "field name.\n");
}

TEST(BlockSizes, FactorBlockWithoutLevels) {
    factor_job f("herd[2]");
    datacol& col = fields(*f.animals)[1];
    col.link = nullptr;
    const auto run = block_sizes(*f.animals);
    EXPECT_EQ(run.result, 9);
    EXPECT_EQ(run.console,
              "!Cannot get levels for block-factor herd\n"
              " There should be a data set with key-field herd that sets the levels in the block-factor field.\n");
}

TEST(BlockSizes, DataSetWithAProblemIsNotPrepared) {
    factor_job f("herd[2]");
    f.animals->status = setup_status::load_failed;
    const auto run = block_sizes(*f.animals);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.console, "");
    EXPECT_EQ(fields(*f.animals)[1].ncol, 0);
    EXPECT_TRUE(fields(*f.animals)[0].tokens.absent());
}

TEST(BlockSizes, AppendedColumnsAreSizedWithTheTarget) {
    test_job t;
    t.write("f.txt", "1\n2\n");
    t.write("g.txt", "1 0 1 2\n");
    dataset& filter = t.add("id", "ids", "f.txt", {"id"});
    dataset& block = t.add("id", "cov", "g.txt", {"id", "cov[3]"});
    ASSERT_EQ(t.setup(&block, &filter).result, 0);
    EXPECT_EQ(block_sizes(filter).result, 0);
    const datacol& cov = fields(filter)[2];
    EXPECT_EQ(cov.nrec, 2);
    EXPECT_EQ(cov.ncol, 3);
    EXPECT_EQ(cov.reals.size(), 6u);
    EXPECT_EQ(fields(filter)[1].type, field_type::appended_key);
    EXPECT_EQ(fields(filter)[1].links.size(), 2u);
    // The appended data set's own call sees the same slice.
    EXPECT_EQ(block_sizes(block).result, 0);
    EXPECT_EQ(fields(block).data(), filter.own_fields.data() + 1);
}

TEST(BlockSizes, TableBeyond64BitsCountsItsFailures) {
    test_job t;
    t.write("a.txt", "1\n");
    dataset& ds = t.add("", "1", "a.txt", {"cov[2147483647]"});
    ASSERT_EQ(t.setup().result, 1);  // the file cannot hold such a block
    ASSERT_EQ(ds.status, setup_status::too_many_values);
    ds.status = setup_status::ok;  // past that check, to reach the loader's own guard
    ds.nrec = 2147483647;
    const auto run = block_sizes(ds);
    EXPECT_EQ(run.result, 2);  // no token buffer, no table
    EXPECT_NE(run.console.find("! Overflow allocating covariate table\n"), std::string::npos) << run.console;
}

}  // namespace
}  // namespace tavo
