// Reading buffers and storage of data sheet columns.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "sheets/datasheet.h"

namespace tavo {
namespace {

// A column of the type with this letter (or of a letter that names no type).
datacol column(char letter, int32_t nrec, int32_t ncol = 0) {
    datacol col;
    col.name = "fld";
    col.type = static_cast<field_type>(letter);
    col.nrec = nrec;
    col.ncol = ncol;
    return col;
}

void expect_sizes(const charbuff& buf, int capacity, int increment, int expected) {
    EXPECT_FALSE(buf.absent());
    EXPECT_EQ(buf.capacity, capacity);
    EXPECT_EQ(buf.increment, increment);
    EXPECT_EQ(buf.expected, expected);
}

// alloctmpstore with the console captured.
int tmpstore(datacol& col, std::string& console) {
    testing::internal::CaptureStdout();
    const int status = alloctmpstore(col);
    console = testing::internal::GetCapturedStdout();
    return status;
}

int datacol_alloc(datacol& col, std::string& console) {
    testing::internal::CaptureStdout();
    const int result = allocdatacol(col);
    console = testing::internal::GetCapturedStdout();
    return result;
}

TEST(Alloctmpstore, TextLettersGetValueBuffersSizedByRecordCount) {
    for (char type : {'K', 'T', 'c', 'f', 't', 'u'}) {
        SCOPED_TRACE(std::string(1, type));
        datacol two = column(type, 2);
        EXPECT_EQ(alloctmpstore(two), 0);
        expect_sizes(two.tokens, 20, 20, 0);
        expect_sizes(two.values, 4, 2, 2);
        datacol many = column(type, 1000);
        EXPECT_EQ(alloctmpstore(many), 0);
        expect_sizes(many.values, 2000, 500, 1000);
    }
    datacol three = column('u', 3);
    EXPECT_EQ(alloctmpstore(three), 0);
    expect_sizes(three.values, 6, 1, 3);
}

TEST(Alloctmpstore, TokenOnlyAndValueOnlyLetters) {
    for (char type : {'i', 'k', 's'}) {
        datacol col = column(type, 5);
        EXPECT_EQ(alloctmpstore(col), 0);
        expect_sizes(col.tokens, 20, 20, 0);
        EXPECT_TRUE(col.values.absent());
    }
    datacol names = column('m', 5);
    EXPECT_EQ(alloctmpstore(names), 0);
    EXPECT_TRUE(names.tokens.absent());
    expect_sizes(names.values, 20, 20, 0);
}

TEST(Alloctmpstore, BlockTokenBuffersSizedByColumnCount) {
    for (int ncol : {19, 20}) {
        SCOPED_TRACE(ncol);
        datacol reals = column('B', 7, ncol);
        EXPECT_EQ(alloctmpstore(reals), 0);
        expect_sizes(reals.tokens, 80, 40, 20);
        datacol genotypes = column('g', 7, ncol);
        EXPECT_EQ(alloctmpstore(genotypes), 0);
        expect_sizes(genotypes.tokens, 80, 10, 20);
    }
    datacol reals = column('B', 7, 100);
    EXPECT_EQ(alloctmpstore(reals), 0);
    expect_sizes(reals.tokens, 400, 200, 100);
    datacol genotypes = column('g', 7, 100);
    EXPECT_EQ(alloctmpstore(genotypes), 0);
    expect_sizes(genotypes.tokens, 400, 50, 100);

    datacol alleles = column('h', 7, 100);
    EXPECT_EQ(alloctmpstore(alleles), 0);
    expect_sizes(alleles.tokens, 400, 50, 100);
    expect_sizes(alleles.values, 1000, 1000, 100);

    datacol factors = column('Z', 7, 30);
    EXPECT_EQ(alloctmpstore(factors), 0);
    expect_sizes(factors.tokens, 50, 100, 30);
}

TEST(Alloctmpstore, RaggedTokenBufferIsAtLeast100) {
    datacol small = column('R', 7, 1000);
    EXPECT_EQ(alloctmpstore(small), 0);
    expect_sizes(small.tokens, 100, 100, 0);
    datacol large = column('R', 7, 5000);
    EXPECT_EQ(alloctmpstore(large), 0);
    expect_sizes(large.tokens, 250, 250, 0);
}

TEST(Alloctmpstore, UnsetSizesAndUnknownLetters) {
    std::string console;
    datacol block = column('B', 100, 0);
    EXPECT_EQ(tmpstore(block, console), 10);
    EXPECT_EQ(console, "? alloctmpstore: sizes not correctly set, problem status=10\n");
    EXPECT_TRUE(block.tokens.absent());

    datacol plain = column('u', 0, 5);
    EXPECT_EQ(tmpstore(plain, console), 20);
    EXPECT_EQ(console, "? alloctmpstore: sizes not correctly set, problem status=20\n");
    // A multiallelic block is not among the block letters: it needs records.
    datacol alleles = column('h', 0, 5);
    EXPECT_EQ(tmpstore(alleles, console), 20);

    datacol odd = column('Q', 5);
    EXPECT_EQ(tmpstore(odd, console), 30);
    EXPECT_EQ(console, "? alloctmpstore: unkown field type Q\n");
}

// 2 x nrec and 4 x ncol are computed in 64 bits; a result beyond the 32-bit
// range is one failed buffer, not a wrapped (negative or tiny) size.
TEST(Alloctmpstore, SizeBeyond32BitsIsAFailedBuffer) {
    std::string console;
    datacol texts = column('u', 1'500'000'000);
    EXPECT_EQ(tmpstore(texts, console), 1);
    EXPECT_TRUE(texts.values.absent());
    EXPECT_FALSE(texts.tokens.absent());
    EXPECT_EQ(console, "? init_charbuff: allocation problem.\n? alloctmpstore: problem status 1\n");

    datacol genotypes = column('h', 5, 600'000'000);
    EXPECT_EQ(tmpstore(genotypes, console), 1);
    EXPECT_TRUE(genotypes.tokens.absent());
    EXPECT_FALSE(genotypes.values.absent());
}

TEST(Allocdatacol, StorageByLetter) {
    struct expected_storage {
        char type;
        size_t ints, reals, texts, links, names;
    };
    // nrec 7, nlevels 4
    const expected_storage table[] = {
        {'u', 0, 0, 7, 0, 0}, {'f', 0, 0, 7, 0, 0}, {'K', 0, 0, 7, 7, 0}, {'k', 0, 0, 0, 7, 0},
        {'i', 7, 0, 0, 0, 0}, {'T', 7, 0, 0, 0, 0}, {'M', 7, 0, 0, 0, 0}, {'c', 0, 7, 7, 0, 0},
        {'t', 0, 7, 7, 0, 0}, {'C', 0, 7, 0, 0, 0}, {'F', 7, 0, 0, 0, 4}, {'H', 0, 0, 0, 0, 4},
        {'m', 0, 0, 0, 0, 4},
    };
    for (const auto& want : table) {
        SCOPED_TRACE(std::string(1, want.type));
        datacol col = column(want.type, 7);
        col.nlevels = 4;
        EXPECT_EQ(allocdatacol(col), 0);
        EXPECT_EQ(col.ints.size(), want.ints);
        EXPECT_EQ(col.reals.size(), want.reals);
        EXPECT_EQ(col.texts.size(), want.texts);
        EXPECT_EQ(col.links.size(), want.links);
        EXPECT_EQ(col.names.size(), want.names);
        EXPECT_TRUE(col.genotypes.empty());
    }
}

// The loader converts f to F after the texts are in place; the level codes
// and names are added without losing the texts the sheet printer shows.
TEST(Allocdatacol, FactorConversionKeepsTheTexts) {
    datacol col = column('f', 3);
    ASSERT_EQ(allocdatacol(col), 0);
    const char* texts[] = {"b", "a", "b"};
    for (size_t r = 0; r < 3; ++r) col.texts[r] = texts[r];
    col.type = field_type::coded_factor;
    col.nlevels = 2;
    ASSERT_EQ(allocdatacol(col), 0);
    ASSERT_EQ(col.texts.size(), 3u);
    EXPECT_STREQ(col.texts[2], "b");
    EXPECT_EQ(col.ints.size(), 3u);
    EXPECT_EQ(col.names.size(), 2u);
}

TEST(Allocdatacol, FixedTextSlots) {
    datacol col = column('s', 10);
    col.width = 2;
    ASSERT_EQ(allocdatacol(col), 0);
    EXPECT_EQ(col.fixed_text.size(), 30u);
    EXPECT_EQ(col.texts[5], col.fixed_text.data() + 15);
    for (const char* slot : col.texts) EXPECT_STREQ(slot, "");

    std::string console;
    datacol unset = column('s', 10);
    EXPECT_EQ(datacol_alloc(unset, console), 1);
    EXPECT_EQ(console, "Programming error: width not set in allocdatacol for s type.\n");
    EXPECT_TRUE(unset.texts.empty());
}

TEST(Allocdatacol, BlocksAreStoredColumnByColumn) {
    datacol reals = column('B', 100, 5);
    ASSERT_EQ(allocdatacol(reals), 0);
    EXPECT_EQ(reals.reals.size(), 500u);
    ASSERT_EQ(reals.real_runs.size(), 5u);
    EXPECT_EQ(&reals.real_runs[3][7], &reals.reals[307]);

    // Genotype runs start on lines of their own, so that no two share a byte.
    datacol genotypes = column('g', 10, 4);
    ASSERT_EQ(allocdatacol(genotypes), 0);
    for (int64_t m = 0; m < 4; ++m) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(genotypes.genotypes.run(m)) % 64, 0u);
        if (m > 0) {
            EXPECT_GE(genotypes.genotypes.run(m) - genotypes.genotypes.run(m - 1), 3);
        }
    }

