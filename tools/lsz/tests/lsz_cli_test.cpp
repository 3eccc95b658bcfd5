// The lsz tool run as a child process: its main paths and its exit codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "test_files.h"

namespace {

struct LszRun {
    int exitCode;
    std::string out; // stdout and stderr together
};

LszRun RunLsz(const TempDir& dir, const std::string& args) {
    std::string log = dir / "lsz.log";
    std::string command =
        "cd '" + dir.path() + "' && '" LSZ_PATH "' " + args + " >'" + log + "' 2>&1";
    int status = std::system(command.c_str());
    Bytes text = ReadFileBytes(log);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(text.begin(), text.end())};
}

// A directory with input files and a good archive of them, GOOD.LSZ.
class LszCli : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string text;
        for (int i = 0; i < 400; ++i) {
            text += "Line " + std::to_string(i % 37) + " of the setup list file\n";
        }
        readme_ = Bytes(text.begin(), text.end());
        WriteFileBytes(dir_ / "README.TXT", readme_);
        WriteFileBytes(dir_ / "EMPTY", {});
        WriteFileBytes(dir_ / "NOTARC.BIN", {1, 2, 3, 4, 5, 6, 7, 8});
        WriteFileBytes(dir_ / "a_name_of_19_chars_", {1});
        ASSERT_EQ(RunLsz(dir_, "create -q -l 3 GOOD.LSZ README.TXT EMPTY").exitCode, 0);
    }

    // GOOD.LSZ with one byte of the imploded member's stored data flipped: CRC mismatch.
    void MakeCorruptCopy() {
        Bytes a = ReadFileBytes(dir_ / "GOOD.LSZ");
        a[6 + 51 + 10] ^= 0x40;
        WriteFileBytes(dir_ / "BADCRC.LSZ", a);
    }

    // GOOD.LSZ with its second member's method set to 7.
    void MakeBadMethodCopy() {
        Bytes a = ReadFileBytes(dir_ / "GOOD.LSZ");
        size_t first = a[6 + 23] | (a[6 + 24] << 8) | (a[6 + 25] << 16);
        a[6 + 51 + first + 37] = 7;
        WriteFileBytes(dir_ / "BADMETH.LSZ", a);
    }

    TempDir dir_;
    Bytes readme_;
};

TEST_F(LszCli, ExitCodesOfEachCommand) {
    MakeCorruptCopy();
    MakeBadMethodCopy();
    struct Case {
        const char* args;
        int exitCode;
        const char* output; // a piece of what it prints
    };
    const Case cases[] = {
        {"--help", 0, "lsz extract ARCHIVE [DESTDIR]"},
        {"", 2, "no command"},
        {"frobnicate X.LSZ", 2, "unknown command"},
        {"create -l 9 X.LSZ README.TXT", 2, "bad value '9'"},
        {"create -d 8192 X.LSZ README.TXT", 2, "bad value '8192'"},
        {"create X.LSZ", 2, "no files"},
        {"create X.LSZ MISSING.TXT", 3, "MISSING.TXT"},
        {"create X.LSZ a_name_of_19_chars_", 2, "cannot be a member name"},
        {"create X.LSZ README.TXT README.TXT", 2, "already a member"},
        {"create X.LSZ README.TXT X.LSZ", 2, "the archive being written"},
        {"list GOOD.LSZ", 0, "README.TXT"},
        {"list GOOD", 0, "2 members"},
        {"list NOTARC.BIN", 4, "not an archive"},
        {"list NOSUCH.LSZ", 3, "NOSUCH.LSZ"},
        {"test GOOD.LSZ", 0, "2 members checked, 0 failed"},
        {"test BADCRC.LSZ", 1, "FAIL  README.TXT: CRC-32 mismatch"},
        {"test BADMETH.LSZ", 5, "unknown method 7"},
        {"extract BADCRC.LSZ", 1, "Cannot decompress BADCRC.LSZ successfully"},
        {"extract BADMETH.LSZ", 5, "internal error"},
        {"extract GOOD.LSZ no/such/dir", 3, "Cannot create output file"},
        {"extract NOTARC.BIN", 4, "not an archive"},
    };
    for (const Case& c : cases) {
        LszRun r = RunLsz(dir_, c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << "lsz " << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.output), std::string::npos) << "lsz " << c.args << "\n" << r.out;
    }
    // A failed create leaves no partial archive behind.
    EXPECT_FALSE(std::filesystem::exists(dir_ / "X.LSZ"));
}

TEST_F(LszCli, CreatedArchiveExtractsWithTimesKept) {
    SetFileMtime(dir_ / "README.TXT", 788961600); // 1995-01-01 12:00:00 UTC
    ASSERT_EQ(
        RunLsz(dir_, "create --utc -m implode -a ascii -d 1024 T.LSZ README.TXT EMPTY").exitCode,
        0);
    LszRun listing = RunLsz(dir_, "list T.LSZ");
    EXPECT_NE(listing.out.find("imploded ascii/1024"), std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find("1995-01-01 12:00:00"), std::string::npos) << listing.out;

    std::filesystem::create_directory(dir_ / "out");
    LszRun r = RunLsz(dir_, "extract T.LSZ out");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(ReadFileBytes(dir_ / "out/README.TXT") == readme_);
    EXPECT_EQ(FileMtime(dir_ / "out/README.TXT"), 788961600);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "out/EMPTY"));
    EXPECT_EQ(std::filesystem::file_size(dir_ / "out/EMPTY"), 0u);
}

TEST_F(LszCli, TestCommandWritesNothing) {
    std::filesystem::remove(dir_ / "README.TXT");
    std::filesystem::remove(dir_ / "EMPTY");
    ASSERT_EQ(RunLsz(dir_, "test -q GOOD.LSZ").exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "README.TXT"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "EMPTY"));
}

} // namespace
