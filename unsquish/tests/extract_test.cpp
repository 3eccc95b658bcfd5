// SqExtract over the in-memory platform layer: the archive walk, member handling, failure
// messages and results, and the hardening against hostile archives.
#include <gtest/gtest.h>

#include "archive_builder.h"
#include "extract.h"
#include "memory_system.h"

namespace {

const char kSource[] = "A:\\";
const char kDest[] = "C:\\STAGE";
const char kArchivePath[] = "A:\\SETUP.LSZ";

std::string Out(const std::string& name) {
    return std::string(kDest) + "\\" + name;
}

MemberSpec Stored(const std::string& name, const std::string& content) {
    return {name, 1, ToBytes(content)};
}

MemberSpec Exploded(const std::string& name, const std::string& content) {
    return {name, 2, LiteralStream(content)};
}

class ExtractTest : public ::testing::Test {
  protected:
    MemorySystem fs;
    void SetUp() override {
        fs.dirs.insert("A:");
        fs.dirs.insert(kDest);
    }
    // Every call releases what it acquired, whatever the outcome.
    void TearDown() override {
        EXPECT_EQ(fs.openHandles, 0);
        EXPECT_EQ(fs.liveBlocks, 0);
    }
    int32_t Run(const Bytes& archive, const char* fileName = "SETUP",
                const char* altName = nullptr) {
        fs.files[kArchivePath].data = archive;
        return SqExtract(fs.table(), kSource, kDest, fileName, altName);
    }
    void ExpectFile(const std::string& name, const std::string& content) {
        ASSERT_TRUE(fs.files.count(Out(name))) << name;
        EXPECT_EQ(fs.text(Out(name)), content) << name;
    }
};

// The stream loses the last byte of its end marker: every literal is still complete.
Bytes WithoutLastByte(Bytes stream) {
    stream.pop_back();
    return stream;
}

const Message kInternalError{SQ_MSG_INTERNAL_ERROR, kArchivePath};

// One archive, what the walk must produce from it.
struct WalkCase {
    const char* label;
    std::vector<MemberSpec> members;
    Bytes trailing;
    int32_t result;
    std::vector<Message> messages;
    std::vector<std::pair<std::string, std::string>> files; // exactly these, in kDest
};

class ArchiveWalk : public ExtractTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(ArchiveWalk, ProducesTheListedFilesAndMessages) {
    const WalkCase& c = GetParam();
    EXPECT_EQ(Run(BuildArchive(c.members, c.trailing)), c.result);
    EXPECT_EQ(fs.messages, c.messages);
    size_t outputs = 0;
    for (const auto& entry : fs.files)
        outputs += entry.first.rfind(std::string(kDest) + "\\", 0) == 0;
    EXPECT_EQ(outputs, c.files.size());
    for (const auto& file : c.files)
        ExpectFile(file.first, file.second);
}

const std::string kLong(5000, 'x'); // spans several 2,048-byte copy blocks

INSTANTIATE_TEST_SUITE_P(
    Cases, ArchiveWalk,
    ::testing::Values(
        WalkCase{"SignatureOnly", {}, {}, 1, {}, {}},
        WalkCase{"TrailingBytesUnderOneHeader",
                 {Stored("A.TXT", "alpha")},
                 Bytes(50, 0xEE),
                 1,
                 {},
                 {{"A.TXT", "alpha"}}},
        WalkCase{"ZeroSizeStoredMemberThenNext",
                 {Stored("EMPTY", ""), Stored("B.TXT", "beta")},
                 {},
                 1,
                 {},
                 {{"EMPTY", ""}, {"B.TXT", "beta"}}},
        WalkCase{"StoredAndExplodedMembers",
                 {Stored("LONG.BIN", kLong), Exploded("E.TXT", "exploded text")},
                 {},
                 1,
                 {},
                 {{"LONG.BIN", kLong}, {"E.TXT", "exploded text"}}},
        WalkCase{
            "UnknownMethodAfterGoodMember",
            {Stored("A.TXT", "alpha"), {"B.TXT", 7, ToBytes("beta")}, Stored("C.TXT", "never")},
            {},
            0,
            {kInternalError},
            {{"A.TXT", "alpha"}, {"B.TXT", ""}}},
        WalkCase{"CrcMismatchKeepsContentAndGoesOn",
                 {{"BAD.TXT", 2, LiteralStream("complete"), 0x1E21, 0x6000, true},
                  Stored("NEXT", "next")},
                 {},
                 1,
                 {kInternalError},
                 {{"BAD.TXT", "complete"}, {"NEXT", "next"}}},
        WalkCase{"FourByteExplodedMemberIsRefusedByTheDecoder",
                 {{"EMPTY.TXT", 2, Bytes{0, 6, 0x01, 0xFF}}, Stored("NEXT", "next")},
                 {},
                 1,
                 {kInternalError},
                 {{"EMPTY.TXT", ""}, {"NEXT", "next"}}},
        WalkCase{"StreamCutShortKeepsWhatWasDecoded",
                 {{"CUT.TXT", 2, WithoutLastByte(LiteralStream("abcdef"))}, Stored("NEXT", "next")},
                 {},
                 1,
                 {kInternalError},
                 {{"CUT.TXT", "abcdef"}, {"NEXT", "next"}}},
        // A stored member whose data end before its size: what there is is written, and the
        // member is reported, since its file is not what the archive promised.
        WalkCase{"StoredMemberCutShortByTheEndOfTheFile",
                 {Stored("A.TXT", "alpha"),
                  {"CUT.TXT", 1, ToBytes("only part"), 0x1E21, 0x6000, false, 5000}},
                 {},
                 1,
                 {kInternalError},
                 {{"A.TXT", "alpha"}, {"CUT.TXT", "only part"}}},
        // A size that would carry the next header past 2 GiB - 1 ends the walk after the
        // member (whose data are then cut short); with 32-bit wrap-around it would otherwise
        // land back on the first header.
        WalkCase{"SizeWrappingToTheFirstHeaderEndsTheWalk",
                 {{"WRAP", 1, ToBytes("wrapped"), 0x1E21, 0x6000, false, 0xFFFFFFFFll - 50}},
                 {},
                 1,
                 {kInternalError},
                 {{"WRAP", "wrapped"}}},
        WalkCase{"LargestSizeIsAByteCountLikeAnyOther",
                 {{"MAX", 1, ToBytes("most"), 0x1E21, 0x6000, false, 0xFFFFFFFFll}},
                 {},
                 1,
                 {kInternalError},
                 {{"MAX", "most"}}},
        WalkCase{"SizePastTwoGigabytesEndsTheWalk",
                 {{"HUGE", 1, ToBytes("data"), 0x1E21, 0x6000, false, 0x7FFFFFFFll - 56}},
                 {},
                 1,
                 {kInternalError},
                 {{"HUGE", "data"}}}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return info.param.label; });

class MethodValues : public ExtractTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(MethodValues, OnlyWholeValuesOneAndTwoAreMethods) {
    EXPECT_EQ(Run(BuildArchive({{"X.TXT", GetParam(), ToBytes("x")}})), 0);
    EXPECT_EQ(fs.messages, std::vector<Message>{kInternalError});
    ExpectFile("X.TXT", "");
}

INSTANTIATE_TEST_SUITE_P(Cases, MethodValues, ::testing::Values(0, 3, 0x0101, 0x0201, 0xFFFF));

// Names that could leave the destination directory or open a device are refused, reported,
// and skipped; the walk goes on with the next member.
class HostileNames : public ExtractTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(HostileNames, AreNeverUsedAsPaths) {
    EXPECT_EQ(Run(BuildArchive({Stored(GetParam(), "evil"), Stored("OK.TXT", "ok")})), 1);
    EXPECT_EQ(fs.messages, std::vector<Message>{kInternalError});
    for (const auto& entry : fs.files)
        EXPECT_NE(fs.text(entry.first), "evil") << entry.first;
    ExpectFile("OK.TXT", "ok");
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileNames,
                         ::testing::Values("", ".", "..", "..\\BOOT.INI", "SUB\\X.TXT", "../X.TXT",
                                           "C:X.TXT", "A:\\X", "CON", "con", "PRN.TXT", "aux.dat",
                                           "NUL", "Nul.", "COM1", "com9.log", "LPT1", "lpt9.x",
                                           "CON .TXT", "...", ". .", " ", std::string(19, 'N'),
                                           // superscript digits one to three (code page 1252)
                                           "COM\xB9", "lpt\xB2.txt", "Com\xB3"));

TEST_F(ExtractTest, NamesThatOnlyLookLikeDevicesAreFiles) {
    EXPECT_EQ(Run(BuildArchive({Stored("CONSOLE", "1"), Stored("COM10", "2"), Stored("LPT0", "3"),
                                Stored("NULL.TXT", "4"), Stored(std::string(18, 'L'), "5")})),
              1);
    EXPECT_TRUE(fs.messages.empty());
    ExpectFile("CONSOLE", "1");
    ExpectFile("COM10", "2");
    ExpectFile("LPT0", "3");
    ExpectFile("NULL.TXT", "4");
    ExpectFile(std::string(18, 'L'), "5");
}

TEST_F(ExtractTest, EveryMemberGetsItsStoredTime) {
    MemberSpec a = Stored("A.TXT", "a");
    a.dosDate = 0x2A5C;
    a.dosTime = 0x7BBD;
    MemberSpec bad = {"BAD", 2, LiteralStream("b"), 0x1E21, 0x1234, true};
    EXPECT_EQ(Run(BuildArchive({a, bad})), 1);
    const MemoryFile& fa = fs.files[Out("A.TXT")];
    const MemoryFile& fb = fs.files[Out("BAD")];
    EXPECT_TRUE(fa.timeSet && fb.timeSet);
    EXPECT_EQ(fa.dosDate, 0x2A5C);
    EXPECT_EQ(fa.dosTime, 0x7BBD);
    EXPECT_EQ(fb.dosTime, 0x1234);
}

TEST_F(ExtractTest, ExistingFilesAreOverwrittenAndCutToTheNewLength) {
    fs.files[Out("RO.TXT")] = {ToBytes("old read-only content"), true};
    fs.files[Out("LONG.TXT")].data = ToBytes("a much longer old content");
    fs.files[Out("EXP.TXT")].data = ToBytes("another much longer old content");
    EXPECT_EQ(Run(BuildArchive({Stored("RO.TXT", "new"), Stored("LONG.TXT", "short"),
                                Exploded("EXP.TXT", "fresh")})),
              1);
    ExpectFile("RO.TXT", "new");
    EXPECT_FALSE(fs.files[Out("RO.TXT")].readOnly);
    ExpectFile("LONG.TXT", "short");
    ExpectFile("EXP.TXT", "fresh");
}

TEST_F(ExtractTest, MissingOutputDirectoryNamesTheFullOutputPath) {
    fs.files[kArchivePath].data = BuildArchive({Stored("A.TXT", "a")});
    EXPECT_EQ(SqExtract(fs.table(), kSource, "C:\\NODIR", "SETUP", nullptr), 0);
    EXPECT_EQ(fs.messages,
              (std::vector<Message>{{SQ_MSG_CANNOT_CREATE_OUTPUT, "C:\\NODIR\\A.TXT"}}));
}

TEST_F(ExtractTest, OutputFailureAfterEarlierMembersKeepsThem) {
    fs.files[Out("B.TXT")] = {};
    fs.dirs.erase(kDest); // existing files can still be opened, new ones cannot
    EXPECT_EQ(Run(BuildArchive({Stored("B.TXT", "b"), Stored("C.TXT", "c")})), 0);
    EXPECT_EQ(fs.messages, (std::vector<Message>{{SQ_MSG_CANNOT_CREATE_OUTPUT, Out("C.TXT")}}));
    ExpectFile("B.TXT", "b");
}

TEST_F(ExtractTest, MissingSourceNamesThePathWithItsExtension) {
    EXPECT_EQ(SqExtract(fs.table(), kSource, kDest, "SETUP", nullptr), 0);
    EXPECT_EQ(fs.messages, (std::vector<Message>{{SQ_MSG_CANNOT_OPEN_SOURCE, kArchivePath}}));
}

TEST_F(ExtractTest, WorkAreaAllocationFailure) {
    fs.faults.alloc.failAt = 0;
    EXPECT_EQ(Run(BuildArchive({Stored("A.TXT", "a")})), 0);
    EXPECT_EQ(fs.messages, (std::vector<Message>{{SQ_MSG_OUT_OF_MEMORY, kArchivePath}}));
    EXPECT_FALSE(fs.files.count(Out("A.TXT")));
}

TEST_F(ExtractTest, FailedWriteIsReportedAndTheWalkGoesOn) {
    fs.faults.write.failAt = 1; // the second block of LONG.BIN
    EXPECT_EQ(Run(BuildArchive({Stored("LONG.BIN", kLong), Stored("B.TXT", "b")})), 1);
    EXPECT_EQ(fs.messages, std::vector<Message>{kInternalError});
    ExpectFile("B.TXT", "b");
}

TEST_F(ExtractTest, FailedWriteInsideAnExplodedMemberIsReported) {
    fs.faults.write.failAt = 0;
    EXPECT_EQ(Run(BuildArchive({Exploded("E.TXT", "text"), Stored("B.TXT", "b")})), 1);
    EXPECT_EQ(fs.messages, std::vector<Message>{kInternalError});
    ExpectFile("B.TXT", "b");
}

// A read error is not the end of a member: the file keeps what was read, and the member is
// reported like one that fails its check.
TEST_F(ExtractTest, ReadErrorInsideAStoredMemberIsReportedAndTheWalkGoesOn) {
    // Reads: signature, first header, then the first two blocks of A (the second fails),
    // then the next header.
    fs.faults.read.failAt = 3;
    EXPECT_EQ(Run(BuildArchive({Stored("A.TXT", kLong), Stored("B.TXT", "b")})), 1);
    EXPECT_EQ(fs.messages, std::vector<Message>{kInternalError});
    ExpectFile("A.TXT", kLong.substr(0, 2048));
    EXPECT_TRUE(fs.files[Out("A.TXT")].timeSet);
    ExpectFile("B.TXT", "b");
}

TEST_F(ExtractTest, WorkAreaIsAllocatedOncePerCall) {
    EXPECT_EQ(Run(BuildArchive({Exploded("A", "1"), Exploded("B", "2"), Exploded("C", "3")})), 1);
    EXPECT_EQ(fs.faults.alloc.calls, 1);
    ExpectFile("A", "1");
    ExpectFile("C", "3");
}

// Source directory forms and the extension rule decide which file is opened.
struct SourceCase {
    const char* sourceDir;
    const char* fileName;
    const char* opened;
};

class SourcePath : public ExtractTest, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(SourcePath, OpensTheExpectedFile) {
    const SourceCase& c = GetParam();
    fs.files[c.opened].data = BuildArchive({Stored("A.TXT", "a")});
    EXPECT_EQ(SqExtract(fs.table(), c.sourceDir, kDest, c.fileName, nullptr), 1);
    ExpectFile("A.TXT", "a");
}

INSTANTIATE_TEST_SUITE_P(Cases, SourcePath,
                         ::testing::Values(SourceCase{"A:\\", "SETUP", "A:\\SETUP.LSZ"},
                                           SourceCase{"A:", "SETUP", "A:\\SETUP.LSZ"},
                                           SourceCase{"", "SETUP", "SETUP.LSZ"},
                                           SourceCase{"A:\\", "SETUP.EX", "A:\\SETUP.EX"},
                                           SourceCase{"A:\\", "SETUP.", "A:\\SETUP."},
                                           SourceCase{"A:\\", "SETUP.DATA", "A:\\SETUP.DATA.LSZ"},
                                           SourceCase{"D:\\X.Y", "Z", "D:\\X.Y\\Z"}));

TEST_F(ExtractTest, EmptyDestinationWritesIntoTheCurrentDirectory) {
    fs.files[kArchivePath].data = BuildArchive({Stored("A.TXT", "a")});
    EXPECT_EQ(SqExtract(fs.table(), kSource, "", "SETUP", nullptr), 1);
    EXPECT_EQ(fs.text("A.TXT"), "a");
}

TEST_F(ExtractTest, PlainFileIsCopiedWholeToTheAlternateName) {
    // Begins like the signature but for its last byte, and spans several copy blocks.
    std::string content = std::string("\x37\xF0\xFF\xFF\x00\x04", 6) + kLong;
    fs.files["A:\\README.TXT"].data = ToBytes(content);
    EXPECT_EQ(SqExtract(fs.table(), kSource, kDest, "README.TXT", "COPY.TXT"), 1);
    EXPECT_TRUE(fs.messages.empty());
    ExpectFile("COPY.TXT", content);
    EXPECT_FALSE(fs.files[Out("COPY.TXT")].timeSet);
}

TEST_F(ExtractTest, BigEndianSignatureIsAPlainFile) {
    std::string content("\xFF\xFF\xF0\x37\x03\x00", 6);
    fs.files["A:\\X.LSZ"].data = ToBytes(content);
    EXPECT_EQ(SqExtract(fs.table(), kSource, kDest, "X.LSZ", "X.OUT"), 1);
    ExpectFile("X.OUT", content);
}

struct PlainFailure {
    const char* label;
    const char* altName;
    const char* dest;
    int failReadAt, failWriteAt;
    Message message;
};

class PlainCopyFailure : public ExtractTest, public ::testing::WithParamInterface<PlainFailure> {};

TEST_P(PlainCopyFailure, ReportsAndReturnsZero) {
    const PlainFailure& c = GetParam();
    fs.files["A:\\PLAIN.TXT"].data = ToBytes(kLong);
    fs.faults.read.failAt = c.failReadAt;
    fs.faults.write.failAt = c.failWriteAt;
    EXPECT_EQ(SqExtract(fs.table(), kSource, c.dest, "PLAIN.TXT", c.altName), 0);
    EXPECT_EQ(fs.messages, std::vector<Message>{c.message});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlainCopyFailure,
    ::testing::Values(
        PlainFailure{
            "NoAlternateName", nullptr, kDest, -1, -1, {SQ_MSG_INTERNAL_ERROR, "A:\\PLAIN.TXT"}},
        PlainFailure{"OutputCannotBeCreated",
                     "C.TXT",
                     "C:\\NODIR",
                     -1,
                     -1,
                     {SQ_MSG_CANNOT_CREATE_OUTPUT, "C:\\NODIR\\C.TXT"}},
        PlainFailure{"WriteFails", "C.TXT", kDest, -1, 1, {SQ_MSG_INTERNAL_ERROR, "A:\\PLAIN.TXT"}},
        // Reads: the signature test, then the copy's blocks; the second block fails.
        PlainFailure{"ReadFails", "C.TXT", kDest, 2, -1, {SQ_MSG_INTERNAL_ERROR, "A:\\PLAIN.TXT"}}),
    [](const ::testing::TestParamInfo<PlainFailure>& info) { return info.param.label; });

// How a call ends: files are closed and the work area released in a fixed order, and a
// message that ends the call comes after the closes that precede it, so no file is held open
// while the user looks at the box. Where a member of unknown method stops the walk, the
// message comes first, while its output file is still open.
struct OrderCase {
    const char* label;
    Bytes archive; // at A:\SETUP.LSZ when it begins with the signature, else at A:\PLAIN.TXT
    const char* dest;
    const char* altName;
    int failAllocAt, failReadAt, failWriteAt;
    std::vector<std::string> events;
};

class EndingOrder : public ExtractTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(EndingOrder, ClosesReleasesAndMessagesComeInOrder) {
    const OrderCase& c = GetParam();
    bool isArchive = c.archive.size() >= 6 && c.archive[0] == 0x37;
    fs.files[isArchive ? kArchivePath : "A:\\PLAIN.TXT"].data = c.archive;
    fs.faults.alloc.failAt = c.failAllocAt;
    fs.faults.read.failAt = c.failReadAt;
    fs.faults.write.failAt = c.failWriteAt;
    SqExtract(fs.table(), kSource, c.dest, isArchive ? "SETUP" : "PLAIN.TXT", c.altName);
    EXPECT_EQ(fs.events, c.events);
}

const Bytes kOneStored = BuildArchive({Stored("A.TXT", "a")});
const Bytes kPlain = ToBytes("plain text");

INSTANTIATE_TEST_SUITE_P(
    Cases, EndingOrder,
    ::testing::Values(
        OrderCase{"EndOfArchive",
                  kOneStored,
                  kDest,
                  nullptr,
                  -1,
                  -1,
                  -1,
                  {"open A:\\SETUP.LSZ", "alloc", "output C:\\STAGE\\A.TXT",
                   "time C:\\STAGE\\A.TXT", "close C:\\STAGE\\A.TXT", "close A:\\SETUP.LSZ",
                   "free"}},
        OrderCase{"BadMemberReportedWhileItsFileIsOpen",
                  BuildArchive({{"BAD", 2, LiteralStream("b"), 0x1E21, 0x6000, true}}),
                  kDest,
                  nullptr,
                  -1,
                  -1,
                  -1,
                  {"open A:\\SETUP.LSZ", "alloc", "output C:\\STAGE\\BAD", "message 13504",
                   "time C:\\STAGE\\BAD", "close C:\\STAGE\\BAD", "close A:\\SETUP.LSZ", "free"}},
        OrderCase{"OutputCannotBeCreated",
                  kOneStored,
                  "C:\\NODIR",
                  nullptr,
                  -1,
                  -1,
                  -1,
                  {"open A:\\SETUP.LSZ", "alloc", "close A:\\SETUP.LSZ", "free", "message 13501"}},
        OrderCase{"UnknownMethod",
                  BuildArchive({{"B.TXT", 7, ToBytes("b")}}),
                  kDest,
                  nullptr,
                  -1,
                  -1,
                  -1,
                  {"open A:\\SETUP.LSZ", "alloc", "output C:\\STAGE\\B.TXT", "message 13504",
                   "free", "close C:\\STAGE\\B.TXT", "close A:\\SETUP.LSZ"}},
        OrderCase{"WorkAreaCannotBeAllocated",
                  kOneStored,
                  kDest,
                  nullptr,
                  0,
                  -1,
                  -1,
                  {"open A:\\SETUP.LSZ", "alloc failed", "message 13505", "close A:\\SETUP.LSZ"}},
        OrderCase{"PlainCopy",
                  kPlain,
                  kDest,
                  "COPY.TXT",
                  -1,
                  -1,
                  -1,
                  {"open A:\\PLAIN.TXT", "output C:\\STAGE\\COPY.TXT", "close C:\\STAGE\\COPY.TXT",
                   "close A:\\PLAIN.TXT"}},
        OrderCase{"PlainCopyOutputCannotBeCreated",
                  kPlain,
                  "C:\\NODIR",
                  "COPY.TXT",
                  -1,
                  -1,
                  -1,
                  {"open A:\\PLAIN.TXT", "close A:\\PLAIN.TXT", "message 13501"}},
        OrderCase{"PlainCopyWithoutAlternateName",
                  kPlain,
                  kDest,
                  nullptr,
                  -1,
                  -1,
                  -1,
                  {"open A:\\PLAIN.TXT", "close A:\\PLAIN.TXT", "message 13504"}},
        OrderCase{"PlainCopyWriteFails",
                  kPlain,
                  kDest,
                  "COPY.TXT",
                  -1,
                  -1,
                  0,
                  {"open A:\\PLAIN.TXT", "output C:\\STAGE\\COPY.TXT", "close C:\\STAGE\\COPY.TXT",
                   "close A:\\PLAIN.TXT", "message 13504"}}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return info.param.label; });

TEST_F(ExtractTest, PathsThatDoNotFitAreRefusedNotCut) {
    std::string deepDir = "C:\\" + std::string(250, 'D');
    fs.dirs.insert(deepDir);
    fs.files[kArchivePath].data = BuildArchive({Stored("LONGNAME.TXT", "x")});
    EXPECT_EQ(SqExtract(fs.table(), kSource, deepDir.c_str(), "SETUP", nullptr), 0);
    EXPECT_EQ(fs.messages, (std::vector<Message>{{SQ_MSG_CANNOT_CREATE_OUTPUT, "LONGNAME.TXT"}}));
    for (const auto& entry : fs.files)
        EXPECT_LT(entry.first.size(), 256u);
}

} // namespace
