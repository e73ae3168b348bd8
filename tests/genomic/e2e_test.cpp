// End-to-end runs of tavogen on small genomic runs written by the tests: the
// console, the log's posterior table, the extra sample and label files and
// the G-value file, compared with values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/testutil.h"

namespace {

using testutil::mask_times;
using testutil::read_file;

const std::string BANNER = "tavogen - tavo genomics post-analysis 1.21 on <time>\n";

std::string finished_with(int code) {
    const std::string end = code == 0 ? "tavogen finished at <time>\n\n"
                                      : "tavogen finished with error code " + std::to_string(code) + " at <time>\n\n";
    return "A log file is written to run.glog\n" + end;
}

// ------------------------------------------------------------------ the runs

// Genotype run: four cows, four markers in the 0/1/2 coding (copies of the
// second allele), p = freq1; the additive covariate is x = copies - 2(1 - p):
//         m1 (p 0.5)   m2 (p 0.25)   m3 (p 0.5)   m4 (p 0.75)
//   A1    0 -> -1      1 -> -0.5     2 -> 1       NA -> 0
//   A2    1 -> 0       0 -> -1.5     1 -> 0       2 -> 1.5
//   A3    2 -> 1       2 -> 0.5      0 -> -1      1 -> 0.5
//   A4    1 -> 0       1 -> -0.5     NA -> 0      0 -> -0.5
// m1 and m2 lie on chr2, m3 and m4 on chr10, which is level 0 in text order.
const std::string GENO_JOB =
    "data id genos\n  file=geno.txt\n  id geno[] !genot012\n\n"
    "data geno map\n  file=markers.txt\n";
const std::string GENO_FILE = "A1 0 1 2 NA\nA2 1 0 1 2\nA3 2 2 0 1\nA4 1 1 NA 0\n";
const std::string MAP_HEAD = "geno chrom alleles freq1 nrmiss used\n";
const std::string MAP_ANNO = MAP_HEAD +
                             "m1 chr2 AG 0.5 0 1\n"
                             "m2 chr2 CT 0.25 0 1\n"
                             "m3 chr10 AC 0.5 1 1\n"
                             "m4 chr10 GT 0.75 1 1\n";

// Covariate run: three cows, three covariates (NA missing).
const std::string COV_JOB =
    "data id covs\n  file=covs.txt\n  id cov[]\n\n"
    "data cov labels\n  file=labels.txt\n  cov chrom\n";

struct job_kind {
    std::string block;
    std::string job;
    std::vector<std::pair<std::string, std::string>> files;
    std::string loading;  // the loader's console lines
};

const job_kind GENOTYPES{"geno",
                         GENO_JOB,
                         {{"geno.txt", GENO_FILE}, {"markers.txt.anno", MAP_ANNO}},
                         "Loading data #2 [key=geno, name=map] from markers.txt.anno\n"
                         "  > Data loading OK, 4 records read\n"
                         "Loading data #1 [key=id, name=genos] from geno.txt\n"
                         "  > Data loading OK, 4 records read\n"};

// The identifier filter lists a fifth cow without genotypes, and another order.
const job_kind FILTERED{"geno",
                        "data id animals\n  file=animals.txt\n  id herd\n\n" + GENO_JOB,
                        {{"animals.txt", "A3 H1\nA1 H1\nA5 H2\nA2 H2\nA4 H1\n"},
                         {"geno.txt", GENO_FILE},
                         {"markers.txt.anno", MAP_ANNO}},
                        "Loading data #1 [key=id, name=animals] from animals.txt\n"
                        " > Data loading OK, 5 records read [More data on id to be merged ...]\n"
                        "Loading data #3 [key=geno, name=map] from markers.txt.anno\n"
                        "  > Data loading OK, 4 records read\n"
                        "Loading data #2 [key=id, name=genos] from geno.txt\n"
                        "  > This data is appended to (and only retains records that match with) data set 1 "
                        "(animals).\n"
                        "  > Data loading OK, 4 records read, 4 matched, 1 records set missing [Merging data on id "
                        "done]\n"};

const job_kind COVARIATES{"cov",
                          COV_JOB,
                          {{"covs.txt", "A1 1 0.5 NA\nA2 -1 2 1\nA3 0 NA 2\n"}, {"labels.txt", "c1 1\nc2 1\nc3 2\n"}},
                          "Loading data #2 [key=cov, name=labels] from labels.txt\n"
                          "  > Data loading OK, 3 records read\n"
                          "Loading data #1 [key=id, name=covs] from covs.txt\n"
                          "  > Data loading OK, 3 records read\n"};

// The model description: the block's terms among others the scan passes over.
std::string model(const std::string& terms) {
    return "mean 1 1 0 0 intercept\n" + terms + "var.e 2 1 0 0 residual\n";
}
const std::string ADD_A = "add.geno.a 5 4 1 0 a$geno\n";

// One saved cycle: its parameter lines between two the program passes over.
std::string cycle(int number, const std::vector<std::string>& lines) {
    const std::string head = std::to_string(number) + " ";
    std::string text = head + "mean 3.5\n";
    for (const std::string& line : lines) text += head + line + "\n";
    return text + head + "var.e 1.25\n";
}

// Effects of the two cycles, 10 and 20, and the genomic values they give:
//   a, cycle 10: 0.5 -1 2 1   -> 2 3 -1.5 0          (mean 0.875, variance 12.1875 / 3)
//   a, cycle 20: 1 0.5 -1 2   -> -2.25 2.25 3.25 -1.25
//   b, cycle 10: 1 2 -0.5 0   -> -2.5 -3 2.5 -1
//   b, cycle 20: -1 1 0.5 -2  -> 1 -4.5 -2 0.5
const std::string A10 = "add.geno.a 0.5 -1 2 1";
const std::string A20 = "add.geno.a 1 0.5 -1 2";
const std::string TWO_CYCLES_A = cycle(10, {A10}) + cycle(20, {A20});

// A job in a scratch folder with its run files.
struct genomic_run {
    testutil::scratch_dir dir{"e2e"};
    const job_kind& kind;
    testutil::run_result result;

