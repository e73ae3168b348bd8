#include "text/keywords.h"

#include <gtest/gtest.h>

namespace tavo {
namespace {

constexpr std::string_view sections = "data;xdata;model;chain;";

TEST(MatchKeyword, WholeWordsIgnoringCase) {
    EXPECT_EQ(match_keyword(sections, "data"), 0);
    EXPECT_EQ(match_keyword(sections, "XDATA"), 1);
    EXPECT_EQ(match_keyword(sections, "Model"), 2);
    EXPECT_EQ(match_keyword(sections, "chain"), 3);
    EXPECT_EQ(match_keyword(sections, "dat"), -1);
    EXPECT_EQ(match_keyword(sections, "datax"), -1);
    EXPECT_EQ(match_keyword(sections, "data:geno"), -1);
}

TEST(MatchKeyword, FinalSemicolonEndsTheList) {
    // no empty keyword after the final ";" that an empty word could match
    EXPECT_EQ(match_keyword(sections, ""), -1);
    EXPECT_EQ(match_keyword("data;xdata", "xdata"), 1);
}

TEST(MatchKeyword, StarKeywordsMatchByPrefix) {
    constexpr std::string_view list = "file=*;-save;skip=*";
    EXPECT_EQ(match_keyword(list, "FILE=Geno.txt"), 0);
    EXPECT_EQ(match_keyword(list, "file="), 0);
    EXPECT_EQ(match_keyword(list, "file"), -1);
    EXPECT_EQ(match_keyword(list, "-save"), 1);
    EXPECT_EQ(match_keyword(list, "-saved"), -1);
    EXPECT_EQ(match_keyword(list, "Skip=3"), 2);
}

TEST(MatchKeyword, EmptyPrefixMatchesEveryWord) {
    EXPECT_EQ(match_keyword("a;*", "anything"), 1);
    EXPECT_EQ(match_keyword("a;*", ""), 1);
    EXPECT_EQ(match_keyword("*;a", "a"), 0);
}

TEST(FirstWord, SkipsBlanksAndTabsAndEndsAtOne) {
    EXPECT_EQ(first_word("  \tdata geno id"), "data");
    EXPECT_EQ(first_word("data\tgeno"), "data");
    EXPECT_EQ(first_word("word"), "word");
    EXPECT_EQ(first_word(" \t "), "");
    EXPECT_EQ(first_word(""), "");
}

TEST(TakeWord, TakesWordsInTurnWithinTheLimit) {
    std::string_view text = " id\t\tgeno[]  x ";
    EXPECT_EQ(take_word(text), "id");
    EXPECT_EQ(take_word(text), "geno[]");
    EXPECT_EQ(take_word(text), "x");
    EXPECT_EQ(take_word(text), "");

    std::string_view longer = "abcdefg h";
    EXPECT_EQ(take_word(longer, 3), "abc");
    EXPECT_EQ(take_word(longer, 3), "def");
    EXPECT_EQ(take_word(longer, 3), "g");
    EXPECT_EQ(take_word(longer, 3), "h");
}

}  // namespace
}  // namespace tavo
