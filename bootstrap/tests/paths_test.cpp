#include <gtest/gtest.h>

#include <string>

#include "paths.h"

namespace {

struct JoinCase {
    const char* dir;
    const char* name;
    const char* joined;
};

TEST(JoinPath, JoinsWithExactlyTheBackslashesGiven) {
    const JoinCase cases[] = {
        {"C:\\TEMP", "RUNINST.EXE", "C:\\TEMP\\RUNINST.EXE"},
        {"A:\\", "SETUP.LST", "A:\\SETUP.LST"},
        {"", "RUNINST.EXE", "RUNINST.EXE"},
        {"C:\\TEMP\\STAGE", "", "C:\\TEMP\\STAGE"},
        {"C:\\TEMP\\", "", "C:\\TEMP\\"},     // a trailing backslash is never removed
        {"C:\\TEMP", "\\X", "C:\\TEMP\\\\X"}, // the start of name is not looked at
        {"\\\\server\\share", "A B", "\\\\server\\share\\A B"},
    };
    for (const JoinCase& c : cases) {
        char out[256];
        EXPECT_EQ(JoinPath(out, c.dir, c.name), out) << c.dir << " + " << c.name;
        EXPECT_STREQ(out, c.joined);
    }
}

TEST(JoinPath, RefusesAResultBeyond255CharactersInsteadOfCuttingIt) {
    std::string dir(250, 'd');
    char out[256];
    EXPECT_NE(JoinPath(out, dir.c_str(), "1234"), nullptr); // 250 + 1 + 4 = 255
    EXPECT_EQ(std::string(out).size(), 255u);
    EXPECT_EQ(JoinPath(out, dir.c_str(), "12345"), nullptr);
    EXPECT_STREQ(out, "");
}

TEST(JoinPath, MayWriteIntoItsOwnDirectoryArgument) {
    char path[256] = "C:\\TEMP";
    JoinPath(path, path, "X");
    EXPECT_STREQ(path, "C:\\TEMP\\X");
}

TEST(AppendBackslash, AddsOnlyAMissingBackslash) {
    char a[256] = "C:\\TEMP";
    char b[256] = "A:\\";
    EXPECT_EQ(AppendBackslash(a), a);
    EXPECT_STREQ(a, "C:\\TEMP\\");
    EXPECT_STREQ(AppendBackslash(b), "A:\\");
}

struct SplitCase {
    const char* path;
    int selector;
    const char* part;
};

TEST(SplitPath, TakesTheExtensionAtTheLastDotThenTheDirectoryAtTheLastBackslash) {
    const SplitCase cases[] = {
        {"D:\\SETUP\\SETUP.EXE", 4, "D:\\SETUP"},
        {"D:\\SETUP\\SETUP.EXE", 1, "SETUP"},
        {"D:\\SETUP\\SETUP.EXE", 2, "EXE"},
        {"D:\\SETUP.EXE", 4, "D:"}, // no backslash kept on a root
        {"D:\\SETUP.EXE", 1, "SETUP"},
        {"D:\\MY DISK\\BOOT.EXE", 4, "D:\\MY DISK"},
        {"D:\\SETUP\\SETUP.EXE", 1 | 2 | 4, "SETUP"}, // bit 1 wins
        {"D:\\SETUP\\SETUP.EXE", 2 | 4, "EXE"},       // then bit 2
        {"D:\\A.B\\SETUP", 4, "D:"},                  // the last dot anywhere cuts the copy
    };
    for (const SplitCase& c : cases) {
        char out[256] = "untouched";
        EXPECT_EQ(SplitPath(out, c.path, c.selector), out);
        EXPECT_STREQ(out, c.part) << c.path << " selector " << c.selector;
    }
    char out[256] = "untouched";
    SplitPath(out, "D:\\SETUP\\SETUP.EXE", 8);
    EXPECT_STREQ(out, "untouched");
}

} // namespace
