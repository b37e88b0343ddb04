#include "host_textfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace tarn::host;
namespace fs = std::filesystem;

namespace {

class HostTextFile : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("tarn_host_textfile_") + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // The path as text; the temporary directory is ASCII on the machines
    // that run the suite, so the ANSI code page keeps it as it is.
    UnicodeString Name(const std::string& file) const {
        const std::string path = (dir_ / file).string();
        return UnicodeString(path.begin(), path.end());
    }
    std::string Contents(const std::string& file) const {
        std::ifstream in(dir_ / file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path dir_;
};

TEST_F(HostTextFile, RewriteCreatesAndAppendAddsWithoutTranslation) {
    TextFile f;
    ASSERT_TRUE(f.Assign(Name("log.txt")));
    ASSERT_TRUE(f.Rewrite());
    EXPECT_TRUE(f.Write(std::string("AB\r\n\0", 5)));
    ASSERT_TRUE(f.Close());
    EXPECT_TRUE(FileExists(Name("log.txt")));

    ASSERT_TRUE(f.Append());
    EXPECT_TRUE(f.Write("CD\n"));
    ASSERT_TRUE(f.Close());
    EXPECT_EQ(Contents("log.txt"), std::string("AB\r\n\0CD\n", 8));

    // Rewrite empties an existing file.
    ASSERT_TRUE(f.Rewrite());
    ASSERT_TRUE(f.Close());
    EXPECT_EQ(Contents("log.txt"), "");
}

TEST_F(HostTextFile, AppendNeverCreatesAFile) {
    TextFile f;
    ASSERT_TRUE(f.Assign(Name("missing.txt")));
    EXPECT_FALSE(f.Append());
    EXPECT_FALSE(f.IsOpen());
    EXPECT_FALSE(FileExists(Name("missing.txt")));
}

TEST_F(HostTextFile, EveryStepReportsFailure) {
    TextFile f;
    EXPECT_FALSE(f.Assign(u""));
    EXPECT_FALSE(f.Rewrite()) << "nothing assigned";
    EXPECT_FALSE(f.Write("x")) << "not open";
    EXPECT_FALSE(f.Close()) << "not open";

    ASSERT_TRUE(f.Assign(Name("no_such_dir/log.txt")));
    EXPECT_FALSE(f.Rewrite());
    EXPECT_FALSE(f.Append());

    ASSERT_TRUE(f.Assign(Name("open.txt")));
    ASSERT_TRUE(f.Rewrite());
    EXPECT_FALSE(f.Assign(Name("other.txt"))) << "a file is open";
    EXPECT_FALSE(f.Rewrite()) << "already open";
    EXPECT_TRUE(f.Close());
}

TEST_F(HostTextFile, ANameWithANulNamesNothing) {
    { std::ofstream(dir_ / "regular.txt") << "kept"; }
    const UnicodeString name = Name("regular.txt") + UnicodeString(u"\0.log", 5);
    EXPECT_FALSE(FileExists(name));
    TextFile f;
    ASSERT_TRUE(f.Assign(Name("other.txt")));
    EXPECT_FALSE(f.Assign(name));
    EXPECT_FALSE(f.Rewrite()) << "the name assigned before must not stay";
    EXPECT_FALSE(f.Append());
    EXPECT_EQ(Contents("regular.txt"), "kept");
    EXPECT_FALSE(fs::exists(dir_ / "other.txt"));
}

TEST_F(HostTextFile, FileExistsIsFalseForDirectoriesAndEmptyNames) {
    EXPECT_FALSE(FileExists(Name("")));  // the directory itself
    EXPECT_FALSE(FileExists(u""));
    { std::ofstream(dir_ / "present.txt") << "x"; }
    EXPECT_TRUE(FileExists(Name("present.txt")));
    fs::create_directory(dir_ / "sub");
    EXPECT_FALSE(FileExists(Name("sub")));
}

// A cut after a write that did not reach the file whole: what the stream
// still held goes too.
TEST_F(HostTextFile, CloseCutToLeavesOnlyTheBytesBefore) {
    TextFile f;
    ASSERT_TRUE(f.Assign(Name("cut.txt")));
    ASSERT_TRUE(f.Rewrite());
    ASSERT_TRUE(f.Write("whole\n"));
    ASSERT_TRUE(f.Flush());
    ASSERT_TRUE(f.Write("half a li"));
    EXPECT_TRUE(f.CloseCutTo(6));
    EXPECT_EQ(Contents("cut.txt"), "whole\n");
}

}  // namespace
