// gen_genomic: writes a complete synthetic genomic run for the cycle-computation
// benchmark, or checks one that was written.
//
//   gen_genomic DIR WORKLOAD [key=value ...]     write the run into DIR
//   gen_genomic --check DIR                       check the run in DIR
//
// WORKLOAD is W1, W1d, W2, W3, W4 (the reference workloads) or custom; the keys
// change its sizes: n= individuals, m= markers, c= cycles, t= terms, dom=0|1,
// broad=0|1, levels= chromosomes, window= bywindow width (0 none), by=0|1,
// missing= and unused= (per mille of genotypes / markers), seed=.
//
// DIR receives the files of a finished analysis run, ready for
// `tavogen run.tavo geno [bywindow=W] [by=chrom] [broad]`:
//   run.tavo           the job: data set animals (key id, genotype block geno[]
//                      in the 0/1/2 coding) and the marker map named map (key geno)
//   geno.txt           one line per individual: id and one genotype per marker
//   markers.txt        the marker map as declared (geno chrom pos)
//   markers.txt.anno   the annotated map the run wrote: geno chrom pos alleles
//                      freq1 nrmiss used
//   run.mod            the model description: additive (kind 5) and dominance
//                      (kind 6) terms on geno, and a few other parameters
//   run.out, run.lab   the saved samples, per cycle one line per parameter
//   run.info           the sizes and the tavogen options, read by bench_genomic.sh
// The values come from genomic_workload.h, which literal_kernel shares.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "genomic_workload.h"

using namespace tavo_bench;

