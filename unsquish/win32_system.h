// The I/O table of the portable core over the Win32 file API, with message boxes owned by
// the caller's window and texts from this library's string table.
#ifndef UNSQUISH_WIN32_SYSTEM_H
#define UNSQUISH_WIN32_SYSTEM_H

#include <windows.h>
#include "sqsystem.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Win32System {
    SqSystem base; // first, so the core's SqSystem* is also the Win32System*
    HWND owner;    // owner of every message box; may be null
    HINSTANCE textModule;
} Win32System;

void InitWin32System(Win32System* sys, HWND owner, HINSTANCE textModule);

#ifdef __cplusplus
}
#endif

#endif
