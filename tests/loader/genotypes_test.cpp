// Genotype blocks: the number readers, the five codings, allele numbering
// (learned and preloaded alleles) and multiallelic blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <string>
#include <vector>

#include "loader/loader_internal.h"
#include "support/job_fixture.h"

namespace tavo {
namespace {

using job_testing::genotype_row;
using job_testing::test_job;

TEST(ScanInt, ReadsLikeTheFormattedScan) {
    struct sample { const char* text; bool ok; int32_t value; };
    const sample samples[] = {
        {"5", true, 5},          {"+5", true, 5},        {"-5", true, -5},      {"007", true, 7},
        {"5abc", true, 5},       {"1e5", true, 1},       {"1.9", true, 1},      {"-0", true, 0},
        {"2147483647", true, 2147483647}, {"-2147483648", true, -2147483647 - 1},
        {"", false, 0},          {"+", false, 0},        {"-", false, 0},       {"+-5", false, 0},
        {"-+5", false, 0},       {"abc", false, 0},      {".5", false, 0},      {"NA", false, 0},
        {"2147483648", false, 0}, {"-99999999999", false, 0},  // beyond 32 bits: no integer
    };
    for (const sample& s : samples) {
        int32_t value = 0;
        EXPECT_EQ(scan_int(s.text, value), s.ok) << s.text;
        if (s.ok) {
            EXPECT_EQ(value, s.value) << s.text;
        }
    }
}

TEST(ScanReal, ReadsLikeTheFormattedScan) {
    struct sample { const char* text; bool ok; double value; };
    const sample samples[] = {
        {"1.5", true, 1.5},   {"+1.5e2", true, 150}, {"-.5e-1", true, -0.05}, {".5", true, 0.5},
        {"5.", true, 5},      {"1.5x", true, 1.5},   {"3e", true, 3},         {"1e-999", true, 0},
        {"", false, 0},       {"e5", false, 0},      {".", false, 0},         {"+-1", false, 0},
        {"x1", false, 0},     {"NA", false, 0},
    };
    for (const sample& s : samples) {
        double value = -1;
        EXPECT_EQ(scan_real(s.text, value), s.ok) << s.text;
        if (s.ok) {
            EXPECT_DOUBLE_EQ(value, s.value) << s.text;
        }
    }
    double value = 0;
    ASSERT_TRUE(scan_real("1e999", value));
    EXPECT_TRUE(std::isinf(value) && value > 0);
    ASSERT_TRUE(scan_real("+inf", value));
    EXPECT_TRUE(std::isinf(value));
    ASSERT_TRUE(scan_real("nan", value));
    EXPECT_TRUE(std::isnan(value));
}

// Code, or -1 for a non-numeric and -2 for an invalid token.
int decoded(genotype_coding coding, const char* token) {
    const coded_genotype g = decode_coded_token(coding, token, "NA");
    if (g.problem == code_problem::non_numeric) return -1;
    if (g.problem == code_problem::invalid) return -2;
    return g.code;
}

TEST(GenotypeCodings, CodeTable) {
    using gc = genotype_coding;
    const char* tokens[] = {"-1", "0", "1", "2", "3", "NA", "na", "x"};
    // Expected per token above: code, -1 non-numeric, -2 invalid.
    const std::vector<int> bigenot = {-2, 0, 1, 2, 3, -1, -1, -1};  // no missing indicator
    const std::vector<int> genot012 = {-2, 1, 2, 3, -2, 0, 0, -1};
    const std::vector<int> genot_101 = {1, 2, 3, -2, -2, 0, 0, -1};
    const std::vector<int> dart = {-2, 1, 3, -2, -2, 0, 0, -1};
    for (size_t i = 0; i < std::size(tokens); ++i) {
        EXPECT_EQ(decoded(gc::bigenot, tokens[i]), bigenot[i]) << tokens[i];
        EXPECT_EQ(decoded(gc::genot012, tokens[i]), genot012[i]) << tokens[i];
        EXPECT_EQ(decoded(gc::genot_101, tokens[i]), genot_101[i]) << tokens[i];
        EXPECT_EQ(decoded(gc::dart, tokens[i]), dart[i]) << tokens[i];
    }
    EXPECT_EQ(decode_coded_token(gc::genot012, "7", "NA").value, 7);  // shown in the invalid-code message
}

TEST(AlleleNumber, LearnsUpToTwoAllelesAndRefusesNewOnesWhenPreloaded) {
    char text[3] = "";
    EXPECT_EQ(allele_number(text, '0', 'A', true), 1);
    EXPECT_EQ(allele_number(text, '0', 'A', true), 1);
    EXPECT_EQ(allele_number(text, '0', 'G', true), 2);
    EXPECT_STREQ(text, "AG");
    EXPECT_EQ(allele_number(text, '0', 'T', true), -1);
    EXPECT_EQ(allele_number(text, '0', '0', true), 0);
    EXPECT_STREQ(text, "AG");

    char fixed[3] = "CT";
    EXPECT_EQ(allele_number(fixed, '0', 'T', false), 2);
    EXPECT_EQ(allele_number(fixed, '0', 'A', false), -2);
    EXPECT_EQ(allele_number(fixed, 'N', 'n', false), -2);  // the missing allele matches exactly
    EXPECT_STREQ(fixed, "CT");
}

// "i12" and the like, built without the literal + string form that GCC 12
// warns about wrongly (-Wrestrict).
std::string numbered(char prefix, int number) {
    std::string text(1, prefix);
    text += std::to_string(number);
    return text;
}

// A genotype data set "geno" (key id) over the markers m1..m<n> of "markers" (key snp).
struct genotype_job : test_job {
    dataset* markers = nullptr;
    dataset* geno = nullptr;

