// Bringing files from the media into the staging directory (archives through UNSQUISH.DLL,
// LZ-packed files through LZ32) and installing system libraries by version.
#include "bootstrap.h"

#include <lzexpand.h>

#include "decisions.h"
#include "listfile.h"
#include "paths.h"
#include "res/resource.h"
#include "text.h"

enum { LZ_PATH_SIZE = 260 };

// dir, a backslash when dir lacks one, then name, in a 260-byte buffer. Returns 0 when
// that does not fit.
static int BuildLzPath(char* out, const char* dir, const char* name) {
    ClearBytes(out, LZ_PATH_SIZE);
    int n = TextLength(dir);
    return CopyText(out, LZ_PATH_SIZE, dir) &&
           (n > 0 && dir[n - 1] == '\\' ? 1 : AppendText(out, LZ_PATH_SIZE, "\\")) &&
           AppendText(out, LZ_PATH_SIZE, name);
}

int LzExpandFile(const char* sourceDir, const char* destDir, const char* sourceName,
                 const char* targetName) {
    char sourcePath[LZ_PATH_SIZE];
    char targetPath[LZ_PATH_SIZE];
    OFSTRUCT openFile;
    ClearBytes(&openFile, sizeof openFile);
    openFile.cBytes = sizeof openFile;

    INT source = BuildLzPath(sourcePath, sourceDir, sourceName)
                     ? LZOpenFileA(sourcePath, &openFile, OF_READ | OF_PROMPT)
                     : -1;
    if (int text = LzOpenMessage(source)) {
        ShowErrorBox(IDS_DECOMPRESSION_ERROR, static_cast<UINT>(text), MB_ICONEXCLAMATION);
        return 0;
    }
    // A target that cannot be created, or whose path does not fit, reaches the copy as an
    // invalid handle, and the copy reports it as a fault of the target.
    INT target =
        BuildLzPath(targetPath, destDir, targetName)
            ? LZOpenFileA(targetPath, &openFile, OF_CREATE | OF_WRITE | OF_SHARE_DENY_WRITE)
            : -1;
    LONG copied = LZCopy(source, target);
    LZClose(source);
    if (target >= 0)
        LZClose(target);
    if (int text = LzCopyMessage(copied)) {
        ShowErrorBox(IDS_DECOMPRESSION_ERROR, static_cast<UINT>(text), MB_ICONEXCLAMATION);
        return 0;
    }
    return 1;
}

int ExpandListedFile(HWND owner, const char* sourceDir, const char* destDir, const char* sourceName,
                     const char* targetName) {
    if (ContainsText(sourceName, ".LSZ")) {
        if (SetupContext.ExtractFile == 0)
            return 0;
        return SetupContext.ExtractFile(owner, sourceDir, destDir, sourceName, NULL);
    }
    return LzExpandFile(sourceDir, destDir, sourceName, targetName);
}

int GetFileVersionMS(const char* path, DWORD* place) {
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &unused);
    if (size == 0)
        return 0;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (memory == NULL)
        return 0;
    void* info = GlobalLock(memory);
    int result = 0;
    if (info != NULL) {
        void* block = NULL;
        UINT length = 0;
        if (GetFileVersionInfoA(path, 0, size, info) &&
            VerQueryValueA(info, "\\", &block, &length) && VersionBlockUsable(length)) {
            *place = static_cast<VS_FIXEDFILEINFO*>(block)->dwFileVersionMS;
            result = 1;
        }
        GlobalUnlock(memory);
    }
    GlobalFree(memory);
    return result;
}

int ShouldReplaceInstalled(const char* newPath, const char* installedPath) {
    if (GetFileAttributesA(installedPath) == 0xFFFFFFFF)
        return 1;
    DWORD installedVersion = 0;
    DWORD newVersion = 0;
    int installedHasVersion = GetFileVersionMS(installedPath, &installedVersion);
    int newHasVersion = installedHasVersion && GetFileVersionMS(newPath, &newVersion);
    int replace =
        DecideReplacement(1, installedHasVersion, installedVersion, newHasVersion, newVersion);
    if (replace)
        SetFileAttributesA(installedPath, FILE_ATTRIBUTE_NORMAL);
    return replace;
}

