// Layout of the sheet printer; sheets are built by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "sheets/datasheet.h"
#include "loader/loader.h"
#include "support/genotype_codes.h"
#include "support/testutil.h"

namespace tavo {
namespace {

// A data set whose sheet is filled directly; texts live in `strings`.
struct sheet {
    dataset ds;
    std::deque<std::string> strings;

    explicit sheet(int32_t nrec) { ds.nrec = nrec; }

    datacol& add(const std::string& name, char letter, int32_t ncol = 0, int32_t width = 0) {
        datacol col;
        col.name = name;
        col.type = static_cast<field_type>(letter);
        col.nrec = ds.nrec;
        col.ncol = ncol;
        col.width = width;
        EXPECT_EQ(allocdatacol(col), 0);
        ds.own_fields.push_back(std::move(col));
        ds.nfields = ds.nshown = static_cast<int32_t>(ds.own_fields.size());
        return ds.own_fields.back();
    }

    datacol& add_texts(const std::string& name, char type, const std::vector<std::string>& values) {
        datacol& col = add(name, type);
        col.texts.resize(values.size());  // F keeps texts it was given before conversion
        for (size_t r = 0; r < values.size(); ++r) col.texts[r] = strings.emplace_back(values[r]).c_str();
        return col;
    }
};

struct printed {
    std::string sheet;    // what went to the output stream
    std::string console;  // messages on standard output
};

printed print(dataset& ds) {
    FILE* out = tmpfile();
    testing::internal::CaptureStdout();
    printsheet(ds, out);
    printed result;
    result.console = testing::internal::GetCapturedStdout();
    result.sheet = testutil::read_back(out);
    fclose(out);
    return result;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// Every cell keeps its tab; padding with spaces to the widest cell follows it.
TEST(Printsheet, ShowsHeaderAndAtMostFiveRows) {
    sheet three(3);
    three.add_texts("id", 'u', {"a1", "b22", "c"});
    EXPECT_EQ(print(three.ds).sheet,
              "    id\t  \n"
              "    a1\t  \n"
              "    b22\t \n"
              "    c\t   \n"
              "    ....\n");

    sheet many(1000);
    datacol& weight = many.add("weight", 'i');
    for (int r = 0; r < 1000; ++r) weight.ints[static_cast<size_t>(r)] = r;
    const auto lines = lines_of(print(many.ds).sheet);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[5], "    4\t      ");
    EXPECT_EQ(lines[6], "    ....");
}

TEST(Printsheet, GenotypeBlockShowsTenCodes) {
    sheet twelve(1);
    datacol& geno = twelve.add("geno", 'g', 12);
    std::vector<uint8_t> codes(12);
    for (size_t j = 0; j < 12; ++j) codes[j] = static_cast<uint8_t>(j % 4);
    ASSERT_TRUE(testutil::store_genotype_codes(geno, codes, 12, 1));
    EXPECT_EQ(print(twelve.ds).sheet,
              "    geno[12]\t                  \n"
              "    0 1 2 3 0 1 2 3 0 1  ....\t \n"
              "    ....\n");

    sheet ten(1);
    datacol& geno10 = ten.add("geno", 'g', 10);
    ASSERT_TRUE(testutil::store_genotype_codes(geno10, std::vector<uint8_t>(10, 3), 10, 1));
    EXPECT_EQ(lines_of(print(ten.ds).sheet)[1], "    3 3 3 3 3 3 3 3 3 3 \t ");
}

TEST(Printsheet, RealBlockShowsFourValuesInShortestForm) {
    sheet four(2);
    datacol& cov = four.add("cov", 'B', 4);
    const double values[] = {1.5, -9999.0, 0.1234567, 1e7};
    for (size_t j = 0; j < 4; ++j) cov.real_runs[j][1] = values[j];
    const auto lines = lines_of(print(four.ds).sheet);
    EXPECT_EQ(lines[0], "    cov[4]\t                    ");
    EXPECT_EQ(lines[1], "    0 0 0 0 \t                  ");
    EXPECT_EQ(lines[2], "    1.5 -9999 0.123457 1e+07 \t ");

    sheet five(1);
    five.add("cov", 'B', 5);
    EXPECT_EQ(lines_of(print(five.ds).sheet)[1], "    0 0 0 0  ....\t ");
}

// A block factor names records of its linked data set by their keys; the
// missing code, and a level not found (-1), show as NA.
TEST(Printsheet, BlockFactorShowsLinkedKeys) {
    sheet levels(3);
    levels.add_texts("herd", 'K', {"h1", "h2", "h3"});
    levels.ds.keycol = 0;

    sheet data(2);
    datacol& herds = data.add("herds", 'Z', 2);
    herds.link = &levels.ds;
    herds.int_runs[0][0] = 0;
    herds.int_runs[1][0] = 2;
    herds.int_runs[0][1] = MISSING_INT;
    herds.int_runs[1][1] = -1;
    EXPECT_EQ(print(data.ds).sheet,
              "    herds[2]\t \n"
              "    h1 h3 \t   \n"
              "    NA NA \t   \n"
              "    ....\n");

    sheet wide(1);
    datacol& five = wide.add("herds", 'Z', 5);
    five.link = &levels.ds;
    EXPECT_EQ(lines_of(print(wide.ds).sheet)[1], "    h1 h1 h1 h1  ....\t ");
}

TEST(Printsheet, CellsByLetter) {
    sheet s(2);
    s.add_texts("id", 'K', {"x", "y"});
    datacol& age = s.add("age", 'T');
    age.ints = {12, MISSING_INT};
    s.add_texts("wt", 'c', {"2.50", "NA"});
    datacol& code = s.add("code", 's', 0, 3);
    code.fixed_text[0] = 'A';
    // A factor shows the text read for the record; without texts, its level name.
    datacol& breed = s.add_texts("breed", 'F', {"bb", "aa"});
    breed.names = {"aa", "bb"};
    breed.ints = {1, 0};
    datacol& sex = s.add("sex", 'F');
    sex.names = {"f", "m"};
    sex.ints = {1, MISSING_INT};
    EXPECT_EQ(print(s.ds).sheet,
              "    id\t age\t   wt\t   code\t breed\t sex\t \n"
              "    x\t  12\t    2.50\t A\t    bb\t    m\t   \n"
              "    y\t  -9999\t NA\t   \t     aa\t    \t    \n"
              "    ....\n");
}

// Columns that are skipped are left out; letters without a cell form (here
// a ragged field) give an empty cell and one message per row shown.
TEST(Printsheet, SkippedColumnsAndUnknownLetters) {
    sheet s(3);
    s.add_texts("id", 'u', {"a", "b", "c"});
    datacol& hidden = s.add_texts("hidden", 'u', {"p", "q", "r"});
    hidden.skip = true;
    s.add("parents", 'R', 100);
    const printed out = print(s.ds);
    EXPECT_EQ(out.sheet,
              "    id\t parents\t \n"
              "    a\t  \t        \n"
              "    b\t  \t        \n"
              "    c\t  \t        \n"
              "    ....\n");
    const std::string message = "? printsheet: field parents unknown type R\n";
    EXPECT_EQ(out.console, message + message + message);
}

// A name longer than every value widens its column on every line, so the
// next column starts at the same place throughout.
TEST(Printsheet, ColumnsAlignUnderALongName) {
    sheet s(2);
    s.add_texts("a_rather_long_field_name", 'u', {"1", "22"});
    s.add_texts("next", 'u', {"x", "y"});
    const auto lines = lines_of(print(s.ds).sheet);
    ASSERT_EQ(lines.size(), 4u);
    const size_t next_at = lines[0].find("next");
    EXPECT_EQ(next_at, 4 + 25 + 1u);
    EXPECT_EQ(lines[1].find('x'), next_at);
    EXPECT_EQ(lines[2].find('y'), next_at);
}

// Only the first shown-count columns appear: columns of a data set appended
// later are not shown until it is merged.
TEST(Printsheet, ShowsOnlyTheShownColumnCount) {
    sheet s(1);
    s.add_texts("id", 'u', {"a"});
    s.add_texts("later", 'u', {"b"});
    s.ds.nshown = 1;
    EXPECT_EQ(print(s.ds).sheet, "    id\t \n    a\t  \n    ....\n");
}

}  // namespace
}  // namespace tavo
