// Output files made as temporary files and put in place at the end.
#include <gtest/gtest.h>

#include <filesystem>

#include "genomic/staging.h"
#include "support/testutil.h"

namespace {

using namespace tavo;
using testutil::file_exists;
using testutil::read_file;
using testutil::write_file;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

void write_staged(output_stage& stage, const std::string& name, const char* text) {
    FILE* f = open_staged(stage, name);
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
}

TEST(OutputStage, CommitReplacesTheFinalNamesAndDiscardKeepsThem) {
    testutil::scratch_dir dir("stage");
    const std::string a = dir.file("a.txt"), b = dir.file("b.txt");
    write_file(a, "old a\n");
    {
        output_stage stage;
        write_staged(stage, a, "new a\n");
        write_staged(stage, b, "new b\n");
        EXPECT_EQ(read_file(a), "old a\n");
        discard_staged(stage);
    }
    EXPECT_EQ(read_file(a), "old a\n");
    EXPECT_FALSE(file_exists(b) || file_exists(a + ".part") || file_exists(b + ".part"));

    output_stage stage;
    write_staged(stage, a, "new a\n");
    write_staged(stage, b, "new b\n");
    EXPECT_TRUE(commit_staged(stage, nullptr));
    EXPECT_EQ(read_file(a), "new a\n");
    EXPECT_EQ(read_file(b), "new b\n");
    EXPECT_FALSE(file_exists(a + ".part") || file_exists(b + ".part"));
}

TEST(OutputStage, AFolderInTheWayRefusesTheFileOrItsRename) {
    testutil::scratch_dir dir("stage");
    const std::string a = dir.file("a.txt"), b = dir.file("b.txt"), c = dir.file("c.txt");
    std::filesystem::create_directory(a);
    output_stage stage;
    EXPECT_EQ(open_staged(stage, a), nullptr);  // no file could replace it
    EXPECT_FALSE(file_exists(a + ".part"));

    write_staged(stage, b, "b\n");
    write_staged(stage, c, "c\n");
    std::filesystem::create_directory(b);  // comes in the way after the file was made
    CaptureStdout();
    EXPECT_FALSE(commit_staged(stage, nullptr));
    EXPECT_EQ(GetCapturedStdout(), "! Problem renaming " + b + ".part to " + b + ": Is a directory\n");
    EXPECT_FALSE(file_exists(b + ".part") || file_exists(c + ".part") || file_exists(c));
}

// A run that goes without committing leaves nothing behind.
TEST(OutputStage, AnUncommittedStageRemovesItsFilesWhenItGoes) {
    testutil::scratch_dir dir("stage");
    {
        output_stage stage;
        write_staged(stage, dir.file("a.txt"), "a\n");
    }
    EXPECT_FALSE(file_exists(dir.file("a.txt.part")) || file_exists(dir.file("a.txt")));
}

}  // namespace
