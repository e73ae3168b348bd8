// gen_samples: writes a large run for the tavosum benchmark.
//
//   gen_samples <outdir> [megabytes=1000] [parameters=2000] [max_levels=50000]
//
// Writes into <outdir>: bench.tavo (job file), bench.lab (one label line per
// parameter), bench.out (saved cycles until the file holds at least the given
// number of megabytes) and bench.info (facts the benchmark script reads: total
// levels, the largest parameter, cycles, sizes). The first parameter has
// max_levels levels; the others have between 1 and max_levels, most of them
// few (a skewed draw), as in a real model with many small terms and some long
// effect vectors. Every tenth parameter shares the labels of the one before it
// through a negative count. The output depends on the arguments only.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Rng {
    std::uint64_t state;
    std::uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1DULL;
    }
    double uniform() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
    // Cheap bell-shaped draw (sum of three uniforms, unit variance); enough for test data.
    double bell() { return (uniform() + uniform() + uniform() - 1.5) * 2.0; }
};

struct Parameter {
    std::string name;
    int levels = 1;
    std::string reference;  // label line whose labels this one shares, or empty
    double centre = 0;
    double spread = 1;
};

std::vector<Parameter> make_parameters(int count, int max_levels, Rng& rng) {
    std::vector<Parameter> pars(count);
    const double log_max = std::log(static_cast<double>(max_levels));
    for (int i = 0; i < count; ++i) {
        Parameter& p = pars[i];
        const double u = rng.uniform();
        p.levels = i == 0 ? max_levels : static_cast<int>(std::lround(std::exp(log_max * u * u * u)));
        char name[48];
        if (i % 10 == 9 && pars[i - 1].levels > 1) {
            p.reference = pars[i - 1].name;
            p.levels = pars[i - 1].levels;
            p.name = "fit." + p.reference;
        } else {
            std::snprintf(name, sizeof name, "%s.g%02d.p%04d", p.levels == 1 ? "var" : "eff", i / 100, i);
            p.name = name;
        }
        const double scale = std::pow(10.0, static_cast<int>(rng.uniform() * 6) - 3);
        p.centre = scale * rng.bell();
        p.spread = scale * (0.05 + rng.uniform());
    }
    return pars;
}

// Buffered writer with one big buffer: keeps the generator fast for gigabyte files.
struct Writer {
    std::FILE* file = nullptr;
    std::string buffer;
    unsigned long long written = 0;
    bool ok = true;

    void flush() {
        if (!buffer.empty() && std::fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size()) ok = false;
        written += buffer.size();
        buffer.clear();
    }
    void put(const std::string& text) {
        buffer += text;
        if (buffer.size() > (8u << 20)) flush();
    }
    void put_value(double value) {
        char text[40];
        text[0] = ' ';
        const auto result = std::to_chars(text + 1, text + sizeof text, value, std::chars_format::general, 6);
        buffer.append(text, result.ptr);
    }
    bool close() {
        flush();
        return std::fclose(file) == 0 && ok;
    }
};

bool open_writer(Writer& w, const std::string& path) {
    w.file = std::fopen(path.c_str(), "wb");
    if (!w.file) std::fprintf(stderr, "gen_samples: cannot write %s\n", path.c_str());
    w.buffer.reserve(9u << 20);
    return w.file != nullptr;
}

bool write_labels(const std::string& path, const std::vector<Parameter>& pars) {
    Writer w;
    if (!open_writer(w, path)) return false;
    for (const Parameter& p : pars) {
        if (!p.reference.empty()) {
            w.put(p.name + " -" + std::to_string(p.levels) + " " + p.reference + "\n");
            continue;
        }
        w.put(p.name + " " + std::to_string(p.levels));
        if (p.levels == 1) w.put(" all");
        else
            for (int j = 1; j <= p.levels; ++j) w.put(" L" + std::to_string(j));
        w.put("\n");
    }
    return w.close();
}

bool write_samples(const std::string& path, const std::vector<Parameter>& pars, unsigned long long target,
                   Rng& rng, int& cycles) {
    Writer w;
    if (!open_writer(w, path)) return false;
    cycles = 0;
    while (cycles == 0 || w.written + w.buffer.size() < target) {
        ++cycles;
        const std::string head = std::to_string(10 * cycles) + " ";
        for (const Parameter& p : pars) {
            w.put(head + p.name);
            for (int j = 0; j < p.levels; ++j) w.put_value(p.centre + p.spread * rng.bell());
            w.buffer += '\n';
        }
        if (!w.ok) break;
    }
    return w.close();
}

bool write_text(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "gen_samples: cannot write %s\n", path.c_str());
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && written;
}

std::string info_text(const std::vector<Parameter>& pars, int cycles) {
    long long total = 0;
    for (const Parameter& p : pars) total += p.levels;
    return "parameters " + std::to_string(pars.size()) + "\nlevels_total " + std::to_string(total) +
           "\nlargest " + pars[0].name + " " + std::to_string(pars[0].levels) + "\ncycles " +
           std::to_string(cycles) + "\n";
}

long positive_argument(int argc, char** argv, int index, long fallback) {
    if (argc <= index) return fallback;
    const long value = std::strtol(argv[index], nullptr, 10);
    return value > 0 ? value : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const long megabytes = positive_argument(argc, argv, 2, 1000);
    const long count = positive_argument(argc, argv, 3, 2000);
    const long max_levels = positive_argument(argc, argv, 4, 50000);
    if (argc < 2 || argc > 5 || megabytes < 0 || count < 0 || max_levels < 0 || max_levels > 100000000) {
        std::fprintf(stderr, "usage: gen_samples <outdir> [megabytes=1000] [parameters=2000] [max_levels=50000]\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    Rng rng{0x62656e6368746176ULL};
    const std::vector<Parameter> pars = make_parameters(static_cast<int>(count), static_cast<int>(max_levels), rng);
    int cycles = 0;
    const bool ok =
        write_text(dir + "bench.tavo",
                   "# Benchmark job: many parameters, long effect vectors.\n$path=./\n$path_out=\n\nmodel\n"
                   "  y ~ many terms\n\nchain\n  length=100000\n") &&
        write_labels(dir + "bench.lab", pars) &&
        write_samples(dir + "bench.out", pars, static_cast<unsigned long long>(megabytes) * 1000000ULL, rng, cycles) &&
        write_text(dir + "bench.info", info_text(pars, cycles));
    return ok ? 0 : 1;
}
