// Decisions of the bootstrap that need no platform: which processors and systems qualify,
// which staging drives are looked at and when one has room, which LZ results are failures,
// when an installed library is replaced, and how the second stage's command is built.
#ifndef BOOTSTRAP_DECISIONS_H
#define BOOTSTRAP_DECISIONS_H

#include <stdint.h>

// 1 for the processor types 386, 486 and 586 (dwProcessorType), else 0.
int ProcessorQualifies(uint32_t processorType);

// 1 for the Windows 95 family (platform id 1) and for Windows NT (id 2) from 3.5 on.
int PlatformQualifies(uint32_t platformId, uint32_t major, uint32_t minor);

// 1 for the drive types that are tested as staging candidates: every type but unknown (0),
// no root directory (1) and CD-ROM (5).
int DriveTypeIsCandidate(uint32_t driveType);

// The root for the free-space query of a candidate path ("C:\"), in root (4 bytes).
// Returns 0 when the path does not begin with a drive letter, so a UNC path never passes.
int StagingSpaceRoot(const char* path, char* root);

// 1 when the free space strictly exceeds the requirement (a signed byte count).
int HasMoreSpaceThan(uint32_t freeClusters, uint32_t sectorsPerCluster, uint32_t bytesPerSector,
                     int32_t requiredBytes);

// Text id for a failed LZ open of the source, or 0 when the result is a handle.
int LzOpenMessage(int32_t openResult);
// Text id for a failed LZ copy, or 0 when the result is the unpacked size.
int LzCopyMessage(int32_t copyResult);

// 1 when the version root block is long enough to hold the fixed version record.
int VersionBlockUsable(uint32_t blockLength);

// Whether a new library is copied over the installed one. Versions are the most
// significant half of the file version (major in the high 16 bits, minor in the low).
int DecideReplacement(int installedExists, int installedHasVersion, uint32_t installedVersion,
                      int newHasVersion, uint32_t newVersion);

// Formats text with each "%s" replaced by arg into out (size bytes). Returns 1 when it fit;
// otherwise out holds the text cut to fit and the result is 0.
int FormatText(char* out, int size, const char* format, const char* arg);

// The second stage's application name and command line (256 bytes each). The command line
// is the staging directory joined with CmdLine, a blank, then the argument. The application
// name is the staging directory joined with the first blank-separated token of CmdLine,
// with ".EXE" added when that token has no extension; it keeps the platform from starting a
// program named by a prefix of a path with blanks. Returns 0 when there is nothing to
// start or either text would not fit in 255 characters.
int BuildLaunchCommand(const char* stagingDir, const char* cmdLine, const char* argument,
                       char* applicationName, char* commandLine);

#endif
