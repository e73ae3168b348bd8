#include "jobfile/dataset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/charbuff_strings.h"

namespace tavo {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

using text_testing::strings_of;

// Feeds a section line and then the words to a new data set of `j`; returns
// the summed results, with the console in `console`.
int declare(job& j, const std::string& section_line, const std::vector<std::string>& words,
            std::string& console, int jobline = 7) {
    dataset* ds = new_dataset(j);
    EXPECT_NE(ds, nullptr);
    CaptureStdout();
    int problems = dataset_word(*ds, section_line, jobline);
    for (const auto& word : words) problems += dataset_word(*ds, word, jobline);
    console = GetCapturedStdout();
    return problems;
}

TEST(NewDataset, DefaultsNumberingAndLinks) {
    job j;
    dataset* first = new_dataset(j);
    dataset* second = new_dataset(j);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(j.first, first);
    EXPECT_EQ(first->next, second);
    EXPECT_EQ(second->next, nullptr);
    ASSERT_EQ(j.sets.size(), 2u);
    EXPECT_EQ(first->number, 1);
    EXPECT_EQ(second->number, 2);

    const dataset& ds = *second;
    EXPECT_EQ(ds.key, "[nokey]");
    EXPECT_EQ(ds.keycol, -1);
    EXPECT_EQ(ds.name, "");
    EXPECT_EQ(ds.stage, 0);
    EXPECT_EQ(ds.missing, "NA");
    EXPECT_EQ(ds.missallele, "0");
    EXPECT_DOUBLE_EQ(ds.maxmiss, 0.2);
    EXPECT_DOUBLE_EQ(ds.minmaf, 0.01);
    EXPECT_EQ(ds.fieldlist.capacity, 100);
    EXPECT_EQ(ds.fieldlist.increment, 50);
    EXPECT_EQ(ds.options.capacity, 50);
    EXPECT_EQ(ds.options.increment, 50);
    EXPECT_EQ(ds.fieldlist.count, 0);
    EXPECT_EQ(ds.keys.capacity, 0);
    EXPECT_EQ(ds.keys.root, -1);
    EXPECT_EQ(ds.levels.count, 0);
    EXPECT_EQ(ds.messages, "");
    EXPECT_TRUE(fields(ds).empty());
}

TEST(SectionLine, MissingKeyAndNameTakeDefaults) {
    job j;
    std::string console;
    declare(j, "data geno id", {}, console);
    declare(j, "xdata geno", {}, console);
    declare(j, "  data  ", {}, console);
    EXPECT_EQ(j.sets[0]->key, "geno");
    EXPECT_EQ(j.sets[0]->name, "id");
    EXPECT_EQ(j.sets[1]->key, "geno");
    EXPECT_EQ(j.sets[1]->name, "2");
    EXPECT_EQ(j.sets[2]->key, "[nokey]");
    EXPECT_EQ(j.sets[2]->name, "3");
    EXPECT_EQ(j.sets[2]->stage, 1);
    EXPECT_EQ(console, "");
}

TEST(SectionLine, LongWordsAreCutAtTwentyAndSpillIntoTheNext) {
    job j;
    std::string console;
    declare(j, "data abcdefghijklmnopqrstuvwxy", {}, console);
    EXPECT_EQ(j.sets[0]->key, "abcdefghijklmnopqrst");
    EXPECT_EQ(j.sets[0]->name, "uvwxy");

    const std::string fifty(50, 'k');
    declare(j, "data " + fifty + " name", {}, console);
    EXPECT_EQ(j.sets[1]->key, std::string(20, 'k'));
    EXPECT_EQ(j.sets[1]->name, std::string(20, 'k'));
}

TEST(SectionLine, WordsAfterTheThirdAreIgnored) {
    job j;
    std::string console;
    EXPECT_EQ(declare(j, "data geno id -header file=x extra", {}, console), 0);
    const dataset& ds = *j.sets[0];
    EXPECT_EQ(ds.header, 0);
    EXPECT_EQ(ds.file, "");
    EXPECT_EQ(ds.fieldlist.count, 0);
    EXPECT_EQ(ds.stage, 1);
}

TEST(Options, ValuesAndFlags) {
    job j;
    std::string console;
    const std::string long_file(600, 'f');
    const int problems = declare(j, "data id geno",
                                 {"FILE=First.txt", "file=" + long_file, "alleles=" + long_file,
                                  "missing=abcdefghijklmnopqrstuvwxy", "MISSALLELE=N", "-Header",
                                  "maxmiss=-0.5", "-INBRED", "-save", "Skip=3", "x=y=z"},
                                 console);
    const dataset& ds = *j.sets[0];
    EXPECT_EQ(problems, 1);  // x=y=z only
    EXPECT_EQ(console, "!Unknown keyword ignored at jobline 7: x=y=z\n");
    EXPECT_EQ(ds.file, long_file);  // the later file= wins, taken whole
    EXPECT_EQ(ds.alleles, long_file);
    EXPECT_EQ(ds.missing, "abcdefghijklmnopqrst");
    EXPECT_EQ(ds.missallele, "N");
    EXPECT_EQ(ds.header, 1);
    EXPECT_DOUBLE_EQ(ds.maxmiss, -0.5);
    EXPECT_EQ(ds.maxmiss_given, 1);
    EXPECT_EQ(ds.minmaf_given, 0);
    EXPECT_EQ(strings_of(ds.options), (std::vector<std::string>{"-INBRED", "-save", "Skip=3"}));
    EXPECT_EQ(ds.fieldlist.count, 0);
    EXPECT_EQ(ds.stage, 1);
}

TEST(Options, FileNameKeepsItsCase) {
    job j;
    std::string console;
    declare(j, "data id g", {"FILE=Geno.TXT"}, console);
    EXPECT_EQ(j.sets[0]->file, "Geno.TXT");
}

TEST(Options, NumbersReadLikeScanf) {
    job j;
    std::string console;
    EXPECT_EQ(declare(j, "data", {"minmaf=0.05x", "maxmiss=+1e-1"}, console), 0);
    EXPECT_DOUBLE_EQ(j.sets[0]->minmaf, 0.05);
    EXPECT_DOUBLE_EQ(j.sets[0]->maxmiss, 0.1);
    EXPECT_EQ(console, "");
}

TEST(Options, UnreadableNumbersAreCountedAndLeaveTheValue) {
    job j;
    std::string console;
    EXPECT_EQ(declare(j, "data", {"minmaf=abc", "minmaf=", "maxmiss=.x"}, console, 12), 3);
    const dataset& ds = *j.sets[0];
    EXPECT_DOUBLE_EQ(ds.minmaf, 0.01);
    EXPECT_DOUBLE_EQ(ds.maxmiss, 0.2);
    EXPECT_EQ(ds.minmaf_given, 1);
    EXPECT_EQ(ds.maxmiss_given, 1);
    EXPECT_EQ(console,
              "  ! Not a valid number for minmaf= specification at jobline 12.\n"
              "  ! Not a valid number for minmaf= specification at jobline 12.\n"
              "  ! Not a valid number for maxmiss= specification at jobline 12.\n");
}

TEST(Options, OldCodingWordsPrintTheMoveMessageUncounted) {
    job j;
    std::string console;
    EXPECT_EQ(declare(j, "data", {"-biallelic", "-BIGENOT", "-genot012", "-dart"}, console), 0);
    const std::string moved =
        "ERROR: the genotype/marker formats are no longer accepted in this place;\n"
        "       You have to place the option (with exclamation sign instead of minus)\n"
        "       after the genotye/marker field name\n";
    EXPECT_EQ(console, moved + moved + moved + moved);
    EXPECT_EQ(j.sets[0]->options.count, 0);
    EXPECT_EQ(j.sets[0]->stage, 1);
}

TEST(Options, UnknownOptionWordsAreCounted) {
    job j;
    std::string console;
    EXPECT_EQ(declare(j, "data", {"-genot-101", "!size=12", "-header=1"}, console, 4), 3);
    EXPECT_EQ(console,
              "!Unknown keyword ignored at jobline 4: -genot-101\n"
              "!Unknown keyword ignored at jobline 4: !size=12\n"
              "!Unknown keyword ignored at jobline 4: -header=1\n");
    EXPECT_EQ(j.sets[0]->header, 0);
    EXPECT_EQ(j.sets[0]->fieldlist.count, 0);
}

TEST(FieldWords, FirstPlainWordBeginsTheListForGood) {
    job j;
    std::string console;
    EXPECT_EQ(declare(j, "data", {"-header", "id", "geno[12]", "-header", "file=x", "!size=3"}, console),
              0);
    const dataset& ds = *j.sets[0];
    EXPECT_EQ(strings_of(ds.fieldlist),
              (std::vector<std::string>{"id", "geno[12]", "-header", "file=x", "!size=3"}));
    EXPECT_EQ(ds.header, 1);
    EXPECT_EQ(ds.file, "");
    EXPECT_EQ(ds.stage, 2);
    EXPECT_EQ(console, "");
}

TEST(FieldWords, FieldWordBeforeTheOptions) {
    job j;
    std::string console;
    declare(j, "data", {"id", "geno", "-header"}, console);
    EXPECT_EQ(strings_of(j.sets[0]->fieldlist), (std::vector<std::string>{"id", "geno", "-header"}));
    EXPECT_EQ(j.sets[0]->header, 0);
}

TEST(FieldWords, FieldOptionWordCanBeginTheList) {
    job j;
    std::string console;
    declare(j, "data", {"missing=-9", "!biallelic", "geno[]"}, console);
    EXPECT_EQ(strings_of(j.sets[0]->fieldlist), (std::vector<std::string>{"!biallelic", "geno[]"}));
    EXPECT_EQ(j.sets[0]->missing, "-9");
}

TEST(FieldWords, ManyLongWordsGrowTheList) {
    job j;
    std::string console;
    std::vector<std::string> words;
    for (int i = 0; i < 200; ++i) words.push_back("field" + std::to_string(i) + std::string(40, 'x'));
    declare(j, "data", words, console);
    EXPECT_EQ(strings_of(j.sets[0]->fieldlist), words);
}

TEST(FieldHasOption, WholeWordsOrPrefixesEndingInEquals) {
    datacol col;
    ASSERT_EQ(init_charbuff(col.options, 50, 50, 0), 0);
    addtext(col.options, "!Size=12");
    addtext(col.options, "!biallelic");
    CaptureStdout();
    EXPECT_EQ(field_has_option(col, "!BIALLELIC"), 1);
    EXPECT_EQ(field_has_option(col, "!size="), 1);
    EXPECT_EQ(field_has_option(col, "!size"), 0);     // no "=": whole word only
    EXPECT_EQ(field_has_option(col, "!size=1"), 0);   // ends not in "=": whole word only
    EXPECT_EQ(field_has_option(col, "!bi"), 0);
    EXPECT_EQ(field_has_option(col, "!biallelic"), 1);  // after a failed walk too
    EXPECT_EQ(GetCapturedStdout(), "");  // never walks past the end
}

TEST(FieldHasOption, EmptyOptionListMatchesNothing) {
    datacol col;
    ASSERT_EQ(init_charbuff(col.options, 50, 50, 0), 0);
    CaptureStdout();
    EXPECT_EQ(field_has_option(col, ""), 0);
    EXPECT_EQ(field_has_option(col, "!block"), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(DatasetIntOption, FirstOptionWithThePrefixGivesTheNumber) {
    job j;
    std::string console;
    declare(j, "data", {"-inbred", "SKIP=3", "skip=5"}, console);
    dataset& ds = *j.sets[0];
    CaptureStdout();
    EXPECT_EQ(dataset_int_option(ds, "skip="), 3);
    EXPECT_EQ(dataset_int_option(ds, "skip=*"), 3);
    EXPECT_EQ(dataset_int_option(ds, "skip="), 3);  // every walk starts afresh
    EXPECT_EQ(dataset_int_option(ds, "-save"), -9999);
    EXPECT_EQ(dataset_int_option(ds, "-inbred"), -9999);  // nothing after the prefix
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(DatasetIntOption, NoIntegerAfterThePrefix) {
    job j;
    std::string console;
    declare(j, "data", {"skip=x", "skip=4"}, console);
    declare(j, "data", {"skip=-2"}, console);
    declare(j, "data", {}, console);
    EXPECT_EQ(dataset_int_option(*j.sets[0], "skip="), -9999);  // the first match decides
    EXPECT_EQ(dataset_int_option(*j.sets[1], "skip="), -2);
    EXPECT_EQ(dataset_int_option(*j.sets[2], "skip="), -9999);
}

}  // namespace
}  // namespace tavo
