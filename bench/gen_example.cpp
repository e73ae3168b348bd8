// gen_example: writes the shipped example runs into the folder given as its
// only argument. Everything comes from fixed seeds, so the files are the same
// on every run.
//
// demo (demo.tavo, demo.out, demo.lab, data file animals.txt): 120 cows in 5
// herds with a yield record, an overall mean, herd effects with their fitted
// herd means, 200 marker effects and three variances, saved every 100th cycle
// after a burn-in of 1000 cycles (50 saved cycles). Read by tavosum.
//
// geno (geno.tavo, geno.mod, geno.out, geno.lab; data files cows.txt,
// genotypes.txt, markers.txt and the annotated map markers.txt.anno that the
// analysis wrote): another 120 cows, genotyped for 200 markers on 3
// chromosomes in the 0/1/2 coding, with a bivariate model of milk yield and
// fat content that fits additive and dominance effects of the used markers
// for each trait, saved like demo. Read by tavogen (block field geno) and
// tavosum.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kAnimals = 120;
constexpr int kHerds = 5;
constexpr int kChromosomes = 5;
constexpr int kMarkersPerChromosome = 40;
constexpr int kMarkers = kChromosomes * kMarkersPerChromosome;
constexpr int kBurnIn = 1000;
constexpr int kThin = 100;
constexpr int kSaved = 50;

// Small fixed generator (xorshift64*): the same stream on every platform.
struct Rng {
    std::uint64_t state;
    std::uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1DULL;
    }
    // Uniform in (0, 1), never 0, so that its logarithm is finite.
    double uniform() { return (static_cast<double>(next() >> 11) + 0.5) / 9007199254740992.0; }
    double normal() {
        const double two_pi = 6.283185307179586;
        return std::sqrt(-2.0 * std::log(uniform())) * std::cos(two_pi * uniform());
    }
};

struct Truth {
    double mean = 31.5;
    double herd_effect[kHerds] = {-2.1, 0.4, 1.7, -0.6, 0.9};
    std::vector<double> marker_effect;
};

std::string herd_label(int herd) {
    char text[16];
    std::snprintf(text, sizeof text, "H%02d", herd + 1);
    return text;
}

std::vector<std::string> marker_names(Rng& rng) {
    std::vector<std::string> names;
    for (int c = 1; c <= kChromosomes; ++c) {
        long position = 0;
        for (int m = 0; m < kMarkersPerChromosome; ++m) {
            position += 1500000 + static_cast<long>(rng.uniform() * 2000000);
            names.push_back("chr" + std::to_string(c) + "_" + std::to_string(position));
        }
    }
    return names;
}

// Most markers have tiny effects, a few have large ones.
std::vector<double> marker_effects(Rng& rng) {
    std::vector<double> effects(kMarkers);
    for (double& e : effects) e = 0.03 * rng.normal();
    const int large[] = {17, 58, 59, 131, 177};
    for (int m : large) effects[m] = 0.6 * rng.normal();
    return effects;
}

bool write_text(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "gen_example: cannot write %s\n", path.c_str());
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && written;
}

void append_value(std::string& line, double value) {
    char text[32];
    std::snprintf(text, sizeof text, " %.6g", value);
    line += text;
}

std::string job_file() {
    return "# Demo job: yield of 120 cows in 5 herds, herd effects and 200 marker effects.\n"
           "# The run saved every 100th cycle after a burn-in of 1000 cycles (50 samples).\n"
           "$path=./\n"
           "$path_out=\n"
           "\n"
           "data id animals\n"
           "  file=animals.txt missing=NA\n"
           "  id herd parity yield\n"
           "\n"
           "model\n"
           "  yield ~ mean + herd + add.geno\n"
           "  var.e  ~ invchi2(4, 18)\n"
           "  var.herd ~ invchi2(4, 2)\n"
           "  var.geno ~ invchi2(4, 0.004)\n"
           "\n"
           "chain\n"
           "  length=6000 burnin=1000 save=100 seed=20240611\n";
}

