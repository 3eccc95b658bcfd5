// The little run-time that the deliverables carry instead of a C library: the memory
// routines that the compiler may call on its own, the stack probe for large frames, and
// the entry points that hand over to DllMain or WinMain.
#ifndef WINRT_WINRT_H
#define WINRT_WINRT_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Each DLL defines this; SqDllEntry passes every notification on and returns its result.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// Each program defines this; SqExeEntry ends the process with its result.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// The text of a command line after the program name and the blanks that follow it.
LPSTR SkipProgramName(LPSTR commandLine);

#ifdef __cplusplus
}
#endif

#endif
