// A stand-in for the MFC 3.0 run-time library, for machines without the genuine
// MFC30.DLL: it provides the extension-DLL registration and nothing else. It keeps the
// registered libraries in a process-wide chain, as the run-time does, and never frees them.
#include "mfcext.h"

// The stand-in's extension-library object; it fits in MFC_EXTENSION_LIBRARY_SIZE bytes.
typedef struct ExtensionLibrary {
    struct ExtensionLibrary* next;
    MfcExtensionModule* record;
    HMODULE module;
    HMODULE resources;
} ExtensionLibrary;

static_assert(sizeof(ExtensionLibrary) <= MFC_EXTENSION_LIBRARY_SIZE,
              "callers allocate MFC_EXTENSION_LIBRARY_SIZE bytes");

// Head of the chain. DllMain notifications are serialised by the loader, so no lock.
static ExtensionLibrary* g_libraries;

extern "C" BOOL WINAPI MfcInitExtensionModule(MfcExtensionModule* record, HMODULE module) {
    record->module = module;
    record->resources = module;
    record->initialized = TRUE;
    return TRUE;
}

extern "C" void* __attribute__((thiscall))
MfcConstructExtensionLibrary(void* object, MfcExtensionModule* record) {
    ExtensionLibrary* library = static_cast<ExtensionLibrary*>(object);
    library->record = record;
    library->module = record->module;
    library->resources = record->resources;
    library->next = g_libraries;
    g_libraries = library;
    return library;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
