// gen_genotypes: writes a large genotype data set for the loading benchmark.
//
//   gen_genotypes DIR INDIVIDUALS MARKERS CODING [MISSING_PER_MILLE=10 [SEED=1]]
//
// CODING is genot012 (one token 0/1/2 per marker, "NA" missing) or biallelic
// (two allele tokens per marker, "0 0" missing). DIR receives:
//   geno.txt           one line per individual: id and its genotypes
//   markers.txt        the marker map as declared (snp chrom pos)
//   markers.txt.anno   the annotated map with alleles, freq1, nrmiss, used
//   bench.tavo         the job: geno (key id, block snp) and map (key snp)
//   bench.out, bench.mod, bench.lab   empty run files, so that tavogen gets to loading
//   bench.info         sizes, read by bench_load.sh
// Genotypes follow Hardy-Weinberg proportions from a random allele frequency
// per marker, so the file looks like real data to the loader.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct rng {
    uint64_t state;
    uint64_t next() {  // xorshift64*
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 2685821657736338717ULL;
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

struct marker {
    uint32_t below_one = 0;  // 32-bit thresholds: genotype 0 below, 1 below the second, else 2
    uint32_t below_two = 0;
    char first = 'A';
    char second = 'G';
    double freq1 = 0;
};

std::FILE* open_or_die(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    return f;
}

uint32_t threshold(double p) { return p >= 1.0 ? UINT32_MAX : static_cast<uint32_t>(p * 4294967296.0); }

std::vector<marker> make_markers(int64_t count, rng& random) {
    static const char bases[] = "ACGT";
    std::vector<marker> markers(static_cast<size_t>(count));
    for (marker& m : markers) {
        const double q = 0.05 + 0.9 * random.uniform();  // frequency of the second allele
        m.freq1 = 1 - q;
        m.below_one = threshold((1 - q) * (1 - q));
        m.below_two = threshold(1 - q * q);
        const int a = static_cast<int>(random.next() % 4);
        const int b = (a + 1 + static_cast<int>(random.next() % 3)) % 4;
        m.first = bases[a];
        m.second = bases[b];
    }
    return markers;
}

void write_maps(const std::string& dir, const std::vector<marker>& markers) {
    std::FILE* plain = open_or_die(dir + "/markers.txt");
    std::FILE* anno = open_or_die(dir + "/markers.txt.anno");
    std::fputs("snp chrom pos\n", plain);
    std::fputs("snp chrom pos alleles freq1 nrmiss used\n", anno);
    for (size_t j = 0; j < markers.size(); ++j) {
        const int chrom = static_cast<int>(j * 20 / markers.size()) + 1;
        std::fprintf(plain, "m%zu %d %zu\n", j + 1, chrom, 1000 * (j + 1));
        std::fprintf(anno, "m%zu %d %zu %c%c %.4f 0 1\n", j + 1, chrom, 1000 * (j + 1), markers[j].first,
                     markers[j].second, markers[j].freq1);
    }
    std::fclose(plain);
    std::fclose(anno);
}

// Returns the bytes written.
int64_t write_genotypes(const std::string& dir, int64_t individuals, const std::vector<marker>& markers,
                        bool biallelic, uint32_t missing_below, rng& random) {
    std::FILE* out = open_or_die(dir + "/geno.txt");
    std::string line;
    line.reserve(markers.size() * 4 + 32);
    int64_t bytes = 0;
    for (int64_t i = 1; i <= individuals; ++i) {
        line = "id" + std::to_string(i);
        for (const marker& m : markers) {
            const uint64_t r = random.next();
            const uint32_t draw = static_cast<uint32_t>(r);
            const bool missing = static_cast<uint32_t>(r >> 32) < missing_below;
            const int genotype = draw < m.below_one ? 0 : draw < m.below_two ? 1 : 2;
            if (!biallelic) {
                line += missing ? " NA" : genotype == 0 ? " 0" : genotype == 1 ? " 1" : " 2";
            } else if (missing) {
                line += " 0 0";
            } else {
                line += ' ';
                line += genotype == 2 ? m.second : m.first;
                line += ' ';
                line += genotype == 0 ? m.first : m.second;
            }
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out);
        bytes += static_cast<int64_t>(line.size());
    }
    std::fclose(out);
    return bytes;
}

void write_job(const std::string& dir, const std::string& coding) {
    std::FILE* job = open_or_die(dir + "/bench.tavo");
    std::fprintf(job,
                 "# Loading benchmark: a genotype block and its annotated marker map\n"
                 "data id geno\n"
                 "file=geno.txt\n"
                 "id snp[] !%s\n"
                 "\n"
                 "data snp map\n"
                 "file=markers.txt -header\n"
                 "\n"
                 "model\n"
                 "chain\n",
                 coding.c_str());
    std::fclose(job);
    for (const char* empty : {"/bench.out", "/bench.mod", "/bench.lab"}) std::fclose(open_or_die(dir + empty));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: gen_genotypes DIR INDIVIDUALS MARKERS genot012|biallelic "
                             "[MISSING_PER_MILLE=10 [SEED=1]]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const int64_t individuals = std::atoll(argv[2]);
    const int64_t markers = std::atoll(argv[3]);
    const std::string coding = argv[4];
    const double missing = argc > 5 ? std::atof(argv[5]) / 1000 : 0.01;
    rng random{argc > 6 ? std::strtoull(argv[6], nullptr, 10) | 1 : 1};
    if (individuals < 1 || markers < 1 || (coding != "genot012" && coding != "biallelic")) {
        std::fprintf(stderr, "gen_genotypes: need positive sizes and coding genot012 or biallelic\n");
        return 2;
    }
    const std::vector<marker> map = make_markers(markers, random);
    write_maps(dir, map);
    const int64_t bytes = write_genotypes(dir, individuals, map, coding == "biallelic", threshold(missing), random);
    write_job(dir, coding);
    std::FILE* info = open_or_die(dir + "/bench.info");
    std::fprintf(info, "individuals %lld\nmarkers %lld\ncoding %s\ngenotype_bytes %lld\n",
                 static_cast<long long>(individuals), static_cast<long long>(markers), coding.c_str(),
                 static_cast<long long>(bytes));
    std::fclose(info);
    std::printf("gen_genotypes: %lld individuals x %lld markers (%s), %lld bytes of genotypes in %s/geno.txt\n",
                static_cast<long long>(individuals), static_cast<long long>(markers), coding.c_str(),
                static_cast<long long>(bytes), dir.c_str());
    return 0;
}