std::string animals_file(Rng& rng, const Truth& truth) {
    std::string text;
    char line[96];
    for (int a = 0; a < kAnimals; ++a) {
        const int herd = static_cast<int>(rng.uniform() * kHerds);
        const int parity = 1 + static_cast<int>(rng.uniform() * 4);
        const double yield = truth.mean + truth.herd_effect[herd] + 4.2 * rng.normal();
        if (a % 29 == 11)  // a few cows without a record
            std::snprintf(line, sizeof line, "A%04d %s %d NA\n", a + 1, herd_label(herd).c_str(), parity);
        else
            std::snprintf(line, sizeof line, "A%04d %s %d %.1f\n", a + 1, herd_label(herd).c_str(), parity, yield);
        text += line;
    }
    return text;
}

std::string label_file(const std::vector<std::string>& markers) {
    std::string text = "mean 1 intercept\nvar.e 1 residual\nherd 5";
    for (int h = 0; h < kHerds; ++h) {
        text += ' ';
        text += herd_label(h);
    }
    text += "\nfit.herd -5 herd\nvar.herd 1 herd\nadd.geno ";
    text += std::to_string(kMarkers);
    for (const std::string& m : markers) {
        text += ' ';
        text += m;
    }
    text += "\nvar.geno 1 geno\n";
    return text;
}

// One saved cycle: one line per parameter, in label file order.
void append_cycle(std::string& text, int cycle, Rng& rng, const Truth& truth) {
    const std::string head = std::to_string(cycle) + " ";
    const double mean = truth.mean + 0.45 * rng.normal();
    std::string line = head + "mean";
    append_value(line, mean);
    text += line + "\n";

    line = head + "var.e";
    append_value(line, 17.6 * std::exp(0.09 * rng.normal()));
    text += line + "\n";

    double herd[kHerds];
    line = head + "herd";
    for (int h = 0; h < kHerds; ++h) {
        herd[h] = truth.herd_effect[h] + 0.7 * rng.normal();
        append_value(line, herd[h]);
    }
    text += line + "\n";

    line = head + "fit.herd";
    for (int h = 0; h < kHerds; ++h) append_value(line, mean + herd[h]);
    text += line + "\n";

    line = head + "var.herd";
    append_value(line, 2.4 * std::exp(0.35 * rng.normal()));
    text += line + "\n";

    line = head + "add.geno";
    for (double effect : truth.marker_effect) append_value(line, effect + 0.025 * rng.normal());
    text += line + "\n";

    line = head + "var.geno";
    append_value(line, 0.0041 * std::exp(0.2 * rng.normal()));
    text += line + "\n";
}

// ------------------------------------------------------------ the genomic run

constexpr int kGenoChromosomeSizes[] = {70, 70, 60};  // markers per chromosome: 200
constexpr double kMissingGenotype = 0.01;
constexpr double kMinorAlleleMin = 0.05;  // the analysis left out markers below this

struct Marker {
    std::string name;
    int chromosome = 0;
    long position = 0;
    char allele1 = 'A';
    char allele2 = 'G';
    double freq1 = 0;  // observed frequency of the first allele
    int missing = 0;
    int used = 1;
};

// A cow's genotypes: copies of the second allele, -1 missing.
using GenotypeRow = std::vector<int>;

// True effects of the used markers, per trait (yield, fat) and kind.
struct GenoTruth {
    std::vector<double> add_yield, add_fat, dom_yield, dom_fat;
};

std::vector<Marker> geno_markers(Rng& rng) {
    static const char bases[] = "ACGT";
    std::vector<Marker> markers;
    for (int c = 0; c < static_cast<int>(std::size(kGenoChromosomeSizes)); ++c) {
        long position = 0;
        for (int m = 0; m < kGenoChromosomeSizes[c]; ++m) {
            Marker mk;
            position += 400000 + static_cast<long>(rng.uniform() * 1200000);
            mk.chromosome = c + 1;
            mk.position = position;
            mk.name = "chr" + std::to_string(c + 1) + "_" + std::to_string(position);
            const int first = static_cast<int>(rng.uniform() * 4);
            const int second = (first + 1 + static_cast<int>(rng.uniform() * 3)) % 4;
            mk.allele1 = bases[first];
            mk.allele2 = bases[second];
            markers.push_back(mk);
        }
    }
    return markers;
}

