// kernel_bench: times tavogen's batched cycle computation against the literal
// per-cycle loop (literal_kernel.h) on the reference workloads, in memory, on
// the same data, in one run so that the ratios are comparable.
//
//   kernel_bench [W1] [W1d] [W2] [W3] [cycles=K] [literal=0] [repeat=R] [only=LABEL] [widest=0|1|2]
//
// Without workloads: W1, W1d and W2. For each workload it runs the literal
// loop (one thread), then the program's computation with one thread and the
// plain kernels, one thread and the fused multiply-add kernels, and all the
// machine's threads (fused when available). It reports the CPU and wall
// seconds, the speed-up over the literal loop, whether the results are bit
// for bit those of the literal loop, and the largest difference of any
// running sum relative to the sum of the absolute contributions behind it.
// cycles=K runs at most K cycles; literal=0 skips the literal loop (W3: its
// layout needs about 12 GB). repeat=R runs R rounds (the literal loop, then
// every variant) and keeps each one's fastest round (a busy machine only ever
// slows a run down, and a slow spell falls on all alike); only=LABEL runs the
// variants whose label contains LABEL ("plain", "fused", "1 thread", ...);
// widest=1 or 0 runs the AVX2 or the generic kernels, as on a machine
// without AVX-512 (or without AVX2).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "genomic/compute.h"
#include "genomic_workload.h"
#include "literal_kernel.h"

using namespace tavo_bench;