namespace {

// ------------------------------------------------------------------ writing

struct out_file {
    std::FILE* f = nullptr;
    std::string path;
    int64_t bytes = 0;
    explicit out_file(const std::string& p) : path(p) {
        f = std::fopen(p.c_str(), "wb");
        if (!f) {
            std::fprintf(stderr, "gen_genomic: cannot write %s: %s\n", p.c_str(), std::strerror(errno));
            std::exit(1);
        }
    }
    void put(const std::string& text) { put(text.data(), text.size()); }
    void put(const char* data, size_t size) {
        if (std::fwrite(data, 1, size, f) != size) fail();
        bytes += static_cast<int64_t>(size);
    }
    void fail() const {
        std::fprintf(stderr, "gen_genomic: writing %s failed\n", path.c_str());
        std::exit(1);
    }
    ~out_file() {
        if (std::fclose(f) != 0) fail();
    }
};

// Genotype file; returns the number of missing genotypes per marker.
std::vector<int64_t> write_genotypes(const workload& w, const std::string& dir, int64_t& bytes) {
    const uint64_t geno_seed = stream_seed(w, s_geno);
    const uint32_t missing_below = missing_threshold(w);
    std::vector<genotype_thresholds> t(static_cast<size_t>(w.M));
    for (int32_t m = 0; m < w.M; ++m) t[m] = thresholds(freq1(w, m));
    std::vector<int64_t> missing(static_cast<size_t>(w.M), 0);
    static const char* const tokens[] = {" NA", " 0", " 1", " 2"};
    static const size_t lengths[] = {3, 2, 2, 2};
    out_file out(dir + "/geno.txt");
    std::string line;
    line.reserve(static_cast<size_t>(w.M) * 3 + 32);
    for (int64_t i = 0; i < w.N; ++i) {
        line = "id";
        line += std::to_string(i + 1);
        for (int32_t m = 0; m < w.M; ++m) {
            const int g = genotype(w, geno_seed, t[m], missing_below, i, m);
            if (g < 0) ++missing[m];
            line.append(tokens[g + 1], lengths[g + 1]);
        }
        line += '\n';
        out.put(line);
    }
    bytes = out.bytes;
    return missing;
}

void write_maps(const workload& w, const std::string& dir, const std::vector<int64_t>& missing) {
    out_file plain(dir + "/markers.txt");
    out_file anno(dir + "/markers.txt.anno");
    plain.put("geno chrom pos\n");
    anno.put("geno chrom pos alleles freq1 nrmiss used\n");
    std::string a;
    std::string p;
    for (int32_t m = 0; m < w.M; ++m) {
        const int32_t level = marker_level(w, m);
        // Positions restart on every chromosome, 5 kb apart.
        const int64_t first = (static_cast<int64_t>(level) * w.M + w.levels - 1) / w.levels;
        p.clear();
        p += marker_name(m);
        p += ' ';
        p += level_name(w, level);
        p += ' ';
        p += std::to_string(5000 * (m - first + 1));
        a = p;
        p += '\n';
        plain.put(p);
        a += ' ';
        a += alleles(w, m);
        a += ' ';
        a += freq1_text(w, m);
        a += ' ';
        a += std::to_string(missing[m]);
        a += ' ';
        a += std::to_string(used_flag(w, m));
        a += '\n';
        anno.put(a);
    }
}

int32_t used_count(const workload& w) {
    int32_t U = 0;
    for (int32_t m = 0; m < w.M; ++m) U += used_flag(w, m) == 1;
    return U;
}

std::string term_list(const workload& w) {
    std::string terms;
    for (int32_t t = 0; t < w.T; ++t) {
        terms += " + " + additive_name(t);
        if (w.dominance) terms += " + " + dominance_name(t);
    }
    return terms;
}

void write_job(const workload& w, const std::string& dir) {
    out_file job(dir + "/run.tavo");
    char head[512];
    std::snprintf(head, sizeof head,
                  "# Benchmark run %s: %lld individuals, %d markers on %d chromosomes, %d saved cycles,\n"
                  "# %d additive term(s)%s on the genotype block geno.\n",
                  w.name.c_str(), static_cast<long long>(w.N), w.M, w.levels, w.C, w.T,
                  w.dominance ? " with dominance" : "");
    job.put(head);
    job.put("data id animals\n"
            "  file=geno.txt\n"
            "  id geno[] !genot012\n"
            "\n"
            "data geno map\n"
            "  file=markers.txt -header\n"
            "\n"
            "model\n"
            "  yield ~ mean" +
            term_list(w) +
            "\n"
            "  var.e ~ invchi2(4, 18)\n"
            "\n"
            "chain\n"
            "  length=" +
            std::to_string(cycle_number(w.C - 1)) + " burnin=1000 save=10 seed=" + std::to_string(w.seed) + "\n");
}

void write_model(const workload& w, const std::string& dir, int32_t U) {
    out_file mod(dir + "/run.mod");
    mod.put("mean 1 1 0 0 intercept\n");
    for (int32_t t = 0; t < w.T; ++t) {
        const std::string a = "a" + std::to_string(t + 1);
        mod.put(additive_name(t) + " 5 " + std::to_string(U) + " 1 0 " + a + "$geno\n");
        if (w.dominance) mod.put(dominance_name(t) + " 6 " + std::to_string(U) + " 1 0 " + a + "$geno\n");
    }
    mod.put("var.e 2 1 0 0 residual\n");
    for (int32_t t = 0; t < w.T; ++t) mod.put("var.geno.a" + std::to_string(t + 1) + " 4 1 0 0 variance\n");
}

void write_labels(const workload& w, const std::string& dir, int32_t U) {
    out_file lab(dir + "/run.lab");
    lab.put("mean 1 intercept\n");
    std::string markers;
    for (int32_t m = 0; m < w.M; ++m)
        if (used_flag(w, m) == 1) markers += " " + marker_name(m);
    for (int32_t t = 0; t < w.T; ++t) {
        lab.put(additive_name(t) + " " + std::to_string(U) + markers + "\n");
        if (w.dominance) lab.put(dominance_name(t) + " -" + std::to_string(U) + " " + additive_name(t) + "\n");
    }
    lab.put("var.e 1 residual\n");
    for (int32_t t = 0; t < w.T; ++t) lab.put("var.geno.a" + std::to_string(t + 1) + " 1 a" + std::to_string(t + 1) + "\n");
}

// A scalar parameter's value in cycle c, "%.6g".
std::string scalar(const workload& w, int32_t c, int32_t which, double centre, double spread) {
    const double u = unit(draw(stream_seed(w, s_other), static_cast<uint64_t>(c) * 64 + static_cast<uint64_t>(which)));
    char text[32];
    std::snprintf(text, sizeof text, " %.6g\n", centre + spread * (u - 0.5));
    return text;
}

int64_t write_samples(const workload& w, const std::string& dir, int32_t U) {
    out_file out(dir + "/run.out");
    std::string line;
    line.reserve(static_cast<size_t>(U) * 14 + 64);
    char value[32];
    for (int32_t c = 0; c < w.C; ++c) {
        const std::string cycle = std::to_string(cycle_number(c)) + " ";
        out.put(cycle + "mean" + scalar(w, c, 0, 31.5, 0.4));
        for (int32_t t = 0; t < w.T; ++t)
            for (int k = 0; k < (w.dominance ? 2 : 1); ++k) {
                line = cycle;
                line += k == 0 ? additive_name(t) : dominance_name(t);
                for (int32_t e = 0; e < U; ++e) {
                    value[0] = ' ';
                    const int length = effect_text(w, k == 1, c, t, e, U, value + 1);
                    line.append(value, static_cast<size_t>(length) + 1);
                }
                line += '\n';
                out.put(line);
            }
        out.put(cycle + "var.e" + scalar(w, c, 1, 17.6, 1.2));
        for (int32_t t = 0; t < w.T; ++t)
            out.put(cycle + "var.geno.a" + std::to_string(t + 1) + scalar(w, c, 2 + t, 2.3, 0.3));
    }
    return out.bytes;
}

void write_info(const workload& w, const std::string& dir, int32_t U, int64_t geno_bytes, int64_t out_bytes) {
    out_file info(dir + "/run.info");
    std::string options;
    for (const std::string& o : tavogen_options(w)) options += " " + o;
    char text[1024];
    std::snprintf(text, sizeof text,
                  "workload %s\nindividuals %lld\nmarkers %d\nused %d\ncycles %d\nterms %d\ndominance %d\n"
                  "broad %d\nlevels %d\nwindow %d\nby %d\nmissing_per_mille %d\nunused_per_mille %d\nseed %llu\n"
                  "genotype_bytes %lld\nsample_bytes %lld\noptions%s\n",
                  w.name.c_str(), static_cast<long long>(w.N), w.M, U, w.C, w.T, w.dominance ? 1 : 0,
                  w.broad ? 1 : 0, w.levels, w.window, w.by ? 1 : 0, w.missing_per_mille, w.unused_per_mille,
                  static_cast<unsigned long long>(w.seed), static_cast<long long>(geno_bytes),
                  static_cast<long long>(out_bytes), options.c_str());
    info.put(text);
}

// ----------------------------------------------------------------- arguments

bool set_key(workload& w, const std::string& arg) {
    const size_t eq = arg.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = arg.substr(0, eq);
    char* end = nullptr;
    const long long v = std::strtoll(arg.c_str() + eq + 1, &end, 10);
    if (end == arg.c_str() + eq + 1 || *end != '\0' || v < 0) return false;
    if (key == "n") w.N = v;
    else if (key == "m") w.M = static_cast<int32_t>(v);
    else if (key == "c") w.C = static_cast<int32_t>(v);
    else if (key == "t") w.T = static_cast<int32_t>(v);
    else if (key == "dom") w.dominance = v != 0;
    else if (key == "broad") w.broad = v != 0;
    else if (key == "levels") w.levels = static_cast<int32_t>(v);
    else if (key == "window") w.window = static_cast<int32_t>(v);
    else if (key == "by") w.by = v != 0;
    else if (key == "missing") w.missing_per_mille = static_cast<int32_t>(v);
    else if (key == "unused") w.unused_per_mille = static_cast<int32_t>(v);
    else if (key == "seed") w.seed = static_cast<uint64_t>(v);
    else return false;
    return true;
}

bool sizes_sound(const workload& w) {
    return w.N >= 2 && w.M >= 1 && w.C >= 1 && w.T >= 1 && w.levels >= 1 && w.levels <= w.M &&
           (w.window == 0 || w.window % 2 == 1) && w.missing_per_mille <= 1000 && w.unused_per_mille < 1000;
}

// -------------------------------------------------------------------- check

struct checker {
    int problems = 0;
    void fail(const std::string& what) {
        std::printf("  problem: %s\n", what.c_str());
        ++problems;
    }
};

std::map<std::string, std::string> read_info(const std::string& dir) {
    std::map<std::string, std::string> info;
    std::ifstream in(dir + "/run.info");
    std::string line;
    while (std::getline(in, line)) {
        const size_t space = line.find(' ');
        if (space != std::string::npos) info[line.substr(0, space)] = line.substr(space + 1);
    }
    return info;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    size_t k = 0;
    while (k < line.size()) {
        while (k < line.size() && (line[k] == ' ' || line[k] == '\t' || line[k] == '\r')) ++k;
        const size_t start = k;
        while (k < line.size() && line[k] != ' ' && line[k] != '\t' && line[k] != '\r') ++k;
        if (k > start) out.push_back(line.substr(start, k - start));
    }
    return out;
}

int64_t count_words(const std::string& line) {
    int64_t count = 0;
    bool in_word = false;
    for (char ch : line) {
        const bool blank = ch == ' ' || ch == '\t' || ch == '\r';
        if (!blank && !in_word) ++count;
        in_word = !blank;
    }
    return count;
}

// The annotated map: the used-marker count and the marker count.
void check_map(const std::string& dir, checker& ck, int64_t& markers, int64_t& used) {
    std::ifstream in(dir + "/markers.txt.anno");
    std::string line;
    if (!std::getline(in, line) || words(line) != std::vector<std::string>{"geno", "chrom", "pos", "alleles",
                                                                           "freq1", "nrmiss", "used"})
        ck.fail("markers.txt.anno: header is not 'geno chrom pos alleles freq1 nrmiss used'");
    markers = used = 0;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = words(line);
        ++markers;
        if (f.size() != 7) {
            ck.fail("markers.txt.anno line " + std::to_string(markers + 1) + ": not 7 fields");
            continue;
        }
        const double p = std::atof(f[4].c_str());
        if (!(p > 0.05 && p < 0.95)) ck.fail("freq1 outside (0.05, 0.95): " + f[4]);
        if (f[3].size() != 2 || f[3][0] == f[3][1]) ck.fail("alleles not a pair of two: " + f[3]);
        if (f[6] == "1" || f[6] == "-1") ++used;
    }
}