    void declare_pair(const std::string& coding, int nmarkers, const std::string& genotypes,
                      const std::string& geno_options = "") {
        std::string lines;
        for (int m = 1; m <= nmarkers; ++m) lines += numbered('m', m) + "\n";
        write("markers.txt", lines);
        write("g.txt", genotypes);
        markers = &declare("data snp markers", "file=markers.txt snp");
        geno = &declare("data id geno", "file=g.txt " + geno_options + " id snp[] " + coding);
    }
    datacol& block() { return fields(*geno)[1]; }
};

TEST(GenotypeLoad, Genot012WithMissingInAnyCase) {
    genotype_job t;
    t.declare_pair("!genot012", 3, "i1 0 1 2\ni2 NA na 1\r\ni3 2 2 0");
    t.setup_ready();
    const auto loaded = t.load(*t.geno);
    ASSERT_EQ(loaded.result, 0) << loaded.console;
    EXPECT_NE(loaded.console.find("Loading data #1 [key=snp, name=markers] from markers.txt\n"), std::string::npos);
    EXPECT_NE(loaded.console.find("Loading data #2 [key=id, name=geno] from g.txt\n  > Data loading OK, 3 records read\n"),
              std::string::npos)
        << loaded.console;
    EXPECT_EQ(genotype_row(t.block(), 0), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(genotype_row(t.block(), 1), (std::vector<int>{0, 0, 2}));
    EXPECT_EQ(genotype_row(t.block(), 2), (std::vector<int>{3, 3, 1}));
    EXPECT_TRUE(t.markers->loaded);
    EXPECT_TRUE(t.geno->loaded);
}

// Tokens of a large genot012 block with the code each must give: mostly one
// character, some missing in either case, some longer tokens.
struct block_text {
    std::string text;
    std::vector<std::vector<int>> codes;  // per line
};
block_text make_block(int lines, int markers, int first_id) {
    static const char* tokens[] = {"0", "1", "2", "NA", "na", "+1", "02"};
    static const int codes[] = {1, 2, 3, 0, 0, 2, 3};
    block_text block;
    uint32_t state = 12345;
    for (int i = 0; i < lines; ++i) {
        block.text += numbered('i', first_id + i);
        block.codes.emplace_back();
        for (int m = 0; m < markers; ++m) {
            state = state * 1103515245u + 12345u;
            const uint32_t draw = (state >> 16) % 100;
            const int pick = draw < 90 ? static_cast<int>(draw % 3) : 3 + static_cast<int>(draw % 4);
            block.text += ' ';
            block.text += tokens[pick];
            block.codes.back().push_back(codes[pick]);
        }
        block.text += '\n';
    }
    return block;
}

// 150 records cross two tiles of 64 rows; 21 markers leave part of an
// 8 x 8 block over on both sides.
TEST(GenotypeLoad, LargeBlockStoredMarkerByMarker) {
    const block_text block = make_block(150, 21, 1);
    genotype_job t;
    t.declare_pair("!genot012", 21, block.text);
    t.setup_ready();
    const auto loaded = t.load(*t.geno);
    ASSERT_EQ(loaded.result, 0) << loaded.console;
    for (int r = 0; r < 150; ++r) ASSERT_EQ(genotype_row(t.block(), r), block.codes[static_cast<size_t>(r)]) << r;
}

// Rows of a merged block follow the target's records, not the file's lines.
TEST(GenotypeLoad, LargeBlockMergedInAnotherOrder) {
    const block_text block = make_block(100, 13, 1);
    test_job t;
    std::string ids;
    for (int i = 120; i >= 1; --i) ids += numbered('i', i) + "\n";  // i101..i120 have no genotypes
    t.write("ids.txt", ids);
    std::string lines;
    for (int m = 1; m <= 13; ++m) lines += numbered('m', m) + "\n";
    t.write("markers.txt", lines);
    t.write("g.txt", block.text);
    dataset& filter = t.declare("data id ids", "file=ids.txt id");
    t.declare("data snp markers", "file=markers.txt snp");
    dataset& geno = t.declare("data id geno", "file=g.txt id snp[] !genot012");
    t.setup_ready();
    ASSERT_EQ(geno.link_target, &filter);
    ASSERT_EQ(t.load(filter).result, 0);
    const auto loaded = t.load(geno);
    ASSERT_EQ(loaded.result, 0) << loaded.console;
    const datacol& codes = fields(geno)[1];
    for (int row = 0; row < 120; ++row) {
        const int id = 120 - row;
        const std::vector<int> expected = id > 100 ? std::vector<int>(13, 0) : block.codes[static_cast<size_t>(id - 1)];
        ASSERT_EQ(genotype_row(codes, row), expected) << "i" << id;
    }
}

TEST(GenotypeLoad, OtherOneTokenCodings) {
    struct coding_case { const char* option; const char* line; std::vector<int> codes; };
    const coding_case cases[] = {
        {"!genot-101", "i1 -1 0 1 NA\n", {1, 2, 3, 0}},
        {"!dart", "i1 0 1 NA 0\n", {1, 3, 0, 1}},
        {"!bigenot", "i1 0 1 2 3\n", {0, 1, 2, 3}},
        {"!GENOT012", "i1 +1 01 1e5 2x\n", {2, 2, 2, 3}},  // option case ignored; tokens read as "%d" reads
    };
    for (const coding_case& c : cases) {
        genotype_job t;
        t.declare_pair(c.option, 4, c.line);
        t.setup_ready();
        const auto loaded = t.load(*t.geno);
        ASSERT_EQ(loaded.result, 0) << c.option << loaded.console;
        EXPECT_EQ(genotype_row(t.block(), 0), c.codes) << c.option;
    }
}

// Every coding's tokens, its missing one included, over 67 records (two
// tiles, the last byte of each run part filled) against the byte codes.
TEST(GenotypeLoad, EveryCodingStoresEachCodeInTwoBits) {
    struct coding_case { const char* option; std::vector<std::string> tokens; std::vector<int> codes; };
    const coding_case cases[] = {
        {"!genot012", {"0", "1", "2", "NA"}, {1, 2, 3, 0}},
        {"!genot-101", {"-1", "0", "1", "na"}, {1, 2, 3, 0}},
        {"!dart", {"0", "1", "NA", "0"}, {1, 3, 0, 1}},
        {"!bigenot", {"0", "1", "2", "3"}, {0, 1, 2, 3}},
        {"!biallelic", {"A A", "A C", "C C", "0 0"}, {1, 2, 3, 0}},  // the first record teaches A, then C
    };
    const int records = 67;
    const int markers = 9;
    for (const coding_case& c : cases) {
        SCOPED_TRACE(c.option);
        std::string text;
        std::vector<std::vector<int>> expected;
        for (int i = 0; i < records; ++i) {
            text += numbered('i', i + 1);
            expected.emplace_back();
            for (int m = 0; m < markers; ++m) {
                const size_t k = i == 0 ? 0 : static_cast<size_t>((m + i + i / 4) % 4);
                text += " " + c.tokens[k];
                expected.back().push_back(c.codes[k]);
            }
            text += "\n";
        }
        genotype_job t;
        t.declare_pair(c.option, markers, text);
        t.setup_ready();
        const auto loaded = t.load(*t.geno);
        ASSERT_EQ(loaded.result, 0) << loaded.console;
        for (int r = 0; r < records; ++r) ASSERT_EQ(genotype_row(t.block(), r), expected[static_cast<size_t>(r)]) << r;
    }
}

// Codes (r * 3 + m + r / 7) % 4 of rows r of a tile, ncol markers a row.
std::vector<uint8_t> tile_of(const std::vector<int32_t>& rows, int32_t ncol) {
    std::vector<uint8_t> tile;
    for (int32_t r : rows)
        for (int32_t m = 0; m < ncol; ++m) tile.push_back(static_cast<uint8_t>((r * 3 + m + r / 7) % 4));
    return tile;
}

std::vector<int32_t> row_range(int32_t first, int32_t count) {
    std::vector<int32_t> rows;
    for (int32_t r = first; r < first + count; ++r) rows.push_back(r);
    return rows;
}

// A tile of consecutive rows from a multiple of 4 writes the bytes of its
// rows and nothing else, so that tiles of other rows can be flushed at the
// same time; the tile that ends the table also writes the runs' padding.
TEST(GenotypeTiles, ATileWritesTheBytesOfItsRowsOnly) {
    datacol col;
    col.type = field_type::genotype_block;
    col.ncol = 21;  // two blocks of 8 markers and 5 left over
    col.nrec = 203;
    ASSERT_TRUE(allocate_genotype_store(col.genotypes, col.ncol, col.nrec));
    constexpr uint8_t UNWRITTEN = 0xA5;
    memset(col.genotypes.base, UNWRITTEN, static_cast<size_t>(col.genotypes.bytes()));
    // rows 0..39: a block of 32 rows and two of 4; 64..127 a full tile; 192..202 the end
    for (const auto& [first, count] : {std::pair{0, 40}, std::pair{64, 64}, std::pair{192, 11}}) {
        const std::vector<int32_t> rows = row_range(first, count);
        flush_tile_rows(col, tile_of(rows, col.ncol).data(), rows.data(), rows.size());
    }
    const std::vector<uint8_t> all = tile_of(row_range(0, col.nrec), col.ncol);
    for (int32_t m = 0; m < col.ncol; ++m) {
        const uint8_t* run = col.genotypes.run(m);
        for (int64_t k = 0; k < col.genotypes.run_bytes; ++k) {
            const bool written = k < 10 || (k >= 16 && k < 32) || k >= 48;
            if (!written) {
                ASSERT_EQ(run[k], UNWRITTEN) << m << " " << k;
                continue;
            }
            for (int64_t r = 4 * k; r < 4 * k + 4; ++r)
                ASSERT_EQ(genotype_code(run, r), r < col.nrec ? all[static_cast<size_t>(r * col.ncol + m)] : 0)
                    << m << " " << r;
        }
    }
}

// Rows in any order (a merged data set, its table cleared first) and rows
// that start inside a byte set their codes and keep the others of the byte.
TEST(GenotypeTiles, RowsInAnyOrderKeepTheirNeighbours) {
    datacol col;
    col.type = field_type::genotype_block;
    col.ncol = 3;
    col.nrec = 30;
    ASSERT_TRUE(allocate_genotype_store(col.genotypes, col.ncol, col.nrec));
    memset(col.genotypes.base, 0, static_cast<size_t>(col.genotypes.bytes()));
    const std::vector<std::vector<int32_t>> tiles = {{9, 2, 17, 0}, row_range(5, 3), row_range(25, 5)};
    std::vector<int> expected(static_cast<size_t>(col.ncol * col.nrec), 0);
    for (const std::vector<int32_t>& rows : tiles) {
        const std::vector<uint8_t> tile = tile_of(rows, col.ncol);
        flush_tile_rows(col, tile.data(), rows.data(), rows.size());
        for (size_t k = 0; k < rows.size(); ++k)
            for (int32_t m = 0; m < col.ncol; ++m)
                expected[static_cast<size_t>(m * col.nrec + rows[k])] = tile[k * static_cast<size_t>(col.ncol) + m];
    }
    for (int32_t m = 0; m < col.ncol; ++m)
        for (int32_t r = 0; r < col.nrec; ++r)
            ASSERT_EQ(genotype_code(col.genotypes.run(m), r), expected[static_cast<size_t>(m * col.nrec + r)]) << m << " " << r;
}

TEST(GenotypeLoad, BadCodesAreAllReportedAndFailTheLoad) {
    genotype_job t;
    t.declare_pair("!genot012", 3, "i1 0 3 2\ni2 x 1 -1\ni3 NA 99999999999 1\n");
    t.setup_ready();
    const auto loaded = t.load(*t.geno);
    EXPECT_EQ(loaded.result, 1);
    const std::string tail =
        "  ! invalid genotype code at record 1 marker 2: 3\n"
        "  ! non-numeric genotype code at record 2 marker 1: x\n"
        "  ! invalid genotype code at record 2 marker 3: -1\n"
        "  ! non-numeric genotype code at record 3 marker 2: 9\n"
        "! Problem reading file:";
    ASSERT_GE(loaded.console.size(), tail.size());
    EXPECT_EQ(loaded.console.substr(loaded.console.size() - tail.size()), tail) << loaded.console;
    EXPECT_FALSE(t.geno->loaded);  // a reading failure leaves the data set as it was
    EXPECT_EQ(t.geno->status, setup_status::ok);
}

TEST(GenotypeLoad, BigenotHasNoMissingIndicator) {
    genotype_job t;
    t.declare_pair("!bigenot", 2, "i1 NA 1\n");
    t.setup_ready();
    const auto loaded = t.load(*t.geno);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_NE(loaded.console.find("  ! non-numeric genotype code at record 1 marker 1: N\n"), std::string::npos);
}

TEST(GenotypeLoad, BiallelicLearnsAllelesPerMarker) {
    genotype_job t;
    t.declare_pair("!biallelic", 2, "i1 A A C C\ni2 A G C T\ni3 G G 0 0\ni4 G A T 0\n");
    t.setup_ready();
    const auto loaded = t.load(*t.geno);
    ASSERT_EQ(loaded.result, 0) << loaded.console;
    EXPECT_EQ(genotype_row(t.block(), 0), (std::vector<int>{1, 1}));
    EXPECT_EQ(genotype_row(t.block(), 1), (std::vector<int>{2, 2}));
    EXPECT_EQ(genotype_row(t.block(), 2), (std::vector<int>{3, 0}));  // missing allele 0
    EXPECT_EQ(genotype_row(t.block(), 3), (std::vector<int>{2, 0}));
    const datacol& alleles = fields(*t.markers)[t.markers->allele_field];
    EXPECT_EQ(job_testing::texts_of(alleles), (std::vector<std::string>{"AG", "CT"}));
}

TEST(GenotypeLoad, BiallelicThirdAndOverlongAllelesAreReported) {
    genotype_job t;
    t.declare_pair("!biallelic", 2, "i1 A G C C\ni2 T A CC C\n", "missallele=N");
    t.setup_ready();
    const auto loaded = t.load(*t.geno);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_NE(loaded.console.find("  ! too many / third allele at record 2 marker 1: \"AG\"+\"T\"\n"
                                  "  ! too long allele for biallelic coding at record 2 marker 2: CC\n"
                                  "! Problem reading file:"),
              std::string::npos)
        << loaded.console;
}

TEST(GenotypeLoad, PreloadedAllelesMarkMarkersWithNewAllelesUnused) {
    genotype_job t;
    t.write("markers.txt", "m1 AG 0.5 0 1\nm2 CT 0.5 0 0\nm3 AC 0.5 0 1\n");
    t.write("g.txt", "i1 A T C A A C\ni2 G G T T 0 C\n");
    t.markers = &t.declare("data snp markers", "file=markers.txt snp alleles freq1 nrmiss used");
    t.geno = &t.declare("data id geno", "file=g.txt id snp[] !biallelic");
    t.setup_ready();
    const auto loaded = t.load(*t.geno);
    ASSERT_EQ(loaded.result, 0) << loaded.console;
    EXPECT_EQ(loaded.console.find("allele"), std::string::npos) << loaded.console;  // no message
    EXPECT_EQ(genotype_row(t.block(), 0), (std::vector<int>{0, 0, 2}));
    EXPECT_EQ(genotype_row(t.block(), 1), (std::vector<int>{3, 3, 0}));
    const datacol& used = fields(*t.markers)[4];
    EXPECT_EQ(used.ints, (std::vector<int32_t>{-1, 0, 1}));  // a used value of 0 stays 0
    EXPECT_EQ(job_testing::texts_of(fields(*t.markers)[1]), (std::vector<std::string>{"AG", "CT", "AC"}));
}

TEST(GenotypeLoad, MultiallelicAllelesNumberedInOrderOfFirstAppearance) {
    genotype_job t;
    t.declare_pair("!multiallelic", 2, "i1 A B C C\ni2 B D A C\n");
    t.setup_ready();
    const auto loaded = t.load(*t.geno);
    ASSERT_EQ(loaded.result, 0) << loaded.console;
    const datacol& block = t.block();
    EXPECT_EQ(block.type, field_type::named_allele_block);
    EXPECT_EQ(block.nlevels, 4);
    EXPECT_EQ(job_testing::names_of(block), (std::vector<std::string>{"A", "B", "C", "D"}));
    // Run of marker m: first alleles of records 0 and 1, then their second alleles.
    EXPECT_EQ(std::vector<int32_t>(block.ints.begin(), block.ints.begin() + 4), (std::vector<int32_t>{0, 1, 1, 3}));
    EXPECT_EQ(std::vector<int32_t>(block.ints.begin() + 4, block.ints.end()), (std::vector<int32_t>{2, 0, 2, 2}));
}

TEST(GenotypeLoad, TwoMultiallelicBlocksAreRefused) {
    genotype_job t;
    t.write("markers.txt", "m1\n");
    t.write("g.txt", "i1 A B C D\n");
    t.markers = &t.declare("data snp markers", "file=markers.txt snp");
    t.geno = &t.declare("data id geno", "file=g.txt id snp[] !multiallelic snp[] !multiallelic");
    t.setup_ready();
    const auto loaded = t.load(*t.geno);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_NE(loaded.console.find(
                  "ERROR there are multiple genotype-blocks with multiallelic format; tavo cannot handle this right now\n"
                  "It would work though if you supply the multiple genotype blocks in different files\n"),
              std::string::npos)
        << loaded.console;
}

}  // namespace
}  // namespace tavo
