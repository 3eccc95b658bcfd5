#include <gtest/gtest.h>

#include <string>

#include "decisions.h"
#include "res/resource.h"

namespace {

TEST(ProcessorQualifies, OnlyThe386486And586Codes) {
    for (uint32_t type : {386u, 486u, 586u})
        EXPECT_EQ(ProcessorQualifies(type), 1) << type;
    // 8664 (x64), 2200 (IA-64), 286, and codes next to the good ones.
    for (uint32_t type : {0u, 286u, 385u, 387u, 686u, 2200u, 8664u, 0x80000386u})
        EXPECT_EQ(ProcessorQualifies(type), 0) << type;
}

struct PlatformCase {
    uint32_t id, major, minor;
    int qualifies;
};

TEST(PlatformQualifies, Windows95FamilyAndNtFrom35) {
    const PlatformCase cases[] = {
        {1, 4, 0, 1}, {1, 4, 10, 1}, {1, 0, 0, 1},  // every Windows 95 family version
        {2, 4, 0, 1}, {2, 3, 51, 1}, {2, 3, 10, 1}, // 10 is 5 or more
        {2, 3, 5, 1}, {2, 10, 0, 1}, {2, 3, 4, 0},  {2, 2, 99, 0},
        {2, 0, 0, 0}, {0, 3, 95, 0}, {0, 4, 0, 0},  {3, 4, 0, 0}, // Win32s, CE
    };
    for (const PlatformCase& c : cases)
        EXPECT_EQ(PlatformQualifies(c.id, c.major, c.minor), c.qualifies)
            << c.id << " " << c.major << "." << c.minor;
}

TEST(DriveTypeIsCandidate, SkipsUnknownRootlessAndCdRomDrives) {
    const int expected[] = {0, 0, 1, 1, 1, 0, 1}; // unknown..ramdisk
    for (uint32_t type = 0; type < 7; ++type)
        EXPECT_EQ(DriveTypeIsCandidate(type), expected[type]) << type;
}

TEST(StagingSpaceRoot, DriveLetterPathsOnly) {
    char root[4];
    ASSERT_EQ(StagingSpaceRoot("c:", root), 1);
    EXPECT_STREQ(root, "C:\\");
    ASSERT_EQ(StagingSpaceRoot("d:\\temp\\x", root), 1);
    EXPECT_STREQ(root, "D:\\");
    ASSERT_EQ(StagingSpaceRoot("Z:\\", root), 1);
    EXPECT_STREQ(root, "Z:\\");
    EXPECT_EQ(StagingSpaceRoot("\\\\server\\share\\temp", root), 0);
    EXPECT_EQ(StagingSpaceRoot("1:\\", root), 0);
}

TEST(HasMoreSpaceThan, ComparesExactBytesStrictly) {
    EXPECT_EQ(HasMoreSpaceThan(1500, 2, 512, 1536000), 0); // equal fails
    EXPECT_EQ(HasMoreSpaceThan(1501, 2, 512, 1536000), 1);
    EXPECT_EQ(HasMoreSpaceThan(0, 8, 512, 0), 0);
    EXPECT_EQ(HasMoreSpaceThan(1, 1, 1, 0), 1);
    EXPECT_EQ(HasMoreSpaceThan(0, 8, 512, -1024), 1); // a negative requirement
    // 2^32 clusters-worth of bytes must not wrap around to a small number.
    EXPECT_EQ(HasMoreSpaceThan(0x100000u, 64, 65536, 0x7FFFFFFF), 1);
    EXPECT_EQ(HasMoreSpaceThan(0x80000000u, 2, 1, 0x7FFFFFFF), 1);
}

TEST(LzMessages, EveryNegativeResultIsAFailureWithItsOwnText) {
    EXPECT_EQ(LzOpenMessage(0), 0);
    EXPECT_EQ(LzOpenMessage(7), 0);
    EXPECT_EQ(LzOpenMessage(-1), IDS_LZ_BAD_SOURCE);
    EXPECT_EQ(LzOpenMessage(-5), IDS_LZ_NO_MEMORY);
    for (int32_t other : {-2, -3, -4, -6, -7, -8, -100})
        EXPECT_EQ(LzOpenMessage(other), IDS_LZ_BAD_SOURCE) << other;

    EXPECT_EQ(LzCopyMessage(0), 0);
    EXPECT_EQ(LzCopyMessage(123456), 0);
    EXPECT_EQ(LzCopyMessage(-2), IDS_LZ_BAD_TARGET);
    EXPECT_EQ(LzCopyMessage(-3), IDS_LZ_BAD_FORMAT);
    EXPECT_EQ(LzCopyMessage(-6), IDS_LZ_LOCK_FAILED);
    EXPECT_EQ(LzCopyMessage(-4), IDS_LZ_WRITE_FAILED);
    for (int32_t other : {-1, -5, -7, -8, -2147483647 - 1})
        EXPECT_EQ(LzCopyMessage(other), IDS_LZ_OTHER_FAILURE) << other;
}

struct VersionCase {
    const char* what;
    int installedExists, installedHasVersion;
    uint32_t installed;
    int newHasVersion;
    uint32_t newer;
    int replace;
};

TEST(DecideReplacement, ComparesMajorThenMinorOfTheMostSignificantHalf) {
    const VersionCase cases[] = {
        {"3.0 vs 3.0 kept", 1, 1, 0x00030000, 1, 0x00030000, 0},
        {"3.1 replaces 3.0", 1, 1, 0x00030000, 1, 0x00030001, 1},
        {"3.0 replaces 2.9", 1, 1, 0x00020009, 1, 0x00030000, 1},
        {"2.10 does not replace 3.0", 1, 1, 0x00030000, 1, 0x0002000A, 0},
        {"older minor kept", 1, 1, 0x00030002, 1, 0x00030001, 0},
        {"high minor bits unsigned", 1, 1, 0x00038000, 1, 0x0003FFFF, 1},
        {"high major bits unsigned", 1, 1, 0x7FFF0000, 1, 0x80000000, 1},
        {"nothing installed", 0, 0, 0, 0, 0, 1},
        {"installed without version", 1, 0, 0, 0, 0, 1},
        {"new without version against 0.1", 1, 1, 0x00000001, 0, 0x00090000, 0},
        {"new without version against 0.0", 1, 1, 0, 0, 0x00090000, 0},
    };
    for (const VersionCase& c : cases)
        EXPECT_EQ(DecideReplacement(c.installedExists, c.installedHasVersion, c.installed,
                                    c.newHasVersion, c.newer),
                  c.replace)
            << c.what;
}

TEST(VersionBlockUsable, ABlockShorterThanTheFixedRecordIsNoVersion) {
    EXPECT_EQ(VersionBlockUsable(0), 0);
    EXPECT_EQ(VersionBlockUsable(51), 0);
    EXPECT_EQ(VersionBlockUsable(52), 1);
    EXPECT_EQ(VersionBlockUsable(1000), 1);
}

TEST(FormatText, ReplacesThePathAndCutsToTheBuffer) {
    char out[256];
    EXPECT_EQ(FormatText(out, sizeof out, "Setup cannot create ('%s').\r\n", "C:\\T\\X"), 1);
    EXPECT_STREQ(out, "Setup cannot create ('C:\\T\\X').\r\n");
    EXPECT_EQ(FormatText(out, sizeof out, "/S %s", "A:\\"), 1);
    EXPECT_STREQ(out, "/S A:\\");
    std::string path(255, 'p');
    EXPECT_EQ(FormatText(out, sizeof out, "('%s') end", path.c_str()), 0);
    EXPECT_EQ(std::string(out), "('" + path.substr(0, 253));
    char small[8];
    EXPECT_EQ(FormatText(small, sizeof small, "12345678", ""), 0);
    EXPECT_STREQ(small, "1234567");
}

struct LaunchCase {
    const char* what;
    const char* staging;
    const char* cmdLine;
    const char* argument;
    int launches;
    const char* application;
    const char* command;
};

TEST(BuildLaunchCommand, NamesTheProgramExplicitlyAndKeepsTheCommandLineAsBuilt) {
    const LaunchCase cases[] = {
        {"plain", "C:\\TEMP\\STAGE", "RUNINST.EXE", "/S D:\\DISK1\\", 1,
         "C:\\TEMP\\STAGE\\RUNINST.EXE", "C:\\TEMP\\STAGE\\RUNINST.EXE /S D:\\DISK1\\"},
        {"arguments before /S", "C:\\T", "RUNINST.EXE /Q", "/S A:\\", 1, "C:\\T\\RUNINST.EXE",
         "C:\\T\\RUNINST.EXE /Q /S A:\\"},
        {"blanks in the staging path", "C:\\Program Files\\S", "RUN.EXE", "/S D:\\A B\\", 1,
         "C:\\Program Files\\S\\RUN.EXE", "C:\\Program Files\\S\\RUN.EXE /S D:\\A B\\"},
        {"no extension", "C:\\T", "RUNINST /Q", "/S A:\\", 1, "C:\\T\\RUNINST.EXE",
         "C:\\T\\RUNINST /Q /S A:\\"},
        {"dot only in the directory", "C:\\T", "SUB.D\\RUN", "/S A:\\", 1, "C:\\T\\SUB.D\\RUN.EXE",
         "C:\\T\\SUB.D\\RUN /S A:\\"},
        {"empty CmdLine", "C:\\T", "", "/S A:\\", 0, "", ""},
        {"CmdLine starting with a blank", "C:\\T", " RUN.EXE", "/S A:\\", 0, "", ""},
    };
    for (const LaunchCase& c : cases) {
        char application[256] = "x";
        char command[256] = "x";
        EXPECT_EQ(BuildLaunchCommand(c.staging, c.cmdLine, c.argument, application, command),
                  c.launches)
            << c.what;
        EXPECT_STREQ(application, c.application) << c.what;
        EXPECT_STREQ(command, c.command) << c.what;
    }
}

TEST(BuildLaunchCommand, RefusesAPathOrCommandLineBeyond255Characters) {
    char application[256];
    char command[256];
    std::string staging = "C:\\" + std::string(230, 's'); // 233 characters
    std::string arg = "/S " + std::string(8, 'a');        // 11 characters
    // 233 + 1 + 10 + 1 + 11 = 256: one too many for the command line.
    EXPECT_EQ(BuildLaunchCommand(staging.c_str(), "RUNIN1.EXE", arg.c_str(), application, command),
              0);
    EXPECT_STREQ(command, "");
    EXPECT_STREQ(application, "");
    EXPECT_EQ(BuildLaunchCommand(staging.c_str(), "RUNI.EXE", arg.c_str(), application, command),
              1);
    EXPECT_EQ(std::string(command).size(), 254u);
    std::string longStaging(252, 's');
    EXPECT_EQ(BuildLaunchCommand(longStaging.c_str(), "RUN", "", application, command), 0);
}

} // namespace
