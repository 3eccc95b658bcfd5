// SetupContext: the one process-wide state record of the setup bootstrap. Each field has a
// single writer (see the comments); nothing here is allocated or locked, since the bootstrap
// runs on one thread from WinMain to its end.
//
// This header is free of Win32 declarations so that the decision logic that reads and
// writes the record can also be compiled into the native unit tests. Handles are kept as
// untyped pointers and cast where the platform calls need them.
#ifndef BOOTSTRAP_CONTEXT_H
#define BOOTSTRAP_CONTEXT_H

#include <stdint.h>

#if defined(_WIN32)
#define SETUP_STDCALL __stdcall
#else
#define SETUP_STDCALL
#endif

enum { SETUP_TEXT_SIZE = 256, SETUP_PATH_SIZE = 256 };

// SQExtractFile of UNSQUISH.DLL: owner window, source directory, destination directory,
// file name, alternate name; returns 1 or 0.
typedef int32_t(SETUP_STDCALL* ExtractFileProc)(void* owner, const char* sourceDir,
                                                const char* destDir, const char* fileName,
                                                const char* altName);

struct SetupContextRecord {
    char TextSlot[2][SETUP_TEXT_SIZE]; // LoadText
    void* Instance;                    // WinMain, CreateProgressWindow
    char WndTitle[SETUP_TEXT_SIZE];    // ApplyParamLine
    char WndMess[SETUP_TEXT_SIZE];     // ApplyParamLine
    char TmpDirName[SETUP_TEXT_SIZE];  // ApplyParamLine
    int32_t TmpDirSize;                // ApplyParamLine; bytes
    char CmdLine[SETUP_TEXT_SIZE];     // ApplyParamLine
    void* ProgressWnd;                 // WinMain (cleared), CreateProgressWindow
    char StagingDir[SETUP_PATH_SIZE];  // PrepareStagingDir
    char SourceDir[SETUP_PATH_SIZE];   // WinMain; always ends in a backslash
    ExtractFileProc ExtractFile;       // PrepareExpansionLibrary
    int32_t LibLoaded;                 // PrepareExpansionLibrary; never reset
    void* LibModule;                   // PrepareExpansionLibrary
};

extern SetupContextRecord SetupContext;

#endif
