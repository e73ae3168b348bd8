// Retrieval of the saved samples cycle by cycle: cycles, line ends, short and
// long lines, missing and repeated parameters, unreadable line heads.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "genomic/retrieve.h"
#include "support/testutil.h"

namespace {

using namespace tavo;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Terms named a, b, ... with additive names "add.a", ..., U values each.
genomic_model additive_model(int32_t terms, int32_t U, bool dominance = false) {
    genomic_model model;
    model.kind = dominance ? model_kind::additive_dominance : model_kind::additive;
    model.T = terms;
    model.U = U;
    for (int32_t t = 0; t < terms; ++t) {
        genomic_term term;
        term.label = std::string(1, static_cast<char>('a' + t));
        term.add_name = "add." + term.label;
        term.add_len = U;
        term.add_effects.assign(static_cast<size_t>(U), -7.0);
        term.reg_name = term.label;  // not looked for: the model has no regression terms
        if (dominance) {
            term.dom_name = "dom." + term.label;
            term.dom_len = U;
            term.dom_effects.assign(static_cast<size_t>(U), -7.0);
        }
        model.terms.push_back(term);
    }
    return model;
}

struct reading {
    testutil::file_ptr file;
    sample_reader reader;
    reading(const std::string& text, size_t chunk = SAMPLE_CHUNK) : file(testutil::file_with(text)) {
        start_reading(reader, file.get(), "run.out", chunk);
    }
};

// Reads every cycle; returns the results and the console.
std::vector<cycle_read> read_all(reading& r, genomic_model& model, std::string& console,
                                 std::vector<int32_t>* cycles = nullptr) {
    std::vector<cycle_read> results;
    CaptureStdout();
    for (;;) {
        const cycle_read got = read_cycle(r.reader, model);
        results.push_back(got);
        if (cycles && got == cycle_read::complete) cycles->push_back(r.reader.cycle);
        if (got != cycle_read::complete) break;
    }
    console = GetCapturedStdout();
    return results;
}

using results = std::vector<cycle_read>;
constexpr cycle_read OK = cycle_read::complete;
constexpr cycle_read STOP = cycle_read::problem;
constexpr cycle_read END = cycle_read::end;

TEST(SampleReading, CyclesAreRunsOfEqualNumbersAndMayRepeat) {
    genomic_model model = additive_model(2, 2);
    reading r("5 add.a 1 2\n5 add.b 3 4\n9 add.b 5 6\n9 add.a 7 8\n5 add.a 9 10\n5 add.b 11 12\n");
    std::string console;
    std::vector<int32_t> cycles;
    EXPECT_EQ(read_all(r, model, console, &cycles), (results{OK, OK, OK, END}));
    EXPECT_EQ(cycles, (std::vector<int32_t>{5, 9, 5}));
    EXPECT_EQ(console, "");
    EXPECT_EQ(model.terms[0].add_effects, (std::vector<double>{9, 10}));
    EXPECT_EQ(model.terms[1].add_effects, (std::vector<double>{11, 12}));
    EXPECT_EQ(model.terms[0].found_add, 1);
}

TEST(SampleReading, InterleavedCyclesLackParametersAndStop) {
    genomic_model model = additive_model(2, 1);
    reading r("1 add.a 1\n2 add.a 2\n1 add.b 3\n2 add.b 4\n");
    std::string console;
    EXPECT_EQ(read_all(r, model, console), (results{STOP}));
    EXPECT_EQ(console, "\n!Problem retrieving samples for cycle 1: add.b not found\n");
}

TEST(SampleReading, LineEndsAndBufferBoundaries) {
    // "\n", "\r\n", a lone "\r", blanks around the items, a blank line, no
    // final line end; read through buffers of every small size so that lines
    // and "\r\n" pairs are split across reads.
    const std::string text = "  3 add.a  1.5\t-2 \r\n3 add.b +4 5e-1\r\r\n7 add.a 1 2\n \t\n7 add.b 3 4";
    for (size_t chunk = 1; chunk <= text.size() + 1; ++chunk) {
        SCOPED_TRACE(chunk);
        genomic_model model = additive_model(2, 2);
        reading r(text, chunk);
        std::string console;
        std::vector<int32_t> cycles;
        CaptureStdout();
        ASSERT_EQ(read_cycle(r.reader, model), OK);
        EXPECT_EQ(model.terms[0].add_effects, (std::vector<double>{1.5, -2}));
        EXPECT_EQ(model.terms[1].add_effects, (std::vector<double>{4, 0.5}));
        ASSERT_EQ(read_cycle(r.reader, model), OK);
        EXPECT_EQ(r.reader.cycle, 7);
        EXPECT_EQ(model.terms[1].add_effects, (std::vector<double>{3, 4}));
        EXPECT_EQ(read_cycle(r.reader, model), END);
        EXPECT_EQ(GetCapturedStdout(), "");
        EXPECT_EQ(r.reader.line, 6);
    }
}

TEST(SampleReading, ExtraValuesAreIgnoredAndShortLinesDoNotBorrow) {
    genomic_model model = additive_model(3, 3);
    // a: more values than U; b: too few (the next line's values stay there);
    // c: missing from cycle 1.
    reading r("1 add.a 1 2 3 4 5\n1 add.b 6 7\n2 add.a 1 2 3\n2 add.b 1 2 3\n2 add.c 1 2 3\n");
    std::string console;
    EXPECT_EQ(read_all(r, model, console), (results{STOP}));
    EXPECT_EQ(model.terms[0].add_effects, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(model.terms[1].add_effects, (std::vector<double>{6, 7, -7}));
    EXPECT_EQ(model.terms[1].found_add, 1);
    EXPECT_EQ(console,
              "\n!Problem retrieving samples for cycle 1: too few values for add.b\n"
              "\n!Problem retrieving samples for cycle 1: add.c not found\n");
    // The short cycle was read to its end: the next cycle's head is in hand.
    EXPECT_EQ(r.reader.status, head_status::read);
    EXPECT_EQ(r.reader.head_cycle, 2);
}

TEST(SampleReading, MultiplesAndMessageOrderPerTermAndKind) {
    genomic_model model = additive_model(2, 1, true);
    reading r("4 dom.b 1\n4 add.a 1\n4 add.a 2\n4 dom.a\n4 dom.a 3\n");
    std::string console;
    EXPECT_EQ(read_all(r, model, console), (results{STOP}));
    EXPECT_EQ(model.terms[0].add_effects[0], 2);  // the later line overwrites
    EXPECT_EQ(console,
              "\n!Problem retrieving samples for cycle 4: multiples found for add.a\n"
              "\n!Problem retrieving samples for cycle 4: multiples found for dom.a\n"
              "\n!Problem retrieving samples for cycle 4: too few values for dom.a\n"
              "\n!Problem retrieving samples for cycle 4: add.b not found\n");
}

TEST(SampleReading, OnlyTheKindsOfTheModelAreLookedFor) {
    genomic_model model = additive_model(1, 1);
    model.terms[0].dom_name = "x";
    reading r("1 x 1\n1 a 1\n1 add.a 2\n");  // "a" is the unused regression name
    std::string console;
    EXPECT_EQ(read_all(r, model, console), (results{OK, END}));
    EXPECT_EQ(model.terms[0].found_dom, 0);
    EXPECT_EQ(model.terms[0].found_reg, 0);

    genomic_model reg;
    reg.kind = model_kind::regression;
    reg.T = 1;
    reg.terms.resize(1);
    reg.terms[0].reg_name = "fit.cov";
    reg.terms[0].reg_len = 2;
    reg.terms[0].reg_effects.assign(2, 0.0);
    reg.terms[0].add_name = "cov";
    reading r2("1 cov 1 2\n1 fit.cov 3 4\n2 cov 5 6\n");
    EXPECT_EQ(read_all(r2, reg, console), (results{OK, STOP}));
    EXPECT_EQ(console, "\n!Problem retrieving samples for cycle 2: fit.cov not found\n");
    EXPECT_EQ(reg.terms[0].reg_effects, (std::vector<double>{3, 4}));
}

TEST(SampleReading, UnreadableHeadsStopAfterTheCyclesMessages) {
    genomic_model model = additive_model(2, 1);
    reading r("1 add.a 1\n\n1.5 add.b 2\n");
    std::string console;
    EXPECT_EQ(read_all(r, model, console), (results{STOP}));
    EXPECT_EQ(console,
              "\n!Problem retrieving samples for cycle 1: add.b not found\n"
              "\n!Problem retrieving samples: line 3 of run.out cannot be read\n");

    for (const char* bad : {"add.a 1\n", "7\n", "x7 add.a 1\n", "+-7 add.a 1\n", "99999999999 add.a 1\n"}) {
        SCOPED_TRACE(bad);
        genomic_model m = additive_model(1, 1);
        reading first(bad);
        EXPECT_EQ(read_all(first, m, console), (results{STOP}));
        EXPECT_EQ(console, "\n!Problem retrieving samples: line 1 of run.out cannot be read\n");
    }
}

TEST(SampleReading, EndOfFileInsideACycleEndsItNormally) {
    genomic_model model = additive_model(2, 2);
    reading r("1 add.a 1 2\n1 add.b 3");
    std::string console;
    EXPECT_EQ(read_all(r, model, console), (results{STOP}));
    EXPECT_EQ(console, "\n!Problem retrieving samples for cycle 1: too few values for add.b\n");

    reading empty("");
    EXPECT_EQ(read_all(empty, model, console), (results{END}));
    reading blank("\n  \r\n\r");
    EXPECT_EQ(read_all(blank, model, console), (results{END}));
    EXPECT_EQ(console, "");
}

TEST(SampleReading, NamesOfAnyLengthAndLinesLongerThanTheBuffer) {
    genomic_model model = additive_model(1, 500);
    model.terms[0].add_name = std::string(300, 'n');
    std::string line = "12 " + model.terms[0].add_name;
    for (int v = 0; v < 500; ++v) {
        line += ' ';
        line += std::to_string(v);
    }
    reading r(line + "\n", 16);
    std::string console;
    EXPECT_EQ(read_all(r, model, console), (results{OK, END}));
    EXPECT_EQ(model.terms[0].add_effects[499], 499);
    // A name that is only a prefix of the searched one does not match.
    reading prefix("1 " + std::string(299, 'n') + " 1\n");
    EXPECT_EQ(read_all(prefix, model, console), (results{STOP}));
}

TEST(SampleReading, ValueConversion) {
    double v[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(read_values(" +1.5\t-2  1e3 +.25 nan", v, 6), 5);
    EXPECT_EQ(v[0], 1.5);
    EXPECT_EQ(v[1], -2);
    EXPECT_EQ(v[2], 1000);
    EXPECT_EQ(v[3], 0.25);
    EXPECT_TRUE(std::isnan(v[4]));
    EXPECT_EQ(read_values(" 1 +-2 3", v, 3), 1);
    EXPECT_EQ(read_values(" 1 ++2", v, 3), 1);
    EXPECT_EQ(read_values(" 1 abc 3", v, 3), 1);
    EXPECT_EQ(read_values(" 1e999 -1e999 1e-999", v, 3), 3);
    EXPECT_EQ(v[0], HUGE_VAL);
    EXPECT_EQ(v[1], -HUGE_VAL);
    EXPECT_EQ(v[2], 0);
    EXPECT_EQ(read_values("", v, 3), 0);
    EXPECT_EQ(read_values(" 4 5", v, 1), 1);
}

// read_number must agree with std::from_chars in everything: the value's
// bits, the end of the number and the error.
void expect_same_as_from_chars(const std::string& text) {
    const char* first = text.data();
    const char* last = first + text.size();
    double fast = -7.5, reference = -7.5;
    const auto got = read_number(first, last, fast);
    const auto want = std::from_chars(first, last, reference);
    ASSERT_EQ(got.ptr - first, want.ptr - first) << '"' << text << '"';
    ASSERT_EQ(got.ec, want.ec) << '"' << text << '"';
    uint64_t fast_bits = 0, reference_bits = 0;
    std::memcpy(&fast_bits, &fast, sizeof fast);
    std::memcpy(&reference_bits, &reference, sizeof reference);
    ASSERT_EQ(fast_bits, reference_bits) << '"' << text << "\" " << fast << " " << reference;
}

TEST(NumberReading, BordersOfTheFastPath) {
    for (const char* text :
         {"0", "-0", "-0.0", "0.1", "0.3", "1.7976931348623157e308", "4.9e-324", "1e22", "1e23", "1e-22", "1e-23",
          "-9007199254740992", "9007199254740993", "9007199254740992e22", "9007199254740993e-22",
          "1234567890123456789", "12345678901234567890", "0.0000000000000000001", "0.00000000000000000001",
          "4.35e2", "4.35E-2", "4.35e+2", "1e022", "1e0022", "5.", ".5", "-.5", "5e", "5e+", "5e-x", "5ex", "1.2.3",
          "1..2", "1e5.5", "-", "--1", "+1", "inf", "-infinity", "nan", "NaN(1)", "0x10", "1e999", "1e-999",
          "6.10352e-05", "-0.0133331", "0.00231522 0.003564", "3\t4", "7\r", ""})
        expect_same_as_from_chars(text);
}

// Numbers built from random parts: signs, digit runs of 0 to 24, fraction
// points, exponents of 0 to 4 digits, and a random character after them.
TEST(NumberReading, SameAsFromCharsOnRandomDecimals) {
    std::mt19937_64 random(20240607);
    auto pick = [&random](uint64_t n) { return static_cast<int>(random() % n); };
    auto digit_run = [&](int length) {
        std::string run;
        for (int i = 0; i < length; ++i) run.push_back(static_cast<char>('0' + pick(10)));
        return run;
    };
    const std::string after = " \t\r.eE+-x0";
    for (int n = 0; n < 300000; ++n) {
        std::string text;
        if (pick(3) == 0) text += '-';
        text += digit_run(pick(8) == 0 ? pick(25) : pick(10));
        if (pick(3) != 0) text += '.' + digit_run(pick(8) == 0 ? pick(25) : pick(12));
        if (pick(3) == 0) {
            text += pick(2) ? 'e' : 'E';
            const int sign = pick(3);
            if (sign > 0) text += sign == 1 ? '+' : '-';
            text += digit_run(pick(5));
        }
        if (pick(2)) text += after[static_cast<size_t>(pick(after.size()))];
        expect_same_as_from_chars(text);
    }
}

TEST(NumberReading, SameAsFromCharsOnRandomText) {
    std::mt19937_64 random(99);
    const std::string alphabet = "0123456789012345678901234567890123456789.-+eE infa";
    for (int n = 0; n < 200000; ++n) {
        std::string text;
        for (int length = static_cast<int>(random() % 12); length > 0; --length)
            text.push_back(alphabet[random() % alphabet.size()]);
        expect_same_as_from_chars(text);
    }
}

// Values written as "%g" and "%.17g" of random doubles read back to the
// numbers std::from_chars gives, through whole lines.
TEST(NumberReading, LinesOfPrintedValuesReadAsFromCharsReadsThem) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::string line;
    std::vector<double> expected;
    char text[40];
    for (int n = 0; n < 20000; ++n) {
        const double x = uniform(random) * std::pow(10.0, static_cast<int>(random() % 40) - 20);
        std::snprintf(text, sizeof text, n % 3 == 0 ? "%.17g" : "%g", x);
        double back = 0;
        std::from_chars(text, text + std::strlen(text), back);
        expected.push_back(back);
        line.append(n % 5 == 0 ? "\t" : " ").append(text);
    }
    std::vector<double> got(expected.size());
    ASSERT_EQ(read_values(line, got.data(), static_cast<int64_t>(got.size())), static_cast<int64_t>(got.size()));
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << i;
}

}  // namespace