// Genotypes drawn from each marker's true frequency; a few markers are
// nearly fixed, and the analysis left those out (used 0).
std::vector<GenotypeRow> geno_genotypes(Rng& rng, std::vector<Marker>& markers) {
    std::vector<double> second_freq(markers.size());
    for (double& q : second_freq) q = 0.06 + 0.88 * rng.uniform();
    for (size_t m : {23u, 96u, 151u, 187u}) second_freq[m] = 0.012;
    std::vector<GenotypeRow> rows(kAnimals, GenotypeRow(markers.size()));
    for (GenotypeRow& row : rows)
        for (size_t m = 0; m < markers.size(); ++m) {
            if (rng.uniform() < kMissingGenotype) {
                row[m] = -1;
                continue;
            }
            row[m] = (rng.uniform() < second_freq[m]) + (rng.uniform() < second_freq[m]);
        }
    for (size_t m = 0; m < markers.size(); ++m) {
        int copies = 0, typed = 0;
        for (const GenotypeRow& row : rows) {
            if (row[m] < 0) continue;
            copies += row[m];
            ++typed;
        }
        Marker& mk = markers[m];
        mk.missing = kAnimals - typed;
        mk.freq1 = std::round(10000.0 * (1.0 - copies / (2.0 * typed))) / 10000.0;
        mk.used = std::min(mk.freq1, 1.0 - mk.freq1) >= kMinorAlleleMin ? 1 : 0;
    }
    return rows;
}

int used_count(const std::vector<Marker>& markers) {
    int used = 0;
    for (const Marker& mk : markers) used += mk.used;
    return used;
}

// Yield effects: most tiny, a few large; fat content goes the other way
// (a negative genetic correlation), with effects of its own.
GenoTruth geno_truth(Rng& rng, int used) {
    GenoTruth t;
    for (int e = 0; e < used; ++e) {
        const double yield = 0.15 * rng.normal();
        t.add_yield.push_back(yield);
        t.add_fat.push_back(-0.012 * yield + 0.004 * rng.normal());
        t.dom_yield.push_back(0.06 * rng.normal());
        t.dom_fat.push_back(0.002 * rng.normal());
    }
    for (int e : {12, 40, 101, 170}) {
        t.add_yield[e] = 1.6 * rng.normal();
        t.add_fat[e] = -0.012 * t.add_yield[e] + 0.01 * rng.normal();
    }
    t.dom_yield[40] = 0.9;
    t.dom_fat[140] = 0.03;
    return t;
}

std::string geno_job_file() {
    return "# Genomic demo job: milk yield and fat content of 120 cows in 5 herds, a bivariate\n"
           "# model with additive and dominance effects of the markers in geno (0/1/2 coding,\n"
           "# 200 markers on 3 chromosomes; the analysis left out markers with a minor allele\n"
           "# frequency below 0.05). Saved every 100th cycle after a burn-in of 1000 (50 samples).\n"
           "\n"
           "data id cows\n"
           "  file=cows.txt missing=NA\n"
           "  id herd yield fat\n"
           "\n"
           "data id genotypes\n"
           "  file=genotypes.txt\n"
           "  id geno[] !genot012\n"
           "\n"
           "data geno map\n"
           "  file=markers.txt -header\n"
           "\n"
           "model\n"
           "  yield fat ~ mean + herd + add.geno + dom.geno\n"
           "  var.e ~ invwishart(4, 18 0 0.05)\n"
           "  var.add ~ invwishart(4, 4 0 0.01)\n"
           "  var.dom ~ invwishart(4, 1 0 0.002)\n"
           "\n"
           "chain\n"
           "  length=6000 burnin=1000 save=100 seed=20240612\n";
}

std::string cow_id(int a) {
    char text[16];
    std::snprintf(text, sizeof text, "C%04d", a + 1);
    return text;
}

std::string genotypes_file(const std::vector<GenotypeRow>& rows) {
    std::string text;
    for (size_t a = 0; a < rows.size(); ++a) {
        text += cow_id(static_cast<int>(a));
        static const char* const tokens[] = {" NA", " 0", " 1", " 2"};
        for (int copies : rows[a]) text += tokens[copies + 1];
        text += '\n';
    }
    return text;
}

