#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive_writer.h"
#include "crc32.h"
#include "extract.h"
#include "posix_system.h"
#include "test_bytes.h"
#include "test_files.h"

namespace {

Bytes TextBytes(size_t size) {
    std::string s;
    while (s.size() < size) {
        s += "Setup is copying files to the staging directory. Please wait.\r\n";
    }
    s.resize(size);
    return Bytes(s.begin(), s.end());
}

// 1 January 1995, 12:00:01 UTC: the odd second must come back as 12:00:00.
constexpr time_t kJan1995Noon = 788961600;

MemberOptions Method(MemberMethod method) {
    MemberOptions o;
    o.method = method;
    return o;
}

EncodedMember Encode(const std::string& name, const Bytes& data, MemberOptions options) {
    EncodedMember m;
    std::string error;
    EXPECT_TRUE(
        EncodeMember(name, data, DosTimeFromPosix(kJan1995Noon + 1, true), options, &m, &error))
        << error;
    return m;
}

struct Collected {
    std::vector<uint32_t> ids;
};

void CollectMessage(void* user, uint32_t textId, const char*) {
    static_cast<Collected*>(user)->ids.push_back(textId);
}

// Extracts with the library's code on real files; returns SqExtract's result.
int32_t ExtractWithLibrary(const std::string& dir, const std::string& name, const std::string& dest,
                           Collected* messages) {
    PosixSystem posix;
    InitPosixSystem(&posix);
    posix.onMessage = CollectMessage;
    posix.user = messages;
    return SqExtract(&posix.sys, dir.c_str(), dest.c_str(), name.c_str(), nullptr);
}

struct MemberCase {
    const char* name;
    Bytes data;
    MemberMethod method;
    uint16_t expectedMethod;
};

struct ArchiveCase {
    const char* label;
    std::vector<MemberCase> members;
    size_t trailingBytes; // garbage after the last member, fewer than a header
};

std::vector<ArchiveCase> ArchiveCases() {
    return {
        {"SignatureOnly", {}, 0},
        {"TrailingBytes", {{"A.TXT", TextBytes(5000), MEMBER_AUTO, SQ_METHOD_EXPLODED}}, 50},
        {"ZeroSizeStoredThenMore",
         {{"EMPTY.DAT", {}, MEMBER_IMPLODE, SQ_METHOD_STORED},
          {"NEXT.TXT", TextBytes(300), MEMBER_AUTO, SQ_METHOD_EXPLODED}},
         0},
        {"MixedMethods",
         {{"SETUP.INF", TextBytes(70000), MEMBER_IMPLODE, SQ_METHOD_EXPLODED},
          {"RANDOM.BIN", RandomBytes(9000, 1), MEMBER_AUTO, SQ_METHOD_STORED},
          {"FORCED.BIN", RandomBytes(3000, 2), MEMBER_IMPLODE, SQ_METHOD_EXPLODED},
          {"PLAIN.TXT", TextBytes(4096), MEMBER_STORE, SQ_METHOD_STORED},
          {"ONE", {'x'}, MEMBER_AUTO, SQ_METHOD_STORED}},
         17},
    };
}

class WriteAndExtract : public ::testing::TestWithParam<ArchiveCase> {};

TEST_P(WriteAndExtract, LibraryRecreatesEveryMemberWithItsTime) {
    const ArchiveCase& c = GetParam();
    TempDir dir;
    std::string archive = dir / "TEST.LSZ";
    ArchiveWriter w;
    ASSERT_TRUE(OpenArchive(&w, archive)) << w.error;
    for (const MemberCase& m : c.members) {
        EncodedMember e = Encode(m.name, m.data, Method(m.method));
        EXPECT_EQ(e.header.method, m.expectedMethod) << m.name;
        ASSERT_TRUE(AppendMember(&w, e)) << w.error;
    }
    ASSERT_TRUE(CloseArchive(&w)) << w.error;
    if (c.trailingBytes != 0) {
        Bytes all = ReadFileBytes(archive);
        all.insert(all.end(), c.trailingBytes, 0xA5);
        WriteFileBytes(archive, all);
    }

    std::string out = dir / "out";
    std::filesystem::create_directory(out);
    Collected messages;
    EXPECT_EQ(ExtractWithLibrary(dir.path(), "TEST.LSZ", out, &messages), 1);
    EXPECT_TRUE(messages.ids.empty()) << "first message id " << messages.ids[0];
    size_t files = 0;
    for (auto& entry : std::filesystem::directory_iterator(out)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, c.members.size());
    for (const MemberCase& m : c.members) {
        std::string path = out + "/" + m.name;
        EXPECT_TRUE(ReadFileBytes(path) == m.data) << m.name;
        EXPECT_EQ(FileMtime(path), kJan1995Noon) << m.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Archives, WriteAndExtract, ::testing::ValuesIn(ArchiveCases()),
                         [](const ::testing::TestParamInfo<ArchiveCase>& info) {
                             return std::string(info.param.label);
                         });

TEST(ArchiveWriter, SignatureOnlyArchiveIsTheSixSignatureBytes) {
    TempDir dir;
    ArchiveWriter w;
    ASSERT_TRUE(OpenArchive(&w, dir / "E.LSZ"));
    ASSERT_TRUE(CloseArchive(&w));
    EXPECT_EQ(ReadFileBytes(dir / "E.LSZ"), (Bytes{0x37, 0xF0, 0xFF, 0xFF, 0x00, 0x03}));
}

// The bytes a reader sees: fields at their offsets, little-endian, reserved bytes zero, and
// the CRC-32 of the stored bytes ("123456789" has the well-known check value).
TEST(ArchiveWriter, HeaderFieldsLieAtTheirOffsets) {
    TempDir dir;
    ArchiveWriter w;
    ASSERT_TRUE(OpenArchive(&w, dir / "H.LSZ"));
    Bytes digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    ASSERT_TRUE(AppendMember(&w, Encode("CHECK.TXT", digits, Method(MEMBER_STORE))));
    ASSERT_TRUE(CloseArchive(&w));
    Bytes a = ReadFileBytes(dir / "H.LSZ");
    ASSERT_EQ(a.size(), 6u + 51u + 9u);
    const uint8_t* h = a.data() + 6;
    const Bytes expected = {0,    0,    0,    0, // reserved
                            'C',  'H',  'E',  'C',  'K', '.', 'T', 'X', 'T', 0, 0, 0,
                            0,    0,    0,    0,    0,   0,   0,                       // name
                            9,    0,    0,    0,                                       // storedSize
                            0x26, 0x39, 0xF4, 0xCB,                                    // storedCrc
                            0x21, 0x1E,                                                // 1995-01-01
                            0x00, 0x60,                                                // 12:00:00
                            0,    0,                                                   // reserved
                            1,    0,                                                   // stored
                            0,    0,    0,    0,    0,   0,   0,   0,   0,   0, 0, 0}; // reserved
    EXPECT_EQ(Bytes(h, h + 51), expected);
    EXPECT_EQ(Bytes(h + 51, h + 60), digits);
}

TEST(ArchiveWriter, ExplodedMemberCrcCoversTheStream) {
    EncodedMember m = Encode("A.TXT", TextBytes(1000), Method(MEMBER_IMPLODE));
    ASSERT_EQ(m.header.method, SQ_METHOD_EXPLODED);
    EXPECT_LT(m.stored.size(), 1000u);
    EXPECT_EQ(m.header.storedSize, m.stored.size());
    EXPECT_EQ(m.header.storedCrc,
              ~UpdateCrc32(m.stored.data(), static_cast<uint32_t>(m.stored.size()), ~0u));
}

TEST(ArchiveWriter, RefusesDuplicateNamesWhateverTheirCase) {
    TempDir dir;
    ArchiveWriter w;
    ASSERT_TRUE(OpenArchive(&w, dir / "D.LSZ"));
    ASSERT_TRUE(AppendMember(&w, Encode("Setup.Exe", {1}, Method(MEMBER_STORE))));
    EXPECT_FALSE(AppendMember(&w, Encode("SETUP.EXE", {2}, Method(MEMBER_STORE))));
    EXPECT_NE(w.error.find("SETUP.EXE"), std::string::npos) << w.error;
    EXPECT_TRUE(AppendMember(&w, Encode("SETUP.EX_", {3}, Method(MEMBER_STORE))));
    ASSERT_TRUE(CloseArchive(&w));
    EXPECT_EQ(ReadFileBytes(dir / "D.LSZ").size(), 6u + 2 * 52u);
}

TEST(MemberName, OnlyPlainNamesThatFitAreWritable) {
    struct Case {
        const char* name;
        bool ok;
    };
    const Case cases[] = {
        {"SETUP.EXE", true},
        {"a", true},
        {"EIGHTEEN_CHARS.TXT", true},
        {"NINETEEN_CHARS.TEXT", false},
        {"", false},
        {"DIR/FILE", false},
        {"DIR\\FILE", false},
        {"C:FILE", false},
        {".", false},
        {"..", false},
        {"CON", false},
        {"nul.txt", false},
        {"COM1", false},
        {"CONFIG.SYS", true},
        {"...", false}, // names the directory itself on Windows
        {"A..B", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsWritableMemberName(c.name), c.ok) << "'" << c.name << "'";
        EncodedMember m;
        std::string error;
        EXPECT_EQ(EncodeMember(c.name, {1}, {0x21, 0}, MemberOptions(), &m, &error), c.ok)
            << c.name;
    }
}

TEST(DosTime, BrokenDownInLocalTimeOrUtcAndClampedToTheDosRange) {
    struct Case {
        const char* tz;
        time_t t;
        bool utc;
        uint16_t date, time;
    };
    const Case cases[] = {
        {"UTC0", kJan1995Noon + 1, false, 0x1E21, 0x6000}, // 1995-01-01 12:00:00
        {"EST5", kJan1995Noon + 1, false, 0x1E21, 0x3800}, // 07:00:00 local
        {"EST5", kJan1995Noon + 1, true, 0x1E21, 0x6000},  // asked for UTC
        {"EST5", kJan1995Noon + 59, true, 0x1E21, 0x601D}, // 12:00:58
        {"UTC0", 315532800, false, 0x0021, 0x0000},        // 1980-01-01 00:00:00
        {"UTC0", 0, false, 0x0021, 0x0000},                // 1970: clamped up
        {"UTC0", 4354819200, false, 0xFF9F, 0xBF7D},       // 2108: clamped down
        {"UTC0", 951825600, false, 0x285D, 0x6000},        // 2000-02-29 12:00:00
    };
    const char* saved = std::getenv("TZ");
    std::string savedTz = saved != nullptr ? saved : "";
    for (const Case& c : cases) {
        setenv("TZ", c.tz, 1);
        tzset();
        DosDateTime d = DosTimeFromPosix(c.t, c.utc);
        EXPECT_EQ(d.date, c.date) << c.tz << " " << c.t;
        EXPECT_EQ(d.time, c.time) << c.tz << " " << c.t;
    }
    if (saved != nullptr) {
        setenv("TZ", savedTz.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(ReadInputFile, ReportsMissingFilesAndDirectories) {
    TempDir dir;
    WriteFileBytes(dir / "F", {7, 8});
    SetFileMtime(dir / "F", kJan1995Noon);
    Bytes data;
    time_t mtime = 0;
    std::string error;
    ASSERT_TRUE(ReadInputFile(dir / "F", &data, &mtime, &error)) << error;
    EXPECT_EQ(data, (Bytes{7, 8}));
    EXPECT_EQ(mtime, kJan1995Noon);
    EXPECT_FALSE(ReadInputFile(dir / "MISSING", &data, &mtime, &error));
    EXPECT_NE(error.find("MISSING"), std::string::npos);
    EXPECT_FALSE(ReadInputFile(dir.path(), &data, &mtime, &error));
}

} // namespace