// The model description: every term line on geno has the length U.
void check_model(const std::string& dir, int64_t U, checker& ck, std::vector<std::string>& names, int64_t& add,
                 int64_t& dom) {
    std::ifstream in(dir + "/run.mod");
    std::string line;
    add = dom = 0;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = words(line);
        if (f.size() != 6) {
            ck.fail("run.mod: line with " + std::to_string(f.size()) + " items: " + line);
            continue;
        }
        const size_t dollar = f[5].find('$');
        if (dollar == std::string::npos || f[5].substr(dollar + 1) != "geno") continue;
        if (f[1] != "5" && f[1] != "6") continue;
        (f[1] == "5" ? add : dom) += 1;
        names.push_back(f[0]);
        if (std::atoll(f[2].c_str()) != U)
            ck.fail("run.mod: " + f[0] + " has length " + f[2] + ", used markers " + std::to_string(U));
    }
    if (add == 0) ck.fail("run.mod: no additive term on geno");
    if (dom != 0 && dom != add) ck.fail("run.mod: additive and dominance counts differ");
}

// The samples: every cycle holds every term name once, with U values.
void check_samples(const std::string& dir, int64_t U, const std::vector<std::string>& names, checker& ck,
                   int64_t& cycles) {
    std::ifstream in(dir + "/run.out");
    std::string line;
    std::string current;
    std::map<std::string, int> seen;
    cycles = 0;
    auto close_cycle = [&]() {
        if (current.empty()) return;
        ++cycles;
        for (const std::string& n : names)
            if (seen[n] != 1)
                ck.fail("run.out cycle " + current + ": " + n + " found " + std::to_string(seen[n]) + " times");
        seen.clear();
    };
    while (std::getline(in, line)) {
        const size_t s1 = line.find(' ');
        const size_t s2 = s1 == std::string::npos ? s1 : line.find(' ', s1 + 1);
        if (s1 == std::string::npos) {
            ck.fail("run.out: line without a name");
            continue;
        }
        const std::string cycle = line.substr(0, s1);
        const std::string name = line.substr(s1 + 1, s2 == std::string::npos ? std::string::npos : s2 - s1 - 1);
        if (cycle != current) {
            close_cycle();
            current = cycle;
        }
        bool term = false;
        for (const std::string& n : names) term = term || n == name;
        if (!term) continue;
        ++seen[name];
        const int64_t values = s2 == std::string::npos ? 0 : count_words(line.substr(s2));
        if (values != U)
            ck.fail("run.out cycle " + cycle + ": " + name + " has " + std::to_string(values) + " values, U = " +
                    std::to_string(U));
    }
    close_cycle();
}

