#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "setup/setup_parts.h"
#include "support/job_fixture.h"

namespace tavo {
namespace {

using job_testing::names_of;
using job_testing::options_of;
using job_testing::test_job;
using job_testing::types_of;
using Names = std::vector<std::string>;

TEST(SetupDatasets, EmptyJobIsReadyAndSilent) {
    test_job t;
    const auto run = t.setup();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.console, "");
}

// ---- set-up statuses and their messages ------------------------------------

TEST(SetupStatus, MissingFileNameAndUnopenableFile) {
    test_job t;
    t.write("a.txt", "id x\n1 2\n");
    t.add("id", "1", "a.txt", {"id", "x"});
    dataset& unnamed = t.add("", "2", "", {"x"});
    dataset& absent = t.add("", "3", "nothere.txt", {"x"});
    const auto run = t.setup();
    EXPECT_EQ(run.result, 2);
    EXPECT_EQ(unnamed.status, setup_status::no_file_name);
    EXPECT_EQ(absent.status, setup_status::cannot_open);
    EXPECT_EQ(run.console, "ERROR missing file name for data 2[]\n"
                           "ERROR problem opening file [" + t.j.data_path + "nothere.txt] for data 3\n");
    EXPECT_EQ(absent.messages, "ERROR problem opening file [" + t.j.data_path + "nothere.txt] for data 3\n");
}

TEST(SetupStatus, PathLongerThan500IsNotTriedEvenWhenTheFileExists) {
    test_job t;
    const std::string deep = std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(120, 'c');
    std::filesystem::create_directories(t.dir.path / deep);
    t.write(deep + "/g.txt", "1\n");
    dataset& ds = t.add("", "1", deep + "/g.txt", {"x"});
    const auto run = t.setup();
    EXPECT_EQ(ds.status, setup_status::cannot_open);
    EXPECT_EQ(ds.in, nullptr);
    EXPECT_EQ(run.console, "ERROR problem opening file [" + t.j.data_path + deep + "/g.txt] for data 1\n");
}

TEST(SetupStatus, PedigreeWithoutKey) {
    test_job t;
    t.write("p.txt", "1 0 0\n");
    dataset& ped = t.add("", "PED", "p.txt", {"id", "sire", "dam"});
    const auto run = t.setup();
    EXPECT_EQ(ped.status, setup_status::ped_without_key);
    EXPECT_EQ(run.console, "ERROR data 1 [p.txt] marked as \"ped\" has no identified key field\n");
}

TEST(SetupStatus, AppendedDataWithOtherMissingIndicator) {
    test_job t;
    t.write("a.txt", "1 2\n");
    t.write("b.txt", "1 3\n");
    t.add("id", "one", "a.txt", {"id", "x"});
    dataset& b = t.add("ID", "two", "b.txt", {"id", "y"});
    b.missing = "na";  // case counts
    const auto run = t.setup();
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(b.status, setup_status::missing_differs);
    EXPECT_EQ(run.console,
              "! ERROR Merging data with different missing indicators is not possible\n"
              "  Data 2 [b.txt] with missing indicator na is being merged with data 1 [a.txt] with missing indicatorNA\n");
}

TEST(SetupStatus, NoFieldNames) {
    test_job t;
    t.write("h.txt", " \t \n1 2\n");
    t.write("o.txt", "1\n");
    dataset& header = t.add("", "1", "h.txt", {"declared"});
    header.header = true;
    dataset& options_only = t.add("", "2", "o.txt", {"!block", "!size=3"});
    const auto run = t.setup();
    EXPECT_EQ(header.status, setup_status::no_fields);
    EXPECT_EQ(options_only.status, setup_status::no_fields);
    EXPECT_EQ(run.console, "ERROR No field names given (or empty header line) for data 1 [h.txt]\n"
                           "ERROR No field names given (or empty header line) for data 2 [o.txt]\n");
}

TEST(SetupStatus, MemoryMessage) {
    // A sheet that cannot be had is hard to provoke: check the text it gives.
    dataset ds;
    ds.status = setup_status::no_memory;
    ds.messages = "earlier\n";
    setup_detail::write_status_message(ds, "", nullptr);
    EXPECT_EQ(ds.messages, "earlier\nERROR Allocating memory when setting up data sheets\n");
}

TEST(SetupStatus, KeyNotAmongTheFields) {
    test_job t;
    t.write("a.txt", "1 2\n");
    dataset& ds = t.add("animal", "1", "a.txt", {"id", "x"});
    const auto run = t.setup();
    EXPECT_EQ(ds.status, setup_status::key_not_found);
    EXPECT_EQ(run.console, "ERROR for data 1 [a.txt] indicated key animal is not present as a field in the data set\n");
}

TEST(SetupStatus, EmptyData) {
    test_job t;
    t.write("only_header.txt", "id x\n");
    t.write("empty.txt", "");
    t.write("all_skipped.txt", "id x\n1 2\n3 4\n");
    dataset& only_header = t.add("", "1", "only_header.txt", {"x"});
    only_header.header = true;
    dataset& empty = t.add("", "2", "empty.txt", {"x"});
    dataset& skipped = t.add("", "3", "all_skipped.txt", {"x"}, {"skip=2"});
    skipped.header = true;
    const auto run = t.setup();
    EXPECT_EQ(run.result, 3);
    EXPECT_EQ(only_header.status, setup_status::empty);
    EXPECT_EQ(empty.status, setup_status::empty);
    EXPECT_EQ(skipped.status, setup_status::empty);
    EXPECT_EQ(run.console, "ERROR data 1 [only_header.txt] appears to be empty (line count is zero)\n"
                           "ERROR data 2 [empty.txt] appears to be empty (line count is zero)\n"
                           "ERROR data 3 [all_skipped.txt] appears to be empty (line count is zero)\n");
}

// A data file that opens but cannot be read (here a folder) is no empty file
// and, with a header line, no file without field names.
TEST(SetupStatus, DataFileThatCannotBeReadIsNotEmpty) {
    test_job t;
    std::filesystem::create_directory(t.dir.file("folder.txt"));
    std::filesystem::create_directory(t.dir.file("headed.txt"));
    dataset& ds = t.add("", "1", "folder.txt", {"x"});
    dataset& headed = t.add("", "2", "headed.txt", {});
    headed.header = true;
    const auto run = t.setup();
    EXPECT_EQ(run.result, 2);
    EXPECT_EQ(ds.status, setup_status::cannot_open);
    EXPECT_EQ(headed.status, setup_status::cannot_open);
    EXPECT_EQ(run.console, "! File " + t.j.data_path + "folder.txt cannot be read: Is a directory\n"
                           "! File " + t.j.data_path + "headed.txt cannot be read: Is a directory\n");
}

// A block's declared values need 2 bytes each of its data file (the last one
// may lack its separator), whether its size is written between the brackets,
// as "!size=" or comes from a linked data set; an appended data set's own
// file need hold one record.
TEST(SetupStatus, BlockDeclaringMoreValuesThanItsFileCanHold) {
    test_job t;
    t.j.file_name = "run.tavo";
    t.write("g.txt", "1 0.5 0.2\n2 0.1 0.3");  // 19 bytes: room for 10 values
    t.write("one.txt", "1 2 3\n");
    t.write("m.txt", "m1\nm2\nm3\n");
    t.write("snp.txt", "1 0 1\n2 1\n");       // 2 records x 3 markers do not fit in 10 bytes
    dataset& fits = t.declare("data id1 fits", "file=g.txt id1 cov[5]");
    dataset& appended = t.declare("data ID1 app", "file=one.txt ID1 more[2]");
    dataset& big = t.declare("data id2 big", "file=g.txt id2 cov[11]");
    dataset& sized = t.declare("data id3 sized", "file=g.txt id3 f[] !size=6");
    t.declare("data snp markers", "file=m.txt snp");
    dataset& coded = t.declare("data id4 coded", "file=snp.txt id4 snp[] !genot012");
    const auto run = t.setup();
    EXPECT_EQ(run.result, 3);
    EXPECT_EQ(fits.status, setup_status::ok);
    EXPECT_EQ(appended.link_target, &fits);
    EXPECT_EQ(appended.status, setup_status::ok);
    EXPECT_EQ(big.status, setup_status::too_many_values);
    EXPECT_EQ(sized.status, setup_status::too_many_values);
    EXPECT_EQ(coded.status, setup_status::too_many_values);
    const std::string path = t.j.data_path;
    EXPECT_EQ(run.console, "! run.tavo line 2 declares cov with 22 values, more than " + path + "g.txt can hold\n"
                           "! run.tavo line 2 declares f with 12 values, more than " + path + "g.txt can hold\n"
                           "! run.tavo line 2 declares snp with 6 values, more than " + path + "snp.txt can hold\n");
}

TEST(SetupStatus, BlockAndFilterKeysCompareWithCase) {
    test_job t;
    t.write("f.txt", "1\n");
    t.write("g.txt", "1 0 1\n");
    dataset& filter = t.add("ID", "ids", "f.txt", {"ID"});
    dataset& block = t.add("id", "geno", "g.txt", {"id", "cov[2]"});
    const auto run = t.setup(&block, &filter);
    EXPECT_EQ(block.status, setup_status::keys_differ);
    EXPECT_EQ(block.link_target, nullptr);
    EXPECT_EQ(run.console, "ERROR data 2 [g.txt] does not have matching key [id] with filtering data 1 [f.txt] key [ID]\n");
}

TEST(SetupStatus, BlockAndFilterWithoutKeysCannotBeJoined) {
    test_job t;
    t.write("f.txt", "1\n");
    t.write("g.txt", "1 0 1\n");
    dataset& filter = t.add("", "ids", "f.txt", {"id"});
    dataset& block = t.add("", "geno", "g.txt", {"id", "cov[2]"});
    const auto run = t.setup(&block, &filter);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(block.status, setup_status::keys_differ);
    EXPECT_EQ(block.link_target, nullptr);
    EXPECT_EQ(filter.nfields, 1);
    EXPECT_EQ(run.console,
              "ERROR data 2 [g.txt] does not have matching key [[nokey]] with filtering data 1 [f.txt] key [[nokey]]\n");
}

TEST(SetupStatus, BlockFieldWithoutSizeNamesEveryProblemField) {
    test_job t;
    t.write("g.txt", "1 2\n");
    dataset& ds = t.add("id", "1", "g.txt", {"id", "geno[]", "x", "cov", "!block", "ok[4]"});
    const auto run = t.setup();
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(ds.status, setup_status::no_block_size);
    EXPECT_EQ(run.console, "ERROR cannot find size for a block field in data 1 [g.txt]\n"
                           "      Problem field(s) is/are: geno cov\n");
    EXPECT_EQ(fields(ds)[4].type, field_type::real_block);  // a size given between the brackets
}

TEST(SetupStatus, PreparationProblemsStopBeforeTyping) {
    test_job t;
    t.write("g.txt", "1 2\n");
    t.write("b.txt", "1 3\n");
    dataset& typed = t.add("id", "1", "g.txt", {"id", "geno[]"});
    dataset& second = t.add("id", "2", "b.txt", {"id", "y"});
    dataset& third = t.add("id", "3", "b.txt", {"id", "z"});
    t.add("", "4", "", {"x"});
    const auto run = t.setup();
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(typed.status, setup_status::ok);  // the missing block size would only be found by typing
    EXPECT_EQ(run.console, "ERROR missing file name for data 4[]\n");
    // The views stay valid although growing the array moved the columns.
    EXPECT_EQ(fields(second).data(), typed.own_fields.data() + 2);
    EXPECT_EQ(fields(third).data(), typed.own_fields.data() + 4);
}

// ---- files, header lines and field words -----------------------------------

TEST(SetupFiles, DataPathIsPutInFrontAsWritten) {
    test_job t;
    std::filesystem::create_directories(t.dir.path / "d");
    t.write("d/g.txt", "1\n2\n");
    t.write("dg.txt", "1\n2\n3\n");
    dataset& ds = t.add("", "1", "g.txt", {"x"});
    t.j.data_path = t.dir.file("d/");
    EXPECT_EQ(t.setup().result, 0);
    EXPECT_EQ(ds.nrec, 2);

    test_job u;
    std::filesystem::create_directories(u.dir.path / "d");
    u.write("dg.txt", "1\n2\n3\n");
    dataset& joined = u.add("", "1", "g.txt", {"x"});
    u.j.data_path = u.dir.file("d");
    EXPECT_EQ(u.setup().result, 0);
    EXPECT_EQ(joined.nrec, 3);
}

TEST(SetupFiles, MapReadsTheAnnotatedFileOnlyWithABlockDataSet) {
    const std::string declared = "snp 1 100\nsnp2 1 200\n";
    const std::string annotated = "snp\tchr  pos \nsnp 1 100\nsnp2 1 200\nsnp3 2 50\n";
    for (const bool with_block : {true, false}) {
        test_job t;
        t.write("markers.txt", declared);
        t.write("markers.txt.anno", annotated);
        t.write("g.txt", "1 1\n");
        dataset& map = t.add("snp", "MAP", "markers.txt", {"snp", "chrom", "position"});
        dataset& block = t.add("id", "g", "g.txt", {"id", "cov[1]"});
        const auto run = t.setup(with_block ? &block : nullptr);
        ASSERT_EQ(run.result, 0) << run.console;
        if (with_block) {
            EXPECT_EQ(map.file, "markers.txt.anno");
            EXPECT_EQ(map.header, 1);
            EXPECT_EQ(names_of(map, 3), (Names{"snp", "chr", "pos"}));
            EXPECT_EQ(map.nrec, 3);
        } else {
            EXPECT_EQ(map.file, "markers.txt");
            EXPECT_EQ(map.header, 0);
            EXPECT_EQ(names_of(map, 3), (Names{"snp", "chrom", "position"}));
            EXPECT_EQ(map.nrec, 2);
        }
    }
}

TEST(SetupFiles, HeaderWordsAndLeftRewound) {
    for (const std::string end : {"\n", "\r\n", "\r", ""}) {
        test_job t;
        const std::string text = "  id\t\t sire  dam \t " + end + (end.empty() ? "" : "1 0 0" + end);
        t.write("p.txt", text);
        dataset& ds = t.add("id", "1", "p.txt", {"declared", "words"});
        ds.header = true;
        const auto run = t.setup();
        if (end.empty()) {  // the header is all there is
            EXPECT_EQ(ds.status, setup_status::empty);
            continue;
        }
        ASSERT_EQ(run.result, 0) << run.console;
        EXPECT_EQ(ds.nown, 3);
        EXPECT_EQ(names_of(ds, 3), (Names{"id", "sire", "dam"}));
        EXPECT_EQ(ds.keycol, 0);
        EXPECT_EQ(ds.nrec, 1);
        EXPECT_EQ(ftell(ds.in.get()), 0);
    }
}

TEST(SetupFiles, FieldWordsNamesBracketsAndOptions) {
    test_job t;
    t.write("g.txt", "1\n");
    const std::string long_name = "a_field_name_longer_than_twenty_three";
    dataset& ds = t.add("", "1", "g.txt",
                        {"!biallelic", "geno[]", "!x", "!Y", "snp[50]", "cov[abc]", "part[7", long_name});
    t.setup();
    ASSERT_EQ(ds.nown, 5);
    EXPECT_EQ(ds.nshown, 5);
    EXPECT_EQ(names_of(ds, 5), (Names{"geno", "snp", "cov", "part", long_name}));
    EXPECT_EQ(fields(ds)[0].block, 1);
    EXPECT_EQ(options_of(fields(ds)[0]), (Names{"!x", "!Y"}));  // the leading option word belongs to no field
    EXPECT_EQ(options_of(fields(ds)[1]), (Names{"!size=50"}));
    EXPECT_EQ(options_of(fields(ds)[2]), (Names{"!size=abc"}));
    EXPECT_EQ(options_of(fields(ds)[3]), (Names{"!size=7"}));
    EXPECT_EQ(fields(ds)[4].block, 0);
    EXPECT_EQ(ds.keycol, -1);
}

// ---- record counting -------------------------------------------------------

struct count_case {
    const char* text;
    bool header;
    const char* skip_option;  // nullptr: none
    int skip;
    int records;
};

TEST(SetupRecords, LineEndsHeaderAndSkip) {
    const count_case cases[] = {
        {"h\na\nb\n", true, nullptr, 0, 2},
        {"h\r\na\r\nb\r\n", true, nullptr, 0, 2},
        {"h\ra\rb\r", true, nullptr, 0, 2},
        {"h\na\nb", true, nullptr, 0, 2},        // last line without line end
        {"a\n\nb\n", false, nullptr, 0, 3},      // an empty line counts
        {"a\r\n\r\nb", false, nullptr, 0, 3},
        {"a\n\r\nb\r\r", false, nullptr, 0, 4},  // LF, CR LF, CR and CR each end a line
        {"h\ns1\ns2\na\nb\n", true, "skip=2", 2, 2},
        {"s1\na\n", false, "SKIP=1", 1, 1},
        {"a\nb\n", false, "skip=abc", 0, 2},
        {"a\nb\n", false, "skip=-3", 0, 2},
        {"a\nb\n", false, "skip=0", 0, 2},
    };
    for (const count_case& c : cases) {
        test_job t;
        t.write("d.txt", c.text);
        std::vector<std::string> options;
        if (c.skip_option) options.push_back(c.skip_option);
        dataset& ds = t.add("", "1", "d.txt", {"x"}, options);
        ds.header = c.header;
        const auto run = t.setup();
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(ds.nrec, c.records);
        EXPECT_EQ(ds.nskip, c.skip);
        EXPECT_EQ(ftell(ds.in.get()), 0);
    }
}

TEST(SetupRecords, CountLinesAcrossChunkBoundaries) {
    // A CR LF pair split between two reads of 1 MiB still ends one line.
    testutil::scratch_dir dir("setup");
    std::string text(size_t{1} << 20, 'x');
    text[(size_t{1} << 20) - 1] = '\r';
    text += "\nlast";
    testutil::write_file(dir.file("big.txt"), text);
    FILE* in = fopen(dir.file("big.txt").c_str(), "rb");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(setup_detail::count_lines(in), 2);
    EXPECT_EQ(ftell(in), 0);
    fclose(in);
}

// ---- keys, links and types -------------------------------------------------

TEST(SetupTyping, KeyFieldsFactorLinksAndPedigree) {
    test_job t;
    t.write("a.txt", "1 h1 r\n");
    t.write("h.txt", "h1 north\n");
    t.write("p.txt", "1 0 0\n");
    dataset& animals = t.add("Id", "animals", "a.txt", {"ID", "herd", "id2"});
    dataset& herds = t.add("HERD", "herds", "h.txt", {"herd", "region"});
    dataset& ped = t.add("id", "Ped", "p.txt", {"id", "herd", "dam"});
    ASSERT_EQ(t.setup().result, 0);
    EXPECT_EQ(animals.keycol, 0);
    EXPECT_EQ(types_of(animals), "Kfu");
    EXPECT_EQ(fields(animals)[1].link, &herds);
    EXPECT_EQ(fields(animals)[0].link, nullptr);  // a key field is never linked
    EXPECT_EQ(types_of(herds), "Ku");
    EXPECT_EQ(fields(herds)[0].link, nullptr);
    EXPECT_EQ(animals.pedigree, &ped);
    EXPECT_EQ(types_of(ped), "Kuu");  // the pedigree's fields are not typed
    EXPECT_EQ(fields(ped)[1].link, nullptr);
}

TEST(SetupTyping, NoFieldRefersToAPedigree) {
    test_job t;
    t.write("a.txt", "1 5\n");
    t.write("p.txt", "5 0 0\n");
    dataset& ds = t.add("", "1", "a.txt", {"x", "sire"});
    t.add("sire", "ped", "p.txt", {"sire", "s", "d"});
    ASSERT_EQ(t.setup().result, 0);
    EXPECT_EQ(types_of(ds), "uu");
}

TEST(SetupTyping, SquareBlockTakesItsOwnRecords) {
    test_job t;
    t.write("a.txt", "1 0 0 0\n2 0 0 0\n3 0 0 0\n");
    dataset& ds = t.add("id", "1", "a.txt", {"id", "rel[]", "!square"});
    ASSERT_EQ(t.setup().result, 0);
    EXPECT_EQ(fields(ds)[1].type, field_type::real_block);
    EXPECT_EQ(fields(ds)[1].link, &ds);
}

TEST(SetupTyping, BlockTypesByOption) {
    test_job t;
    t.write("m.txt", "m1\nm2\n");
    t.write("g.txt", "1 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n");  // room for every block's values
    dataset& map = t.add("snp", "markers", "m.txt", {"snp"});
    dataset& ds = t.add("id", "g", "g.txt",
                        {"id", "snp[]", "!biallelic", "snp[]", "!Multiallelic", "snp[]", "!genot-101",
                         "snp[]", "!ragged", "snp[]", "!fac", "!size=2", "snp[]", "snp", "snp", "!block"});
    ASSERT_EQ(t.setup().result, 0);
    EXPECT_EQ(types_of(ds), "KghgRZBfB");
    for (int i = 1; i < 9; ++i) EXPECT_EQ(fields(ds)[i].link, &map);
    EXPECT_EQ(map.allele_pair_markers, 1);
    EXPECT_EQ(map.coded_markers, 1);
}

// ---- appending -------------------------------------------------------------

TEST(SetupAppending, WithoutBlockLaterDataSetsJoinTheFirstWithTheirKey) {
    test_job t;
    t.write("a.txt", "1 x\n2 y\n3 z\n");
    t.write("b.txt", "1 5\n");
    t.write("c.txt", "3 6 7\n");
    t.write("p.txt", "1 0 0\n");
    t.write("n.txt", "9\n");
    dataset& a = t.add("id", "a", "a.txt", {"id", "name"});
    dataset& ped = t.add("id", "ped", "p.txt", {"id", "s", "d"});
    dataset& b = t.add("ID", "b", "b.txt", {"id", "w"});
    dataset& none = t.add("", "n", "n.txt", {"v"});
    dataset& c = t.add("Id", "c", "c.txt", {"id", "u", "v"});
    ASSERT_EQ(t.setup().result, 0);
    EXPECT_EQ(b.link_target, &a);
    EXPECT_EQ(c.link_target, &a);
    EXPECT_EQ(a.appended_by, &c);
    EXPECT_EQ(ped.link_target, nullptr);
    EXPECT_EQ(none.link_target, nullptr);
    EXPECT_EQ(a.nfields, 7);
    EXPECT_EQ(a.nown, 2);
    EXPECT_EQ(a.nshown, 2);
    EXPECT_EQ(b.first_field, 2);
    EXPECT_EQ(c.first_field, 4);
    EXPECT_EQ(fields(b).data(), a.own_fields.data() + 2);
    EXPECT_EQ(fields(c).data(), a.own_fields.data() + 4);
    EXPECT_TRUE(b.own_fields.empty());
    EXPECT_EQ(types_of(a), "Kukukuu");
    EXPECT_EQ(b.nrec, 3);
    EXPECT_EQ(c.nrec, 3);
    EXPECT_EQ(c.keycol, 0);
    EXPECT_EQ(b.nfields, 2);
}

// The filter of a genomic run and the block data set appended to it.
struct filtered_job {
    test_job t;
    dataset* filter = nullptr;
    dataset* block = nullptr;