    genomic_run(const job_kind& k, const std::string& mod, const std::string& out) : kind(k) {
        write("run.tavo", kind.job);
        for (const auto& [name, text] : kind.files) write(name, text);
        write("run.mod", mod);
        write("run.out", out);
    }
    void write(const std::string& name, const std::string& text) const { testutil::write_file(dir.file(name), text); }
    void run(std::vector<std::string> options) {
        options.insert(options.begin(), {"run", kind.block});
        result = testutil::run_program(TAVOGEN_BIN, options, dir.path.string());
    }
    std::string console() const { return mask_times(result.console); }
    std::string file(const std::string& name) const { return read_file(dir.file(name)); }
    bool exists(const std::string& name) const { return std::filesystem::exists(dir.path / name); }
    // The log after the loaded data sets' sheets: what the computation wrote.
    std::string log_tail() const {
        const std::string log = mask_times(file("run.glog"));
        const size_t sheets_end = log.rfind("    ....\n");
        return sheets_end == std::string::npos ? log : log.substr(sheets_end + 9);
    }
};

// ------------------------------------------------------- hand-computed runs

const std::string TABLE_TITLE =
    "\nPosterior mean and sd for explained (co)variances and correlationsassociated with ";
const std::string STAT_LINE = "    stat: pm=posterior mean, psd=posterior standard deviation.\n";
const std::string NARROW_NOTE = "    note: dominance effects are present and are handled in the \"narrow\" sense.\n";
const std::string BROAD_NOTE = "    note: dominance effects are present and are handled in the \"broad\" sense.\n";
const std::string NARROW_CONSOLE = "! Note: dominance is handled in the \"narrow\" sense.\n";

std::string header(const std::string& first, const std::vector<std::string>& entries) {
    std::string text = first;
    for (const std::string& e : entries) text += "\tpm." + e + "\tpsd." + e;
    return text + "\n";
}
const std::string VAR_A = header("", {"var(a)"});

struct run_case {
    const char* title;
    const job_kind& kind;
    std::vector<std::string> options;
    std::string mod;
    std::string out;
    std::string scan;    // the model scan's console lines
    std::string cycles;  // progress line and count
    std::string table;   // the log's posterior table after its title and stat lines
    std::string xout;
    std::string xlab;
    std::string gval_name;
    std::string gval;
};

const std::string SCAN_A = "Found add model term: add.geno.a\nModel scanning done\n";
const std::string TWO_PROCESSED = "10\r20\r\n2 output samples processed\n";

const std::string ONE_TERM_TABLE = "\n" + VAR_A + "\t5.57292\t2.13605\n";
const std::string ONE_TERM_XOUT =
    "10 var.genom 4.0625\n10 gval.a 2 3 -1.5 0\n20 var.genom 7.08333\n20 gval.a -2.25 2.25 3.25 -1.25\n";
const std::string ONE_TERM_GVAL =
    "id\tpm.a\tpsd.a\nA1\t-0.125\t3.0052\nA2\t2.625\t0.53033\nA3\t0.875\t3.35876\nA4\t-0.625\t0.883883\n";

std::vector<run_case> hand_computed_runs() {
    return {
        {"one additive term", GENOTYPES, {}, model(ADD_A), TWO_CYCLES_A, SCAN_A, TWO_PROCESSED, ONE_TERM_TABLE,
         ONE_TERM_XOUT, "var.genom 1 var(a)\n", "run.gval.txt", ONE_TERM_GVAL},
        // usefit reads the fitted values, whatever the plain name holds.
        {"usefit", GENOTYPES, {"usefit"}, model(ADD_A),
         cycle(10, {"add.geno.a 9 9 9 9", "fit." + A10}) + cycle(20, {"fit." + A20, "add.geno.a 9 9 9 9"}),
         "Found add model term: add.geno.a\nNOTE: the parameter being searched for is now fit.add.geno.a\n"
         "Model scanning done\n",
         TWO_PROCESSED, ONE_TERM_TABLE, ONE_TERM_XOUT, "var.genom 1 var(a)\n", "run.gval.txt", ONE_TERM_GVAL},
        // One cycle leaves every standard deviation undefined.
        {"one cycle", GENOTYPES, {}, model(ADD_A), cycle(10, {A10}), SCAN_A, "10\r\n1 output samples processed\n",
         "\n" + VAR_A + "\t4.0625\tnan\n", "10 var.genom 4.0625\n10 gval.a 2 3 -1.5 0\n", "var.genom 1 var(a)\n",
         "run.gval.txt", "id\tpm.a\tpsd.a\nA1\t2\tnan\nA2\t3\tnan\nA3\t-1.5\tnan\nA4\t0\tnan\n"},
        // Covariance of b with a below the diagonal, correlation of a with b above.
        {"two terms", GENOTYPES, {}, model(ADD_A + "add.geno.b 5 4 1 0 b$geno\n"),
         cycle(10, {A10, "add.geno.b 1 2 -0.5 0"}) + cycle(20, {A20, "add.geno.b -1 1 0.5 -2"}),
         "Found add model term: add.geno.a\nFound add model term: add.geno.b\nModel scanning done\n", TWO_PROCESSED,
         "\n" + header("", {"var(a)", "var(b)", "covar(b,a)", "corr(a,b)"}) +
             "\t5.57292\t2.13605\t6.29167\t0.176777\t-5.20833\t0.648181\t-0.894772\t0.0767071\n",
         "10 var.genom 4.0625 6.16667 -4.75 -0.949012\n10 gval.a 2 3 -1.5 0\n10 gval.b -2.5 -3 2.5 -1\n"
         "20 var.genom 7.08333 6.41667 -5.66667 -0.840532\n20 gval.a -2.25 2.25 3.25 -1.25\n20 gval.b 1 -4.5 -2 0.5\n",
         "var.genom 4 var(a) var(b) covar(b,a) corr(a,b)\n", "run.gval.txt",
         "id\tpm.a\tpsd.a\tpm.b\tpsd.b\nA1\t-0.125\t3.0052\t-0.75\t2.47487\nA2\t2.625\t0.53033\t-3.75\t1.06066\n"
         "A3\t0.875\t3.35876\t0.25\t3.18198\nA4\t-0.625\t0.883883\t-0.25\t1.06066\n"},
        // Dominance effects 1 -1 0.5 2 and 2 1 1 -1. Narrow: d = x(2p - 1), 0 at
        // p = 0.5; cycle 10 adds -0.25 -0.75 0.75 -0.75 to a's values.
        {"additive and narrow dominance", GENOTYPES, {}, model(ADD_A + "dom.geno.a 6 4 1 0 a$geno\n"),
         cycle(10, {A10, "dom.geno.a 1 -1 0.5 2"}) + cycle(20, {A20, "dom.geno.a 2 1 1 -1"}),
         "Found add model term: add.geno.a\nFound dom model term: dom.geno.a\n" + NARROW_CONSOLE +
             "Model scanning done\n",
         TWO_PROCESSED, NARROW_NOTE + "\n" + VAR_A + "\t5.02865\t0.394065\n",
         "10 var.genom 4.75\n10 gval.a 1.75 3.75 -0.75 -0.75\n20 var.genom 5.30729\n20 gval.a -2 2.25 2.75 -0.75\n",
         "var.genom 1 var(a)\n", "run.gval.txt",
         "id\tpm.a\tpsd.a\nA1\t-0.125\t2.65165\nA2\t3\t1.06066\nA3\t1\t2.47487\nA4\t-0.75\t0\n"},
        // Broad: d = heterozygote - 2p(1 - p); cycle 10 adds -1.375 0.375 0.875 -0.875.
        {"additive and broad dominance", GENOTYPES, {"broad"}, model("dom.geno.a 6 4 1 0 a$geno\n" + ADD_A),
         cycle(10, {"dom.geno.a 1 -1 0.5 2", A10}) + cycle(20, {A20, "dom.geno.a 2 1 1 -1"}),
         "Found dom model term: dom.geno.a\nFound add model term: add.geno.a\nModel scanning done\n", TWO_PROCESSED,
         BROAD_NOTE + "\n" + VAR_A + "\t5.86654\t2.93431\n",
         "10 var.genom 3.79167\n10 gval.a 0.625 3.375 -0.625 -0.875\n"
         "20 var.genom 7.94141\n20 gval.a -3.125 3.75 0.75 0.75\n",
         "var.genom 1 var(a)\n", "run.gval.txt",
         "id\tpm.a\tpsd.a\nA1\t-1.25\t2.65165\nA2\t3.5625\t0.265165\nA3\t0.0625\t0.972272\nA4\t-0.0625\t1.14905\n"},
        // chr10 (m3, m4) gives 1.5 0 -1.5 0 and -1 3 1.5 -2, chr2 the rest; ALL their sum.
        {"by= groups with ALL", GENOTYPES, {"by=chrom"}, model(ADD_A), TWO_CYCLES_A, SCAN_A, TWO_PROCESSED,
         "\n" + header("chrom", {"var(a)"}) +
             "chr10\t3.48958\t1.07539\nchr2\t0.833333\t0.471405\nALL\t5.57292\t2.13605\n",
         "10 var.genom 2.72917 0.5 4.0625\n20 var.genom 4.25 1.16667 7.08333\n",
         "var.genom 3 var(a).chromchr10 var(a).chromchr2 var(a).ALL\n", "run.gval.bychrom.txt",
         "id\tpm.a_chr10\tpsd.a_chr10\tpm.a_chr2\tpsd.a_chr2\tpm.a_all\tpsd.a_all\n"
         "A1\t0.5\t2.12132\t-0.625\t0.883883\t-0.125\t3.0052\n"
         "A2\t2.25\t1.06066\t0.375\t1.59099\t2.625\t0.53033\n"
         "A3\t0.25\t2.47487\t0.625\t0.883883\t0.875\t3.35876\n"
         "A4\t-0.75\t0.353553\t0.125\t0.53033\t-0.625\t0.883883\n"},
        // Window k holds markers k-1..k+1; ALL counts m2 and m3 three times.
        {"bywindow=3", GENOTYPES, {"bywindow=3"}, model(ADD_A), TWO_CYCLES_A, SCAN_A, TWO_PROCESSED,
         "\n" + header("geno", {"var(a)"}) +
             "m1\t0.833333\t0.471405\nm2\t3.33333\t0.235702\nm3\t4.73958\t0.928078\nm4\t3.48958\t1.07539\n"
             "ALL\t36.875\t0.883883\n",
         "10 var.genom 0.5 3.16667 5.39583 2.72917 36.25\n20 var.genom 1.16667 3.5 4.08333 4.25 37.5\n",
         "var.genom 5 var(a).m1 var(a).m2 var(a).m3 var(a).m4 var(a).ALL\n", "run.gval.txt",
         "id\tpm.a\tpsd.a\nA1\t0.375\t8.66206\nA2\t5.625\t2.65165\nA3\t1.125\t9.36916\nA4\t-1.125\t2.2981\n"},
        // The windows stop at the chromosome border: m1's and m2's hold chr2.
        {"bywindow=3 by=chrom", GENOTYPES, {"bywindow=3", "by=chrom"}, model(ADD_A), TWO_CYCLES_A, SCAN_A,
         TWO_PROCESSED,
         "\n" + header("geno\tchrom", {"var(a)"}) +
             "m1\tchr2\t0.833333\t0.471405\nm2\tchr2\t0.833333\t0.471405\nm3\tchr10\t3.48958\t1.07539\n"
             "m4\tchr10\t3.48958\t1.07539\nALL\tALL\t22.2917\t8.54421\n",
         "10 var.genom 0.5 0.5 2.72917 2.72917 16.25\n20 var.genom 1.16667 1.16667 4.25 4.25 28.3333\n",
         "var.genom 5 var(a).m1 var(a).m2 var(a).m3 var(a).m4 var(a).ALL\n", "run.gval.txt",
         "id\tpm.a\tpsd.a\nA1\t-0.25\t6.01041\nA2\t5.25\t1.06066\nA3\t1.75\t6.71751\nA4\t-1.25\t1.76777\n"},
        // The individuals are the filter's records, A5 without genotypes.
        {"ids= filter", FILTERED, {"ids=animals"}, model(ADD_A), TWO_CYCLES_A, SCAN_A, TWO_PROCESSED,
         "\n" + VAR_A + "\t4.28125\t1.52912\n",
         "10 var.genom 3.2\n10 gval.a -1.5 2 0 3 0\n20 var.genom 5.3625\n20 gval.a 3.25 -2.25 0 2.25 -1.25\n",
         "var.genom 1 var(a)\n", "run.gval.txt",
         "id\tpm.a\tpsd.a\nA3\t0.875\t3.35876\nA1\t-0.125\t3.0052\nA5\t0\t0\nA2\t2.625\t0.53033\n"
         "A4\t-0.625\t0.883883\n"},
        // Covariates 1 0.5 NA / -1 2 1 / 0 NA 2; effects 2 1 -1 then 1 -2 0.5.
        // A missing covariate adds nothing.
        {"regression on covariates", COVARIATES, {}, model("reg.cov.r 3 3 1 0 r$cov\n"),
         cycle(10, {"reg.cov.r 2 1 -1"}) + cycle(20, {"reg.cov.r 1 -2 0.5"}),
         "Found reg model term: reg.cov.r\nModel scanning done\n", TWO_PROCESSED,
         "\n" + header("", {"var(r)"}) + "\t7.08333\t2.12132\n",
         "10 var.genom 5.58333\n10 gval.r 2.5 -1 -2\n20 var.genom 8.58333\n20 gval.r 0 -4.5 1\n",
         "var.genom 1 var(r)\n", "run.gval.txt",
         "id\tpm.r\tpsd.r\nA1\t1.25\t1.76777\nA2\t-2.75\t2.47487\nA3\t-0.5\t2.12132\n"},
        // Covariate columns feed the windows that hold them, as markers do.
        {"regression in windows", COVARIATES, {"bywindow=3"}, model("reg.cov.r 3 3 1 0 r$cov\n"),
         cycle(10, {"reg.cov.r 2 1 -1"}) + cycle(20, {"reg.cov.r 1 -2 0.5"}),
         "Found reg model term: reg.cov.r\nModel scanning done\n", TWO_PROCESSED,
         "\n" + header("cov", {"var(r)"}) + "c1\t5.20833\t4.41942\nc2\t7.08333\t2.12132\nc3\t3.83333\t1.76777\n"
         "ALL\t42.875\t28.461\n",
         "10 var.genom 2.08333 5.58333 2.58333 22.75\n20 var.genom 8.33333 8.58333 5.08333 63\n",
         "var.genom 4 var(r).c1 var(r).c2 var(r).c3 var(r).ALL\n", "run.gval.txt",
         "id\tpm.r\tpsd.r\nA1\t2.25\t4.59619\nA2\t-6.5\t9.19239\nA3\t-1\t4.24264\n"},
    };
}

TEST(TavogenEndToEnd, HandComputedRunsWriteEveryOutput) {
    for (const run_case& c : hand_computed_runs()) {
        SCOPED_TRACE(c.title);
        genomic_run run(c.kind, c.mod, c.out);
        run.run(c.options);
        EXPECT_EQ(run.result.status, 0);
        EXPECT_EQ(run.console(), BANNER + c.kind.loading + c.scan + "Reading output from MCMC cycle\n" + c.cycles +
                                     "G-values of individuals were written to file " + c.gval_name + "\n" +
                                     finished_with(0));
        EXPECT_EQ(run.log_tail(),
                  TABLE_TITLE + c.kind.block + "\n" + STAT_LINE + c.table + "\ntavogen finished at <time>\n\n");
        EXPECT_EQ(run.file("run.xout"), c.xout);
        EXPECT_EQ(run.file("run.xlab"), c.xlab);
        EXPECT_EQ(run.file(c.gval_name), c.gval);
    }
}

// ------------------------------------------------------------------- stops

struct refusal {
    const char* title;
    const job_kind& kind;
    std::string mod;
    std::string scan;  // console lines of the model scan
    std::string map;   // replaces the genotype run's annotated map when set
};

std::vector<refusal> refusals() {
    const std::string reg = "reg.geno 3 4 1 0 r$geno\n";
    const std::string dom = "dom.geno.a 6 4 1 0 a$geno\n";
    return {
        {"no term of the block", GENOTYPES, model("add.other 5 4 1 0 a$other\n"),
         "! There are no suitable model parameters found with block field geno\n", ""},
        {"regression with additive", GENOTYPES, model(reg + ADD_A),
         "Found reg model term: reg.geno\nFound add model term: add.geno.a\n"
         " Combination of regression and genotype fit models found for block field geno.\n"
         " This situation cannot be handled now.\n",
         ""},
        {"unequal term counts", GENOTYPES, model(ADD_A + dom + "add.geno.b 5 4 1 0 b$geno\n"),
         "Found add model term: add.geno.a\nFound dom model term: dom.geno.a\nFound add model term: add.geno.b\n"
         "! 2 add terms and 1 dom terms found for block field geno\n  This situation can not be handled now.\n",
         ""},
        {"dominance alone", GENOTYPES, model(dom),
         "Found dom model term: dom.geno.a\n! Dominance fit without addtive fit found for block field geno\n"
         " This situation cannot be handled now.\n",
         ""},
        {"dominance length", GENOTYPES, model(ADD_A + "dom.geno.a 6 3 1 0 a$geno\n"),
         "Found add model term: add.geno.a\nFound dom model term: dom.geno.a\n"
         "! Dimension of additive and dominance effect vectors do not match\n",
         ""},
        {"used-marker count", GENOTYPES, model("add.geno.a 5 3 1 0 a$geno\n"),
         "Found add model term: add.geno.a\n"
         "! Dimension of add.geno.a (3) is not matching \"used\" markers in annotated map file (4)\n",
         ""},
        {"regression on genotypes", GENOTYPES, model(reg),
         "Found reg model term: reg.geno\n! Block field geno cannot be used with regression model terms\n", ""},
        {"additive on covariates", COVARIATES, model("add.cov 5 3 1 0 a$cov\n"),
         "Found add model term: add.cov\n! Block field cov cannot be used with genotype model terms\n", ""},
        {"short regression vector", COVARIATES, model("reg.cov.r 3 2 1 0 r$cov\n"),
         "Found reg model term: reg.cov.r\n"
         "! Dimension of reg.cov.r (2) is smaller than the number of block columns (3)\n",
         ""},
        {"freq1 outside 0..1", GENOTYPES, model(ADD_A),
         "Found add model term: add.geno.a\n! Marker m3 is used but its freq1 is missing or outside 0..1\n",
         MAP_HEAD + "m1 chr2 AG 0.5 0 1\nm2 chr2 CT 0.25 0 1\nm3 chr10 AC 1.5 1 1\nm4 chr10 GT 0.75 1 1\n"},
    };
}

// A refused model ends with code 6, never passing for success; the extra
// files stay empty and no G-value file is written.
TEST(TavogenEndToEnd, ModelRefusalsEndWithSix) {
    for (const refusal& c : refusals()) {
        SCOPED_TRACE(c.title);
        genomic_run run(c.kind, c.mod, TWO_CYCLES_A);
        if (!c.map.empty()) run.write("markers.txt.anno", c.map);
        run.run({});
        EXPECT_EQ(run.result.status, 6);
        EXPECT_EQ(run.console(), BANNER + c.kind.loading + c.scan + finished_with(6));
        EXPECT_EQ(run.log_tail(), "\ntavogen finished with error code 6 at <time>\n\n");
        EXPECT_EQ(run.file("run.xout"), "");
        EXPECT_EQ(run.file("run.xlab"), "");
        EXPECT_FALSE(run.exists("run.gval.txt"));
    }
}

struct reading_stop {
    const char* title;
    std::string out;
    std::string cycles;  // console from the progress line to the end of the reading
    std::string xout;    // records of the cycles processed before the stop
};

std::vector<reading_stop> reading_stops() {
    const std::string first = "10 var.genom 4.0625\n10 gval.a 2 3 -1.5 0\n";
    return {
        {"missing parameter", cycle(10, {A10}) + cycle(20, {}) + cycle(30, {A10}),
         "10\r\n!Problem retrieving samples for cycle 20: add.geno.a not found\n\n", first},
        {"too few values", cycle(10, {A10}) + cycle(20, {"add.geno.a 1 0.5 -1", "add.geno.b 2"}),
         "10\r\n!Problem retrieving samples for cycle 20: too few values for add.geno.a\n\n", first},
        {"unreadable line head", cycle(10, {A10}) + "x20 add.geno.a 1 0.5 -1 2\n",
         "\n!Problem retrieving samples: line 4 of run.out cannot be read\n\n", ""},
        {"empty sample file", "", "\n! No MCMC cycles found in run.out\n", ""},
    };
}

// A stop of the cycle reading, or a run without cycles, ends with code 7:
// the cycles before the stop keep their records, nothing is summarised.
TEST(TavogenEndToEnd, CycleReadingStopsEndWithSeven) {
    for (const reading_stop& c : reading_stops()) {
        SCOPED_TRACE(c.title);
        genomic_run run(GENOTYPES, model(ADD_A), c.out);
        run.run({});
        EXPECT_EQ(run.result.status, 7);
        EXPECT_EQ(run.console(),
                  BANNER + GENOTYPES.loading + SCAN_A + "Reading output from MCMC cycle\n" + c.cycles + finished_with(7));
        EXPECT_EQ(run.log_tail(), "\ntavogen finished with error code 7 at <time>\n\n");
        EXPECT_EQ(run.file("run.xout"), c.xout);
        EXPECT_EQ(run.file("run.xlab"), "");
        EXPECT_FALSE(run.exists("run.gval.txt"));
    }
}

// A G-value file that cannot be opened ends with code 8 after every other
// output has been written in full.
TEST(TavogenEndToEnd, UnwritableGValueFileEndsWithEight) {
    genomic_run run(GENOTYPES, model(ADD_A), TWO_CYCLES_A);
    std::filesystem::create_directory(run.dir.path / "run.gval.txt");
    run.run({});
    EXPECT_EQ(run.result.status, 8);
    EXPECT_EQ(run.console(), BANNER + GENOTYPES.loading + SCAN_A + "Reading output from MCMC cycle\n" + TWO_PROCESSED +
                                 "! Problem opening file (run.gval.txt) for writing\n" + finished_with(8));
    EXPECT_EQ(run.log_tail(), TABLE_TITLE + "geno\n" + STAT_LINE + ONE_TERM_TABLE +
                                  "\ntavogen finished with error code 8 at <time>\n\n");
    EXPECT_EQ(run.file("run.xlab"), "var.genom 1 var(a)\n");
    EXPECT_TRUE(std::filesystem::is_directory(run.dir.path / "run.gval.txt"));
}


// ------------------------------------------------------- the shipped example

size_t count_of(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// The numbers of the posterior table's last row (the ALL group when grouped).
std::vector<double> last_row(const std::string& log) {
    const size_t end = log.rfind("\n\ntavogen finished");
    const size_t start = log.rfind('\n', end - 1) + 1;
    std::vector<double> numbers;
    const std::string row = log.substr(start, end - start);
    for (size_t tab = row.find('\t'); tab != std::string::npos; tab = row.find('\t', tab + 1))
        numbers.push_back(std::stod(row.substr(tab + 1)));
    return numbers;
}

// examples/geno: 120 cows, 200 markers (195 used) on 3 chromosomes, two
// traits with additive and dominance effects, 50 saved cycles.
TEST(TavogenEndToEnd, ShippedGenomicExampleRunsOverallByChromosomeAndInWindows) {
    testutil::scratch_dir dir("e2e-example");
    for (const char* name : {"geno.tavo", "geno.mod", "geno.out", "geno.lab", "cows.txt", "genotypes.txt",
                             "markers.txt", "markers.txt.anno"})
        std::filesystem::copy_file(std::string(EXAMPLES_DIR) + "/" + name, dir.file(name));
    struct expectation {
        std::vector<std::string> options;
        std::string xlab_head;  // count of values per record and the first label
        std::string gval_name;
    };
    std::vector<std::vector<double>> all_rows;
    for (const expectation& e : {expectation{{}, "var.genom 4 var(yield) ", "geno.gval.txt"},
                                 expectation{{"by=chrom"}, "var.genom 16 var(yield).chromchr1 ", "geno.gval.bychrom.txt"},
                                 expectation{{"bywindow=11"}, "var.genom 804 var(yield).chr1_1025732 ", "geno.gval.txt"}}) {
        std::vector<std::string> args{"geno", "geno"};
        args.insert(args.end(), e.options.begin(), e.options.end());
        SCOPED_TRACE(args.back());
        const testutil::run_result r = testutil::run_program(TAVOGEN_BIN, args, dir.path.string());
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.console.find("\n50 output samples processed\nG-values of individuals were written to file " +
                                 e.gval_name + "\n"),
                  std::string::npos)
            << r.console;
        EXPECT_EQ(read_file(dir.file("geno.xlab")).rfind(e.xlab_head, 0), 0u);
        EXPECT_EQ(count_of(read_file(dir.file("geno.xout")), " var.genom "), 50u);
        EXPECT_EQ(count_of(read_file(dir.file(e.gval_name)), "\n"), 121u);
        all_rows.push_back(last_row(read_file(dir.file("geno.glog"))));
    }
    // The chromosomes' ALL group is the overall result, up to rounding.
    ASSERT_EQ(all_rows[0].size(), 8u);
    ASSERT_EQ(all_rows[1].size(), 8u);
    for (size_t k = 0; k < 8; ++k) EXPECT_NEAR(all_rows[1][k], all_rows[0][k], 1e-5 * std::abs(all_rows[0][k]));
}

}  // namespace
