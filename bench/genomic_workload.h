// genomic_workload: the synthetic genomic runs of the cycle-computation
// benchmark, defined once so that the file generator (gen_genomic), the
// literal baseline (literal_kernel) and later comparison tools see the same
// numbers.
//
// Every value is a pure function of the workload's seed and its position
// (individual, marker, cycle, term), so the genotypes can be produced row by
// row for the data file or column by column for an in-memory block, and a
// reduced in-memory version of a workload is a true slice of its files.
// Values that go through text in the run's files (allele frequencies, effects)
// are given here as the doubles that reading their text back yields, so the
// in-memory data equals what tavogen loads.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace tavo_bench {

struct workload {
    std::string name = "custom";
    int64_t N = 1000;         // individuals
    int32_t M = 1000;         // markers
    int32_t C = 10;           // saved cycles
    int32_t T = 1;            // additive terms (and as many dominance terms)
    bool dominance = false;   // additive + dominance model
    bool broad = false;       // run with the broad option
    int32_t levels = 30;      // chromosomes of the map: contiguous runs of markers
    int32_t window = 0;       // bywindow= width, 0 for none
    bool by = false;          // run with by=chrom
    int32_t missing_per_mille = 10;  // missing genotypes
    int32_t unused_per_mille = 0;    // markers with used 0 (not in the effect vectors)
    uint64_t seed = 1;
};

// The reference workloads of the cycle computation.
inline bool preset(const std::string& name, workload& w) {
    workload p;
    p.name = name;
    if (name == "W1") {
        p.N = 2000, p.M = 50000, p.C = 100;
    } else if (name == "W1d") {
        p.N = 2000, p.M = 50000, p.C = 100, p.dominance = true;
    } else if (name == "W2") {
        p.N = 1000, p.M = 10000, p.C = 50, p.window = 21;
    } else if (name == "W3") {
        p.N = 10000, p.M = 50000, p.C = 200, p.window = 21, p.by = true;
    } else if (name == "W4") {
        p.N = 10000, p.M = 600000, p.C = 50, p.window = 21, p.by = true;
    } else {
        return false;
    }
    w = p;
    return true;
}

// tavogen's options for the workload after "run.tavo geno".
inline std::vector<std::string> tavogen_options(const workload& w) {
    std::vector<std::string> options;
    if (w.window > 0) options.push_back("bywindow=" + std::to_string(w.window));
    if (w.by) options.push_back("by=chrom");
    if (w.broad) options.push_back("broad");
    return options;
}

// ---------------------------------------------------------------- randomness

