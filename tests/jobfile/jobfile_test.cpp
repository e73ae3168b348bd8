#include "jobfile/jobfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/charbuff_strings.h"
#include "support/testutil.h"

namespace tavo {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct reading {
    int result = -1;
    std::string console;
    job j;
    bool at_end = false;  // the reader left the stream at its end
};

reading read_job(const std::string& text) {
    testutil::scratch_dir dir("jobfile");
    const std::string path = dir.file("run.tavo");
    testutil::write_file(path, text);
    reading r;
    FILE* in = fopen(path.c_str(), "rb");
    EXPECT_NE(in, nullptr);
    if (!in) return r;
    CaptureStdout();
    r.result = read_jobfile(in, r.j);
    r.console = GetCapturedStdout();
    r.at_end = getc(in) == EOF;
    fclose(in);
    return r;
}

using text_testing::strings_of;

std::vector<std::string> fields_of(const reading& r, size_t set) {
    return set < r.j.sets.size() ? strings_of(r.j.sets[set]->fieldlist) : std::vector<std::string>{};
}

TEST(ReadJobfile, EmptyFile) {
    const reading r = read_job("");
    EXPECT_EQ(r.result, 0);
    EXPECT_TRUE(r.j.sets.empty());
    EXPECT_EQ(r.j.first, nullptr);
    EXPECT_EQ(r.console, "");
}

TEST(ReadJobfile, LinesBeforeAnySectionAreSkippedWithTheirLineNumbers) {
    const reading r = read_job("# comment\n\n   \t\n$path=../data/\n  # indented comment\n$path_out=out/\n");
    EXPECT_EQ(r.result, 0);
    EXPECT_TRUE(r.j.sets.empty());
    EXPECT_EQ(r.j.data_path, "../data/");
    EXPECT_EQ(r.j.output_path, "out/");
    EXPECT_EQ(r.console,
              "!Skipping job input at jobline 4: no section defined\n"
              "!Skipping job input at jobline 6: no section defined\n");
    EXPECT_TRUE(r.at_end);
}

TEST(ReadJobfile, PathVariableForms) {
    EXPECT_EQ(read_job("$PATH=../data/\n").j.data_path, "../data/");
    EXPECT_EQ(read_job("$path=../data/ extra\n").j.data_path, "../data/");
    EXPECT_EQ(read_job("$path=\t../data/\n").j.data_path, "../data/");
    EXPECT_EQ(read_job("$path=a=b\n").j.data_path, "a=b");
    EXPECT_EQ(read_job("$path=../data/\n$path=\n").j.data_path, "");  // the last one wins
    EXPECT_EQ(read_job("$path =../data/\n").j.data_path, "");           // blank before "=": ignored
    EXPECT_EQ(read_job("$pathx=../data/\n").j.data_path, "");
    EXPECT_EQ(read_job("$Path_Out=o/ x\n").j.output_path, "o/");
}

TEST(ReadJobfile, PathSetAfterTheSectionsStillApplies) {
    const reading r = read_job("data id g\nfile=g.txt\n$path=../d/\nid\n");
    EXPECT_EQ(r.j.data_path, "../d/");
    EXPECT_EQ(fields_of(r, 0), (std::vector<std::string>{"id"}));
    EXPECT_EQ(r.result, 1);  // in pass 2 the "$" line is an option word of the declaration
    EXPECT_EQ(r.console, "!Unknown keyword ignored at jobline 3: $path=../d/\n");
}

TEST(ReadJobfile, VariableWithoutEqualSignStopsTheReading) {
    const reading r = read_job("data id g\nfile=g.txt\n$path\nmodel\n");
    EXPECT_EQ(r.result, 1);
    EXPECT_TRUE(r.j.sets.empty());
    EXPECT_EQ(r.console, "Wrong format for $variable (missing equal sign) at job line: $path");
}

TEST(ReadJobfile, IndentedDollarLineIsNoVariable) {
    const reading r = read_job("  $path=../data/\ndata id g\n  $path=x\n");
    EXPECT_EQ(r.j.data_path, "");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.console,
              "!Skipping job input at jobline 1: no section defined\n"
              "!Unknown keyword ignored at jobline 3: $path=x\n");
}

TEST(ReadJobfile, SectionKeywordsAreWholeWordsInAnyCase) {
    const reading r = read_job("data:geno id\nDATA geno id\nfile=a.txt\n data\tgeno id2\ndata:geno\n");
    EXPECT_EQ(r.result, 0);
    ASSERT_EQ(r.j.sets.size(), 2u);
    EXPECT_EQ(r.j.sets[0]->key, "geno");
    EXPECT_EQ(r.j.sets[0]->name, "id");
    EXPECT_EQ(r.j.sets[0]->file, "a.txt");
    EXPECT_EQ(r.j.sets[1]->name, "id2");
    EXPECT_EQ(fields_of(r, 1), (std::vector<std::string>{"data:geno"}));
    EXPECT_EQ(r.console, "!Skipping job input at jobline 1: no section defined\n");
}

