// The demo medium's second stage: shows in one message box what the setup bootstrap handed
// over (its command line, its current directory, and the files staged there), then ends.
#include <windows.h>

namespace {

char gReport[4096];
int gLength;

void Add(const char* text) {
    while (*text != 0 && gLength < static_cast<int>(sizeof gReport) - 1)
        gReport[gLength++] = *text++;
    gReport[gLength] = 0;
}

void AddNumber(DWORD value) {
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char text[12];
    for (int i = 0; i < n; ++i)
        text[i] = digits[n - 1 - i];
    text[n] = 0;
    Add(text);
}

void AddStagedFiles() {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("*.*", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        Add("    ");
        Add(entry.cFileName);
        Add("  (");
        AddNumber(entry.nFileSizeLow);
        Add(" bytes)\r\n");
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

} // namespace

extern "C" int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char directory[MAX_PATH];
    GetCurrentDirectoryA(sizeof directory, directory);
    Add("Command line:\r\n    ");
    Add(GetCommandLineA());
    Add("\r\n\r\nCurrent directory:\r\n    ");
    Add(directory);
    Add("\r\n\r\nStaged files:\r\n");
    AddStagedFiles();
    MessageBoxA(NULL, gReport, "Demo second stage", MB_OK | MB_ICONINFORMATION);
    return 0;
}
