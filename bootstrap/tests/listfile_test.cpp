#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "context.h"
#include "listfile.h"

namespace {

// A list file in memory, handed out in chunks of a chosen size so that a carriage return
// and its line feed can fall into different reads.
struct MemoryFile {
    std::string data;
    size_t position = 0;
    int chunk = 512;
};

int ReadMemory(void* source, char* buffer, int size) {
    MemoryFile* file = static_cast<MemoryFile*>(source);
    size_t n = std::min<size_t>({static_cast<size_t>(size), static_cast<size_t>(file->chunk),
                                 file->data.size() - file->position});
    std::memcpy(buffer, file->data.data() + file->position, n);
    file->position += n;
    return static_cast<int>(n);
}

std::vector<std::string> ReadAllLines(const std::string& text, int chunk) {
    MemoryFile file{text, 0, chunk};
    LineReader reader;
    StartLineReader(&reader, ReadMemory, &file);
    std::vector<std::string> lines;
    char line[LIST_LINE_SIZE];
    while (ReadListLine(&reader, line))
        lines.push_back(line);
    return lines;
}

struct LineCase {
    const char* what;
    std::string text;
    std::vector<std::string> lines;
};

TEST(ReadListLine, AppliesTextModeRulesAndDropsAnUnterminatedLastLine) {
    const std::string long300(300, 'x');
    const LineCase cases[] = {
        {"crlf and lf", "[Params]\r\nA\n\r\n", {"[Params]", "A", ""}},
        {"lone cr stays", "A\rB\r\n", {"A\rB"}},
        {"cr before cr lf", "A\r\r\n", {"A\r"}},
        {"last line without lf", "A\r\n[Files]", {"A"}},
        {"last line ends in cr", "A\nB\r", {"A"}},
        {"ctrl-z ends the file",
         "A\r\nB\r\n\x1A"
         "C\r\n",
         {"A", "B"}},
        {"ctrl-z inside a line", "A\r\nB\x1A\r\n", {"A"}},
        {"300 characters", long300 + "\r\n", {std::string(255, 'x'), std::string(45, 'x')}},
        {"255 characters exactly at the end", std::string(255, 'y'), {std::string(255, 'y')}},
        {"nothing", "", {}},
        {"spaces kept", " \tA \r\n", {" \tA "}},
    };
    for (const LineCase& c : cases) {
        for (int chunk : {1, 2, 512}) {
            EXPECT_EQ(ReadAllLines(c.text, chunk), c.lines) << c.what << ", chunk " << chunk;
        }
    }
}

struct EntryCase {
    const char* line;
    const char* source;
    const char* target;
};

TEST(SplitFileEntry, CutsSourceSeparatorAndTargetByTheirOwnDelimiters) {
    const EntryCase cases[] = {
        {"README.TX_ = README.TXT", "README.TX_", "README.TXT"},
        {"README.TX_\t= README.TXT", "README.TX_", "README.TXT"},
        {"README.TX_=README.TXT", "README.TX_", ""},
        {"README.TX_ =README.TXT", "README.TX_", ""},
        {"README.TX_ = README.TXT old", "README.TX_", "README.TXT"},
        {"SETUP.LSZ", "SETUP.LSZ", ""},
        {" \t=readme.tx_   =   README.TXT", "readme.tx_", "README.TXT"},
        {"A = \tB", "A", "\tB"}, // a tab after the source name only is a delimiter
        {" = \t =", "", ""},
    };
    for (const EntryCase& c : cases) {
        char source[LIST_LINE_SIZE];
        char target[LIST_LINE_SIZE];
        SplitFileEntry(c.line, source, target);
        EXPECT_STREQ(source, c.source) << c.line;
        EXPECT_STREQ(target, c.target) << c.line;
    }
}

struct NumberCase {
    const char* text;
    int32_t value;
};

TEST(ReadDecimal, ReadsSignAndDigitsAndHoldsAtTheLimits) {
    const NumberCase cases[] = {
        {"1500", 1500},
        {" \t\n\v\f\r+42x", 42},
        {"-7", -7},
        {"2048K", 2048},
        {"abc", 0},
        {"", 0},
        {"+", 0},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"99999999999999999999", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-99999999999", -2147483647 - 1},
    };
    for (const NumberCase& c : cases)
        EXPECT_EQ(ReadDecimal(c.text), c.value) << c.text;
}

TEST(KilobytesToBytes, HoldsAByteCountBeyondTheSignedRangeAtItsLimit) {
    EXPECT_EQ(KilobytesToBytes(1500), 1536000);
    EXPECT_EQ(KilobytesToBytes(2097151), 2147482624);
    EXPECT_EQ(KilobytesToBytes(2097152), 2147483647);
    EXPECT_EQ(KilobytesToBytes(-2097152), -2147483647 - 1);
    EXPECT_EQ(KilobytesToBytes(-2097153), -2147483647 - 1);
    EXPECT_EQ(KilobytesToBytes(-3), -3072);
}

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { std::memset(&SetupContext, 0, sizeof SetupContext); }
};

