// Reading the setup list file that lies beside the program.
#include "bootstrap.h"

#include "listfile.h"
#include "paths.h"
#include "text.h"

HANDLE OpenSetupList(const char* modulePath) {
    char directory[SETUP_PATH_SIZE];
    char baseName[SETUP_PATH_SIZE];
    char path[SETUP_PATH_SIZE];
    ClearBytes(directory, sizeof directory);
    ClearBytes(baseName, sizeof baseName);
    SplitPath(directory, modulePath, SPLIT_DIRECTORY);
    SplitPath(baseName, modulePath, SPLIT_BASE_NAME);
    if (JoinPath(path, directory, baseName) == 0 || !AppendText(path, sizeof path, ".LST"))
        return INVALID_HANDLE_VALUE;
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

int ReadListBytes(void* source, char* buffer, int size) {
    DWORD count = 0;
    if (!ReadFile(static_cast<HANDLE>(source), buffer, static_cast<DWORD>(size), &count, NULL))
        return -1;
    return static_cast<int>(count);
}

static int ExpandEntry(void*, const char* sourceName, const char* targetName) {
    return ExpandListedFile(static_cast<HWND>(SetupContext.ProgressWnd), SetupContext.SourceDir,
                            SetupContext.StagingDir, sourceName, targetName);
}

int ReadSetupList(const char* modulePath, int pass) {
    HANDLE file = OpenSetupList(modulePath);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    LineReader reader;
    StartLineReader(&reader, ReadListBytes, file);
    int result = WalkSetupList(&reader, pass, ExpandEntry, NULL);
    CloseHandle(file);
    return result;
}
