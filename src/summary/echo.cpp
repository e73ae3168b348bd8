#include "summary/echo.h"

#include <cstdio>
#include <memory>

namespace tavosum {

void tab_expander::put(char c, std::string& out) {
    if (c == '\n') {
        out += c;
        column = 0;
        tabs = 0;
        return;
    }
    if (c == '\t') {
        out += ' ';
        ++tabs;
        int stop = tabs == 1 ? 20 : tabs == 2 ? 60 : tabs == 3 ? 80 : 0;
        for (; column < stop; ++column) out += ' ';
    } else {
        out += c;
    }
    ++column;
}

// Copies the summary file to the console, without its first line when `skip_title`.
static void show_summary(std::FILE* plog, bool skip_title) {
    tab_expander layout;
    bool skipping = skip_title;
    std::string shown;
    char chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, plog)) > 0) {
        for (size_t i = 0; i < got; ++i) {
            if (skipping)
                skipping = chunk[i] != '\n';
            else
                layout.put(chunk[i], shown);
        }
        std::fwrite(shown.data(), 1, shown.size(), stdout);
        shown.clear();
    }
}

int finish_console(const settings& options, const file_names& names) {
    if (options.has_par || options.nlev != 0 || options.maxlev <= 0) {
        std::printf("tavosum (%s) finished - summary is saved in %s\n", version,
                    names.plog.c_str());
        return 0;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> plog(std::fopen(names.plog.c_str(), "rb"),
                                                         std::fclose);
    if (!plog) {
        std::printf(
            "Problem opening plog file (%s) for reading back but it looks like the plog file is "
            "written OK\n",
            names.plog.c_str());
        std::printf("tavosum (%s) finished\n", version);
        return 1;
    }
    if (options.title)
        std::printf("tavosum (%s) summary showing parameters with up to %d levels\n", version,
                    options.maxlev);
    show_summary(plog.get(), options.title);
    if (options.title) std::printf("\nThis summary is also saved in %s\n", names.plog.c_str());
    return 0;
}

}  // namespace tavosum
