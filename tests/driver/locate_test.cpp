// End-to-end runs of tavogen through the output check and the block field
// location: every stop with its exit status, console and log, and loading of
// genotype jobs up to the note on markers with new alleles.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver/locate.h"
#include "driver/run.h"
#include "support/testutil.h"

namespace {

using testutil::mask_times;
using testutil::read_file;
using testutil::run_program;
using testutil::tavogen_console_end;
using testutil::tavogen_finished;

const std::string& BANNER = testutil::TAVOGEN_BANNER;

// Three individuals, three markers: the usual genotype job.
const std::string ANIMALS = "A1 H1 3.2\nA2 H1 4.1\nA3 H2 5.0\n";
const std::string GENO012 = "A1 0 1 2\nA2 1 1 NA\nA3 2 0 0\n";
const std::string MAP_ANNO =
    "geno chrom alleles freq1 nrmiss used\n"
    "m1 1 AG 0.5 0 1\n"
    "m2 1 CT 0.4 0 1\n"
    "m3 2 AC 0.3 1 0\n";
const std::string MAP_DECLARATION = "data geno map\n  file=markers.txt\n";
const std::string GENOS_012 = "data id genos\n  file=geno.txt\n  id geno[] !genot012\n";

// How the log shows the marker map of MAP_ANNO once loaded.
const std::string MAP_SHEET =
    "Loading data 3 on geno (map) from markers.txt.anno\n"
    "    geno\t chrom\t alleles\t freq1\t nrmiss\t used\t \n"
    "    m1\t   1\t     AG\t      0.5\t   0\t      1\t    \n"
    "    m2\t   1\t     CT\t      0.4\t   0\t      1\t    \n"
    "    m3\t   2\t     AC\t      0.3\t   1\t      0\t    \n"
    "    ....\n";

// A job in a scratch folder with its sample output and model description.
struct job_run {
    testutil::scratch_dir dir{"loc"};
    std::vector<std::string> args;
    testutil::run_result result;

    explicit job_run(const std::string& jobfile) {
        write("run.tavo", jobfile);
        write("run.out", "");
        write("run.mod", "");
    }
    void write(const std::string& name, const std::string& text) const { testutil::write_file(dir.file(name), text); }
    void run(const std::vector<std::string>& arguments) {
        args = arguments;
        result = run_program(TAVOGEN_BIN, args, dir.path.string());
    }
    std::string console() const { return mask_times(result.console); }
    std::string log() const { return mask_times(read_file(dir.file("run.glog"))); }
    bool empty_file(const std::string& name) const {
        return std::filesystem::is_regular_file(dir.path / name) && std::filesystem::file_size(dir.path / name) == 0;
    }