std::string map_file(const std::vector<Marker>& markers, bool annotated) {
    std::string text = annotated ? "geno chrom pos alleles freq1 nrmiss used\n" : "geno chrom pos\n";
    char line[128];
    for (const Marker& mk : markers) {
        std::snprintf(line, sizeof line, "%s chr%d %ld", mk.name.c_str(), mk.chromosome, mk.position);
        text += line;
        if (annotated) {
            std::snprintf(line, sizeof line, " %c%c %.4f %d %d", mk.allele1, mk.allele2, mk.freq1, mk.missing,
                          mk.used);
            text += line;
        }
        text += '\n';
    }
    return text;
}

// Additive and dominance covariates of a genotype, centred as the analysis did.
double additive_covariate(int copies, double p) { return copies < 0 ? 0.0 : copies - 2.0 * (1.0 - p); }
double dominance_covariate(int copies, double p) {
    return copies < 0 ? 0.0 : (copies == 1 ? 1.0 : 0.0) - 2.0 * p * (1.0 - p);
}

std::string cows_file(Rng& rng, const std::vector<Marker>& markers, const std::vector<GenotypeRow>& rows,
                      const GenoTruth& t) {
    const double herd_yield[kHerds] = {-1.8, 0.6, 1.2, -0.4, 0.3};
    std::string text;
    char line[96];
    for (int a = 0; a < kAnimals; ++a) {
        double g_yield = 0, g_fat = 0;
        int e = 0;
        for (size_t m = 0; m < markers.size(); ++m) {
            if (!markers[m].used) continue;
            const double x = additive_covariate(rows[a][m], markers[m].freq1);
            const double d = dominance_covariate(rows[a][m], markers[m].freq1);
            g_yield += x * t.add_yield[e] + d * t.dom_yield[e];
            g_fat += x * t.add_fat[e] + d * t.dom_fat[e];
            ++e;
        }
        const int herd = static_cast<int>(rng.uniform() * kHerds);
        const double yield = 29.0 + herd_yield[herd] + g_yield + 3.8 * rng.normal();
        const double fat = 4.1 - 0.01 * herd_yield[herd] + g_fat + 0.25 * rng.normal();
        if (a % 37 == 20)  // a few cows without a fat record
            std::snprintf(line, sizeof line, "%s %s %.1f NA\n", cow_id(a).c_str(), herd_label(herd).c_str(), yield);
        else
            std::snprintf(line, sizeof line, "%s %s %.1f %.2f\n", cow_id(a).c_str(), herd_label(herd).c_str(),
                          yield, fat);
        text += line;
    }
    return text;
}

// Model description: one line per parameter vector (name, kind, length, two
// further numbers, term); kind 5 additive, 6 dominance marker effects.
std::string geno_model_file(int used) {
    std::string text =
        "mean.yield 1 1 0 0 yield$intercept\n"
        "mean.fat 1 1 0 0 fat$intercept\n"
        "herd.yield 2 5 0 0 yield$herd\n"
        "herd.fat 2 5 0 0 fat$herd\n";
    char line[96];
    for (const char* trait : {"yield", "fat"}) {
        std::snprintf(line, sizeof line, "add.geno.%s 5 %d 1 0 %s$geno\n", trait, used, trait);
        text += line;
        std::snprintf(line, sizeof line, "dom.geno.%s 6 %d 1 0 %s$geno\n", trait, used, trait);
        text += line;
    }
    return text +
           "var.e 4 3 0 0 residual\n"
           "var.add 4 3 0 0 add.geno\n"
           "var.dom 4 3 0 0 dom.geno\n";
}

void add_word(std::string& text, const std::string& word) {
    text += ' ';
    text += word;
}

// The dominance and fat effects share the yield effects' marker labels.
std::string geno_label_file(const std::vector<Marker>& markers) {
    const std::string used = std::to_string(used_count(markers));
    std::string text = "mean.yield 1 intercept\nmean.fat 1 intercept\nherd.yield 5";
    for (int h = 0; h < kHerds; ++h) add_word(text, herd_label(h));
    text += "\nherd.fat -5 herd.yield\nadd.geno.yield";
    add_word(text, used);
    for (const Marker& mk : markers)
        if (mk.used) add_word(text, mk.name);
    text += '\n';
    for (const char* name : {"dom.geno.yield", "add.geno.fat", "dom.geno.fat"}) {
        text += name;
        add_word(text, "-" + used);
        text += " add.geno.yield\n";
    }
    for (const char* v : {"var.e", "var.add", "var.dom"}) {
        text += v;
        text += " 3 yield yield.fat fat\n";
    }
    return text;
}

