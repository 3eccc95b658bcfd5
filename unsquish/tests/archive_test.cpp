// The archive format's building blocks: header layout, signature, walk positions, paths,
// the extension rule and CRC-32.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive.h"
#include "crc32.h"
#include "extract.h"

namespace {

uint32_t Crc(const std::string& s) {
    return ~UpdateCrc32(reinterpret_cast<const uint8_t*>(s.data()), (uint32_t)s.size(),
                        0xFFFFFFFFu);
}

TEST(Crc32, KnownValues) {
    EXPECT_EQ(Crc(""), 0x00000000u);
    EXPECT_EQ(Crc("a"), 0xE8B7BE43u);
    EXPECT_EQ(Crc("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    EXPECT_EQ(Crc(std::string(32, '\0')), 0x190A55ADu);
}

TEST(Crc32, PiecesGiveTheSameRegisterAsOneRun) {
    std::string text = "The quick brown fox jumps over the lazy dog";
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    for (uint32_t cut = 0; cut <= text.size(); ++cut) {
        uint32_t reg = UpdateCrc32(p, cut, 0xFFFFFFFFu);
        reg = UpdateCrc32(p + cut, (uint32_t)text.size() - cut, reg);
        EXPECT_EQ(~reg, 0x414FA339u) << cut;
    }
}

TEST(MemberHeaderLayout, FieldsAreLittleEndianAtTheirOffsets) {
    uint8_t raw[SQ_HEADER_SIZE];
    for (int i = 0; i < SQ_HEADER_SIZE; ++i)
        raw[i] = 0xCC; // reserved bytes must not leak into any field
    memcpy(raw + 4, "MEMBER.TXT\0", 11);
    const uint8_t fields[] = {
        0x78, 0x56, 0x34, 0x12, // storedSize 0x12345678 at 23
        0xEF, 0xBE, 0xAD, 0xDE, // storedCrc 0xDEADBEEF at 27
        0x21, 0x1E,             // dosDate 0x1E21 at 31
        0x00, 0x60,             // dosTime 0x6000 at 33
    };
    memcpy(raw + 23, fields, sizeof fields);
    raw[37] = 0x02; // method 2 at 37, little-endian
    raw[38] = 0x00;
    MemberHeader h;
    ParseMemberHeader(raw, &h);
    EXPECT_STREQ(h.memberName, "MEMBER.TXT");
    EXPECT_EQ(h.storedSize, 0x12345678u);
    EXPECT_EQ(h.storedCrc, 0xDEADBEEFu);
    EXPECT_EQ(h.dosDate, 0x1E21);
    EXPECT_EQ(h.dosTime, 0x6000);
    EXPECT_EQ(h.method, 2);

    raw[38] = 0x01; // 0x0102 is not method 2
    ParseMemberHeader(raw, &h);
    EXPECT_EQ(h.method, 0x0102);
}

TEST(MemberHeaderLayout, FormatWritesZeroReservedBytesAndParsesBack) {
    MemberHeader h = {};
    strcpy(h.memberName, "SETUP.INF");
    h.storedSize = 0x01020304;
    h.storedCrc = 0xA1B2C3D4;
    h.dosDate = 0x2A5C;
    h.dosTime = 0x7BBF;
    h.method = 1;
    uint8_t raw[SQ_HEADER_SIZE];
    memset(raw, 0xCC, sizeof raw);
    FormatMemberHeader(&h, raw);
    for (int i : {0, 1, 2, 3, 35, 36, 39, 44, 50})
        EXPECT_EQ(raw[i], 0) << i;
    EXPECT_EQ(raw[23], 0x04);
    EXPECT_EQ(raw[26], 0x01);
    MemberHeader back;
    ParseMemberHeader(raw, &back);
    EXPECT_EQ(memcmp(back.memberName, h.memberName, SQ_NAME_FIELD_SIZE), 0);
    EXPECT_EQ(back.storedSize, h.storedSize);
    EXPECT_EQ(back.storedCrc, h.storedCrc);
    EXPECT_EQ(back.dosDate, h.dosDate);
    EXPECT_EQ(back.dosTime, h.dosTime);
    EXPECT_EQ(back.method, h.method);
}

TEST(Signature, OnlyTheExactSixBytes) {
    const uint8_t good[] = {0x37, 0xF0, 0xFF, 0xFF, 0x00, 0x03, 0x99};
    const uint8_t bigEndian[] = {0xFF, 0xFF, 0xF0, 0x37, 0x03, 0x00};
    const uint8_t lastByteOff[] = {0x37, 0xF0, 0xFF, 0xFF, 0x00, 0x04};
    EXPECT_TRUE(IsArchiveSignature(good, 6));
    EXPECT_TRUE(IsArchiveSignature(good, 7));
    EXPECT_FALSE(IsArchiveSignature(good, 5));
    EXPECT_FALSE(IsArchiveSignature(bigEndian, 6));
    EXPECT_FALSE(IsArchiveSignature(lastByteOff, 6));
}

TEST(NextHeader, StaysWithinSignedThirtyTwoBitOffsets) {
    struct {
        uint32_t pos, size, next;
    } cases[] = {
        {6, 0, 57},
        {6, 100, 157},
        {6, 0x7FFFFFFFu - 57, 0x7FFFFFFFu}, // the last offset a reader can seek to
        {6, 0x7FFFFFFFu - 56, 0},           // one past it
        {6, 0xFFFFFFFFu - 50, 0},           // would wrap around to the first header
        {6, 0xFFFFFFFFu, 0},
        {0x7FFFFFFFu - 50, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NextHeaderPos(c.pos, c.size), c.next) << c.pos << " + " << c.size;
}

TEST(Paths, MakePathJoinsWithOneBackslash) {
    struct {
        const char *dir, *name, *out;
        int ok;
    } cases[] = {
        {"C:\\STAGE", "A.TXT", "C:\\STAGE\\A.TXT", 1},
        {"C:\\STAGE\\", "A.TXT", "C:\\STAGE\\A.TXT", 1},
        {"A:", "SETUP", "A:\\SETUP", 1},
        {"", "A.TXT", "A.TXT", 1},
        {"C:\\STAGE", "", "untouched", 0},
    };
    for (const auto& c : cases) {
        char out[SQ_PATH_SIZE] = "untouched";
        EXPECT_EQ(MakePath(out, c.dir, c.name), c.ok) << c.dir << " + " << c.name;
        EXPECT_STREQ(out, c.out);
    }
}

TEST(Paths, MakePathRefusesWhatDoesNotFit) {
    std::string dir(250, 'D');
    char out[SQ_PATH_SIZE] = "untouched";
    EXPECT_EQ(MakePath(out, dir.c_str(), "1234"), 1); // 250 + 1 + 4 = 255 characters
    EXPECT_EQ(strlen(out), 255u);
    strcpy(out, "untouched");
    EXPECT_EQ(MakePath(out, dir.c_str(), "12345"), 0);
    EXPECT_STREQ(out, "untouched");
}

TEST(Paths, ArchiveExtensionRule) {
    struct {
        const char *in, *out;
    } cases[] = {
        {"SETUP", "SETUP.LSZ"},
        {"SETUP.LSZ", "SETUP.LSZ"},
        {"SETUP.EX", "SETUP.EX"},
        {"SETUP.", "SETUP."},
        {"SETUP.DATA", "SETUP.DATA.LSZ"},
        {"D:\\X.Y\\Z", "D:\\X.Y\\Z"}, // the last dot may lie in a directory name
        {"D:\\X.YZW\\Z", "D:\\X.YZW\\Z.LSZ"},
    };
    for (const auto& c : cases) {
        char path[SQ_PATH_SIZE];
        strcpy(path, c.in);
        EXPECT_EQ(ApplyArchiveExtension(path), 1);
        EXPECT_STREQ(path, c.out);
    }
    char full[SQ_PATH_SIZE];
    memset(full, 'N', 252);
    full[252] = '\0';
    EXPECT_EQ(ApplyArchiveExtension(full), 0); // 252 + 4 would not leave room for the NUL
}

} // namespace
