// The console ending: tab layout and a summary file that cannot be read back.
#include "summary/echo.h"
#include "summary_testing.h"

using namespace tavosum;
using tavosum_testing::console_of;

namespace {

std::string laid_out(const std::string& text) {
    tab_expander layout;
    std::string out;
    for (char c : text) layout.put(c, out);
    return out;
}

}  // namespace

TEST(SumEcho, TabsPadToColumnsTwentySixtyAndEighty) {
    EXPECT_EQ(laid_out("a\tb\tc\td\te\n\tx\n"),
              "a" + std::string(20, ' ') + "b" + std::string(39, ' ') + "c" + std::string(19, ' ') +
                  "d e\n" + std::string(21, ' ') + "x\n");
    // Text past a column gets the single space only.
    std::string wide(25, 'w');
    EXPECT_EQ(laid_out(wide + "\t" + std::string(40, 'v') + "\tc\n"),
              wide + " " + std::string(40, 'v') + " c\n");
}

TEST(SumEcho, SummaryThatCannotBeReadBackFailsTheRun) {
    settings options;
    file_names names = make_file_names("/nonexistent/run", "");
    int status = 0;
    EXPECT_EQ(
        console_of([&] { status = finish_console(options, names); }),
        "Problem opening plog file (/nonexistent/run.plog) for reading back but it looks like "
        "the plog file is written OK\ntavosum (1.1) finished\n");
    EXPECT_EQ(status, 1);
}
