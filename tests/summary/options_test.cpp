// Options, file names, the job file's output path, selection and summary kinds.
#include "summary/options.h"
#include "summary/selection.h"
#include "summary_testing.h"

using namespace tavosum;
using tavosum_testing::console_of;
using tavosum_testing::file_with;

namespace {

settings parsed(const std::vector<std::string>& words, std::string* console = nullptr,
                std::vector<std::string>* unknown = nullptr) {
    settings options;
    std::vector<std::string> left;
    std::string shown = console_of([&] { left = parse_options(words, options); });
    if (unknown) *unknown = left;
    if (console)
        *console = shown;
    else
        EXPECT_EQ(shown, "");
    return options;
}

}  // namespace

TEST(SumOptions, DefaultsAndSwitches) {
    settings plain = parsed({});
    EXPECT_EQ(plain.maxlev, 25);
    EXPECT_EQ(plain.nlev, 0);
    EXPECT_FALSE(plain.has_par);
    EXPECT_TRUE(plain.title && plain.head && !plain.table);
    std::vector<std::string> unknown;
    settings options = parsed(
        {"html", "table", "echo", "notitle", "nohead", "Table", "maxlev", "xout"}, nullptr, &unknown);
    EXPECT_TRUE(options.table && !options.title && !options.head && options.xout);
    EXPECT_EQ(options.maxlev, 25);
    EXPECT_EQ(unknown, (std::vector<std::string>{"html", "echo", "Table", "maxlev"}));
}

TEST(SumOptions, EveryWordOfTheUsageTextIsKnown) {
    std::string usage = usage_text();
    std::vector<std::string> words;
    for (size_t at = usage.find("\n  "); at != std::string::npos; at = usage.find("\n  ", at + 1))
        if (usage[at + 3] != ' ')  // an option line, not the synopsis
            words.push_back(usage.substr(at + 3, usage.find(' ', at + 3) - at - 3));
    EXPECT_EQ(words.size(), 10u);
    for (std::string& word : words) {  // a placeholder value stands for a real one
        if (word.ends_with("[=P]")) word.resize(word.size() - 4);
        if (size_t eq = word.find('='); eq != std::string::npos) word = word.substr(0, eq + 1) + "2";
    }
    std::vector<std::string> unknown;
    parsed(words, nullptr, &unknown);
    EXPECT_TRUE(unknown.empty()) << usage;
}

TEST(SumOptions, NumbersAreLeadingIntegersAndLaterOnesWin) {
    settings options = parsed({"maxlev=3", "maxlev=40x", "nlev=+2", "par=a", "par=b*"});
    EXPECT_EQ(options.maxlev, 40);
    EXPECT_EQ(options.nlev, 2);
    EXPECT_EQ(options.par, "b*");
    EXPECT_EQ(mode_of(options), select_mode::prefix);
    EXPECT_EQ(prefix_of(options), "b");
    EXPECT_EQ(mode_of(parsed({"par="})), select_mode::exact);
}

TEST(SumOptions, BadNumbersAreReportedAndReset) {
    std::string console;
    settings options = parsed({"maxlev=5", "maxlev=x", "nlev=3", "nlev="}, &console);
    EXPECT_EQ(options.maxlev, 25);
    EXPECT_EQ(options.nlev, 0);
    EXPECT_EQ(console,
              "Error: invalid number (x) on maxlev option, maxlev is (re)set to default 25.\n"
              "Error: invalid number () on nlev option, nlev option is ignored!\n");
}

TEST(SumFileNames, FromTheBaseNameWithTheOutputPathOnTheSampleFileOnly) {
    file_names names = make_file_names("dir/run.tavo", "out/");
    EXPECT_EQ(names.base, "dir/run");
    EXPECT_EQ(names.job, "dir/run.tavo");
    EXPECT_EQ(names.out, "out/dir/run.out");
    EXPECT_EQ(names.lab, "dir/run.lab");
    EXPECT_EQ(names.plog, "dir/run.plog");
    EXPECT_EQ(names.mlog, "dir/run.mlog");
    file_names upper = make_file_names("run.TAVO", "");  // the extension is matched exactly
    EXPECT_EQ(upper.job, "run.TAVO.tavo");
    EXPECT_EQ(upper.out, "run.TAVO.out");
    file_names extra = make_file_names("dir/run", "out/", true);  // tavogen's per-cycle results
    EXPECT_EQ(extra.out, "dir/run.xout");
    EXPECT_EQ(extra.lab, "dir/run.xlab");
    EXPECT_EQ(extra.plog, "dir/run.xplog");
    EXPECT_EQ(extra.mlog, "dir/run.xmlog");
}

namespace {

std::string path_out_of(const std::string& job) {
    auto file = file_with(job);
    std::string path;
    EXPECT_EQ(console_of([&] { path = read_path_out(file.get()); }), "");
    return path;
}

}  // namespace

