/*
 * boxdemo: shows the message boxes named on its command line, one after the other, then
 * exits with the given code. The driver's self-test runs it.
 *
 *   boxdemo.exe EXITCODE STEP...
 *     box owned|free TYPE CAPTION TEXT   MessageBoxA with that type (decimal or 0x hex); an
 *                                        owned box belongs to a window titled "boxdemo owner"
 *                                        of class "BoxDemoOwner"; "\n" in TEXT is a line break
 *     maximize TITLE                     shows the top-level window titled TITLE maximized and
 *                                        makes it the foreground window
 *   EXITCODE "last" exits with the value of the last box instead.
 */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

static HWND OwnerWindow(void) {
    static HWND owner;
    WNDCLASSA windowClass;
    if (owner)
        return owner;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "BoxDemoOwner";
    RegisterClassA(&windowClass);
    owner = CreateWindowA("BoxDemoOwner", "boxdemo owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                          300, 200, NULL, NULL, windowClass.hInstance, NULL);
    return owner;
}

/* Turns each two-character "\n" into a line break, in place. */
static char* ExpandLineBreaks(char* text) {
    char *from = text, *to = text;
    while (*from) {
        if (from[0] == '\\' && from[1] == 'n') {
            *to++ = '\n';
            from += 2;
        } else {
            *to++ = *from++;
        }
    }
    *to = 0;
    return text;
}

static void Maximize(const char* title) {
    HWND window = FindWindowA(NULL, title);
    if (window) {
        ShowWindow(window, SW_SHOWMAXIMIZED);
        SetForegroundWindow(window);
    }
}

int main(int argc, char** argv) {
    int i = 2, last = 0;
    if (argc < 2)
        return 100;
    while (i < argc) {
        if (!strcmp(argv[i], "box") && i + 4 < argc) {
            HWND owner = strcmp(argv[i + 1], "owned") ? NULL : OwnerWindow();
            UINT type = (UINT)strtoul(argv[i + 2], NULL, 0);
            last = MessageBoxA(owner, ExpandLineBreaks(argv[i + 4]), argv[i + 3], type);
            i += 5;
        } else if (!strcmp(argv[i], "maximize") && i + 1 < argc) {
            Maximize(argv[i + 1]);
            i += 2;
        } else {
            return 101;
        }
    }
    return strcmp(argv[1], "last") ? atoi(argv[1]) : last;
}