namespace {

double thread_seconds() { return literal_thread_seconds(); }

double process_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The run as tavogen's computation sees it after loading and the model scan.
struct program_run {
    tavo::dataset blockset;
    tavo::dataset map;
    tavo::datacol block;
    tavo::block_context ctx;
    tavo::genomic_model model;
    tavo::compute_plan plan;
};

void set_up(const workload& w, genomic_data& d, program_run& r) {
    r.map.own_fields.resize(3);  // used, freq1, by
    r.map.nfields = 3;
    r.map.nrec = d.M;
    fields(r.map)[0].ints = d.used;
    fields(r.map)[1].reals = d.freq1;
    fields(r.map)[2].ints = d.level;
    fields(r.map)[2].nlevels = w.levels;
    r.blockset.nrec = static_cast<int32_t>(d.N);
    r.block.type = tavo::field_type::genotype_block;
    r.block.nrec = static_cast<int32_t>(d.N);
    if (!tavo::allocate_genotype_store(r.block.genotypes, d.M, d.N)) {
        std::fprintf(stderr, "kernel_bench: no memory for the genotype table\n");
        std::exit(1);
    }
    for (int32_t m = 0; m < d.M; ++m)
        tavo::pack_genotype_run(d.genotypes.data() + static_cast<size_t>(m) * d.N, d.N, r.block.genotypes.run(m));
    r.ctx.blockset = &r.blockset;
    r.ctx.block = &r.block;
    r.ctx.map = &r.map;
    r.ctx.used_pos = 0;
    r.ctx.freq1_pos = 1;
    r.ctx.by_pos = w.by ? 2 : -1;
    r.ctx.markers = d.M;
    tavo::genomic_model& m = r.model;
    m.kind = w.dominance ? tavo::model_kind::additive_dominance : tavo::model_kind::additive;
    m.T = w.T;
    m.N = d.N;
    m.U = d.U;
    m.broad = w.broad;
    m.windows = w.window > 0;
    m.by = w.by && !m.windows;
    m.G = m.windows ? d.M : m.by ? w.levels : 1;
    m.half_width = m.windows ? (w.window - 1) / 2 : 0;
    m.total_groups = (m.windows || m.by) ? m.G + 1 : 1;
    m.stored_groups = m.windows ? 1 : m.total_groups;
    m.terms.assign(w.T, tavo::genomic_term{});
    const size_t values = static_cast<size_t>(m.N) * m.stored_groups;
    for (tavo::genomic_term& t : m.terms) {
        t.add_effects.assign(d.U, 0.0);
        if (w.dominance) t.dom_effects.assign(d.U, 0.0);
        t.gvalues.assign(values, 0.0);
        t.gsum.assign(values, 0.0);
        t.gsumsq.assign(values, 0.0);
    }
    const size_t cells = static_cast<size_t>(w.T) * w.T * m.total_groups;
    m.matrices.assign(cells, 0.0);
    m.matrix_sum.assign(cells, 0.0);
    m.matrix_sumsq.assign(cells, 0.0);
}

struct timing {
    double cpu = 0;
    double wall = 0;
};

// The program's computation over every cycle, in batches.
timing run_program(const workload& w, program_run& r, int32_t threads, bool fused, int32_t widest) {
    r.model.threads = threads;
    if (tavo::build_plan(r.ctx, r.model, r.plan) != tavo::plan_status::ready) std::exit(1);
    r.plan.fused = fused;
    r.plan.widest = widest;
    tavo::cycle_batch batch;
    if (!tavo::make_batch(r.plan, tavo::batch_capacity(r.plan), batch)) std::exit(1);
    timing t;
    std::vector<double> add, dom;
    for (int32_t c = 0; c < w.C; ++c) {
        make_effects(w, c, r.model.U, false, add);
        if (w.dominance) make_effects(w, c, r.model.U, true, dom);
        for (int32_t k = 0; k < w.T; ++k) {
            std::copy_n(add.begin() + static_cast<size_t>(k) * r.model.U, r.model.U, r.model.terms[k].add_effects.begin());
            if (w.dominance)
                std::copy_n(dom.begin() + static_cast<size_t>(k) * r.model.U, r.model.U, r.model.terms[k].dom_effects.begin());
        }
        const double cpu0 = process_seconds();
        const auto wall0 = std::chrono::steady_clock::now();
        tavo::load_slot(r.model, batch);
        if (batch.count == batch.capacity || c + 1 == w.C) {
            tavo::compute_batch(r.plan, batch);
            for (int32_t s = 0; s < batch.count; ++s) tavo::finish_slot(r.plan, batch, s, r.model);
            batch.count = 0;
        }
        t.cpu += process_seconds() - cpu0;
        t.wall += seconds_since(wall0);
    }
    return t;
}

void reset_sums(tavo::genomic_model& m) {
    for (tavo::genomic_term& t : m.terms) {
        std::fill(t.gsum.begin(), t.gsum.end(), 0.0);
        std::fill(t.gsumsq.begin(), t.gsumsq.end(), 0.0);
    }
    std::fill(m.matrix_sum.begin(), m.matrix_sum.end(), 0.0);
    std::fill(m.matrix_sumsq.begin(), m.matrix_sumsq.end(), 0.0);
    m.cycles = 0;
}

struct comparison {
    bool identical = true;
    double max_relative = 0;  // |difference| / scale
};

void compare(double ours, double theirs, double scale, comparison& c) {
    if (std::memcmp(&ours, &theirs, sizeof ours) != 0) c.identical = false;
    if (std::isnan(ours) && std::isnan(theirs)) return;
    const double diff = std::fabs(ours - theirs);
    const double rel = diff / std::max(scale, 1e-300);
    if (!(rel <= c.max_relative)) c.max_relative = std::isnan(rel) ? INFINITY : std::max(c.max_relative, rel);
}

// The running sums the outputs read: every matrix and the stored values of the
// last group (ALL, or the only group); scales: the literal loop's sums of the
// absolute values of the same sums (an upper bound of the contributions' size
// is not at hand there, so the sums of squares give the scale of the values).
comparison compare_runs(const literal_state& s, const tavo::genomic_model& m, int64_t N) {
    comparison c;
    for (size_t k = 0; k < s.matrix_sum.size(); ++k) {
        compare(m.matrix_sum[k], s.matrix_sum[k], std::sqrt(s.matrix_sumsq[k] * s.cycles), c);
        compare(m.matrix_sumsq[k], s.matrix_sumsq[k], s.matrix_sumsq[k], c);
    }
    const size_t last = static_cast<size_t>(s.total_groups - 1) * static_cast<size_t>(N);
    const size_t ours = static_cast<size_t>(m.stored_groups - 1) * static_cast<size_t>(N);
    for (size_t t = 0; t < s.sum.size(); ++t)
        for (int64_t i = 0; i < N; ++i) {
            const double sq = s.sumsq[t][last + i];
            compare(m.terms[t].gsum[ours + i], s.sum[t][last + i], std::sqrt(sq * s.cycles), c);
            compare(m.terms[t].gsumsq[ours + i], sq, sq, c);
        }
    return c;
}

struct bench_options {
    int32_t max_cycles = 0;
    bool literal = true;
    int32_t repeat = 1;
    std::string only;
    int32_t widest = 2;
};

timing fastest(const timing& a, const timing& b) {
    return {std::min(a.cpu, b.cpu), std::min(a.wall, b.wall)};
}

bool run_workload(const std::string& name, const bench_options& opt) {
    const int32_t max_cycles = opt.max_cycles;
    const bool literal = opt.literal;
    workload w;
    if (!preset(name, w)) {
        std::fprintf(stderr, "kernel_bench: unknown workload %s\n", name.c_str());
        return false;
    }
    if (max_cycles > 0 && w.C > max_cycles) w.C = max_cycles;
    genomic_data d = make_data(w);
    const int32_t cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("%s: N %lld, M %d, T %d, %s, window %d%s, %d cycles\n", name.c_str(), static_cast<long long>(d.N),
                d.M, w.T, w.dominance ? "additive + dominance" : "additive", w.window, w.by ? ", by chrom" : "",
                w.C);
    literal_input in;
    in.N = d.N, in.M = d.M, in.T = w.T, in.U = d.U, in.dominance = w.dominance, in.broad = w.broad;
    in.window = w.window, in.by = w.by, in.levels = w.levels;
    in.used = d.used.data(), in.freq1 = d.freq1.data(), in.level = d.level.data(), in.genotypes = d.genotypes.data();
    literal_state s;
    std::vector<double> add, dom;
    auto literal_run = [&](timing& out) {
        if (!literal_setup(in, s)) return false;
        for (int32_t c = 0; c < w.C; ++c) {
            make_effects(w, c, in.U, false, add);
            if (w.dominance) make_effects(w, c, in.U, true, dom);
            const double cpu0 = thread_seconds();
            const auto wall0 = std::chrono::steady_clock::now();
            literal_cycle(in, add.data(), w.dominance ? dom.data() : nullptr, s);
            out.cpu += thread_seconds() - cpu0;
            out.wall += seconds_since(wall0);
        }
        return true;
    };
    struct variant {
        const char* label;
        int32_t threads;
        bool fused;
        timing best;
        comparison check;
    };
    const bool fma = tavo::fused_kernels_available();
    std::vector<variant> variants = {{"1 thread, plain", 1, false, {}, {}}};
    if (fma) variants.push_back({"1 thread, fused", 1, true, {}, {}});
    variants.push_back({"all threads, plain", cores, false, {}, {}});
    if (fma) variants.push_back({"all threads, fused", cores, true, {}, {}});
    std::erase_if(variants, [&](const variant& v) {
        return !opt.only.empty() && std::string(v.label).find(opt.only) == std::string::npos;
    });
    program_run r;
    set_up(w, d, r);
    // Rounds: the literal loop, then every variant, so that a slow spell of
    // the machine falls on all of them alike; each keeps its fastest round.
    timing lit;
    for (int32_t round = 0; round < opt.repeat; ++round) {
        if (literal) {
            timing once;
            if (!literal_run(once)) {
                std::fprintf(stderr, "kernel_bench: no memory for the literal loop\n");
                return false;
            }
            lit = round == 0 ? once : fastest(lit, once);
        }
        for (variant& v : variants) {
            reset_sums(r.model);
            const timing once = run_program(w, r, v.threads, v.fused, opt.widest);
            v.best = round == 0 ? once : fastest(v.best, once);
            if (round == 0 && literal) v.check = compare_runs(s, r.model, d.N);
        }
    }
    if (literal) std::printf("  %-22s cpu %7.3f s  wall %7.3f s\n", "literal loop", lit.cpu, lit.wall);
    for (const variant& v : variants) {
        const timing& t = v.best;
        std::printf("  %-22s cpu %7.3f s  wall %7.3f s", v.label, t.cpu, t.wall);
        if (literal)
            std::printf("  cpu x%5.1f  wall x%5.1f  %s  max rel diff %.2e", lit.cpu / t.cpu, lit.wall / t.wall,
                        v.check.identical ? "bit-identical" : "differs     ", v.check.max_relative);
        std::printf("\n");
    }
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> names;
    bench_options opt;
    for (int k = 1; k < argc; ++k) {
        if (std::strncmp(argv[k], "cycles=", 7) == 0)
            opt.max_cycles = std::atoi(argv[k] + 7);
        else if (std::strcmp(argv[k], "literal=0") == 0)
            opt.literal = false;
        else if (std::strncmp(argv[k], "repeat=", 7) == 0)
            opt.repeat = std::max(1, std::atoi(argv[k] + 7));
        else if (std::strncmp(argv[k], "only=", 5) == 0)
            opt.only = argv[k] + 5;
        else if (std::strncmp(argv[k], "widest=", 7) == 0)
            opt.widest = std::atoi(argv[k] + 7);
        else
            names.push_back(argv[k]);
    }
    if (names.empty()) names = {"W1", "W1d", "W2"};
    if (std::FILE* load = std::fopen("/proc/loadavg", "r")) {
        double one = 0, five = 0, fifteen = 0;
        if (std::fscanf(load, "%lf %lf %lf", &one, &five, &fifteen) == 3)
            std::printf("Load average (1, 5, 15 min): %.2f %.2f %.2f\n", one, five, fifteen);
        std::fclose(load);
    }
    std::printf("Ratios: literal seconds / the variant's seconds, CPU and wall (on a busy machine the wall\n"
                "ratio of the all-threads variants is the one that shows the threads' gain).\n");
    for (const std::string& name : names)
        if (!run_workload(name, opt)) return 1;
    return 0;
}