// Position k of the splitmix64 stream of a seed: independent 64-bit draws
// addressable in any order.
inline uint64_t draw(uint64_t seed, uint64_t k) {
    uint64_t z = seed * 0xD1B54A32D192ED03ULL + k * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

inline double unit(uint64_t bits) { return static_cast<double>(bits >> 11) * 0x1.0p-53; }

// Separate streams per kind of value.
enum stream : uint64_t { s_freq = 1, s_alleles = 2, s_used = 3, s_geno = 4, s_add = 5, s_dom = 6, s_other = 7 };
inline uint64_t stream_seed(const workload& w, stream s) { return draw(w.seed, s); }

// --------------------------------------------------------------- the markers

inline int32_t marker_level(const workload& w, int32_t m) {
    return static_cast<int32_t>(static_cast<int64_t>(m) * w.levels / w.M);
}

inline std::string marker_name(int32_t m) { return "snp" + std::to_string(m + 1); }

// Chromosome names, zero-padded so that their ascending text order (the order
// in which the loader numbers the levels of a factor) is the map order.
inline std::string level_name(const workload& w, int32_t level) {
    const int width = static_cast<int>(std::to_string(w.levels).size());
    char text[32];
    std::snprintf(text, sizeof text, "chr%0*d", width, level + 1);
    return text;
}

// Frequency of the first allele, as its text in the annotated map ("%.4f",
// strictly inside 0.05 .. 0.95) and as the double that text reads back as.
inline std::string freq1_text(const workload& w, int32_t m) {
    const double p = 0.0501 + 0.8998 * unit(draw(stream_seed(w, s_freq), static_cast<uint64_t>(m)));
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", p);
    return text;
}

inline double parse_double(const std::string& text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

inline double freq1(const workload& w, int32_t m) { return parse_double(freq1_text(w, m)); }

inline std::string alleles(const workload& w, int32_t m) {
    static const char bases[] = "ACGT";
    const uint64_t r = draw(stream_seed(w, s_alleles), static_cast<uint64_t>(m));
    const int a = static_cast<int>(r % 4);
    const int b = (a + 1 + static_cast<int>((r >> 8) % 3)) % 4;
    return std::string{bases[a], bases[b]};
}

inline int32_t used_flag(const workload& w, int32_t m) {
    if (w.unused_per_mille <= 0) return 1;
    return draw(stream_seed(w, s_used), static_cast<uint64_t>(m)) % 1000 < static_cast<uint64_t>(w.unused_per_mille)
               ? 0
               : 1;
}

// ------------------------------------------------------------- the genotypes

// Thresholds on a 32-bit draw for one marker in Hardy-Weinberg proportions:
// below `zero` no copy of the second allele, below `one` one copy, else two.
struct genotype_thresholds {
    uint32_t zero = 0;
    uint32_t one = 0;
};

inline uint32_t threshold(double probability) {
    return probability >= 1.0 ? UINT32_MAX : static_cast<uint32_t>(probability * 4294967296.0);
}

inline genotype_thresholds thresholds(double p) {
    const double q = 1 - p;
    return genotype_thresholds{threshold(p * p), threshold(1 - q * q)};
}

inline uint32_t missing_threshold(const workload& w) { return threshold(w.missing_per_mille / 1000.0); }

// Genotype of individual i at marker m in the 0/1/2 coding (copies of the
// second allele), -1 when missing. The stored code of tavogen is this + 1.
inline int genotype(const workload& w, uint64_t geno_seed, const genotype_thresholds& t, uint32_t missing_below,
                    int64_t i, int32_t m) {
    const uint64_t r = draw(geno_seed, static_cast<uint64_t>(i) * static_cast<uint64_t>(w.M) + static_cast<uint64_t>(m));
    if (static_cast<uint32_t>(r >> 32) < missing_below) return -1;
    const uint32_t u = static_cast<uint32_t>(r);
    return u < t.zero ? 0 : u < t.one ? 1 : 2;
}

// --------------------------------------------------------------- the samples

inline std::string additive_name(int32_t t) { return "add.geno.a" + std::to_string(t + 1); }
inline std::string dominance_name(int32_t t) { return "dom.geno.a" + std::to_string(t + 1); }

// Cycle number of saved cycle c: a burn-in of 1000 and every 10th cycle saved.
inline int64_t cycle_number(int32_t c) { return 1000 + 10 * (static_cast<int64_t>(c) + 1); }

// Effect of used marker e (effect index) of term t in saved cycle c: small
// effects with a few large ones, written "%.6g" (std::to_chars general with
// precision 6 gives the same text).
inline int effect_text(const workload& w, bool dominance, int32_t c, int32_t t, int64_t e, int64_t U, char* out) {
    const uint64_t seed = stream_seed(w, dominance ? s_dom : s_add);
    const uint64_t key = (static_cast<uint64_t>(c) * static_cast<uint64_t>(w.T) + static_cast<uint64_t>(t)) *
                             static_cast<uint64_t>(U) +
                         static_cast<uint64_t>(e);
    const uint64_t r = draw(seed, key);
    // Sum of four uniform 16-bit parts, centred: a bell-shaped value in (-2, 2).
    const double bell = (static_cast<double>(r & 0xFFFF) + static_cast<double>((r >> 16) & 0xFFFF) +
                         static_cast<double>((r >> 32) & 0xFFFF) + static_cast<double>(r >> 48)) /
                            65536.0 -
                        2.0;
    // Markers with a large effect: the same ones in every cycle.
    const bool large = draw(seed ^ 0x5bd1e995ULL, static_cast<uint64_t>(t) * static_cast<uint64_t>(U) +
                                                      static_cast<uint64_t>(e)) %
                           1000 ==
                       0;
    const double scale = (dominance ? 0.005 : 0.01) * (large ? 20.0 : 1.0);
    const std::to_chars_result done = std::to_chars(out, out + 31, bell * scale, std::chars_format::general, 6);
    *done.ptr = '\0';
    return static_cast<int>(done.ptr - out);
}

inline double effect(const workload& w, bool dominance, int32_t c, int32_t t, int64_t e, int64_t U) {
    char text[32];
    const int length = effect_text(w, dominance, c, t, e, U, text);
    double value = 0;
    std::from_chars(text, text + length, value);
    return value;
}

// ------------------------------------------------------- in-memory block

// The markers and genotypes of a workload as tavogen holds them after loading.
struct genomic_data {
    int64_t N = 0;
    int32_t M = 0;
    int32_t U = 0;                   // used markers: the length of every effect vector
    std::vector<int32_t> used;       // per marker
    std::vector<double> freq1;       // per marker
    std::vector<int32_t> level;      // per marker: by level index
    std::vector<uint8_t> genotypes;  // marker-major: codes 0..3 of marker m at [m * N, m * N + N)
};

inline genomic_data make_data(const workload& w) {
    genomic_data d;
    d.N = w.N;
    d.M = w.M;
    d.used.resize(static_cast<size_t>(w.M));
    d.freq1.resize(static_cast<size_t>(w.M));
    d.level.resize(static_cast<size_t>(w.M));
    d.genotypes.resize(static_cast<size_t>(w.M) * static_cast<size_t>(w.N));
    const uint64_t geno_seed = stream_seed(w, s_geno);
    const uint32_t missing_below = missing_threshold(w);
    for (int32_t m = 0; m < w.M; ++m) {
        d.used[m] = used_flag(w, m);
        if (d.used[m] == 1) ++d.U;
        d.freq1[m] = freq1(w, m);
        d.level[m] = marker_level(w, m);
        const genotype_thresholds t = thresholds(d.freq1[m]);
        uint8_t* codes = d.genotypes.data() + static_cast<size_t>(m) * static_cast<size_t>(w.N);
        for (int64_t i = 0; i < w.N; ++i)
            codes[i] = static_cast<uint8_t>(genotype(w, geno_seed, t, missing_below, i, m) + 1);
    }
    return d;
}

// Effect vectors of cycle c: term-major, U values per term.
inline void make_effects(const workload& w, int32_t c, int32_t U, bool dominance, std::vector<double>& out) {
    out.resize(static_cast<size_t>(w.T) * static_cast<size_t>(U));
    for (int32_t t = 0; t < w.T; ++t)
        for (int32_t e = 0; e < U; ++e)
            out[static_cast<size_t>(t) * U + e] = effect(w, dominance, c, t, e, U);
}

}  // namespace tavo_bench
