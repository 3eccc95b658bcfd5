#include "decisions.h"

#include "context.h"
#include "paths.h"
#include "res/resource.h"
#include "text.h"

int ProcessorQualifies(uint32_t processorType) {
    return processorType == 386 || processorType == 486 || processorType == 586;
}

int PlatformQualifies(uint32_t platformId, uint32_t major, uint32_t minor) {
    if (platformId == 1)
        return 1;
    if (platformId == 2)
        return major > 3 || (major == 3 && minor >= 5);
    return 0;
}

int DriveTypeIsCandidate(uint32_t driveType) {
    return driveType != 0 && driveType != 1 && driveType != 5;
}

int StagingSpaceRoot(const char* path, char* root) {
    char letter = UpperAscii(path[0]);
    if (letter < 'A' || letter > 'Z')
        return 0;
    if (TextLength(path) <= 3) {
        root[0] = letter;
        root[1] = ':';
        root[2] = '\\';
    } else {
        root[0] = letter;
        root[1] = path[1];
        root[2] = path[2];
    }
    root[3] = 0;
    return 1;
}

int HasMoreSpaceThan(uint32_t freeClusters, uint32_t sectorsPerCluster, uint32_t bytesPerSector,
                     int32_t requiredBytes) {
    uint64_t freeBytes = static_cast<uint64_t>(freeClusters) * sectorsPerCluster;
    freeBytes *= bytesPerSector;
    if (requiredBytes < 0)
        return 1;
    return freeBytes > static_cast<uint64_t>(requiredBytes);
}

int LzOpenMessage(int32_t openResult) {
    if (openResult >= 0)
        return 0;
    return openResult == -5 ? IDS_LZ_NO_MEMORY : IDS_LZ_BAD_SOURCE;
}

int LzCopyMessage(int32_t copyResult) {
    switch (copyResult) {
    case -2:
        return IDS_LZ_BAD_TARGET;
    case -3:
        return IDS_LZ_BAD_FORMAT;
    case -4:
        return IDS_LZ_WRITE_FAILED;
    case -6:
        return IDS_LZ_LOCK_FAILED;
    default:
        return copyResult < 0 ? IDS_LZ_OTHER_FAILURE : 0;
    }
}

int VersionBlockUsable(uint32_t blockLength) {
    // VS_FIXEDFILEINFO: thirteen 32-bit fields.
    return blockLength >= 13 * 4;
}

int DecideReplacement(int installedExists, int installedHasVersion, uint32_t installedVersion,
                      int newHasVersion, uint32_t newVersion) {
    if (!installedExists || !installedHasVersion)
        return 1;
    if (!newHasVersion)
        newVersion = 0;
    uint32_t installedMajor = installedVersion >> 16;
    uint32_t newMajor = newVersion >> 16;
    if (installedMajor != newMajor)
        return installedMajor < newMajor;
    return (installedVersion & 0xFFFF) < (newVersion & 0xFFFF);
}

int FormatText(char* out, int size, const char* format, const char* arg) {
    out[0] = 0;
    int n = 0;
    for (const char* p = format; *p != 0; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (!AppendText(out, size, arg))
                return 0;
            n = TextLength(out);
            ++p;
            continue;
        }
        if (n + 1 >= size)
            return 0;
        out[n++] = *p;
        out[n] = 0;
    }
    return 1;
}

int BuildLaunchCommand(const char* stagingDir, const char* cmdLine, const char* argument,
                       char* applicationName, char* commandLine) {
    applicationName[0] = 0;
    commandLine[0] = 0;
    char program[SETUP_PATH_SIZE];
    int tokenLength = 0;
    int hasExtension = 0;
    for (; cmdLine[tokenLength] != 0 && cmdLine[tokenLength] != ' '; ++tokenLength) {
        if (cmdLine[tokenLength] == '.')
            hasExtension = 1;
        else if (cmdLine[tokenLength] == '\\')
            hasExtension = 0;
    }
    if (tokenLength == 0 || tokenLength >= SETUP_PATH_SIZE)
        return 0;
    CopyText(program, tokenLength + 1, cmdLine);
    if (!hasExtension && !AppendText(program, sizeof program, ".EXE"))
        return 0;
    char line[SETUP_PATH_SIZE];
    if (JoinPath(line, stagingDir, cmdLine) == 0 || !AppendText(line, sizeof line, " ") ||
        !AppendText(line, sizeof line, argument) ||
        JoinPath(applicationName, stagingDir, program) == 0) {
        applicationName[0] = 0;
        return 0;
    }
    CopyText(commandLine, SETUP_PATH_SIZE, line);
    return 1;
}
