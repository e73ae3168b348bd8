// Genotype lines decoded by several workers give what the line-by-line
// reading gives: the same codes and keys, the same console and log bytes and
// the same result, whatever goes wrong where.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "loader/loader.h"
#include "support/job_fixture.h"

namespace tavo {
namespace {

using job_testing::test_job;

constexpr int RECORDS = 200;
constexpr int MARKERS = 9;  // not a multiple of four: every line ends outside the four-token steps

// "i12" and the like, built without the literal + string form that GCC 12
// warns about wrongly (-Wrestrict).
std::string numbered(char prefix, int number) {
    std::string text(1, prefix);
    text += std::to_string(number);
    return text;
}

// Line r of a clean genot012 file: key and codes, the codes mixing the
// unusual valid tokens in ("NA" and "na" missing, "+1", "01", "2x").
std::vector<std::string> clean_line(int r) {
    std::vector<std::string> tokens{numbered('i', r)};
    static const char* const odd[] = {"NA", "na", "+1", "01", "2x"};
    for (int m = 0; m < MARKERS; ++m) {
        const int pick = (r * 7 + m * 3) % 23;
        tokens.push_back(pick < 5 ? odd[pick] : std::to_string(pick % 3));
    }
    return tokens;
}

struct outcome {
    int result = 0;
    std::string console;
    std::string log;
    bool loaded = false;
    std::vector<uint8_t> codes;
    std::vector<std::string> keys;
};

// Loads `text` as the genotype file; line_by_line drops the line starts the
// set-up found, so that the loader reads line by line.
outcome load_text(const std::string& text, bool line_by_line, const load_options& options,
                  const std::string& words = "file=g.txt id snp[] !genot012") {
    test_job t;
    std::string markers;
    for (int m = 1; m <= MARKERS; ++m) markers += numbered('m', m) + "\n";
    t.write("markers.txt", markers);
    t.write("g.txt", text);
    t.declare("data snp markers", "file=markers.txt snp");
    dataset& geno = t.declare("data id geno", words);
    t.setup_ready();
    if (line_by_line) geno.line_starts.clear();
    const auto loaded = test_job::load(geno, options);
    outcome out{loaded.result, loaded.console, loaded.log, geno.loaded, {}, {}};
    if (loaded.result == 0) {
        const datacol& block = fields(geno)[1];
        out.codes.resize(static_cast<size_t>(block.ncol) * block.nrec);
        for (int32_t m = 0; m < block.ncol; ++m)
            unpack_genotype_run(block.genotypes.run(m), block.nrec, out.codes.data() + static_cast<size_t>(m) * block.nrec);
        for (const char* key : fields(geno)[0].texts) out.keys.emplace_back(key);
    }
    return out;
}

struct damage {
    const char* what;
    std::function<void(std::vector<std::vector<std::string>>&, int r)> apply;
};

std::string join(const std::vector<std::vector<std::string>>& lines, const std::string& end, bool last_end) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        for (size_t k = 0; k < lines[i].size(); ++k) text += (k ? " " : "") + lines[i][k];
        if (i + 1 < lines.size() || last_end) text += end;
    }
    return text;
}

