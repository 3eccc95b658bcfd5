/*
 * holdwin: keeps a top-level window with a given title on screen, for tests of programs that
 * look for a window by its title (a setup's single-instance rule), and reports what other
 * programs did to it.
 *
 *   holdwin.exe TITLE REPORTFILE [SECONDS]
 *
 * It shows the window normally (not maximized), then rewrites REPORTFILE whenever the
 * window's state changes, and once more when it ends, as one JSON line:
 *   {"title":...,"ready":true,"maximized":false,"minimized":false,"visible":true,
 *    "foreground":true,"ended":false}
 * It ends when the window is closed, when the file REPORTFILE.stop appears, or after SECONDS
 * (default 60); its exit code is 0.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct WindowState {
    int maximized, minimized, visible, foreground;
} WindowState;

static WindowState ReadState(HWND window) {
    WindowState state;
    state.maximized = IsZoomed(window) != 0;
    state.minimized = IsIconic(window) != 0;
    state.visible = IsWindowVisible(window) != 0;
    state.foreground = GetForegroundWindow() == window;
    return state;
}

static const char* Flag(int value) {
    return value ? "true" : "false";
}

/* Writes beside the report and renames over it, so a reader never sees half a line. */
static void WriteReport(const char* path, const char* title, WindowState state, int ended) {
    char temporary[MAX_PATH];
    FILE* file;
    _snprintf(temporary, sizeof temporary, "%s.tmp", path);
    file = fopen(temporary, "w");
    if (!file)
        return;
    fprintf(file,
            "{\"title\":\"%s\",\"ready\":true,\"maximized\":%s,\"minimized\":%s,"
            "\"visible\":%s,\"foreground\":%s,\"ended\":%s}\n",
            title, Flag(state.maximized), Flag(state.minimized), Flag(state.visible),
            Flag(state.foreground), Flag(ended));
    fclose(file);
    MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING);
}

static HWND CreateHeldWindow(const char* title) {
    WNDCLASSA windowClass;
    HWND window;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "HoldWin";
    RegisterClassA(&windowClass);
    window = CreateWindowA("HoldWin", title, WS_OVERLAPPEDWINDOW, 40, 40, 320, 200, NULL, NULL,
                           windowClass.hInstance, NULL);
    if (window) {
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
    }
    return window;
}

static int FileExists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

static void PumpMessages(void) {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int main(int argc, char** argv) {
    char stopPath[MAX_PATH];
    DWORD limitMs, start = GetTickCount();
    HWND window;
    WindowState last;
    if (argc < 3 || strchr(argv[1], '"') || strchr(argv[1], '\\')) {
        fprintf(stderr, "usage: holdwin TITLE REPORTFILE [SECONDS]\n");
        return 2;
    }
    limitMs = (argc > 3 ? (DWORD)atoi(argv[3]) : 60) * 1000;
    _snprintf(stopPath, sizeof stopPath, "%s.stop", argv[2]);
    window = CreateHeldWindow(argv[1]);
    if (!window)
        return 3;
    last = ReadState(window);
    WriteReport(argv[2], argv[1], last, 0);
    while (IsWindow(window) && !FileExists(stopPath) && GetTickCount() - start < limitMs) {
        WindowState now;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
        PumpMessages();
        if (!IsWindow(window))
            break;
        now = ReadState(window);
        if (memcmp(&now, &last, sizeof now)) {
            last = now;
            WriteReport(argv[2], argv[1], last, 0);
        }
    }
    WriteReport(argv[2], argv[1], last, 1);
    return 0;
}
