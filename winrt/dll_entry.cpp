// Entry point of the DLLs: no run-time to start, so every notification goes straight on.
#include "winrt.h"

extern "C" BOOL WINAPI SqDllEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return DllMain(instance, reason, reserved);
}