TEST(ReadJobfile, ModelAndChainSectionsAreIgnored) {
    const reading r = read_job(
        "data id g\nfile=x.txt\nmodel y = a g\nfile=z -bad\n$x=1 anything\nchain 10000\n"
        "xdata k n\nbar\nCHAIN\nbaz\n");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.console, "");
    ASSERT_EQ(r.j.sets.size(), 2u);
    EXPECT_EQ(r.j.sets[0]->file, "x.txt");
    EXPECT_TRUE(fields_of(r, 0).empty());
    EXPECT_EQ(r.j.sets[1]->key, "k");
    EXPECT_EQ(fields_of(r, 1), (std::vector<std::string>{"bar"}));
}

TEST(ReadJobfile, WordsAfterTheThirdOnTheSectionLineAreIgnored) {
    const reading r = read_job("data geno id -header file=g.txt more\n");
    ASSERT_EQ(r.j.sets.size(), 1u);
    EXPECT_EQ(r.j.sets[0]->header, 0);
    EXPECT_EQ(r.j.sets[0]->file, "");
    EXPECT_TRUE(fields_of(r, 0).empty());
}

TEST(ReadJobfile, TwoDataLinesInARow) {
    const reading r = read_job("data a\ndata b one\nid x\n");
    ASSERT_EQ(r.j.sets.size(), 2u);
    EXPECT_EQ(r.j.first, r.j.sets[0].get());
    EXPECT_EQ(r.j.sets[0]->next, r.j.sets[1].get());
    EXPECT_EQ(r.j.sets[0]->name, "1");
    EXPECT_EQ(r.j.sets[0]->stage, 1);
    EXPECT_TRUE(fields_of(r, 0).empty());
    EXPECT_EQ(r.j.sets[1]->name, "one");
    EXPECT_EQ(fields_of(r, 1), (std::vector<std::string>{"id", "x"}));
}

TEST(ReadJobfile, DeclarationWordsSpanLinesAndProblemsAddUp) {
    const reading r = read_job(
        "data id g\n  file=g.txt\t\t-header  \n# a comment inside\nminmaf=abc -genot-101\n"
        "id #note\tgeno[] !genot012\n\nmissing=-9\n");
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.console,
              "  ! Not a valid number for minmaf= specification at jobline 4.\n"
              "!Unknown keyword ignored at jobline 4: -genot-101\n");
    const dataset& ds = *r.j.sets[0];
    EXPECT_EQ(ds.file, "g.txt");
    EXPECT_EQ(ds.header, 1);
    EXPECT_EQ(ds.missing, "NA");
    EXPECT_EQ(fields_of(r, 0),
              (std::vector<std::string>{"id", "#note", "geno[]", "!genot012", "missing=-9"}));
}

TEST(ReadJobfile, LongLinesAreReadWhole) {
    const std::string long_path(600, 'p');
    const std::string long_field(600, 'f');
    const std::string long_file = "dir/" + std::string(700, 'g');
    const reading r = read_job("$path=" + long_path + "\ndata id g\nfile=" + long_file + " " + long_field +
                               "\nwrong=1\n");
    EXPECT_EQ(r.j.data_path, long_path);
    ASSERT_EQ(r.j.sets.size(), 1u);
    EXPECT_EQ(r.j.sets[0]->file, long_file);
    EXPECT_EQ(fields_of(r, 0), (std::vector<std::string>{long_field, "wrong=1"}));
    EXPECT_EQ(r.console, "!Skipping job input at jobline 1: no section defined\n");
}

TEST(ReadJobfile, LineNumbersAfterALongLineMatchAnEditors) {
    const reading r = read_job("data id g\n" + std::string(600, 'x') + "=\nbad=1\n");
    EXPECT_EQ(r.console,
              "!Unknown keyword ignored at jobline 2: " + std::string(600, 'x') + "=\n"
              "!Unknown keyword ignored at jobline 3: bad=1\n");
    EXPECT_EQ(r.result, 2);
}

TEST(ReadJobfile, CrLfFilesReadLikeLfFiles) {
    const std::string lf =
        "# job\n$path=../d/\n\n  \t\ndata id geno\nfile=g.txt -header\nid geno[]\nmodel\nx\n";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    const reading a = read_job(lf);
    const reading b = read_job(crlf);
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.console, "!Skipping job input at jobline 2: no section defined\n");
    EXPECT_EQ(b.console, a.console);
    EXPECT_EQ(b.j.data_path, "../d/");
    ASSERT_EQ(b.j.sets.size(), 1u);
    EXPECT_EQ(b.j.sets[0]->name, "geno");
    EXPECT_EQ(b.j.sets[0]->file, "g.txt");
    EXPECT_EQ(b.j.sets[0]->header, 1);
    EXPECT_EQ(fields_of(b, 0), (std::vector<std::string>{"id", "geno[]"}));
}

TEST(ReadJobfile, CrLfVariableWithoutEqualSign) {
    const reading r = read_job("$path\r\n");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.console, "Wrong format for $variable (missing equal sign) at job line: $path");
}

TEST(ReadJobfile, LastLineWithoutLineEnd) {
    const reading r = read_job("data id g\nid geno");
    EXPECT_EQ(fields_of(r, 0), (std::vector<std::string>{"id", "geno"}));
    EXPECT_TRUE(r.at_end);
}

}  // namespace
}  // namespace tavo