struct ParamCase {
    std::vector<const char*> lines;
    const char* title;
    const char* cmdLine;
    int32_t size;
};

TEST_F(SettingsTest, ApplyParamLineTakesKeySeparatorAndValue) {
    const ParamCase cases[] = {
        {{"WndTitle = Product Setup"}, "Product Setup", "", 0},
        {{"WndTitle=Product Setup"}, "Setup", "", 0}, // first word lost as separator
        {{"WndTitle =Product Setup"}, "Setup", "", 0},
        {{"WndTitle =  Two"}, " Two", "", 0},           // further spaces stay
        {{"  \twndtitle = X=Y"}, "X", "", 0},           // case-insensitive, cut at "="
        {{"WndTitle\t= X"}, "", "", 0},                 // a tab does not end the key
        {{"WndTitle = A", "WndTitle = B"}, "B", "", 0}, // the later line wins
        {{"WndTitle = A", "WndTitle"}, "A", "", 0},     // no value keeps the text
        {{"WndTitle = A", "WndTitle ="}, "A", "", 0},
        {{"CmdLine = RUNINST.EXE /X=1"}, "", "RUNINST.EXE /X", 0},
        {{"CmdLine ="}, "", "RUNINST.EXE", 0},
        {{"CmdLine = SECOND.EXE", "CmdLine"}, "", "SECOND.EXE", 0},
        {{"TmpDirSize = 1500"}, "", "", 1536000},
        {{"TmpDirSize = 2048K"}, "", "", 2097152},
        {{"TmpDirSize = abc"}, "", "", 0},
        {{"TmpDirSize = -1"}, "", "", -1024},
        {{"TmpDirSize = 3000000"}, "", "", 2147483647},
        {{"TmpDirSize = 10", "TmpDirSize ="}, "", "", 10240}, // no value: unchanged
        {{"TmpDirSize = 10", "TmpDirSize"}, "", "", 10240},
        {{"Other = 1", "= = =", "   "}, "", "", 0},
    };
    for (const ParamCase& c : cases) {
        std::memset(&SetupContext, 0, sizeof SetupContext);
        for (const char* line : c.lines)
            ApplyParamLine(line);
        std::string where = c.lines.back();
        EXPECT_STREQ(SetupContext.WndTitle, c.title) << where;
        EXPECT_STREQ(SetupContext.CmdLine, c.cmdLine) << where;
        EXPECT_EQ(SetupContext.TmpDirSize, c.size) << where;
    }
}

TEST_F(SettingsTest, ApplyParamLineFillsEachTextField) {
    ApplyParamLine("WndMess = Copying setup files...");
    ApplyParamLine("TmpDirName = ~INSTTMP");
    EXPECT_STREQ(SetupContext.WndMess, "Copying setup files...");
    EXPECT_STREQ(SetupContext.TmpDirName, "~INSTTMP");
    EXPECT_STREQ(SetupContext.WndTitle, "");
}

// Entries handed on by a walk, and the entry at which the walk is told to fail.
std::vector<std::string> gEntries;
std::string gFailAt;

int RecordEntry(void* context, const char* source, const char* target) {
    EXPECT_EQ(context, &gEntries);
    gEntries.push_back(std::string(source) + "|" + target);
    return gFailAt != source;
}

class WalkTest : public SettingsTest {
  protected:
    int Walk(const std::string& text, int pass) {
        gEntries.clear();
        file_ = MemoryFile{text, 0, 512};
        LineReader reader;
        StartLineReader(&reader, ReadMemory, &file_);
        return WalkSetupList(&reader, pass, RecordEntry, &gEntries);
    }
    int WalkLibraries(const std::string& text) {
        gEntries.clear();
        file_ = MemoryFile{text, 0, 512};
        LineReader reader;
        StartLineReader(&reader, ReadMemory, &file_);
        return WalkSystemLibraryList(&reader, RecordEntry, &gEntries);
    }
    void TearDown() override { gFailAt.clear(); }
    MemoryFile file_;
};

const char kProductList[] = "[Params]\r\n"
                            "WndTitle = Product Setup\r\n"
                            "WndMess = Copying setup files...\r\n"
                            "TmpDirName = ~INSTTMP\r\n"
                            "TmpDirSize = 1500\r\n"
                            "CmdLine = RUNINST.EXE\r\n"
                            "\r\n"
                            "[Files]\r\n"
                            "SETUP.LSZ\r\n"
                            "readme.tx_ = README.TXT\r\n"
                            "[MFCDLL]\r\n"
                            "SYSLIB.DL_ = SYSLIB.DLL\r\n";

