// Entry point of the programs: gathers what WinMain expects and ends the process with its
// result, since nothing waits for a return from here.
#include "winrt.h"

extern "C" LPSTR SkipProgramName(LPSTR commandLine) {
    char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

static int StartupShowState(void) {
    STARTUPINFOA info;
    info.cb = sizeof(info);
    info.dwFlags = 0;
    GetStartupInfoA(&info);
    if (info.dwFlags & STARTF_USESHOWWINDOW)
        return info.wShowWindow;
    return SW_SHOWDEFAULT;
}

extern "C" void WINAPI SqExeEntry(void) {
    HINSTANCE instance = GetModuleHandleA(NULL);
    LPSTR arguments = SkipProgramName(GetCommandLineA());
    ExitProcess(static_cast<UINT>(WinMain(instance, NULL, arguments, StartupShowState())));
}