void append_line(std::string& text, const std::string& head, const char* name, const std::vector<double>& values) {
    std::string line = head + name;
    for (double v : values) append_value(line, v);
    text += line + "\n";
}

std::vector<double> around(Rng& rng, const std::vector<double>& truth, double spread) {
    std::vector<double> values;
    for (double v : truth) values.push_back(v + spread * rng.normal());
    return values;
}

// One saved cycle of the genomic run, in model description order.
void append_geno_cycle(std::string& text, int cycle, Rng& rng, const GenoTruth& t) {
    const std::string head = std::to_string(cycle) + " ";
    append_line(text, head, "mean.yield", {29.1 + 0.4 * rng.normal()});
    append_line(text, head, "mean.fat", {4.1 + 0.03 * rng.normal()});
    append_line(text, head, "herd.yield", around(rng, {-1.8, 0.6, 1.2, -0.4, 0.3}, 0.6));
    append_line(text, head, "herd.fat", around(rng, {0.02, -0.01, -0.01, 0.0, 0.0}, 0.04));
    append_line(text, head, "add.geno.yield", around(rng, t.add_yield, 0.08));
    append_line(text, head, "dom.geno.yield", around(rng, t.dom_yield, 0.05));
    append_line(text, head, "add.geno.fat", around(rng, t.add_fat, 0.002));
    append_line(text, head, "dom.geno.fat", around(rng, t.dom_fat, 0.001));
    append_line(text, head, "var.e", {14.2 * std::exp(0.1 * rng.normal()), -0.05 + 0.02 * rng.normal(),
                                      0.061 * std::exp(0.1 * rng.normal())});
    append_line(text, head, "var.add", {4.3 * std::exp(0.25 * rng.normal()), -0.06 + 0.03 * rng.normal(),
                                        0.0072 * std::exp(0.25 * rng.normal())});
    append_line(text, head, "var.dom", {0.9 * std::exp(0.4 * rng.normal()), 0.002 * rng.normal(),
                                        0.0011 * std::exp(0.4 * rng.normal())});
}

bool write_geno_run(const std::string& dir) {
    Rng rng{0x7461766f67656e6fULL};
    std::vector<Marker> markers = geno_markers(rng);
    const std::vector<GenotypeRow> rows = geno_genotypes(rng, markers);
    const GenoTruth truth = geno_truth(rng, used_count(markers));
    const std::string cows = cows_file(rng, markers, rows, truth);
    std::string samples;
    for (int s = 1; s <= kSaved; ++s) append_geno_cycle(samples, kBurnIn + s * kThin, rng, truth);
    return write_text(dir + "geno.tavo", geno_job_file()) && write_text(dir + "cows.txt", cows) &&
           write_text(dir + "genotypes.txt", genotypes_file(rows)) &&
           write_text(dir + "markers.txt", map_file(markers, false)) &&
           write_text(dir + "markers.txt.anno", map_file(markers, true)) &&
           write_text(dir + "geno.mod", geno_model_file(used_count(markers))) &&
           write_text(dir + "geno.lab", geno_label_file(markers)) && write_text(dir + "geno.out", samples);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_example <outdir>\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    Rng rng{0x7461766f64656d6fULL};
    Truth truth;
    const std::vector<std::string> markers = marker_names(rng);
    truth.marker_effect = marker_effects(rng);

    std::string samples;
    for (int s = 1; s <= kSaved; ++s) append_cycle(samples, kBurnIn + s * kThin, rng, truth);

    const bool ok = write_text(dir + "demo.tavo", job_file()) &&
                    write_text(dir + "animals.txt", animals_file(rng, truth)) &&
                    write_text(dir + "demo.lab", label_file(markers)) &&
                    write_text(dir + "demo.out", samples) && write_geno_run(dir);
    return ok ? 0 : 1;
}