    explicit filtered_job(bool filter_first) {
        t.write("f.txt", "id sex\n1 m\n2 f\n");
        t.write("g.txt", "1 0 1\n2 1 1\n3 0 0\n");
        if (filter_first) filter = &t.add("id", "ids", "f.txt", {"id", "sex"});
        block = &t.add("id", "geno", "g.txt", {"id", "cov[2]"});
        if (!filter_first) filter = &t.add("id", "ids", "f.txt", {"id", "sex"});
        filter->header = true;
    }
};

TEST(SetupAppending, FilterDeclaredBeforeOrAfterTheBlockGivesOneLayout) {
    for (const bool filter_first : {true, false}) {
        filtered_job g(filter_first);
        const auto run = g.t.setup(g.block, g.filter);
        ASSERT_EQ(run.result, 0) << run.console;
        EXPECT_EQ(g.block->link_target, g.filter);
        EXPECT_EQ(g.filter->appended_by, g.block);
        EXPECT_EQ(g.filter->nfields, 4);
        EXPECT_EQ(g.filter->nown, 2);
        EXPECT_EQ(g.block->first_field, 2);
        EXPECT_EQ(fields(*g.block).data(), g.filter->own_fields.data() + 2);
        EXPECT_EQ(names_of(*g.filter, 4), (Names{"id", "sex", "id", "cov"}));
        EXPECT_EQ(types_of(*g.filter), "KukB");
        EXPECT_EQ(g.block->nrec, 2);  // the filter's records
        EXPECT_EQ(g.filter->nrec, 2);
    }
}

TEST(SetupAppending, FilterThatIsTheBlockDataSetIsNoLink) {
    filtered_job g(true);
    const auto run = g.t.setup(g.block, g.block);
    ASSERT_EQ(run.result, 0) << run.console;
    EXPECT_EQ(g.block->link_target, nullptr);
    EXPECT_EQ(g.block->appended_by, nullptr);
    EXPECT_EQ(types_of(*g.block), "KB");
    EXPECT_EQ(g.block->nrec, 3);
}

TEST(SetupAppending, OnlyTheBlockIsAppendedWhenABlockIsGiven) {
    filtered_job g(true);
    g.t.write("x.txt", "1 7\n");
    dataset& other = g.t.add("id", "x", "x.txt", {"id", "w"});
    ASSERT_EQ(g.t.setup(g.block, g.filter).result, 0);
    EXPECT_EQ(other.link_target, nullptr);
    EXPECT_EQ(g.filter->appended_by, g.block);
}

// ---- marker maps -----------------------------------------------------------

struct genomic_job {
    test_job t;
    dataset* map = nullptr;
    dataset* geno = nullptr;