    datacol factors = column('Z', 10, 4);
    ASSERT_EQ(allocdatacol(factors), 0);
    EXPECT_EQ(factors.ints.size(), 40u);
    EXPECT_EQ(&factors.int_runs[3][0], &factors.ints[30]);

    // Run j of a multiallelic block: first alleles of all records, then second alleles.
    datacol alleles = column('h', 10, 3);
    ASSERT_EQ(allocdatacol(alleles), 0);
    EXPECT_EQ(alleles.ints.size(), 60u);
    EXPECT_EQ(&alleles.int_runs[2][10 + 4], &alleles.ints[40 + 14]);
}

TEST(Allocdatacol, RaggedRecordsStartEmpty) {
    datacol col = column('R', 6, 100);
    ASSERT_EQ(allocdatacol(col), 0);
    EXPECT_EQ(col.ints, std::vector<int32_t>(6, 0));
    ASSERT_EQ(col.ragged.size(), 6u);
    for (const auto& record : col.ragged) EXPECT_TRUE(record.empty());
}

TEST(Allocdatacol, EmptyAndOverflowingBlocks) {
    std::string console;
    datacol genotypes = column('g', 50, 0);
    EXPECT_EQ(datacol_alloc(genotypes, console), 1);
    EXPECT_EQ(console, "! Overflow allocating genotype table\n");

    datacol reals = column('B', 0, 5);
    EXPECT_EQ(datacol_alloc(reals, console), 1);
    EXPECT_EQ(console, "! Overflow allocating covariate table\n");

    // Only a size beyond 64 bits still counts as overflow.
    datacol huge_reals = column('B', INT32_MAX, INT32_MAX);
    EXPECT_EQ(column_bytes(huge_reals), -1);
    EXPECT_EQ(datacol_alloc(huge_reals, console), 1);
    EXPECT_EQ(console, "! Overflow allocating covariate table\n");
    EXPECT_TRUE(huge_reals.reals.empty());

    datacol huge_alleles = column('h', INT32_MAX, INT32_MAX);
    EXPECT_EQ(datacol_alloc(huge_alleles, console), 1);
    EXPECT_EQ(console, "! Overflow allocating genotype table\n");

    datacol huge_factors = column('Z', INT32_MAX, INT32_MAX);
    EXPECT_EQ(datacol_alloc(huge_factors, console), 1);
    EXPECT_EQ(huge_factors.status, INT32_MAX);
}

// 50,000 markers x 50,000 records is 2.5e9 bytes: beyond 32 bits, but a
// size to allocate, not an overflow.
TEST(Allocdatacol, LargeTablesAreSizedIn64Bits) {
    EXPECT_EQ(column_bytes(column('g', 51'200, 500'000)), 6'400'000'000);  // four codes a byte
    EXPECT_EQ(column_bytes(column('B', 50'000, 50'000)), 20'000'000'000);
    EXPECT_EQ(column_bytes(column('Z', 50'000, 50'000)), 10'000'000'000);
    EXPECT_EQ(column_bytes(column('h', 50'000, 50'000)), 20'000'000'000);
    datacol text = column('s', 1'000'000'000);
    text.width = 9;
    EXPECT_EQ(column_bytes(text), 10'000'000'000);
    EXPECT_EQ(column_bytes(column('u', 50)), 0);
}

// A request the system cannot satisfy is reported by result 1 and the byte
// size in status (clamped to the 32-bit status), without an overflow message.
TEST(Allocdatacol, FailedAllocationStoresTheSize) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer aborts on a request of this size";
#else
    std::string console;
    datacol genotypes = column('g', INT32_MAX, INT32_MAX);  // 1.2e18 bytes
    EXPECT_GT(column_bytes(genotypes), 0);
    EXPECT_EQ(datacol_alloc(genotypes, console), 1);
    EXPECT_EQ(console, "");
    EXPECT_EQ(genotypes.status, INT32_MAX);
    EXPECT_TRUE(genotypes.genotypes.empty());
#endif
}

TEST(Allocdatacol, UnknownLetterAllocatesNothing) {
    std::string console;
    datacol col = column('Q', 5);
    col.name = "weird";
    EXPECT_EQ(datacol_alloc(col, console), 0);
    EXPECT_EQ(console, "?allocdatacol: field weird: unknown type Q\n");
    EXPECT_TRUE(col.ints.empty() && col.texts.empty() && col.reals.empty());
}

}  // namespace
}  // namespace tavo