// Each kind of trouble, placed at and around the edges of tiles and of the
// workers' chunks (64 rows here) and at the file's ends, under the three
// line ends, with reads of one line and of many.
TEST(ParallelLoad, SameAsLineByLine) {
    // Texts are assigned as strings: GCC 12 warns wrongly (-Wrestrict) about
    // a literal assigned to an element.
    const std::vector<damage> damages = {
        {"non-numeric", [](auto& l, int r) { l[r][3] = std::string("x"); }},
        {"invalid", [](auto& l, int r) { l[r][MARKERS] = std::string("3"); }},
        {"two bad", [](auto& l, int r) { l[r][1] = std::string("-1"); l[r][5] = std::string("?"); }},
        {"too few", [](auto& l, int r) { l[r].pop_back(); }},
        {"no block", [](auto& l, int r) { l[r].resize(1); }},
        {"too many", [](auto& l, int r) { l[r].push_back("7"); }},
        {"empty", [](auto& l, int r) { l[r].clear(); }},
        {"blanks", [](auto& l, int r) { l[r] = {"  \t"}; }},
        {"tabs", [](auto& l, int r) { l[r][2].insert(0, 1, '\t'); l[r][2].append("\t\t"); }},
        {"NUL", [](auto& l, int r) { l[r][4] = std::string("1\0", 2); }},
        {"bad then empty", [](auto& l, int r) { l[r][2] = std::string("5"); l[std::min(r + 1, RECORDS - 1)].clear(); }},
    };
    const int places[] = {0, 63, 64, 128, RECORDS - 1};
    const char* const ends[] = {"\n", "\r\n", "\r"};
    int compared = 0;
    for (size_t k = 0; k < damages.size(); ++k) {
        const damage& d = damages[k];
        for (size_t p = 0; p < std::size(places); ++p) {
            const int r = places[p];
            {
                const char* end = ends[(k + p) % 3];  // each line end meets each damage and place in turn
                std::vector<std::vector<std::string>> lines;
                for (int i = 0; i < RECORDS; ++i) lines.push_back(clean_line(i));
                const std::string line_end = end;
                d.apply(lines, r);
                const bool last_end = (k + p) % 2 == 0;  // the last line with and without its line end
                const std::string text = join(lines, line_end, last_end);
                SCOPED_TRACE(testing::Message() << d.what << " at record " << r + 1 << ", line end "
                                                << (line_end == "\n" ? "LF" : line_end == "\r" ? "CR" : "CRLF"));
                const outcome reference = load_text(text, true, {});
                for (const int threads : {1, 2, 3}) {
                    for (const int64_t read_bytes : {int64_t{1}, int64_t{1} << 20}) {
                        if (threads != 2 && read_bytes == 1) continue;
                        SCOPED_TRACE(testing::Message() << threads << " threads, reads of " << read_bytes);
                        const outcome got = load_text(text, false, {threads, 64, read_bytes});
                        EXPECT_EQ(got.result, reference.result);
                        EXPECT_EQ(got.console, reference.console);
                        EXPECT_EQ(got.log, reference.log);
                        EXPECT_EQ(got.loaded, reference.loaded);
                        EXPECT_EQ(got.codes, reference.codes);
                        EXPECT_EQ(got.keys, reference.keys);
                        ++compared;
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 0);
}

// Lines passed over before the records (a header, skip=) shift where the
// records' lines start.
TEST(ParallelLoad, HeaderAndSkippedLinesBeforeTheRecords) {
    for (const bool bad : {false, true}) {
        std::vector<std::vector<std::string>> lines{{"id", "snp[]", "!genot012"}, {"passed", "over"}};
        for (int i = 0; i < RECORDS; ++i) lines.push_back(clean_line(i));
        if (bad) lines[2 + 64][2] = "x";
        const std::string text = join(lines, "\r\n", true);
        const std::string words = "file=g.txt -header skip=1";
        const outcome reference = load_text(text, true, {}, words);
        EXPECT_EQ(reference.result, bad ? 1 : 0) << reference.console;
        const outcome got = load_text(text, false, {2, 64, 0}, words);
        EXPECT_EQ(got.console, reference.console);
        EXPECT_EQ(got.codes, reference.codes);
        EXPECT_EQ(got.keys, reference.keys);
    }
}

// A clean file: every record decoded by the workers, none read again.
TEST(ParallelLoad, CleanFileLoadsTheSameWithAnyWorkers) {
    std::vector<std::vector<std::string>> lines;
    for (int i = 0; i < RECORDS; ++i) lines.push_back(clean_line(i));
    const std::string text = join(lines, "\n", true);
    const outcome reference = load_text(text, true, {});
    ASSERT_EQ(reference.result, 0) << reference.console;
    ASSERT_EQ(reference.codes.size(), static_cast<size_t>(RECORDS * MARKERS));
    for (const int threads : {1, 2, 3, 8}) {
        const outcome got = load_text(text, false, {threads, 0, 0});
        EXPECT_EQ(got.console, reference.console) << threads;
        EXPECT_EQ(got.codes, reference.codes) << threads;
        EXPECT_EQ(got.keys, reference.keys) << threads;
    }
}

}  // namespace
}  // namespace tavo
