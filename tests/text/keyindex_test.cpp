#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "text/keyindex.h"

namespace tavo {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Keys "k0000001", ... sort in the order they are made.
std::vector<std::string> ascending_keys(int n) {
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(n));
    char text[16];
    for (int i = 0; i < n; ++i) {
        snprintf(text, sizeof text, "k%07d", i);
        keys.emplace_back(text);
    }
    return keys;
}

TEST(KeyIndex, DuplicatesCountOccurrencesInFirstInsertionOrder) {
    keyindex index;
    ASSERT_EQ(init_index(index, 10, 10), 0);
    const char* keys[] = {"b", "a", "c", "a"};
    for (const char* key : keys) insert_index(index, key);
    ASSERT_EQ(index.count, 3);
    EXPECT_STREQ(index.nodes[0].key, "b");
    EXPECT_STREQ(index.nodes[1].key, "a");
    EXPECT_STREQ(index.nodes[2].key, "c");
    EXPECT_EQ(index.nodes[1].occurrences, 2);
    EXPECT_EQ(index.nodes[0].occurrences, 1);
    EXPECT_EQ(index.nodes[1].key, keys[1]);  // the reference kind keeps the caller's text
}

TEST(KeyIndex, InorderNumberingAndReverseLookup) {
    keyindex index;
    init_index(index, 10, 10);
    for (const char* key : {"b", "a", "c", "a"}) insert_index(index, key);
    number_index_inorder(index);
    EXPECT_EQ(lookup_index(index, "a"), 0);
    EXPECT_EQ(lookup_index(index, "b"), 1);
    EXPECT_EQ(lookup_index(index, "c"), 2);
    EXPECT_EQ(lookup_index(index, "d"), -1);
    EXPECT_STREQ(reverse_lookup_index(index, 2), "c");
    EXPECT_STREQ(reverse_lookup_index(index, 0), "a");
    EXPECT_EQ(reverse_lookup_index(index, 3), nullptr);
    EXPECT_EQ(reverse_lookup_index(index, -1), nullptr);

    number_index_by_position(index);
    EXPECT_EQ(lookup_index(index, "b"), 0);
    EXPECT_EQ(lookup_index(index, "a"), 1);
    EXPECT_EQ(lookup_index(index, "c"), 2);
}

TEST(KeyIndex, ByteOrderCaseAndPrefixes) {
    keyindex index;
    init_index(index, 0, 0);
    const char* keys[] = {"id1", "ID1", "id", "id10", "\xe9t\xe9", "Zz", ""};
    for (const char* key : keys) insert_index(index, key);
    EXPECT_EQ(index.count, 7);
    number_index_inorder(index);
    // Unsigned byte order: "" < "ID1" < "Zz" < "id" < "id1" < "id10" < "\xe9..."
    const char* sorted[] = {"", "ID1", "Zz", "id", "id1", "id10", "\xe9t\xe9"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_STREQ(reverse_lookup_index(index, i), sorted[i]);
        EXPECT_EQ(lookup_index(index, sorted[i]), i);
    }
}

TEST(KeyIndex, EmptyAndUninitialisedIndexes) {
    keyindex fresh;
    EXPECT_EQ(lookup_index(fresh, "a"), -1);
    EXPECT_EQ(reverse_lookup_index(fresh, 0), nullptr);
    EXPECT_EQ(index_height(fresh), 0);
    CaptureStdout();
    insert_index(fresh, "a");
    EXPECT_EQ(GetCapturedStdout(), "ERROR in insert_index: nodes array appears uninitialised.\n");
    EXPECT_EQ(fresh.count, 0);

    keyindex empty;
    init_index(empty, 5, 5);
    EXPECT_EQ(lookup_index(empty, "a"), -1);
}

