// UNSQUISH.DLL: the export SQExtractFile over the Win32 I/O table, and the library's
// registration as an MFC 3.0 extension DLL when a process loads it.
#include <windows.h>
#include "extract.h"
#include "mfcext.h"
#include "win32_system.h"

static HINSTANCE g_module;
static MfcExtensionModule g_extensionModule;

// MFC owns the extension-library object once constructed; nothing here keeps or frees it.
// Extraction does not depend on the registration, so its results are not looked at.
static void RegisterWithMfc(HINSTANCE module) {
    MfcInitExtensionModule(&g_extensionModule, module);
    void* library = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, MFC_EXTENSION_LIBRARY_SIZE);
    if (library != NULL)
        MfcConstructExtensionLibrary(library, &g_extensionModule);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        RegisterWithMfc(instance);
        g_module = instance;
    }
    return TRUE;
}

// Exported by its plain name through unsquish.def.
extern "C" LONG WINAPI SQExtractFile(HWND owner, LPCSTR sourceDir, LPCSTR destDir, LPCSTR fileName,
                                     LPCSTR altName) {
    Win32System sys;
    InitWin32System(&sys, owner, g_module);
    return SqExtract(&sys.base, sourceDir, destDir, fileName, altName);
}