TEST(SumJobFile, PathOutIsTheFirstWordAfterTheEqualSign) {
    EXPECT_EQ(path_out_of("# job\n$path=data/\n$path_out=res/ comment\r\nmodel\n"), "res/");
    EXPECT_EQ(path_out_of("$path_out=a/\n$path_out=b/\n"), "b/");
    EXPECT_EQ(path_out_of(" $path_out=indented/\n"), "");
}

namespace {

label_index index_of(const std::vector<std::pair<std::string, int>>& heads) {
    label_index index;
    for (const auto& [name, count] : heads) {
        index.first.try_emplace(name, index.lines.size());
        index.lines.push_back({name, count, 0});
    }
    return index;
}

const label_index run_labels =
    index_of({{"mu", 1}, {"b.1", 2}, {"b.2", -2}, {"large", 30}, {"c", 3}, {"b.3", 3}, {"mu", 4}});

std::vector<std::string> names_for(const std::vector<std::string>& words,
                                   std::string* console = nullptr) {
    settings options = parsed(words);
    std::vector<parameter> selected;
    std::string shown = console_of([&] { select_parameters(run_labels, options, selected); });
    if (console)
        *console = shown;
    else
        EXPECT_EQ(shown, "");
    std::vector<std::string> names;
    for (const parameter& p : selected) names.push_back(p.name);
    return names;
}

using names = std::vector<std::string>;

}  // namespace

TEST(SumSelection, ByLevelsByNameAndByPrefixInFileOrder) {
    EXPECT_EQ(names_for({}), (names{"mu", "b.1", "b.2", "c", "b.3", "mu"}));
    EXPECT_EQ(names_for({"maxlev=2"}), (names{"mu", "b.1", "b.2"}));
    EXPECT_EQ(names_for({"maxlev=-1"}), (names{"mu", "b.1", "b.2", "large", "c", "b.3", "mu"}));
    EXPECT_EQ(names_for({"maxlev=1", "nlev=3"}), (names{"c", "b.3"}));
    EXPECT_EQ(names_for({"par=b.2"}), (names{"b.2"}));
    EXPECT_EQ(names_for({"par=b*", "maxlev=1"}), (names{"b.1", "b.2", "b.3"}));
    EXPECT_EQ(names_for({"par=*"}).size(), 7u);
}

TEST(SumSelection, OffsetsFollowTheLevelsOfEarlierParameters) {
    settings options = parsed({"par=b*"});
    std::vector<parameter> selected;
    ASSERT_TRUE(select_parameters(run_labels, options, selected));
    EXPECT_EQ(selected[1].levels, 2u);  // a negative count gives its absolute value
    EXPECT_EQ(selected[2].offset, 4u);
    EXPECT_EQ(total_levels(selected), 7u);
}

TEST(SumSelection, NothingSelectedOrAnExactNameTwice) {
    std::string console;
    EXPECT_TRUE(names_for({"nlev=-3"}, &console).empty());
    EXPECT_EQ(console,
              "! No parameters found for summary (searching parameters with <=25 levels)\n");
    EXPECT_TRUE(names_for({"par=x*"}, &console).empty());
    EXPECT_EQ(console, "! No parameters found for summary (searching parameters matching x*)\n");
    settings small = parsed({"maxlev=3"});
    std::vector<parameter> selected;
    console = console_of([&] { select_parameters(index_of({{"big", 4}}), small, selected); });
    EXPECT_EQ(console,
              "! No parameters found for summary (searching parameters with <=3 levels)\n"
              "(use maxlev=0 for parameters of any size)\n");
    EXPECT_TRUE(names_for({"par=mu"}, &console).empty());
    EXPECT_EQ(console, "! There are multiple matches for requested parameter mu\n:");
}

TEST(SumSummaryKind, FromModeTableAndLevels) {
    auto kind = [](const std::vector<std::string>& words, const label_index& index) {
        settings options = parsed(words);
        std::vector<parameter> selected;
        console_of([&] { select_parameters(index, options, selected); });
        return decide_kind(options, selected);
    };
    const label_index starred = index_of({{"b*", 2}, {"b.1", 2}, {"c", 1}});
    EXPECT_EQ(kind({"par=c", "table"}, starred), summary_kind::single);
    EXPECT_EQ(kind({"par=b**"}, starred), summary_kind::single);  // one match named "b*"
    EXPECT_EQ(kind({"par=b*"}, starred), summary_kind::long_rows);
    EXPECT_EQ(kind({"par=b*", "table"}, starred), summary_kind::wide);
    EXPECT_EQ(kind({"par=c*", "table"}, starred), summary_kind::wide);
    EXPECT_EQ(kind({"par=*", "table"}, starred), summary_kind::long_named);
    EXPECT_EQ(kind({"table"}, starred), summary_kind::long_named);
    EXPECT_EQ(kind({"table", "nlev=2"}, starred), summary_kind::wide);
    EXPECT_EQ(kind({"nlev=2"}, starred), summary_kind::long_rows);
}
