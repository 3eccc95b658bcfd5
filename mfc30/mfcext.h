// Registration of an extension DLL with the MFC 3.0 run-time (MFC30.DLL), reduced to the two
// run-time exports that registration needs. Both are imported by ordinal, as MFC30.DLL
// exports them without names.
//
//   588  extension-module initialisation: BOOL AFXAPI (module record, module handle).
//        AFXAPI is __stdcall in the 32-bit run-time: arguments right to left, callee pops.
//   298  constructor of the extension-library object: __thiscall, the object in ECX, one
//        argument (a reference to the module record) on the stack, callee pops; returns
//        the object.
//
// The extension DLL owns the module record (static storage) and allocates the object; the
// run-time fills both and keeps the object in its process-wide chain of libraries.
#ifndef MFC30_MFCEXT_H
#define MFC30_MFCEXT_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// The extension-module record. The run-time keeps the module's handles here; the fields
// after them are room for whatever else a run-time build may keep, so that a DLL built
// against this header also registers with the genuine MFC30.DLL.
typedef struct MfcExtensionModule {
    BOOL initialized;
    HMODULE module;
    HMODULE resources;
    void* firstSharedClass;
    void* firstSharedFactory;
    DWORD reserved[11];
} MfcExtensionModule;

// Bytes an extension DLL allocates, zero-filled, for the extension-library object: larger
// than the object of any MFC 3.0 run-time, whose constructor fills it.
enum { MFC_EXTENSION_LIBRARY_SIZE = 256 };

BOOL WINAPI MfcInitExtensionModule(MfcExtensionModule* record, HMODULE module);
void* __attribute__((thiscall))
MfcConstructExtensionLibrary(void* object, MfcExtensionModule* record);

#ifdef __cplusplus
}
#endif

#endif
