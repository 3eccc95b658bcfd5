/*
 * sqcall: calls SQExtractFile of an UNSQUISH.DLL once, with the arguments from its command
 * line, and exits with the call's result.
 *
 *   sqcall.exe [--owner] DLLPATH SOURCEDIR DESTDIR FILENAME [ALTNAME]
 *
 * Without ALTNAME the call gets a null alternate name. With --owner it first creates a
 * visible top-level window titled "owner" (class "SqCallOwner") and passes it as the owner
 * of the library's message boxes; otherwise the owner is null.
 * Exit code: the result (1 or 0); 100 when the library cannot be loaded, 101 when it has no
 * SQExtractFile, 102 on a usage error.
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>

typedef int(WINAPI* ExtractFileFn)(HWND owner, LPCSTR sourceDir, LPCSTR destDir, LPCSTR fileName,
                                   LPCSTR altName);

static HWND CreateOwnerWindow(void) {
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "SqCallOwner";
    RegisterClassA(&windowClass);
    return CreateWindowA("SqCallOwner", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 200, 100,
                         NULL, NULL, windowClass.hInstance, NULL);
}

int main(int argc, char** argv) {
    int first = 1, result;
    HWND owner = NULL;
    HMODULE library;
    ExtractFileFn extractFile;
    if (argc > 1 && !strcmp(argv[1], "--owner")) {
        owner = CreateOwnerWindow();
        first = 2;
    }
    if (argc - first != 4 && argc - first != 5) {
        fprintf(stderr, "usage: sqcall [--owner] DLLPATH SOURCEDIR DESTDIR FILENAME [ALTNAME]\n");
        return 102;
    }
    /* The library's own directory is searched first for MFC30.DLL, which lies beside it in
       the build tree; the bootstrap instead installs MFC30.DLL into the system directory. */
    library = LoadLibraryExA(argv[first], NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library)
        return 100;
    extractFile = (ExtractFileFn)(void*)GetProcAddress(library, "SQExtractFile");
    if (!extractFile)
        return 101;
    result = extractFile(owner, argv[first + 1], argv[first + 2], argv[first + 3],
                         argc - first == 5 ? argv[first + 4] : NULL);
    printf("SQExtractFile returned %d\n", result);
    FreeLibrary(library);
    return result;
}
