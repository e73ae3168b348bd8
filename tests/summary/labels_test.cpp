// The label file index and the labels of a parameter.
#include "summary/labels.h"
#include "summary_testing.h"

using namespace tavosum;
using tavosum_testing::console_of;
using tavosum_testing::file_with;
using labels = std::vector<std::string>;

namespace {

struct label_file {
    tavosum_testing::file_ptr file;
    label_index index;
    std::string console;  // what reading the index printed
    explicit label_file(const std::string& text) : file(file_with(text)) {
        console = console_of([&] { EXPECT_TRUE(read_label_index(file.get(), "run.lab", index)); });
    }
    labels of(const std::string& name, size_t levels, std::string* shown = nullptr) {
        level_labels found;
        std::string printed =
            console_of([&] { find_labels(index, file.get(), name, levels, found); });
        if (shown)
            *shown = printed;
        else
            EXPECT_EQ(printed, "");
        return labels(found.of_level.begin(), found.of_level.end());
    }
};

}  // namespace

TEST(SumLabelIndex, HeadsInFileOrderFirstOfEachName) {
    label_file lab("mu 1 intercept\r\n\n  \t\nherd 3 H1 H2 H3\rfit -3 herd\nmu +2 a b");
    EXPECT_EQ(lab.console, "");
    ASSERT_EQ(lab.index.lines.size(), 4u);
    EXPECT_EQ(lab.index.lines[2].name, "fit");
    EXPECT_EQ(lab.index.lines[2].count, -3);
    EXPECT_EQ(lab.index.lines[3].count, 2);
    EXPECT_EQ(lab.index.first.at("mu"), 0u);
    EXPECT_EQ(lab.of("mu", 1), labels{"intercept"});
}

TEST(SumLabelIndex, UnreadableHeadIsSkippedAndLaterLinesKept) {
    // Stopping at the bad line would silently lose every parameter after it.
    label_file lab("a 1 x\nb\nc two y z\nd 3000000000 q\ne 1 w\n");
    EXPECT_EQ(lab.console,
              "! Label line 2 cannot be read - line skipped\n"
              "! Label line 3 cannot be read - line skipped\n"
              "! Label line 4 cannot be read - line skipped\n");
    ASSERT_EQ(lab.index.lines.size(), 2u);
    EXPECT_EQ(lab.index.lines[1].name, "e");
    EXPECT_EQ(lab.of("e", 1), labels{"w"});
}

TEST(SumLabels, ReferenceLineGivesItsFirstLabels) {
    label_file lab("b 4 l1 l2 l3 l4\nc -3 b\nd 2 x y\n");
    EXPECT_EQ(lab.of("c", 3), (labels{"l1", "l2", "l3"}));
    EXPECT_EQ(lab.of("d", 2), (labels{"x", "y"}));
    EXPECT_EQ(lab.of("b", 4), (labels{"l1", "l2", "l3", "l4"}));
}

TEST(SumLabels, TooFewLabelsAreNotTakenFromTheNextLine) {
    label_file lab("a 3 x y\nb 1 z\nr -2 q\nq -1 a\n");
    std::string console;
    EXPECT_EQ(lab.of("a", 3, &console), (labels{"x", "y", "3"}));
    EXPECT_EQ(console, "! Labels of a: 2 found in run.lab, 3 expected - the others are numbered\n");
    // A reference to another reference line finds no labels there.
    EXPECT_EQ(lab.of("r", 2, &console), (labels{"1", "2"}));
    EXPECT_EQ(console, "! Labels of r: 0 found in run.lab, 2 expected - the others are numbered\n");
}

// The levels of one label line need 2 bytes each of the sample file (the
// last value may lack its separator), or their sums are never allocated.
TEST(SumLabels, LevelCountMustFitTheSampleFile) {
    label_file lab("mean 1 intercept\nx 1000000000\ny -7 x\n");
    tavosum_testing::file_ptr samples = file_with("1 y 1 2 3 4 5 6 7");  // 17 bytes
    std::string printed = console_of([&] {
        EXPECT_TRUE(levels_fit(lab.index, "y", 7, samples.get(), "run.out"));
        EXPECT_TRUE(levels_fit(lab.index, "mean", 1, samples.get(), "run.out"));
    });
    EXPECT_EQ(printed, "");
    printed = console_of([&] { EXPECT_FALSE(levels_fit(lab.index, "x", 1000000000, samples.get(), "run.out")); });
    EXPECT_EQ(printed, "! run.lab line 2 declares x with 1000000000 values, more than run.out can hold\n");
}