TEST(KeyIndex, StaysBalancedUnderAscendingInsertion) {
    for (int n : {1000, 100000}) {
        const auto keys = ascending_keys(n);
        keyindex index;
        init_index(index, n, n / 10);
        for (const auto& key : keys) insert_index(index, key.c_str());
        ASSERT_EQ(index.count, n);
        EXPECT_LE(index_height(index), 2 * std::log2(n) + 1) << n;
        number_index_inorder(index);
        for (int i = 0; i < n; i += 997) {
            EXPECT_EQ(lookup_index(index, keys[static_cast<size_t>(i)].c_str()), i);
            EXPECT_EQ(reverse_lookup_index(index, i), keys[static_cast<size_t>(i)]);
        }
    }
}

TEST(KeyIndex, GrowsByIncrementKeepingEveryKey) {
    keyindex index;
    EXPECT_EQ(init_index(index, 0, 0), 0);
    EXPECT_EQ(index.capacity, 100);
    EXPECT_EQ(index.increment, 100);
    // Descending keys rotate at the root, so links must survive the moves.
    auto keys = ascending_keys(250);
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) insert_index(index, key->c_str());
    EXPECT_EQ(index.capacity, 300);
    number_index_by_position(index);
    for (int i = 0; i < 250; ++i) EXPECT_EQ(lookup_index(index, keys[static_cast<size_t>(i)].c_str()), 249 - i);
}

TEST(KeyIndex, FailedGrowthLeavesNoNodes) {
    keyindex index;
    init_index(index, 1, 1);
    insert_index(index, "a");
    index.increment = 0x7fffffff;  // one more step would pass the 32-bit range
    CaptureStdout();
    insert_index(index, "b");
    insert_index(index, "c");
    EXPECT_EQ(GetCapturedStdout(),
              "? insert_index: allocating problem\n"
              "ERROR in insert_index: nodes array appears uninitialised.\n");
    EXPECT_EQ(lookup_index(index, "a"), -1);
}

TEST(KeyIndex, ReinitialisingKeepsALargerArray) {
    keyindex index;
    init_index(index, 50, 10);
    insert_index(index, "x");
    init_index(index, 20, 5);
    EXPECT_EQ(index.capacity, 50);
    EXPECT_EQ(index.increment, 5);
    EXPECT_EQ(index.count, 0);
    EXPECT_EQ(lookup_index(index, "x"), -1);
    init_index(index, 80, 5);
    EXPECT_EQ(index.capacity, 80);
}

TEST(CopyingIndex, KeepsOwnCopiesNumberedByPosition) {
    keyindex alleles;
    ASSERT_EQ(init_copying_index(alleles), 0);
    EXPECT_EQ(alleles.capacity, 1000);
    EXPECT_EQ(alleles.increment, 1000);
    EXPECT_EQ(alleles.last, -1);
    char token[] = "T";
    insert_index(alleles, token);
    token[0] = 'A';  // the caller's text changes; the index keeps its copy
    insert_index(alleles, token);
    insert_index(alleles, "T");
    EXPECT_EQ(alleles.count, 2);
    EXPECT_EQ(alleles.last, 1);
    EXPECT_EQ(lookup_index(alleles, "T"), 0);
    EXPECT_EQ(lookup_index(alleles, "A"), 1);
    EXPECT_NE(alleles.nodes[1].key, token);
}

TEST(CopyingIndex, ResetEmptiesAndFreesCopies) {
    keyindex alleles;
    init_copying_index(alleles);
    const auto keys = ascending_keys(1500);
    for (const auto& key : keys) insert_index(alleles, key.c_str());
    EXPECT_EQ(alleles.capacity, 2000);
    EXPECT_EQ(lookup_index(alleles, "k0001499"), 1499);

    ASSERT_EQ(init_copying_index(alleles), 0);
    EXPECT_EQ(alleles.count, 0);
    EXPECT_EQ(alleles.last, -1);
    EXPECT_TRUE(alleles.copies.empty());
    EXPECT_GE(alleles.capacity, 1000);
    EXPECT_EQ(lookup_index(alleles, "k0000000"), -1);
    insert_index(alleles, "G");
    EXPECT_EQ(lookup_index(alleles, "G"), 0);
}

}  // namespace
}  // namespace tavo
