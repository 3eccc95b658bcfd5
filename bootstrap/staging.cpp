// The staging directory: where it goes, what it is called, and its removal at the end.
#include "bootstrap.h"

#include "decisions.h"
#include "paths.h"
#include "res/resource.h"
#include "text.h"

int IsWritableDir(const char* path) {
    char saved[SETUP_PATH_SIZE];
    char probe[SETUP_PATH_SIZE];
    ClearBytes(saved, sizeof saved);
    GetCurrentDirectoryA(sizeof saved, saved);
    if (!SetCurrentDirectoryA(path))
        return 0;
    int created = 0;
    const UINT names[2] = {IDS_RESERVED_NAME_1, IDS_RESERVED_NAME_2};
    for (int i = 0; i < 2 && !created; ++i) {
        CopyText(probe, sizeof probe, path);
        AppendBackslash(probe);
        if (AppendText(probe, sizeof probe, LoadText(names[i], 0)))
            created = CreateDirectoryA(probe, NULL) != 0;
    }
    if (created)
        RemoveDirectoryA(probe);
    SetCurrentDirectoryA(saved);
    return created;
}

int HasStagingSpace(const char* path) {
    char root[4];
    if (!StagingSpaceRoot(path, root))
        return 0;
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters))
        return 0;
    return HasMoreSpaceThan(freeClusters, sectorsPerCluster, bytesPerSector,
                            SetupContext.TmpDirSize);
}

static int IsUsableStagingPlace(const char* path) {
    return IsWritableDir(path) && HasStagingSpace(path);
}

// TEMP less one trailing backslash; a value that does not fit in a path buffer is passed
// over rather than cut into another path.
static int TryTempDir() {
    char* dir = SetupContext.StagingDir;
    ClearBytes(dir, SETUP_PATH_SIZE);
    DWORD length = GetEnvironmentVariableA("TEMP", dir, SETUP_PATH_SIZE);
    if (length == 0 || length >= SETUP_PATH_SIZE) {
        dir[0] = 0;
        return 0;
    }
    if (dir[length - 1] == '\\')
        dir[length - 1] = 0;
    return dir[0] != 0 && IsUsableStagingPlace(dir);
}

static int TryWindowsDir() {
    char* dir = SetupContext.StagingDir;
    if (GetWindowsDirectoryA(dir, SETUP_PATH_SIZE - 1) == 0)
        return 0;
    return IsUsableStagingPlace(dir);
}

static int TryDriveRoots() {
    char* dir = SetupContext.StagingDir;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        dir[0] = letter;
        dir[1] = ':';
        dir[2] = '\\';
        dir[3] = 0;
        if (DriveTypeIsCandidate(GetDriveTypeA(dir)) && IsUsableStagingPlace(dir))
            return 1;
    }
    return 0;
}

static int PathExists(const char* path) {
    return GetFileAttributesA(path) != 0xFFFFFFFF;
}

// Puts base + name into StagingDir. Returns 0 when that is longer than a path; StagingDir
// then holds as much of it as fits, for the message only.
static int NameStagingDir(const char* base, const char* name) {
    if (JoinPath(SetupContext.StagingDir, base, name) != 0)
        return 1;
    CopyText(SetupContext.StagingDir, SETUP_PATH_SIZE, base);
    AppendText(SetupContext.StagingDir, SETUP_PATH_SIZE, name);
    return 0;
}

void PrepareStagingDir(const char* windowsDir) {
    if (!TryTempDir() && !TryWindowsDir() && !TryDriveRoots()) {
        ShowErrorBox(IDS_SETUP_ERROR, IDS_NO_STAGING_PLACE, MB_ICONHAND);
        ExitProcess(0);
    }
    char base[SETUP_PATH_SIZE];
    CopyText(base, sizeof base, AppendBackslash(SetupContext.StagingDir));

    int create = 1;
    if (!NameStagingDir(base, SetupContext.TmpDirName))
        AbortWithPath(IDS_CANNOT_CREATE_STAGING);
    if (PathExists(SetupContext.StagingDir)) {
        if (!NameStagingDir(base, LoadText(IDS_RESERVED_NAME_1, 0)))
            AbortWithPath(IDS_CANNOT_CREATE_STAGING);
        if (PathExists(SetupContext.StagingDir)) {
            if (!NameStagingDir(base, LoadText(IDS_RESERVED_NAME_2, 0)))
                AbortWithPath(IDS_CANNOT_CREATE_STAGING);
            // With every name taken, the last one is used as it stands.
            create = !PathExists(SetupContext.StagingDir);
        }
    }
    if (create && !CreateDirectoryA(SetupContext.StagingDir, NULL))
        AbortWithPath(IDS_CANNOT_CREATE_STAGING);

    int n = TextLength(SetupContext.StagingDir);
    if (n > 0 && SetupContext.StagingDir[n - 1] == '\\')
        SetupContext.StagingDir[n - 1] = 0;
    if (lstrcmpiA(SetupContext.StagingDir, windowsDir) == 0)
        AbortWithPath(IDS_STAGING_IS_WINDOWS);
}

void EnterDir(const char* path) {
    SetCurrentDirectoryA(path);
    // A drive-relative name stands for that drive's current directory: after a successful
    // first step this keeps it, and after a failed one it still moves to the drive.
    char drive[3] = {path[0], path[1], 0};
    SetCurrentDirectoryA(drive);
}

void RemoveStagingDir(const char* path) {
    char pattern[SETUP_PATH_SIZE];
    char file[SETUP_PATH_SIZE];
    WIN32_FIND_DATAA entry;
    if (JoinPath(pattern, path, "*.*") != 0) {
        HANDLE search = FindFirstFileA(pattern, &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                    JoinPath(file, path, entry.cFileName) != 0)
                    DeleteFileA(file);
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
    }
    char root[4] = {path[0], ':', '\\', 0};
    EnterDir(root);
    RemoveDirectoryA(path);
}