TEST_F(WalkTest, ProductListSettingsFilesAndLibraries) {
    EXPECT_EQ(Walk(kProductList, SETTINGS_PASS), 1);
    EXPECT_TRUE(gEntries.empty());
    EXPECT_STREQ(SetupContext.WndTitle, "Product Setup");
    EXPECT_STREQ(SetupContext.WndMess, "Copying setup files...");
    EXPECT_STREQ(SetupContext.TmpDirName, "~INSTTMP");
    EXPECT_EQ(SetupContext.TmpDirSize, 1536000);
    EXPECT_STREQ(SetupContext.CmdLine, "RUNINST.EXE");

    EXPECT_EQ(Walk(kProductList, FILES_PASS), 1);
    EXPECT_EQ(gEntries, (std::vector<std::string>{"SETUP.LSZ|", "README.TX_|README.TXT"}));
    EXPECT_STREQ(SetupContext.WndTitle, "Product Setup");

    EXPECT_EQ(WalkLibraries(kProductList), 1);
    EXPECT_EQ(gEntries, (std::vector<std::string>{"SYSLIB.DL_|SYSLIB.DLL"}));
}

struct WalkCase {
    const char* what;
    std::string text;
    int result;
    std::vector<std::string> entries;
    const char* title; // after the files pass
};

TEST_F(WalkTest, FilesPassSectionRules) {
    const WalkCase cases[] = {
        {"lower-case headers", "[files]\nA.LSZ\n[mfcdll]\nB.LSZ\n", 1, {"A.LSZ|"}, ""},
        {"only the source name is upper-cased",
         "[Files]\nreadme.tx_ = ReadMe.txt\ndata.lsz\n",
         1,
         {"README.TX_|ReadMe.txt", "DATA.LSZ|"},
         ""},
        {"header with a trailing space is a params line",
         "[Files] \nWndTitle = T\nA.LSZ\n",
         1,
         {},
         "T"},
        {"[MFCDLL] before [Files]", "[MFCDLL]\n[Files]\nA.LSZ\n", 1, {}, ""},
        {"[Params] after [Files] keeps the section",
         "[Files]\nA.LSZ\n[Params]\nWndTitle = T\n",
         1,
         {"A.LSZ|", "WNDTITLE|T"},
         ""},
        {"no [Files] header", "WndTitle = T\nA.LSZ\n", 1, {}, "T"},
        {"last entry without a line feed", "[Files]\nA.LSZ\nB.LSZ", 1, {"A.LSZ|"}, ""},
        {"blank-only entry is still an entry", "[Files]\n = \n", 1, {"|"}, ""},
        {"empty lines skipped", "[Files]\n\n\nA.LSZ\n", 1, {"A.LSZ|"}, ""},
        {"a failing entry stops the pass",
         "[Files]\nA.LSZ\nFAIL.LSZ\nC.LSZ\n",
         0,
         {"A.LSZ|", "FAIL.LSZ|"},
         ""},
    };
    for (const WalkCase& c : cases) {
        std::memset(&SetupContext, 0, sizeof SetupContext);
        gFailAt = "FAIL.LSZ";
        EXPECT_EQ(Walk(c.text, FILES_PASS), c.result) << c.what;
        EXPECT_EQ(gEntries, c.entries) << c.what;
        EXPECT_STREQ(SetupContext.WndTitle, c.title) << c.what;
    }
}

TEST_F(WalkTest, SettingsPassStopsAtEitherHeaderAndReadsPlainFilesToTheEnd) {
    EXPECT_EQ(Walk("WndTitle = A\n[MFCDLL]\nWndTitle = B\n", SETTINGS_PASS), 1);
    EXPECT_STREQ(SetupContext.WndTitle, "A");
    EXPECT_EQ(Walk("WndTitle = A\n[Files]\nWndTitle = B\n", SETTINGS_PASS), 1);
    EXPECT_STREQ(SetupContext.WndTitle, "A");
    EXPECT_EQ(Walk("WndTitle = A\nWndTitle = C\n", SETTINGS_PASS), 1);
    EXPECT_STREQ(SetupContext.WndTitle, "C");
    // A 300-character line is two lines: the second piece is an ordinary params line.
    EXPECT_EQ(Walk(std::string(255, ' ') + "WndTitle = Tail\n", SETTINGS_PASS), 1);
    EXPECT_STREQ(SetupContext.WndTitle, "Tail");
}

TEST_F(WalkTest, LibraryPassHandlesEverythingAfterItsHeaderUpToTheEnd) {
    gFailAt = "FAIL.DL_";
    EXPECT_EQ(WalkLibraries("A.DL_ = A.DLL\n[MFCDLL]\nb.dl_ = b.dll\n[Files]\nSYS.LSZ = X.DLL\n"
                            "[Params]\n\nC.DL_ = C.DLL"),
              1);
    EXPECT_EQ(gEntries, (std::vector<std::string>{"B.DL_|b.dll", "SYS.LSZ|X.DLL"}));
    EXPECT_EQ(WalkLibraries("[MFCDLL]\nFAIL.DL_ = F.DLL\nC.DL_ = C.DLL\n"), 0);
    EXPECT_EQ(gEntries, (std::vector<std::string>{"FAIL.DL_|F.DLL"}));
    EXPECT_EQ(WalkLibraries("[Files]\nA.LSZ\n"), 1);
    EXPECT_TRUE(gEntries.empty());
}

} // namespace
