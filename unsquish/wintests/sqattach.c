/*
 * sqattach: loads an UNSQUISH.DLL, lets a second thread start and end while it is loaded,
 * unloads it, and prints what the recording MFC30.DLL beside it saw at each step:
 *
 *   unsquish=<module handle>
 *   loaded=<calls>
 *   thread=<calls>
 *   unloaded=<calls>
 *
 *   sqattach.exe DLLPATH
 * Exit code 0; 100 when the library cannot be loaded, 101 when the MFC30.DLL that it
 * brought in keeps no record, 102 on a usage error.
 */
#include <stdio.h>
#include <windows.h>

typedef const char* (*RecordedCallsFn)(void);

static DWORD WINAPI DoNothing(LPVOID unused) {
    (void)unused;
    return 0;
}

int main(int argc, char** argv) {
    HMODULE library, runtime;
    RecordedCallsFn recorded;
    HANDLE thread;
    if (argc != 2) {
        fprintf(stderr, "usage: sqattach DLLPATH\n");
        return 102;
    }
    library = LoadLibraryExA(argv[1], NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library)
        return 100;
    /* Held by this program too, so that its record outlives UNSQUISH.DLL. */
    runtime = LoadLibraryA("MFC30.DLL");
    recorded = runtime ? (RecordedCallsFn)(void*)GetProcAddress(runtime, "RecordedCalls") : NULL;
    if (!recorded)
        return 101;
    printf("unsquish=%p\n", (void*)library);
    printf("loaded=%s\n", recorded());
    thread = CreateThread(NULL, 0, DoNothing, NULL, 0, NULL);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    printf("thread=%s\n", recorded());
    FreeLibrary(library);
    printf("unloaded=%s\n", recorded());
    fflush(stdout);
    return 0;
}
