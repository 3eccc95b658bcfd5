// SqExtract on real files through the POSIX platform layer, in a temporary directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "archive_builder.h"
#include "extract.h"
#include "posix_system.h"

namespace {

struct Collected {
    std::vector<std::pair<uint32_t, std::string>> messages;
};

void Collect(void* user, uint32_t id, const char* text) {
    static_cast<Collected*>(user)->messages.push_back({id, text});
}

class PosixExtract : public ::testing::Test {
  protected:
    std::string dir;
    PosixSystem posix;
    Collected collected;
    std::string savedTz;
    bool hadTz = false;

    void SetUp() override {
        char pattern[] = "/tmp/sqposixXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        InitPosixSystem(&posix);
        posix.onMessage = Collect;
        posix.user = &collected;
        if (const char* tz = getenv("TZ")) {
            hadTz = true;
            savedTz = tz;
        }
        // A zone far from UTC: the stored clock time must come back unchanged as UTC.
        setenv("TZ", "America/New_York", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz)
            setenv("TZ", savedTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string Path(const std::string& name) { return dir + "/" + name; }
    void Write(const std::string& name, const Bytes& data) {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), data.size());
    }
    std::string Read(const std::string& name) {
        std::ifstream in(Path(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    int32_t Extract(const std::string& dest) {
        return SqExtract(&posix.sys, dir.c_str(), dest.c_str(), "SETUP", nullptr);
    }
};

TEST_F(PosixExtract, MembersArriveWithTheirStoredClockTimeReadAsUtc) {
    MemberSpec stored = {"A.TXT", 1, ToBytes("stored member")};
    MemberSpec exploded = {"B.TXT", 2, LiteralStream("exploded member")};
    exploded.dosDate = 0x2A5C; // 2001-02-28
    exploded.dosTime = 0x7BBD; // 15:29:58
    Write("SETUP.LSZ", BuildArchive({stored, exploded}));
    ASSERT_EQ(mkdir(Path("out").c_str(), 0755), 0);
    EXPECT_EQ(Extract(Path("out")), 1);
    EXPECT_TRUE(collected.messages.empty());
    EXPECT_EQ(Read("out/A.TXT"), "stored member");
    EXPECT_EQ(Read("out/B.TXT"), "exploded member");
    struct stat a, b;
    ASSERT_EQ(stat(Path("out/A.TXT").c_str(), &a), 0);
    ASSERT_EQ(stat(Path("out/B.TXT").c_str(), &b), 0);
    EXPECT_EQ(a.st_mtime, 788961600); // 1995-01-01 12:00:00 UTC
    EXPECT_EQ(b.st_mtime, 983374198); // 2001-02-28 15:29:58 UTC
}

TEST_F(PosixExtract, ReadOnlyAndLongerFilesAreReplaced) {
    ASSERT_EQ(mkdir(Path("out").c_str(), 0755), 0);
    Write("out/RO.TXT", ToBytes("old read-only content"));
    ASSERT_EQ(chmod(Path("out/RO.TXT").c_str(), 0444), 0);
    Write("out/LONG.TXT", ToBytes("a much longer old content"));
    Write("SETUP.LSZ",
          BuildArchive({{"RO.TXT", 1, ToBytes("new")}, {"LONG.TXT", 2, LiteralStream("short")}}));
    EXPECT_EQ(Extract(Path("out")), 1);
    EXPECT_EQ(Read("out/RO.TXT"), "new");
    EXPECT_EQ(Read("out/LONG.TXT"), "short");
}

TEST_F(PosixExtract, MissingOutputDirectoryIsReportedWithTheFullPath) {
    Write("SETUP.LSZ", BuildArchive({{"A.TXT", 1, ToBytes("a")}}));
    EXPECT_EQ(Extract(Path("nodir")), 0);
    ASSERT_EQ(collected.messages.size(), 1u);
    EXPECT_EQ(collected.messages[0].first, (uint32_t)SQ_MSG_CANNOT_CREATE_OUTPUT);
    EXPECT_EQ(collected.messages[0].second,
              "Cannot create output file (" + Path("nodir") + "\\A.TXT).");
}

// The source stays open for reading while members are written. As Windows refuses to open
// it for writing then, a member that names the archive itself cannot overwrite it.
TEST_F(PosixExtract, AMemberNamedAsTheArchiveCannotOverwriteIt) {
    Bytes archive = BuildArchive({{"A.TXT", 1, ToBytes("first")},
                                  {"SETUP.LSZ", 1, ToBytes("replaces the archive")},
                                  {"C.TXT", 1, ToBytes("never")}});
    Write("SETUP.LSZ", archive);
    EXPECT_EQ(Extract(dir), 0);
    EXPECT_EQ(Read("SETUP.LSZ"), std::string(archive.begin(), archive.end()));
    EXPECT_EQ(Read("A.TXT"), "first");
    ASSERT_EQ(collected.messages.size(), 1u);
    EXPECT_EQ(collected.messages[0].second, "Cannot create output file (" + dir + "\\SETUP.LSZ).");
}

} // namespace
