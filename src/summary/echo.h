// The console ending: the "finished" line, or the summary shown on the console.
#pragma once

#include <string>

#include "summary/options.h"

namespace tavosum {

// Lays tab-separated text out for the console: the first three tabs of a line
// pad to columns 20, 60 and 80, any further tab is one space.
struct tab_expander {
    int column = 0;
    int tabs = 0;
    void put(char c, std::string& out);
};

// Shows the summary file on the console when the selection is by levels up to
// a positive maxlev, else names it. Returns the program's status: 1 when the
// summary file cannot be read back.
int finish_console(const settings& options, const file_names& names);

}  // namespace tavosum