    // The map is declared first on purpose: its marker flag is only known
    // once the genotype data set has been typed.
    genomic_job(const std::string& annotated, const std::string& coding) {
        t.write("m.txt", "unused\n");
        t.write("m.txt.anno", annotated);
        t.write("g.txt", "1 0 1 2\n2 1 1 1\n");
        map = &t.add("snp", "map", "m.txt", {"snp"});
        std::vector<std::string> words{"id", "snp[]"};
        if (!coding.empty()) words.push_back(coding);
        geno = &t.add("id", "genotypes", "g.txt", words);
    }
};

TEST(SetupMarkers, CodedGenotypesAddTheStatisticsFields) {
    genomic_job g("snp chr\nm1 1\nm2 1\nm3 2\n", "!genot012");
    const auto run = g.t.setup(g.geno);
    ASSERT_EQ(run.result, 0) << run.console;
    const dataset& map = *g.map;
    EXPECT_EQ(map.coded_markers, 1);
    EXPECT_EQ(map.allele_pair_markers, 0);
    EXPECT_EQ(map.nown, 2);
    ASSERT_EQ(map.nfields, 6);
    EXPECT_EQ(map.allele_field, 2);
    EXPECT_EQ(names_of(map, 6), (Names{"snp", "chr", "alleles", "freq1", "nrmiss", "used"}));
    EXPECT_EQ(types_of(map), "Kusuuu");
    EXPECT_EQ(fields(map)[2].width, 2);
    for (int i = 2; i < 6; ++i) {
        EXPECT_EQ(fields(map)[i].skip, 1);
        EXPECT_EQ(fields(map)[i].nostore, i == 2 ? 0 : 1);
        EXPECT_EQ(fields(map)[i].nrec, 3);
    }
    EXPECT_EQ(map.options.count, 0);
    EXPECT_EQ(fields(*g.geno)[1].type, field_type::genotype_block);
}

TEST(SetupMarkers, StatisticsFieldsOfTheFilePreloadTheAlleles) {
    genomic_job g("snp Alleles FREQ1 nrmiss used chr\nm1 AG 0.5 0 1 1\n", "!biallelic");
    ASSERT_EQ(g.t.setup(g.geno).result, 0);
    const dataset& map = *g.map;
    EXPECT_EQ(map.allele_pair_markers, 1);
    EXPECT_EQ(map.nfields, 6);
    EXPECT_EQ(types_of(map), "Ksciiu");
    EXPECT_EQ(fields(map)[1].width, 2);
    EXPECT_EQ(map.allele_field, 0);
    ASSERT_EQ(map.options.count, 1);
    EXPECT_STREQ(map.options.data(), "preloadedalleles");
}

TEST(SetupMarkers, AppendedMarkerMapGetsItsFieldsInsideItsSlice) {
    // A square genotype block makes its own (appended) data set a marker map:
    // the statistics fields go right after that data set's columns.
    test_job t;
    t.write("a.txt", "1 x\n2 y\n");
    t.write("b.txt", "1 0 1\n");
    t.write("c.txt", "2 5\n");
    dataset& a = t.add("id", "a", "a.txt", {"id", "x"});
    dataset& b = t.add("id", "b", "b.txt", {"id", "rel[]", "!square", "!genot012"});
    dataset& c = t.add("id", "c", "c.txt", {"id", "y"});
    const auto run = t.setup();
    ASSERT_EQ(run.result, 0) << run.console;
    EXPECT_EQ(fields(b)[1].link, &b);
    EXPECT_EQ(b.nfields, 6);
    EXPECT_EQ(b.allele_field, 2);
    EXPECT_EQ(c.first_field, 8);
    EXPECT_EQ(a.nfields, 10);
    EXPECT_EQ(names_of(a, 10),
              (Names{"id", "x", "id", "rel", "alleles", "freq1", "nrmiss", "used", "id", "y"}));
    EXPECT_EQ(fields(b).data(), a.own_fields.data() + 2);
    EXPECT_EQ(fields(c).data(), a.own_fields.data() + 8);
    EXPECT_EQ(types_of(c), "ku");
}

TEST(SetupMarkers, DataSetsWithoutGenotypeBlocksGetNoStatistics) {
    genomic_job g("snp chr\nm1 1\n", "");
    ASSERT_EQ(g.t.setup(g.geno).result, 0);
    EXPECT_EQ(g.map->nfields, 2);
    EXPECT_EQ(fields(*g.geno)[1].type, field_type::real_block);
}

}  // namespace
}  // namespace tavo
