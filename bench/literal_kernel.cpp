// literal_kernel: times the literal per-cycle genomic computation
// (literal_kernel.h) on the reference workloads, in memory (no files; the same
// data that gen_genomic writes for the workload).
//
//   literal_kernel [W1] [W1d] [W2] [W3] [cycles=K]
//
// Without workloads it runs W1, W1d and W2. Only the cycle computation is
// timed (wall and thread CPU time); generating the data and each cycle's
// effect vectors is not. cycles=K runs at most K cycles of each workload and
// extrapolates to the full run. W3 is too large for the literal layout (about
// 12 GB of genomic values and sums): it runs reduced to 5000 markers (the same
// 30 chromosomes) and 2 cycles, and extrapolates by markers x cycles.
//
// Built with -O2 (bench/CMakeLists.txt), as the reference figures of the
// literal loop on this machine were measured (W1 5.4 s, W1d 7.9 s, W2 9.1 s).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "genomic_workload.h"
#include "literal_kernel.h"

using namespace tavo_bench;

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The earlier measurement of the literal loop on this machine, for comparison.
double reference_seconds(const std::string& name) {
    if (name == "W1") return 5.4;
    if (name == "W1d") return 7.9;
    if (name == "W2") return 9.1;
    return 0;
}

literal_input input_of(const workload& w, const genomic_data& d) {
    literal_input in;
    in.N = d.N;
    in.M = d.M;
    in.T = w.T;
    in.U = d.U;
    in.dominance = w.dominance;
    in.broad = w.broad;
    in.window = w.window;
    in.by = w.by;
    in.levels = w.levels;
    in.used = d.used.data();
    in.freq1 = d.freq1.data();
    in.level = d.level.data();
    in.genotypes = d.genotypes.data();
    return in;
}

// Contributions per cycle: individuals x (groups each used marker feeds).
double contributions_per_cycle(const literal_input& in) {
    const int32_t h = in.window > 0 ? (in.window - 1) / 2 : 0;
    double groups = 0;
    for (int32_t m = 0; m < in.M; ++m) {
        if (in.used[m] != 1) continue;
        int32_t lo = 0;
        int32_t hi = 0;
        if (in.window > 0) literal_window(in, h, m, lo, hi);
        groups += hi - lo + 1;
    }
    return groups * static_cast<double>(in.N) * in.T;
}

struct result {
    std::string name;
    int32_t cycles_run = 0;
    double wall = 0;
    double cpu = 0;
    double scale = 1;  // full run / what ran
    double ns_per_contribution = 0;
    literal_timing phases;
    uint64_t fingerprint = 0;
    double all_variance = 0;  // posterior mean of the last group's variance of term 1
};

bool run_workload(const std::string& name, int32_t max_cycles, result& r) {
    workload full;
    if (!preset(name, full)) {
        std::fprintf(stderr, "literal_kernel: unknown workload %s\n", name.c_str());
        return false;
    }
    workload w = full;
    if (name == "W3") {
        w.M = 5000;
        w.C = 2;
    }
    if (max_cycles > 0 && w.C > max_cycles) w.C = max_cycles;
    const auto start = std::chrono::steady_clock::now();
    const genomic_data d = make_data(w);
    const literal_input in = input_of(w, d);
    literal_state s;
    if (!literal_setup(in, s)) {
        std::fprintf(stderr, "literal_kernel: not enough memory for %s\n", name.c_str());
        return false;
    }
    std::printf("%s: N %lld, M %d (U %d), T %d, %s, window %d%s, %d of %d cycles (data made in %.2f s)\n",
                name.c_str(), static_cast<long long>(in.N), in.M, in.U, in.T,
                in.dominance ? "additive + dominance" : "additive", in.window, in.by ? ", by chrom" : "", w.C,
                full.C, seconds_since(start));
    std::fflush(stdout);
    std::vector<double> add;
    std::vector<double> dom;
    r = result{};
    r.name = name;
    for (int32_t c = 0; c < w.C; ++c) {
        make_effects(w, c, in.U, false, add);
        if (w.dominance) make_effects(w, c, in.U, true, dom);
        const double cpu0 = literal_thread_seconds();
        const auto wall0 = std::chrono::steady_clock::now();
        literal_cycle(in, add.data(), w.dominance ? dom.data() : nullptr, s, &r.phases);
        r.wall += seconds_since(wall0);
        r.cpu += literal_thread_seconds() - cpu0;
    }
    r.cycles_run = w.C;
    r.scale = (static_cast<double>(full.M) / w.M) * (static_cast<double>(full.C) / w.C);
    r.ns_per_contribution = r.cpu / (contributions_per_cycle(in) * w.C) * 1e9;
    r.fingerprint = literal_fingerprint(s, in.N);
    r.all_variance = s.matrix_sum[static_cast<size_t>(s.total_groups - 1) * in.T * in.T] / s.cycles;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> names;
    int32_t max_cycles = 0;
    for (int k = 1; k < argc; ++k) {
        if (std::strncmp(argv[k], "cycles=", 7) == 0) {
            max_cycles = std::atoi(argv[k] + 7);
            if (max_cycles < 1) {
                std::fprintf(stderr, "literal_kernel: cycles= needs a positive number\n");
                return 2;
            }
        } else {
            names.push_back(argv[k]);
        }
    }
    if (names.empty()) names = {"W1", "W1d", "W2"};
    if (std::FILE* load = std::fopen("/proc/loadavg", "r")) {
        double one = 0, five = 0, fifteen = 0;
        if (std::fscanf(load, "%lf %lf %lf", &one, &five, &fifteen) == 3)
            std::printf("Load average before the runs (1, 5, 15 min): %.2f %.2f %.2f\n", one, five, fifteen);
        std::fclose(load);
    }
    std::vector<result> results;
    for (const std::string& name : names) {
        result r;
        if (!run_workload(name, max_cycles, r)) return 1;
        results.push_back(r);
    }
    std::printf("\nLiteral per-cycle computation (-O2, one thread; loading and effect reading excluded)\n");
    std::printf("%-5s %7s %8s %8s %9s %9s %9s %8s %10s %9s  %-18s %s\n", "load", "cycles", "wall_s", "cpu_s",
                "values_c", "sums_c", "matrix_c", "ns/contr", "full_cpu_s", "ref_s", "fingerprint",
                "mean var ALL");
    for (const result& r : results) {
        const double ref = reference_seconds(r.name);
        char reference[16] = "-";
        if (ref > 0) std::snprintf(reference, sizeof reference, "%.1f", ref);
        std::printf("%-5s %7d %8.2f %8.2f %9.2f %9.2f %9.2f %8.3f %10.1f %9s  %016llx %.6g\n", r.name.c_str(),
                    r.cycles_run, r.wall, r.cpu, r.phases.values, r.phases.all_sums, r.phases.matrices,
                    r.ns_per_contribution, r.cpu * r.scale, reference, static_cast<unsigned long long>(r.fingerprint),
                    r.all_variance);
    }
    std::printf("values_c, sums_c, matrix_c: CPU s of steps 1-3 (genomic values), 5-6 (ALL, running sums) and\n"
                "7-9 (matrices); ns/contr: CPU ns per individual x term x (group a used marker feeds) x cycle;\n"
                "full_cpu_s: CPU time scaled to the whole workload; ref_s: the earlier reference measurement here.\n");
    return 0;
}