// The label lines of the terms: additive U labels, dominance a reference.
void check_labels(const std::string& dir, int64_t U, const std::vector<std::string>& names, checker& ck) {
    std::ifstream in(dir + "/run.lab");
    std::string line;
    std::map<std::string, bool> found;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = words(line);
        if (f.size() < 2) continue;
        found[f[0]] = true;
        for (const std::string& n : names)
            if (n == f[0]) {
                const long long count = std::atoll(f[1].c_str());
                const bool sound = count == U ? static_cast<int64_t>(f.size()) == U + 2
                                              : (count == -U && f.size() == 3);
                if (!sound) ck.fail("run.lab: label line of " + n + " does not hold U labels or a reference");
            }
    }
    for (const std::string& n : names)
        if (!found[n]) ck.fail("run.lab: no label line for " + n);
}

// The genotype file: N lines of an identifier and M genotypes.
void check_genotypes(const std::string& dir, int64_t N, int64_t M, checker& ck) {
    std::ifstream in(dir + "/geno.txt");
    std::string line;
    int64_t lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        if (count_words(line) != M + 1) {
            ck.fail("geno.txt line " + std::to_string(lines) + ": not " + std::to_string(M + 1) + " tokens");
            break;
        }
    }
    if (lines != N) ck.fail("geno.txt: " + std::to_string(lines) + " lines, individuals " + std::to_string(N));
}

