// A module shaped like UNSQUISH.DLL for testing the deliverable check: built once as a
// deliverable is, and once per rule with one deliberate flaw chosen by a FLAW_ definition.
#include <windows.h>
#include <string.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

#if defined(FLAW_EXTRA_EXPORT)
extern "C" __declspec(dllexport) LONG WINAPI SQExtractAll(void) {
    return 1;
}
#endif

extern "C" LONG WINAPI SQExtractFile(HWND owner, LPCSTR sourceDir, LPCSTR destDir, LPCSTR fileName,
                                     LPCSTR altName) {
    int source = lstrlenA(sourceDir);
    int dest = lstrlenA(destDir);
#if defined(FLAW_CRT_IMPORT)
    source = static_cast<int>(strlen(sourceDir));
#elif defined(FLAW_LATE_FUNCTION)
    ULARGE_INTEGER free;
    GetDiskFreeSpaceExA(sourceDir, &free, &free, &free);
#elif defined(FLAW_FOREIGN_DLL)
    char user[64];
    DWORD size = sizeof(user);
    GetUserNameA(user, &size);
#elif defined(FLAW_SSE)
    double scaled = source * 1.5;
    source = static_cast<int>(scaled);
#endif
    // Built for a P6 this becomes a conditional move.
    int longer = source > dest ? source : dest;
    return longer + lstrlenA(fileName) + lstrlenA(altName) + (owner != NULL);
}