    // The log up to the output check's report of the job's data sets.
    std::string log_head(const std::string& sets) const {
        std::string head = BANNER + "\nArguments:";
        for (const std::string& a : args) head += " " + a;
        return head +
               "\n\n"
               "\nChecking output files with this job:\n"
               "   tavo job file (run.tavo) ... available\n"
               "   ... reading OK, available data sets:" +
               sets +
               "\n"
               "   sample output file (run.out) ... available\n"
               "   model description (run.mod) ... available\n";
    }
    // The log's end and the console's end of a run that stops with `code`.
    static std::string log_end(int code) { return std::string(1, '\n').append(tavogen_finished(code)); }
    static std::string console_end(int code) { return tavogen_console_end(code); }
};

const std::string NO_FILTER = "   No data identified for Id filtering\n";

// The fixtures' model description is empty: a run that gets through loading
// stops at the model scan, which finds no terms of the block field.
constexpr int NO_MODEL = 6;
std::string no_model_terms(const std::string& block) {
    return "! There are no suitable model parameters found with block field " + block + "\n";
}

TEST(BlockLocation, MissingModelDescriptionStopsWithTheExtraFilesCreatedEmpty) {
    job_run job(GENOS_012 + MAP_DECLARATION);
    std::filesystem::remove(job.dir.path / "run.mod");
    job.write("run.xout", "from an earlier run\n");
    job.run({"run", "geno"});
    EXPECT_EQ(job.result.status, 2);
    EXPECT_EQ(job.console(), BANNER + "Quitting because job output files are incomplete (see log file)\n" +
                                 job_run::console_end(2));
    std::string expected = job.log_head(" genos map");
    expected.replace(expected.find("(run.mod) ... available"), 23, "(run.mod) ... not available");
    EXPECT_EQ(job.log(), expected + "Quitting because job output files are incomplete\n" + job_run::log_end(2));
    EXPECT_TRUE(job.empty_file("run.xout"));
    EXPECT_TRUE(job.empty_file("run.xlab"));
}

TEST(BlockLocation, ExtraFilesThatCannotBeWrittenStopTheRun) {
    job_run job(GENOS_012 + MAP_DECLARATION);
    std::filesystem::create_directory(job.dir.path / "run.xlab");
    job.run({"run", "geno"});
    EXPECT_EQ(job.result.status, 2);
    EXPECT_EQ(job.console(), BANNER + "Failure to open sample output files for writing\n" + job_run::console_end(2));
    EXPECT_EQ(job.log(), job.log_head(" genos map") + "Failure to open sample output files for writing\n" +
                             job_run::log_end(2));
    EXPECT_TRUE(job.empty_file("run.xout"));
}

// ids=all means no filter; any other value, ALL included, names a data set.
TEST(BlockLocation, IdentifierFilterAllAndAnUnknownName) {
    job_run job("data id animals\n  file=animals.txt\n  id herd y\n" + GENOS_012 + MAP_DECLARATION);
    job.run({"run", "geno", "ids=ALL"});
    EXPECT_EQ(job.result.status, 3);
    EXPECT_EQ(job.console(),
              BANNER + "Quitting because of problems identifying or loading filtering data \"ALL\" (see log file)\n" +
                  job_run::console_end(3));
    EXPECT_EQ(job.log(), job.log_head(" animals genos map") +
                             "! No data set ALL found for filtering IDs\n"
                             "Quitting because of problems identifying filtering data set\n" +
                             job_run::log_end(3));

    job.run({"run", "nosuchblock", "ids=all"});
    EXPECT_EQ(job.result.status, 3);
    EXPECT_EQ(job.console(),
              BANNER + "Quitting because of problems identifying the data set with the block field (see log file)\n" +
                  job_run::console_end(3));
    EXPECT_EQ(job.log(), job.log_head(" animals genos map") + NO_FILTER +
                             "! The block-field nosuchblock was not found in any data set specified in the tavo job "
                             "file.\n" +
                             job_run::log_end(3));
}

// The block data set is searched in the job's field words: a data set keyed
// by the block name is passed over, and a name only a header line gives is
// not seen.
TEST(BlockLocation, BlockDataSetIsFoundInTheDeclaredFieldWordsOnly) {
    job_run job("data geno markers\n  file=markers.txt\n  geno chrom\n"
                "data id genos\n  file=geno.txt -header\n");
    job.write("markers.txt", "m1 1\n");
    job.write("geno.txt", "id geno[]\nA1 0\n");
    job.run({"run", "geno"});
    EXPECT_EQ(job.result.status, 3);
    EXPECT_EQ(job.log(), job.log_head(" markers genos") + NO_FILTER +
                             "! The block-field geno was not found in any data set specified in the tavo job file.\n" +
                             job_run::log_end(3));
}

// Step by step: "genotypes" begins with "geno", so its data set is taken,
// and it has no field geno (case ignored).
TEST(BlockLocation, FirstDataSetWithAWordBeginningWithTheBlockNameIsTaken) {
    job_run job("data id chip\n  file=chip.txt\n  id genotypes[1]\n" + GENOS_012 + MAP_DECLARATION);
    job.write("chip.txt", "A1 0\n");
    job.write("geno.txt", GENO012);
    job.write("markers.txt.anno", MAP_ANNO);
    job.run({"run", "geno"});
    EXPECT_EQ(job.result.status, 3);
    EXPECT_EQ(job.console(),
              BANNER + "Quitting because of problems identifying the block field to use (see log file)\n" +
                  job_run::console_end(3));
    EXPECT_EQ(job.log(), job.log_head(" chip genos map") + NO_FILTER +
                             "   File identified with block covariate/genotype data is: chip.txt\n"
                             "! The block-field geno was not found in the data set chip.\n" +
                             job_run::log_end(3));
}

TEST(BlockLocation, NamedFieldThatIsNoBlockField) {
    job_run job("data id animals\n  file=animals.txt\n  id herd y\n");
    job.write("animals.txt", ANIMALS);
    job.run({"run", "HERD"});
    EXPECT_EQ(job.result.status, 3) << "HERD is no word of the job, whose case counts";
    job.run({"run", "herd"});
    EXPECT_EQ(job.result.status, 5);
    EXPECT_EQ(job.console(), BANNER + "Quitting because of problems identifying block field (see log file)\n" +
                                 job_run::console_end(5));
    EXPECT_EQ(job.log(), job.log_head(" animals") + NO_FILTER +
                             "   File identified with block covariate/genotype data is: animals.txt\n"
                             "! Indicated field herd is not a block field!\n" +
                             job_run::log_end(5));
}

// The set-up's messages go to the console; the log repeats those of the
// block data set and of the filter.
TEST(BlockLocation, SetUpFailureLogsTheBlockAndFilterMessages) {
    job_run job("data id animals\n  file=animals.txt\n  id herd y\n" + GENOS_012 + MAP_DECLARATION);
    job.write("markers.txt.anno", MAP_ANNO);
    job.run({"run", "geno", "ids=animals"});
    EXPECT_EQ(job.result.status, 4);
    EXPECT_EQ(job.console(), BANNER +
                                 "ERROR problem opening file [animals.txt] for data 1\n"
                                 "ERROR problem opening file [geno.txt] for data 2\n" +
                                 job_run::console_end(4));
    EXPECT_EQ(job.log(), job.log_head(" animals genos map") +
                             "   Data identified for Id filtering from file animals.txt (animals):\n"
                             "   File identified with block covariate/genotype data is: geno.txt\n"
                             "! Problem preparing loading data file(s)\n"
                             "ERROR problem opening file [geno.txt] for data 2\n"
                             "ERROR problem opening file [animals.txt] for data 1\n" +
                             job_run::log_end(4));
}

// A block sized by its brackets labels its columns with nothing, and a
// square block of a data set without key has no labels either.
TEST(BlockLocation, BlockWithoutLabelsStopsBeforeLoading) {
    job_run job("data id covs\n  file=covs.txt\n  id cov[2]\n");
    job.write("covs.txt", "A1 0.1 0.2\n");
    job.run({"run", "cov"});
    EXPECT_EQ(job.result.status, 9);
    const std::string no_data_set =
        "! The block-field cov has no data set with its column labels (a data set whose key is cov)\n";
    EXPECT_EQ(job.console(), BANNER + no_data_set + job_run::console_end(9));
    EXPECT_EQ(job.log(), job.log_head(" covs") + NO_FILTER +
                             "   File identified with block covariate/genotype data is: covs.txt\n" + no_data_set +
                             job_run::log_end(9));

    job_run square("data\n  file=rel.txt\n  rel[] !square\n");
    square.write("rel.txt", "1 0\n0 1\n");
    square.run({"run", "rel"});
    EXPECT_EQ(square.result.status, 9);
    const std::string no_key = "! The map/label data set 1 has no key field\n";
    EXPECT_EQ(square.console(), BANNER + no_key + job_run::console_end(9));
    EXPECT_EQ(square.log(), square.log_head(" 1") + NO_FILTER +
                                "   File identified with block covariate/genotype data is: rel.txt\n" + no_key +
                                job_run::log_end(9));
}

// A genotype block needs alleles, used and freq1 from the map's file; fields
// the set-up only added for a file without them count as missing.
TEST(BlockLocation, MarkerMapWithoutStatisticsFieldsStops) {
    const std::string missing =
        "! Annotated map file is missing one of the fields \"alleles\", \"used\" or \"freq1\"\n";
    for (const std::string& header : {std::string("geno chrom"), std::string("geno alleles freq1 chrom"),
                                      std::string("geno alleles used chrom")}) {
        SCOPED_TRACE(header);
        job_run job(GENOS_012 + MAP_DECLARATION);
        job.write("geno.txt", GENO012);
        job.write("markers.txt.anno", header + "\nm1 x x x\nm2 x x x\nm3 x x x\n");
        job.run({"run", "geno"});
        EXPECT_EQ(job.result.status, 9);
        EXPECT_EQ(job.console(), BANNER + missing + job_run::console_end(9));
        EXPECT_EQ(job.log(), job.log_head(" genos map") + NO_FILTER +
                                 "   File identified with block covariate/genotype data is: geno.txt\n" + missing +
                                 job_run::log_end(9));
    }
}

// A real block's map needs no statistics fields; a by= field that the map
// lacks is reported, everything is loaded, and the run stops with 9.
TEST(BlockLocation, MissingByFieldStopsAfterLoading) {
    job_run job("data id covs\n  file=covs.txt\n  id cov[]\ndata cov labels\n  file=labels.txt\n  cov chrom\n");
    job.write("covs.txt", "A1 0.1 0.2\nA2 1 2\n");
    job.write("labels.txt", "c1 1\nc2 1\n");
    job.run({"run", "cov", "by=chromosome"});
    EXPECT_EQ(job.result.status, 9);
    EXPECT_EQ(job.console(), BANNER +
                                 "Loading data #2 [key=cov, name=labels] from labels.txt\n"
                                 "  > Data loading OK, 2 records read\n"
                                 "Loading data #1 [key=id, name=covs] from covs.txt\n"
                                 "  > Data loading OK, 2 records read\n" +
                                 job_run::console_end(9));
    EXPECT_EQ(job.log(), job.log_head(" covs labels") + NO_FILTER +
                             "   File identified with block covariate/genotype data is: covs.txt\n"
                             "! Problem: \"by=\" field cannot be found in annotation/label data\n"
                             "   Data identified as map or label data from file labels.txt (labels):\n"
                             "Loading data 2 on cov (labels) from labels.txt\n"
                             "    cov\t chrom\t \n"
                             "    c1\t  1\t     \n"
                             "    c2\t  1\t     \n"
                             "    ....\n"
                             "Loading data 1 on id (covs) from covs.txt\n"
                             "    id\t cov[2]\t   \n"
                             "    A1\t 0.1 0.2 \t \n"
                             "    A2\t 1 2 \t     \n"
                             "    ....\n" +
                             job_run::log_end(9));

    job.run({"run", "cov", "by=CHROM"});
    EXPECT_EQ(job.result.status, NO_MODEL);
}

// The map's key field and a genotype block's statistics fields cannot group
// the markers: as levels the keys would be stored twice and the used values
// lost. Both count as not found.
TEST(BlockLocation, KeyAndStatisticsFieldsAreNoByField) {
    for (const std::string by : {"by=GENO", "by=used"}) {
        SCOPED_TRACE(by);
        job_run job(GENOS_012 + MAP_DECLARATION);
        job.write("geno.txt", GENO012);
        job.write("markers.txt.anno", MAP_ANNO);
        job.run({"run", "geno", by});
        EXPECT_EQ(job.result.status, 9);
        const std::string log = job.log();
        EXPECT_NE(log.find("! Problem: \"by=\" field cannot be found in annotation/label data\n"), std::string::npos);
        EXPECT_NE(log.find(MAP_SHEET.substr(MAP_SHEET.find('\n') + 1)), std::string::npos) << log;
    }
}

// The pending by= error and the loaders' problem counts add up; the code is
// the sum's low byte taken as a signed number.
TEST(BlockLocation, LoadingProblemsGiveTheLowByteOfTheSum) {
    job_run job(GENOS_012 + MAP_DECLARATION);
    job.write("markers.txt.anno", MAP_ANNO);
    job.write("geno.txt", "A1 0 1 2\nA2 1 3 NA\nA3 2 0 0\n");
    job.run({"run", "geno", "by=position"});
    EXPECT_EQ(job.result.status, 10);
    EXPECT_EQ(job.console(), BANNER +
                                 "Loading data #2 [key=geno, name=map] from markers.txt.anno\n"
                                 "  > Data loading OK, 3 records read\n"
                                 "Loading data #1 [key=id, name=genos] from geno.txt\n"
                                 "  ! invalid genotype code at record 2 marker 2: 3\n"
                                 // a file read to its end adds nothing to this line
                                 "! Problem reading file:" +
                                 job_run::console_end(10));
}

// Duplicate keys are level problems, one per key: 200 give -56 (exit status
// 200), and 247 with the pending by= error make 256, whose low byte 0 must
// not pass for success.
TEST(BlockLocation, LevelProblemCountsAreNeverTakenForSuccess) {
    struct expectation {
        int duplicated;
        const char* by;
        int code;
        int status;
    };
    for (const expectation& e : {expectation{200, "by=chrom", -56, 200}, expectation{247, "by=position", -1, 255},
                                 expectation{256, "by=chrom", -1, 255}}) {
        SCOPED_TRACE(e.duplicated);
        job_run job(GENOS_012 + MAP_DECLARATION);
        job.write("markers.txt.anno", MAP_ANNO);
        std::string genotypes;
        for (int k = 0; k < e.duplicated; ++k)
            for (int copy = 0; copy < 2; ++copy) genotypes.append(1, 'A').append(std::to_string(k)).append(" 0 1 2\n");
        job.write("geno.txt", genotypes);
        job.run({"run", "geno", e.by});
        EXPECT_EQ(job.result.status, e.status);
        const std::string finishing = tavogen_finished(e.code);
        const std::string console = job.console();
        ASSERT_GE(console.size(), finishing.size());
        EXPECT_EQ(console.substr(console.size() - finishing.size()), finishing);
        EXPECT_NE(console.find("! Duplicate keys found for: A0 (2 times)\n"), std::string::npos);
        const std::string log = job.log();
        EXPECT_EQ(log.substr(log.size() - finishing.size() - 1), std::string(1, '\n').append(finishing));
    }
}

// The biallelic genotypes are coded against the alleles of the annotated
// map; a marker showing an allele the analysis did not know is reported.
TEST(BlockLocation, MarkersWithNewAllelesAreListedInTheLog) {
    job_run job("data id genos\n  file=geno.txt\n  id geno[] !biallelic\n" + MAP_DECLARATION);
    job.write("markers.txt.anno", MAP_ANNO);
    job.write("geno.txt", "A1 A A C T A A\nA2 A G T T C C\nA3 G G C G 0 0\n");
    job.run({"run", "geno"});
    EXPECT_EQ(job.result.status, NO_MODEL);
    EXPECT_EQ(job.console(), BANNER +
                                 "Loading data #2 [key=geno, name=map] from markers.txt.anno\n"
                                 "  > Data loading OK, 3 records read\n"
                                 "Loading data #1 [key=id, name=genos] from geno.txt\n"
                                 "  > Data loading OK, 3 records read\n"
                                 "Note: Some markers cannot be used because new alleles are found - see log file\n" +
                                 no_model_terms("geno") + job_run::console_end(NO_MODEL));
    std::string map_sheet = MAP_SHEET;
    map_sheet.replace(map_sheet.find("data 3"), 6, "data 2");
    EXPECT_EQ(job.log(), job.log_head(" genos map") + NO_FILTER +
                             "   File identified with block covariate/genotype data is: geno.txt\n"
                             "   Data identified as map or label data from file markers.txt.anno (map):\n" +
                             map_sheet +
                             "Loading data 1 on id (genos) from geno.txt\n"
                             "    id\t geno[3]\t \n"
                             "    A1\t 1 2 1 \t  \n"
                             "    A2\t 2 3 3 \t  \n"
                             "    A3\t 3 0 0 \t  \n"
                             "    ....\n"
                             "Note: The following markers cannot be used for genomic variance/values, because\n"
                             "new alleles are present in the marker data which were not in the analysis:\n"
                             "m2 " +
                             job_run::log_end(NO_MODEL));
}

// A coded genotype block joined to the identifier filter, grouped by a
// chromosome field; and the field GENO, which the block name geno finds
// ignoring case once the data set is found by its word "geno_qc".
TEST(BlockLocation, GenotypeJobWithFilterAndGrouping) {
    job_run job("data id animals\n  file=animals.txt\n  id herd y\n" + GENOS_012 + MAP_DECLARATION);
    job.write("animals.txt", ANIMALS);
    job.write("geno.txt", GENO012);
    job.write("markers.txt.anno", MAP_ANNO);
    job.run({"run", "geno", "ids=animals", "by=Chrom"});
    EXPECT_EQ(job.result.status, NO_MODEL);
    EXPECT_EQ(job.console(),
              BANNER +
                  "Loading data #1 [key=id, name=animals] from animals.txt\n"
                  " > Data loading OK, 3 records read [More data on id to be merged ...]\n"
                  "Loading data #3 [key=geno, name=map] from markers.txt.anno\n"
                  "  > Data loading OK, 3 records read\n"
                  "Loading data #2 [key=id, name=genos] from geno.txt\n"
                  "  > This data is appended to (and only retains records that match with) data set 1 (animals).\n"
                  "  > Data loading OK, 3 records read, 3 matched, 0 records set missing [Merging data on id done]\n" +
                  no_model_terms("geno") + job_run::console_end(NO_MODEL));
    EXPECT_EQ(job.log(),
              job.log_head(" animals genos map") +
                  "   Data identified for Id filtering from file animals.txt (animals):\n"
                  "   File identified with block covariate/genotype data is: geno.txt\n"
                  "   Data identified as map or label data from file markers.txt.anno (map):\n"
                  "Loading data 1 on id (animals) from animals.txt\n" +
                  MAP_SHEET +
                  "Loading data 2 on id (genos) from geno.txt\n"
                  "  > This data is appended to (and only retains records that match with) data set 1 (animals).\n"
                  "    id\t herd\t y\t   geno[3]\t \n"
                  "    A1\t H1\t   3.2\t 1 2 3 \t  \n"
                  "    A2\t H1\t   4.1\t 2 2 0 \t  \n"
                  "    A3\t H2\t   5.0\t 3 1 1 \t  \n"
                  "    ....\n" +
                  job_run::log_end(NO_MODEL));
    EXPECT_TRUE(job.empty_file("run.xout"));
    EXPECT_TRUE(job.empty_file("run.xlab"));

    job_run upper("data id genos\n  file=geno.txt\n  id GENO[] !genot012 geno_qc\n" + MAP_DECLARATION);
    upper.write("geno.txt", "A1 0 1 2 ok\n");
    upper.write("markers.txt.anno", MAP_ANNO);
    upper.run({"run", "geno"});
    EXPECT_EQ(upper.result.status, NO_MODEL);
    EXPECT_NE(upper.log().find("    A1\t 1 2 3 \t  ok\t      \n"), std::string::npos) << upper.log();
}

// A filter that is the block data set itself joins nothing.
TEST(BlockLocation, FilterThatIsTheBlockDataSetIsNoFilter) {
    job_run job(GENOS_012 + MAP_DECLARATION);
    job.write("geno.txt", GENO012);
    job.write("markers.txt.anno", MAP_ANNO);
    job.run({"run", "geno", "ids=genos"});
    EXPECT_EQ(job.result.status, NO_MODEL);
    const std::string log = job.log();
    EXPECT_NE(log.find("   Data identified for Id filtering from file geno.txt (genos):\n"), std::string::npos);
    EXPECT_EQ(log.find("appended"), std::string::npos);
    EXPECT_NE(log.find("    A2\t 2 2 0 \t  \n"), std::string::npos) << log;
}

}  // namespace

namespace tavo {
namespace {

// The loading step's code is the signed low byte of the sum, except that a
// nonzero sum never gives 0.
TEST(LoadingCode, SignedLowByteAndWrappedSums) {
    EXPECT_EQ(loading_code(0), 0);
    EXPECT_EQ(loading_code(9), 9);
    EXPECT_EQ(loading_code(127), 127);
    EXPECT_EQ(loading_code(128), -128);
    EXPECT_EQ(loading_code(200), -56);
    EXPECT_EQ(loading_code(255), -1);
    EXPECT_EQ(loading_code(256), ERR_LOAD_WRAPPED);
    EXPECT_EQ(loading_code(257), 1);
    EXPECT_EQ(loading_code(512), ERR_LOAD_WRAPPED);
    EXPECT_EQ(loading_code(int64_t{1} << 32), ERR_LOAD_WRAPPED);
}

}  // namespace
}  // namespace tavo
