// gen_example: writes the shipped example run (demo.tavo, demo.out, demo.lab and the
// data file animals.txt) into the folder given as its only argument.
//
// The run is a small but complete one: 120 cows in 5 herds with a yield record,
// an overall mean, herd effects with their fitted herd means, 200 marker effects
// and three variances, saved every 100th cycle after a burn-in of 1000 cycles
// (50 saved cycles). Everything comes from a fixed seed, so the files are the
// same on every run.
#include <cmath>
#include <cstdint>
#include <cstdio>
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
                    write_text(dir + "demo.out", samples);
    return ok ? 0 : 1;
}
