// The SVG picture of the variance shares: one panel per term, the groups
// along x, the posterior mean share in percent along y.
//
// Windows are drawn per horizontal pixel (the range of the shares of the
// windows the pixel covers), so the picture's size does not grow with the
// marker count. Everything is written with fixed formats: the same inputs
// give the same bytes.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "genomic/regions.h"

namespace tavo {

namespace {

constexpr double WIDTH = 1000;
constexpr double LEFT = 80;           // room for the y axis and its title
constexpr double PLOT_W = 840;        // pixels of the x axis; the threshold's label to its right
constexpr double PANEL_H = 260;
constexpr double TOP = 40;            // title above the plot area
constexpr double PLOT_H = 170;
constexpr int PIXELS = 840;
constexpr size_t LABELLED = 5;        // best regions named in each panel
constexpr const char* COLOURS[2] = {"#2b6cb0", "#dd6b20"};

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string fixed(double v) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

std::string general(double v) {
    char text[48];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// One panel's frame: where its plot area is and how values map onto it.
struct panel {
    double top = 0;      // of the plot area
    double bottom = 0;
    double ymax = 1;     // percent at the top of the axis
    double step = 1;     // between ticks
    double y(double percent) const { return bottom - std::min(percent, ymax) / ymax * PLOT_H; }
};

double nice_step(double range) {
    const double raw = range / 5;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * power) return m * power;
    return 10 * power;
}

int32_t real_groups(const region_report& r) { return r.model.total_groups - 1; }

bool bars(const region_report& r) { return layout_of(r.model) == group_layout::by_levels; }

double percent(const region_report& r, int32_t g, int32_t t) { return 100 * summarise_share(r.sums, g, t).pm; }

// The axis reaches above every share drawn (with its whisker) and the threshold.
panel frame(const region_report& r, int32_t t, double top) {
    double highest = 100 * r.sums.threshold;
    for (int32_t g = 0; g < real_groups(r); ++g) {
        const share_summary s = summarise_share(r.sums, g, t);
        double reach = 100 * s.pm;
        if (bars(r) && !std::isnan(s.psd)) reach += 100 * s.psd;
        if (std::isfinite(reach)) highest = std::max(highest, reach);
    }
    panel p;
    p.top = top;
    p.bottom = top + PLOT_H;
    p.step = nice_step(highest * 1.05);
    p.ymax = std::ceil(highest * 1.05 / p.step) * p.step;
    return p;
}

double group_x(const region_report& r, int32_t g) { return LEFT + (g + 0.5) * PLOT_W / real_groups(r); }

void draw_axes(FILE* f, const panel& p) {
    std::fprintf(f, "<g stroke=\"#333\" stroke-width=\"1\">\n");
    std::fprintf(f, "<line x1=\"%s\" y1=\"%s\" x2=\"%s\" y2=\"%s\"/>\n", fixed(LEFT).c_str(), fixed(p.top).c_str(),
                 fixed(LEFT).c_str(), fixed(p.bottom).c_str());
    std::fprintf(f, "<line x1=\"%s\" y1=\"%s\" x2=\"%s\" y2=\"%s\"/>\n", fixed(LEFT).c_str(), fixed(p.bottom).c_str(),
                 fixed(LEFT + PLOT_W).c_str(), fixed(p.bottom).c_str());
    const int ticks = static_cast<int>(std::lround(p.ymax / p.step));
    for (int k = 0; k <= ticks; ++k) {
        const std::string y = fixed(p.y(k * p.step));
        std::fprintf(f, "<line x1=\"%s\" y1=\"%s\" x2=\"%s\" y2=\"%s\"/>\n", fixed(LEFT - 5).c_str(), y.c_str(),
                     fixed(LEFT).c_str(), y.c_str());
    }
    std::fprintf(f, "</g>\n<g font-size=\"11\" text-anchor=\"end\">\n");
    for (int k = 0; k <= ticks; ++k)
        std::fprintf(f, "<text x=\"%s\" y=\"%s\">%s</text>\n", fixed(LEFT - 8).c_str(),
                     fixed(p.y(k * p.step) + 4).c_str(), general(k * p.step).c_str());
    std::fprintf(f, "</g>\n");
    const double mid = (p.top + p.bottom) / 2;
    std::fprintf(f,
                 "<text x=\"20\" y=\"%s\" font-size=\"12\" text-anchor=\"middle\" transform=\"rotate(-90 20 %s)\">"
                 "share of the genomic variance (%%)</text>\n",
                 fixed(mid).c_str(), fixed(mid).c_str());
}

void draw_threshold(FILE* f, const region_report& r, const panel& p) {
    const std::string y = fixed(p.y(100 * r.sums.threshold));
    std::fprintf(f,
                 "<line x1=\"%s\" y1=\"%s\" x2=\"%s\" y2=\"%s\" stroke=\"#c53030\" stroke-width=\"1\" "
                 "stroke-dasharray=\"6 4\"/>\n",
                 fixed(LEFT).c_str(), y.c_str(), fixed(LEFT + PLOT_W).c_str(), y.c_str());
    std::fprintf(f, "<text x=\"%s\" y=\"%s\" font-size=\"10\" fill=\"#c53030\">threshold %s%%</text>\n",
                 fixed(LEFT + PLOT_W + 4).c_str(), fixed(p.y(100 * r.sums.threshold) + 3).c_str(),
                 general(100 * r.sums.threshold).c_str());
}

// One bar per by level, whiskers at plus and minus one deviation.
void draw_bars(FILE* f, const region_report& r, int32_t t, const panel& p) {
    const double slot = PLOT_W / real_groups(r);
    for (int32_t g = 0; g < real_groups(r); ++g) {
        const share_summary s = summarise_share(r.sums, g, t);
        if (std::isnan(s.pm)) continue;
        const double x = LEFT + g * slot + slot * 0.15;
        const double top = p.y(100 * s.pm);
        std::fprintf(f, "<rect x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\" fill=\"%s\"/>\n", fixed(x).c_str(),
                     fixed(top).c_str(), fixed(slot * 0.7).c_str(), fixed(p.bottom - top).c_str(), COLOURS[g % 2]);  // each level its own block
        if (std::isnan(s.psd)) continue;
        const std::string cx = fixed(group_x(r, g));
        std::fprintf(f, "<line x1=\"%s\" y1=\"%s\" x2=\"%s\" y2=\"%s\" stroke=\"#333\" stroke-width=\"1\"/>\n",
                     cx.c_str(), fixed(p.y(std::max(0.0, 100 * (s.pm - s.psd)))).c_str(), cx.c_str(),
                     fixed(p.y(100 * (s.pm + s.psd))).c_str());
    }
}

// Colour of each real group: it alternates where the by level changes, so
// neighbouring levels are told apart.
std::vector<int> group_colours(const region_report& r) {
    std::vector<int> colours(static_cast<size_t>(real_groups(r)), 0);
    for (size_t g = 1; g < colours.size(); ++g)
        colours[g] = r.spans[g].level == r.spans[g - 1].level ? colours[g - 1] : 1 - colours[g - 1];
    return colours;
}

// What one pixel column shows: the range of the shares of the windows it
// covers, in the colour of the first of them. The last window of the column
// before joins the range (within a level), so the windows draw one line.
struct column {
    bool drawn = false;
    double low = 0;
    double high = 0;
    int colour = 0;
    bool operator==(const column&) const = default;
};

column pixel_column(const region_report& r, int32_t t, const std::vector<int>& colours, int px) {
    const int64_t G = real_groups(r);
    const int64_t from = px * G / PIXELS;
    const int64_t to = std::max(from + 1, (px + 1) * G / PIXELS);
    column c;
    const bool joined = px > 0 && (px - 1) * G / PIXELS < from && from < G &&
                        r.spans[static_cast<size_t>(from - 1)].level == r.spans[static_cast<size_t>(from)].level;
    for (int64_t g = joined ? from - 1 : from; g < to && g < G; ++g) {
        const double v = percent(r, static_cast<int32_t>(g), t);
        if (!std::isfinite(v)) continue;
        c.low = c.drawn ? std::min(c.low, v) : v;
        c.high = c.drawn ? std::max(c.high, v) : v;
        c.drawn = true;
    }
    if (from < G) c.colour = colours[static_cast<size_t>(from)];
    return c;
}

// Adds pixel columns first..last (equal ones) to a path: one stroke for a
// single column, else a filled box (a line where the range is a point).
void add_run(std::string& path, const panel& p, const column& c, int first, int last) {
    const std::string high = fixed(p.y(c.high));
    const std::string low = fixed(p.y(c.low));
    if (first == last) {
        path += 'M' + fixed(LEFT + first + 0.5) + ' ' + high + 'V' + low;
        return;
    }
    const std::string x0 = fixed(LEFT + first + 0.5);
    path += 'M' + x0 + ' ' + high + 'H' + fixed(LEFT + last + 0.5) + 'V' + low + 'H' + x0 + 'Z';
}

// Per pixel column the range of the windows it covers; neighbouring columns
// that show the same are drawn as one.
void draw_windows(FILE* f, const region_report& r, int32_t t, const panel& p) {
    const std::vector<int> colours = group_colours(r);
    std::string paths[2];
    int first = 0;
    column run = pixel_column(r, t, colours, 0);
    for (int px = 1; px <= PIXELS; ++px) {
        const column next = px < PIXELS ? pixel_column(r, t, colours, px) : column{};
        if (px < PIXELS && next == run) continue;
        if (run.drawn) add_run(paths[run.colour], p, run, first, px - 1);
        run = next;
        first = px;
    }
    for (int c = 0; c < 2; ++c)
        if (!paths[c].empty())
            std::fprintf(f,
                         "<path d=\"%s\" stroke=\"%s\" fill=\"%s\" stroke-width=\"1\" stroke-linecap=\"square\"/>\n",
                         paths[c].c_str(), COLOURS[c], COLOURS[c]);
}

// Labels under the axis: the by levels at the middle of their runs of
// groups (passed over where they would crowd the one before), or the first
// and last windows' markers without a by field.
void draw_group_labels(FILE* f, const region_report& r, const panel& p) {
    const int32_t G = real_groups(r);
    const std::string y = fixed(p.bottom + 16);
    std::fprintf(f, "<g font-size=\"10\" text-anchor=\"middle\">\n");
    if (!bars(r) && r.ctx.by_pos < 0) {
        std::fprintf(f, "<text x=\"%s\" y=\"%s\" text-anchor=\"start\">%s</text>\n", fixed(LEFT).c_str(), y.c_str(),
                     escaped(marker_key_text(r.ctx, 0)).c_str());
        std::fprintf(f, "<text x=\"%s\" y=\"%s\" text-anchor=\"end\">%s</text>\n", fixed(LEFT + PLOT_W).c_str(),
                     y.c_str(), escaped(marker_key_text(r.ctx, G - 1)).c_str());
    } else {
        double last_end = -1e9;
        for (int32_t g = 0; g < G;) {
            int32_t end = g + 1;
            while (end < G && r.spans[static_cast<size_t>(end)].level == r.spans[static_cast<size_t>(g)].level) ++end;
            const std::string text = r.spans[static_cast<size_t>(g)].level >= 0
                                         ? by_level_text(r.ctx, r.spans[static_cast<size_t>(g)].level)
                                         : "";
            const double x = LEFT + (g + end) / 2.0 * PLOT_W / G;
            const double half = 3.5 * static_cast<double>(text.size());
            if (!text.empty() && x - half > last_end + 4) {
                std::fprintf(f, "<text x=\"%s\" y=\"%s\">%s</text>\n", fixed(x).c_str(), y.c_str(), escaped(text).c_str());
                last_end = x + half;
            }
            g = end;
        }
    }
    std::fprintf(f, "</g>\n");
}

void draw_best(FILE* f, const region_report& r, int32_t t, const panel& p) {
    const bool windows = !bars(r);
    const std::vector<int32_t> best = best_regions(r.sums, r.spans, t, windows, LABELLED);
    std::fprintf(f, "<g font-size=\"10\" text-anchor=\"middle\" fill=\"#1a202c\">\n");
    for (int32_t g : best) {
        const std::string x = fixed(group_x(r, g));
        const share_summary s = summarise_share(r.sums, g, t);
        const double y = p.y(100 * s.pm);
        const double above = windows || std::isnan(s.psd) ? y : p.y(100 * (s.pm + s.psd));  // over the whisker
        const std::string label = windows ? marker_key_text(r.ctx, g) : by_level_text(r.ctx, g);
        std::fprintf(f, "<circle cx=\"%s\" cy=\"%s\" r=\"2.5\"/>\n", x.c_str(), fixed(y).c_str());
        std::fprintf(f, "<text x=\"%s\" y=\"%s\">%s</text>\n", x.c_str(), fixed(std::max(p.top + 8, above - 5)).c_str(),
                     escaped(label).c_str());
    }
    std::fprintf(f, "</g>\n");
}

std::string x_title(const region_report& r) {
    if (bars(r)) return "levels of " + r.names.by_name;
    std::string title = "windows of " + std::to_string(2 * r.model.half_width + 1) + " markers, by centre marker";
    if (r.ctx.by_pos >= 0) title += ", within levels of " + r.names.by_name;
    return title;
}

void draw_panel(FILE* f, const region_report& r, int32_t t) {
    const double y0 = t * PANEL_H;
    const panel p = frame(r, t, y0 + TOP);
    const std::string block = r.ctx.block ? r.ctx.block->name : r.names.block_name;
    std::fprintf(f, "<text x=\"%s\" y=\"%s\" font-size=\"14\" font-weight=\"bold\" text-anchor=\"middle\">%s</text>\n",
                 fixed(WIDTH / 2).c_str(), fixed(y0 + 22).c_str(),
                 escaped(block + ": share of the genomic variance of " + r.model.terms[static_cast<size_t>(t)].label)
                     .c_str());
    draw_axes(f, p);
    if (bars(r)) draw_bars(f, r, t, p);
    else draw_windows(f, r, t, p);
    draw_threshold(f, r, p);
    draw_group_labels(f, r, p);
    draw_best(f, r, t, p);
    std::fprintf(f, "<text x=\"%s\" y=\"%s\" font-size=\"11\" text-anchor=\"middle\">%s</text>\n",
                 fixed(LEFT + PLOT_W / 2).c_str(), fixed(p.bottom + 34).c_str(), escaped(x_title(r)).c_str());
}

}  // namespace

void draw_share_plot(FILE* f, const region_report& report) {
    const double height = report.model.T * PANEL_H + 10;
    std::fprintf(f, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    std::fprintf(f,
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"%s\" height=\"%s\" "
                 "viewBox=\"0 0 %s %s\" font-family=\"sans-serif\">\n",
                 fixed(WIDTH).c_str(), fixed(height).c_str(), fixed(WIDTH).c_str(), fixed(height).c_str());
    std::fprintf(f, "<rect x=\"0\" y=\"0\" width=\"%s\" height=\"%s\" fill=\"#ffffff\"/>\n", fixed(WIDTH).c_str(),
                 fixed(height).c_str());
    for (int32_t t = 0; t < report.model.T; ++t) {
        std::fprintf(f, "<g id=\"panel%d\">\n", t + 1);
        draw_panel(f, report, t);
        std::fprintf(f, "</g>\n");
    }
    std::fprintf(f, "</svg>\n");
}

int write_share_plot(const region_report& report, FILE* log) {
    if (report.model.total_groups <= 1) {
        std::printf("Note: plot needs by= or bywindow=; no plot written\n");
        if (log) std::fprintf(log, "Note: plot needs by= or bywindow=; no plot written\n");
        return 0;
    }
    const std::string name = gvar_stem(report.model, report.ctx, report.names) + ".svg";
    file_ptr file = open_output(report.names, name);
    if (!file) {
        std::printf("! Problem opening file (%s) for writing\n", name.c_str());
        return ERR_OUTPUT_FAILED;
    }
    draw_share_plot(file.get(), report);
    if (!close_output(file, name)) return ERR_OUTPUT_FAILED;
    std::printf("The plot was written to file %s\n", name.c_str());
    if (log) std::fprintf(log, "The plot was written to file %s\n", name.c_str());
    return 0;
}

}  // namespace tavo