// The Windows system directory with a trailing backslash, in a zero-filled buffer.
static void ReadSystemDir(char* dir) {
    ClearBytes(dir, SETUP_PATH_SIZE);
    GetSystemDirectoryA(dir, SETUP_PATH_SIZE - 1);
    AppendBackslash(dir);
}

// Copies a staged library over the installed one when it is newer; a failed copy (a library
// in use) is not reported. The staged copy is deleted in any case.
static void InstallStagedLibrary(const char* stagedPath, const char* installedPath) {
    if (ShouldReplaceInstalled(stagedPath, installedPath))
        CopyFileA(stagedPath, installedPath, FALSE);
    DeleteFileA(stagedPath);
}

int PrepareExpansionLibrary() {
    char stagedPath[SETUP_PATH_SIZE];
    char installedPath[SETUP_PATH_SIZE];
    char systemDir[SETUP_PATH_SIZE];

    LzExpandFile(SetupContext.SourceDir, SetupContext.StagingDir, LoadText(IDS_MFC30_PACKED, 0),
                 LoadText(IDS_MFC30_DLL, 1));
    ReadSystemDir(systemDir);
    if (JoinPath(stagedPath, SetupContext.StagingDir, LoadText(IDS_MFC30_DLL, 0)) != 0 &&
        JoinPath(installedPath, systemDir, SetupContext.TextSlot[0]) != 0)
        InstallStagedLibrary(stagedPath, installedPath);

    SetupContext.ExtractFile = 0;
    SetupContext.LibLoaded = 0;
    SetupContext.LibModule = NULL;
    char sourcePath[SETUP_PATH_SIZE];
    if (JoinPath(sourcePath, SetupContext.SourceDir, LoadText(IDS_UNSQUISH_DLL, 0)) == 0 ||
        JoinPath(stagedPath, SetupContext.StagingDir, SetupContext.TextSlot[0]) == 0 ||
        !CopyFileA(sourcePath, stagedPath, FALSE))
        return 0;
    HMODULE library = LoadLibraryA(stagedPath);
    if (library == NULL)
        return 0;
    SetupContext.LibModule = library;
    SetupContext.LibLoaded = 1;
    // Through an untyped pointer: the entry's real type is known here, not to the platform.
    void* entry = reinterpret_cast<void*>(GetProcAddress(library, "SQExtractFile"));
    SetupContext.ExtractFile = reinterpret_cast<ExtractFileProc>(entry);
    return SetupContext.ExtractFile != 0;
}

struct LibraryInstall {
    HWND owner;
    char sourceDir[SETUP_PATH_SIZE];
    char systemDir[SETUP_PATH_SIZE];
};

static int InstallListedLibrary(void* context, const char* sourceName, const char* targetName) {
    LibraryInstall* install = static_cast<LibraryInstall*>(context);
    if (!ExpandListedFile(install->owner, install->sourceDir, SetupContext.StagingDir, sourceName,
                          targetName))
        return 0;
    // An archive entry without a target name installs nothing itself.
    if (targetName[0] == 0)
        return 1;
    char stagedPath[SETUP_PATH_SIZE];
    char installedPath[SETUP_PATH_SIZE];
    if (JoinPath(stagedPath, SetupContext.StagingDir, targetName) != 0 &&
        JoinPath(installedPath, install->systemDir, targetName) != 0)
        InstallStagedLibrary(stagedPath, installedPath);
    return 1;
}

int InstallSystemLibraries(HWND owner, const char* programPath) {
    LibraryInstall install;
    install.owner = owner;
    ReadSystemDir(install.systemDir);
    ClearBytes(install.sourceDir, sizeof install.sourceDir);
    SplitPath(install.sourceDir, programPath, SPLIT_DIRECTORY);
    AppendBackslash(install.sourceDir);

    HANDLE file = OpenSetupList(programPath);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    LineReader reader;
    StartLineReader(&reader, ReadListBytes, file);
    int result = WalkSystemLibraryList(&reader, InstallListedLibrary, &install);
    CloseHandle(file);
    return result;
}