int check_run(const std::string& dir) {
    checker ck;
    std::map<std::string, std::string> info = read_info(dir);
    if (info.empty()) {
        std::printf("gen_genomic: no run.info in %s\n", dir.c_str());
        return 1;
    }
    int64_t markers = 0;
    int64_t U = 0;
    check_map(dir, ck, markers, U);
    if (markers != std::atoll(info["markers"].c_str())) ck.fail("marker count differs from run.info");
    if (U != std::atoll(info["used"].c_str())) ck.fail("used-marker count differs from run.info");
    std::vector<std::string> names;
    int64_t add = 0;
    int64_t dom = 0;
    check_model(dir, U, ck, names, add, dom);
    if (add != std::atoll(info["terms"].c_str())) ck.fail("term count differs from run.info");
    int64_t cycles = 0;
    check_samples(dir, U, names, ck, cycles);
    if (cycles != std::atoll(info["cycles"].c_str())) ck.fail("cycle count differs from run.info");
    check_labels(dir, U, names, ck);
    check_genotypes(dir, std::atoll(info["individuals"].c_str()), markers, ck);
    std::printf("gen_genomic --check %s: %lld markers, U = %lld, %lld additive and %lld dominance term(s), "
                "%lld cycles: %s\n",
                dir.c_str(), static_cast<long long>(markers), static_cast<long long>(U), static_cast<long long>(add),
                static_cast<long long>(dom), static_cast<long long>(cycles),
                ck.problems == 0 ? "consistent" : "INCONSISTENT");
    return ck.problems == 0 ? 0 : 1;
}

int usage() {
    std::fprintf(stderr, "usage: gen_genomic DIR W1|W1d|W2|W3|W4|custom [n= m= c= t= dom= broad= levels= window= "
                         "by= missing= unused= seed=]\n"
                         "       gen_genomic --check DIR\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0) return check_run(argv[2]);
    if (argc < 3) return usage();
    const std::string dir = argv[1];
    workload w;
    if (!preset(argv[2], w) && std::strcmp(argv[2], "custom") != 0) return usage();
    for (int k = 3; k < argc; ++k)
        if (!set_key(w, argv[k])) {
            std::fprintf(stderr, "gen_genomic: bad argument %s\n", argv[k]);
            return usage();
        }
    if (!sizes_sound(w)) {
        std::fprintf(stderr, "gen_genomic: need n >= 2, m >= 1, c >= 1, t >= 1, 1 <= levels <= m, an odd window "
                             "or 0, missing <= 1000, unused < 1000\n");
        return 2;
    }
    const int32_t U = used_count(w);
    int64_t geno_bytes = 0;
    const std::vector<int64_t> missing = write_genotypes(w, dir, geno_bytes);
    write_maps(w, dir, missing);
    write_job(w, dir);
    write_model(w, dir, U);
    write_labels(w, dir, U);
    const int64_t out_bytes = write_samples(w, dir, U);
    write_info(w, dir, U, geno_bytes, out_bytes);
    std::printf("gen_genomic %s: %lld individuals x %d markers (%d used, %d chromosomes), %d cycles, %d term(s)%s; "
                "geno.txt %lld bytes, run.out %lld bytes in %s\n",
                w.name.c_str(), static_cast<long long>(w.N), w.M, U, w.levels, w.C, w.T,
                w.dominance ? " + dominance" : "", static_cast<long long>(geno_bytes),
                static_cast<long long>(out_bytes), dir.c_str());
    return 0;
}
