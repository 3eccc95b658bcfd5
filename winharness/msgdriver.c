/*
 * msgdriver: starts one Windows program, records every message box that appears in it, in
 * order, dismisses each one, and reports the program's exit code.
 *
 *   msgdriver.exe RESPONSEFILE
 *
 * The response file holds one setting per line, "key=value":
 *   cmd=COMMAND LINE      the child's command line (required), passed to CreateProcessA as is
 *   app=PATH              the child's program file, when it is not the first word of cmd
 *   cwd=DIR               the child's current directory (default: the driver's)
 *   set=NAME=VALUE        put NAME into the child's environment (the driver's own, changed)
 *   unset=NAME            remove NAME from the child's environment
 *   show=N                show command in the child's STARTUPINFO (SW_*)
 *   answer=ID             button id for the next box (one line per box, in order; boxes past
 *                         the list get IDOK, or their first button when they have no OK)
 *   timeout=MS            time limit for the child (default 60000); then it is terminated
 *   shots=DIR             while box N is shown, create DIR\box-N.ready and wait until someone
 *                         has saved a screenshot as DIR\box-N.png (winharness.py does)
 *   scope=all             record boxes of every process, not only of the child
 *   out=FILE              where the records go (default: standard output)
 *
 * Each record is one JSON object per line. Text bytes are written as the code points
 * U+0000..U+00FF of the same value, so a reader gets the ANSI bytes back through Latin-1.
 *   {"event":"start","pid":N}
 *   {"event":"window","title":...,"class":...,"rect":[l,t,r,b],"controls":[{"id":..,...}]}
 *   {"event":"box","index":N,"caption":...,"text":...,"icon":"stop|exclamation|question|
 *      information|none|unknown","owner":null|{"title":...,"class":...},"buttons":[...],
 *      "answer":ID}
 *   {"event":"timeout"}
 *   {"event":"exit","code":N}
 *   {"event":"error","what":...,"code":GetLastError}
 * The driver's own exit code is 0 when the child ran to its end (or was terminated at the time
 * limit), 2 when the settings are wrong and 3 when the child cannot be started.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "json_out.h"

#define MAX_ANSWERS 64
#define MAX_SEEN 256
#define POLL_MS 20
#define ICON_WAIT_MS 2000
#define SHOT_DELAY_MS 300 /* lets the box finish painting before the screen is captured */
#define SHOT_WAIT_MS 10000

typedef struct Settings {
    char* cmd;
    char* app;
    char* cwd;
    char* env; /* environment block, or null to inherit */
    char* shots;
    int show;
    int answers[MAX_ANSWERS];
    int answerCount;
    DWORD timeoutMs;
    int allProcesses;
    FILE* out;
} Settings;

typedef struct Tracker {
    Settings* settings;
    DWORD childPid;
    HWND seenWindows[MAX_SEEN];
    char seenTitles[MAX_SEEN][128];
    int seenCount;
    HWND handledBoxes[MAX_SEEN];
    int handledCount;
    int boxCount;
    HWND pendingBox; /* a box found by the last scan, handled after the scan */
} Tracker;

/* ---- JSON output ------------------------------------------------------------------------ */

static void WriteErrorRecord(FILE* out, const char* what, DWORD code) {
    fputs("{\"event\":\"error\",\"what\":", out);
    WriteJsonString(out, what);
    fprintf(out, ",\"code\":%lu}\n", (unsigned long)code);
    fflush(out);
}

/* ---- Settings and the child's environment ----------------------------------------------- */

static char* CopyText(const char* text) {
    size_t length = strlen(text);
    char* copy = (char*)malloc(length + 1);
    memcpy(copy, text, length + 1);
    return copy;
}

static int NameMatches(const char* entry, const char* name, size_t nameLength) {
    return _strnicmp(entry, name, nameLength) == 0 && entry[nameLength] == '=';
}

/* Removes NAME from the block (a sequence of NUL-terminated entries ending in an empty one). */
static void RemoveVariable(char* block, size_t* used, const char* name) {
    size_t nameLength = strlen(name);
    char* entry = block;
    while (*entry) {
        size_t entryLength = strlen(entry) + 1;
        if (NameMatches(entry, name, nameLength)) {
            size_t tail = (size_t)(block + *used - (entry + entryLength));
            memmove(entry, entry + entryLength, tail);
            *used -= entryLength;
        } else {
            entry += entryLength;
        }
    }
}

static char* CopyOwnEnvironment(size_t* used) {
    char* strings = GetEnvironmentStringsA();
    const char* end = strings;
    char* block;
    while (*end)
        end += strlen(end) + 1;
    *used = (size_t)(end - strings) + 1;
    block = (char*)malloc(*used);
    memcpy(block, strings, *used);
    FreeEnvironmentStringsA(strings);
    return block;
}

/* Applies "set" (NAME=VALUE) or "unset" (NAME) to the child's environment block. */
static void ChangeEnvironment(Settings* settings, size_t* used, const char* change, int set) {
    char name[512];
    const char* equals = set ? strchr(change + 1, '=') : NULL;
    size_t nameLength = equals ? (size_t)(equals - change) : strlen(change);
    if (!settings->env)
        settings->env = CopyOwnEnvironment(used);
    if (nameLength >= sizeof name)
        return;
    memcpy(name, change, nameLength);
    name[nameLength] = 0;
    RemoveVariable(settings->env, used, name);
    if (set) {
        size_t entryLength = strlen(change) + 1;
        settings->env = (char*)realloc(settings->env, *used + entryLength);
        memcpy(settings->env + *used - 1, change, entryLength);
        *used += entryLength;
        settings->env[*used - 1] = 0;
    }
}

static void TrimLineEnd(char* line) {
    size_t length = strlen(line);
    while (length && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        line[--length] = 0;
}

static int ApplySetting(Settings* settings, size_t* envUsed, char* line) {
    char* value = strchr(line, '=');
    if (!value)
        return *line == 0;
    *value++ = 0;
    if (!strcmp(line, "cmd"))
        settings->cmd = CopyText(value);
    else if (!strcmp(line, "app"))
        settings->app = CopyText(value);
    else if (!strcmp(line, "cwd"))
        settings->cwd = CopyText(value);
    else if (!strcmp(line, "set"))
        ChangeEnvironment(settings, envUsed, value, 1);
    else if (!strcmp(line, "unset"))
        ChangeEnvironment(settings, envUsed, value, 0);
    else if (!strcmp(line, "show"))
        settings->show = atoi(value);
    else if (!strcmp(line, "answer") && settings->answerCount < MAX_ANSWERS)
        settings->answers[settings->answerCount++] = atoi(value);
    else if (!strcmp(line, "timeout"))
        settings->timeoutMs = (DWORD)strtoul(value, NULL, 10);
    else if (!strcmp(line, "shots"))
        settings->shots = CopyText(value);
    else if (!strcmp(line, "scope"))
        settings->allProcesses = !strcmp(value, "all");
    else if (!strcmp(line, "out"))
        settings->out = fopen(value, "w");
    else
        return 0;
    return 1;
}

static int ReadSettings(const char* path, Settings* settings) {
    char line[4096];
    size_t envUsed = 0;
    FILE* file = fopen(path, "r");
    settings->show = -1;
    settings->timeoutMs = 60000;
    settings->out = stdout;
    if (!file)
        return 0;
    while (fgets(line, sizeof line, file)) {
        TrimLineEnd(line);
        if (!ApplySetting(settings, &envUsed, line)) {
            fclose(file);
            return 0;
        }
    }
    fclose(file);
    return settings->cmd != NULL && settings->out != NULL;
}

/* ---- Looking at windows ------------------------------------------------------------------ */

static int IsWatchedProcess(Tracker* tracker, HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (tracker->settings->allProcesses)
        return pid != GetCurrentProcessId();
    return pid == tracker->childPid;
}

static int IsDialogClass(HWND hwnd) {
    char className[64];
    GetClassNameA(hwnd, className, sizeof className);
    return strcmp(className, "#32770") == 0;
}

static int IsButton(HWND control) {
    char className[32];
    GetClassNameA(control, className, sizeof className);
    return _stricmp(className, "Button") == 0;
}

/* A message box is a dialog with the message text in static control 0xFFFF and buttons. */
static int IsMessageBox(HWND hwnd) {
    HWND text = GetDlgItem(hwnd, 0xFFFF);
    HWND child;
    if (!IsDialogClass(hwnd) || !text)
        return 0;
    for (child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (IsButton(child) && IsWindowVisible(child))
            return 1;
    return 0;
}

static int WasHandled(Tracker* tracker, HWND box) {
    int i;
    for (i = 0; i < tracker->handledCount; ++i)
        if (tracker->handledBoxes[i] == box)
            return 1;
    return 0;
}

static void WriteControls(FILE* out, HWND hwnd) {
    HWND child;
    int first = 1;
    fputs("[", out);
    for (child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[64], text[1024];
        GetClassNameA(child, className, sizeof className);
        GetWindowTextA(child, text, sizeof text);
        fprintf(out, "%s{\"id\":%d,\"class\":", first ? "" : ",", GetDlgCtrlID(child));
        WriteJsonString(out, className);
        fputs(",\"text\":", out);
        WriteJsonString(out, text);
        fprintf(out, ",\"visible\":%s}", IsWindowVisible(child) ? "true" : "false");
        first = 0;
    }
    fputs("]", out);
}

static void WriteWindowRecord(FILE* out, HWND hwnd, const char* title) {
    char className[128];
    RECT rect;
    GetClassNameA(hwnd, className, sizeof className);
    GetWindowRect(hwnd, &rect);
    fputs("{\"event\":\"window\",\"title\":", out);
    WriteJsonString(out, title);
    fputs(",\"class\":", out);
    WriteJsonString(out, className);
    fprintf(out, ",\"rect\":[%ld,%ld,%ld,%ld],\"controls\":", rect.left, rect.top, rect.right,
            rect.bottom);
    WriteControls(out, hwnd);
    fputs("}\n", out);
    fflush(out);
}

/* Records a visible top-level window that is not a message box, once per (window, title). */
static void NoteWindow(Tracker* tracker, HWND hwnd) {
    char title[128];
    int i;
    GetWindowTextA(hwnd, title, sizeof title);
    for (i = 0; i < tracker->seenCount; ++i)
        if (tracker->seenWindows[i] == hwnd && !strcmp(tracker->seenTitles[i], title))
            return;
    if (tracker->seenCount < MAX_SEEN) {
        tracker->seenWindows[tracker->seenCount] = hwnd;
        strcpy(tracker->seenTitles[tracker->seenCount], title);
        tracker->seenCount++;
    }
    WriteWindowRecord(tracker->settings->out, hwnd, title);
}

static BOOL CALLBACK ScanWindow(HWND hwnd, LPARAM param) {
    Tracker* tracker = (Tracker*)param;
    if (!IsWindowVisible(hwnd) || !IsWatchedProcess(tracker, hwnd))
        return TRUE;
    if (IsMessageBox(hwnd)) {
        if (!WasHandled(tracker, hwnd) && !tracker->pendingBox)
            tracker->pendingBox = hwnd;
        return TRUE;
    }
    if (!tracker->settings->allProcesses)
        NoteWindow(tracker, hwnd);
    return TRUE;
}

/* ---- Telling the icon --------------------------------------------------------------------- */

typedef struct IconKind {
    const char* name;
    LPCSTR id;
} IconKind;

static const IconKind ICON_KINDS[] = {
    {"stop", IDI_HAND},
    {"exclamation", IDI_EXCLAMATION},
    {"question", IDI_QUESTION},
    {"information", IDI_ASTERISK},
};
#define ICON_KIND_COUNT (sizeof ICON_KINDS / sizeof ICON_KINDS[0])

static HWND FindIconControl(HWND box) {
    HWND child;
    for (child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[32];
        GetClassNameA(child, className, sizeof className);
        if (_stricmp(className, "Static") == 0 &&
            (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return child;
    }
    return NULL;
}

/* Pixels of a width x height area, drawn by draw() into a 32-bit DIB. */
typedef struct Pixels {
    int width, height;
    DWORD* bits;
    HBITMAP bitmap;
    HDC dc;
} Pixels;

static int CreatePixels(Pixels* pixels, int width, int height) {
    BITMAPINFO info;
    void* bits = NULL;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    pixels->dc = CreateCompatibleDC(NULL);
    pixels->bitmap = CreateDIBSection(pixels->dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!pixels->bitmap) {
        DeleteDC(pixels->dc);
        return 0;
    }
    SelectObject(pixels->dc, pixels->bitmap);
    pixels->bits = (DWORD*)bits;
    pixels->width = width;
    pixels->height = height;
    return 1;
}

static void DeletePixels(Pixels* pixels) {
    DeleteDC(pixels->dc);
    DeleteObject(pixels->bitmap);
}

static void CaptureScreen(Pixels* pixels, int x, int y) {
    HDC screen = GetDC(NULL);
    BitBlt(pixels->dc, 0, 0, pixels->width, pixels->height, screen, x, y, SRCCOPY);
    GdiFlush();
    ReleaseDC(NULL, screen);
}

/* Draws a system icon over the background colour that the captured area shows at a corner
   (the icon's transparent part lets the dialog's background through). */
static void DrawIconLike(Pixels* target, const Pixels* captured, HICON icon) {
    DWORD corner = captured->bits[0];
    int i, count = target->width * target->height;
    for (i = 0; i < count; ++i)
        target->bits[i] = corner;
    DrawIconEx(target->dc, 0, 0, icon, target->width, target->height, 0, NULL, DI_NORMAL);
    GdiFlush();
}

static int CountDifferentPixels(const Pixels* a, const Pixels* b) {
    int i, count = a->width * a->height, different = 0;
    for (i = 0; i < count; ++i)
        if ((a->bits[i] & 0xFFFFFF) != (b->bits[i] & 0xFFFFFF))
            ++different;
    return different;
}

/* Index of the system icon whose picture is on screen in the control, or -1. */
static int MatchIconPixels(HWND control) {
    RECT client;
    POINT origin = {0, 0};
    Pixels captured, drawn;
    int kind, best = -1, bestDifferent = 0;
    GetClientRect(control, &client);
    ClientToScreen(control, &origin);
    if (client.right <= 0 || client.bottom <= 0)
        return -1;
    if (!CreatePixels(&captured, client.right, client.bottom))
        return -1;
    if (!CreatePixels(&drawn, client.right, client.bottom)) {
        DeletePixels(&captured);
        return -1;
    }
    CaptureScreen(&captured, origin.x, origin.y);
    for (kind = 0; kind < (int)ICON_KIND_COUNT; ++kind) {
        int different;
        DrawIconLike(&drawn, &captured, LoadIconA(NULL, ICON_KINDS[kind].id));
        different = CountDifferentPixels(&captured, &drawn);
        if (best < 0 || different < bestDifferent) {
            best = kind;
            bestDifferent = different;
        }
    }
    DeletePixels(&drawn);
    DeletePixels(&captured);
    /* A painted icon matches its own picture exactly; allow a few pixels of blending. */
    return bestDifferent * 50 <= client.right * client.bottom ? best : -1;
}

/* On Windows the system icons are shared, so the handle tells; under Wine every process
   loads its own copies, so the picture on screen is compared instead. */
static const char* TellIcon(HWND box) {
    HWND control = FindIconControl(box);
    HICON icon;
    DWORD start = GetTickCount();
    int kind;
    if (!control || !IsWindowVisible(control))
        return "none";
    icon = (HICON)SendMessageA(control, STM_GETICON, 0, 0);
    if (!icon)
        return "none";
    for (kind = 0; kind < (int)ICON_KIND_COUNT; ++kind)
        if (icon == LoadIconA(NULL, ICON_KINDS[kind].id))
            return ICON_KINDS[kind].name;
    do {
        kind = MatchIconPixels(control);
        if (kind >= 0)
            return ICON_KINDS[kind].name;
        Sleep(POLL_MS);
    } while (GetTickCount() - start < ICON_WAIT_MS);
    return "unknown";
}

/* ---- Screenshots -------------------------------------------------------------------------- */

/* Under Wine a capture of the screen DC misses most of what other processes drew, so the
   picture is taken from outside: the driver announces the box with DIR\box-N.ready and waits
   until the harness has written DIR\box-N.png (at most SHOT_WAIT_MS). */
static void WaitForScreenshot(const char* directory, int index) {
    char ready[MAX_PATH], picture[MAX_PATH];
    DWORD start = GetTickCount();
    FILE* file;
    _snprintf(ready, sizeof ready, "%s\\box-%d.ready", directory, index);
    _snprintf(picture, sizeof picture, "%s\\box-%d.png", directory, index);
    file = fopen(ready, "w");
    if (!file)
        return;
    fclose(file);
    while (GetFileAttributesA(picture) == INVALID_FILE_ATTRIBUTES &&
           GetTickCount() - start < SHOT_WAIT_MS)
        Sleep(POLL_MS);
}

/* ---- Handling one box ----------------------------------------------------------------------- */

static void WriteOwner(FILE* out, HWND box) {
    HWND owner = GetWindow(box, GW_OWNER);
    char title[256], className[128];
    if (!owner) {
        fputs("null", out);
        return;
    }
    GetWindowTextA(owner, title, sizeof title);
    GetClassNameA(owner, className, sizeof className);
    fputs("{\"title\":", out);
    WriteJsonString(out, title);
    fputs(",\"class\":", out);
    WriteJsonString(out, className);
    fputs("}", out);
}

/* Writes the button texts and returns the id of the button to press when no answer is set. */
static int WriteButtons(FILE* out, HWND box) {
    HWND child;
    int first = 1, fallback = 0;
    fputs("[", out);
    for (child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char text[128];
        int id = GetDlgCtrlID(child);
        if (!IsButton(child) || !IsWindowVisible(child))
            continue;
        GetWindowTextA(child, text, sizeof text);
        fputs(first ? "" : ",", out);
        WriteJsonString(out, text);
        if (id == IDOK || !fallback)
            fallback = id;
        first = 0;
    }
    fputs("]", out);
    return fallback;
}

static void WaitUntilGone(HWND box) {
    DWORD start = GetTickCount();
    while (IsWindow(box) && IsWindowVisible(box) && GetTickCount() - start < 5000)
        Sleep(POLL_MS);
}

static void HandleBox(Tracker* tracker, HWND box) {
    FILE* out = tracker->settings->out;
    char caption[1024], text[4096];
    const char* icon = TellIcon(box);
    int index = ++tracker->boxCount, answer;
    GetWindowTextA(box, caption, sizeof caption);
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    if (tracker->settings->shots) {
        Sleep(SHOT_DELAY_MS);
        WaitForScreenshot(tracker->settings->shots, index);
    }
    fprintf(out, "{\"event\":\"box\",\"index\":%d,\"caption\":", index);
    WriteJsonString(out, caption);
    fputs(",\"text\":", out);
    WriteJsonString(out, text);
    fprintf(out, ",\"icon\":\"%s\",\"owner\":", icon);
    WriteOwner(out, box);
    fputs(",\"buttons\":", out);
    answer = WriteButtons(out, box);
    if (index <= tracker->settings->answerCount)
        answer = tracker->settings->answers[index - 1];
    fprintf(out, ",\"answer\":%d}\n", answer);
    fflush(out);
    if (tracker->handledCount < MAX_SEEN)
        tracker->handledBoxes[tracker->handledCount++] = box;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)GetDlgItem(box, answer));
    WaitUntilGone(box);
}

static void ScanOnce(Tracker* tracker) {
    tracker->pendingBox = NULL;
    EnumWindows(ScanWindow, (LPARAM)tracker);
    if (tracker->pendingBox)
        HandleBox(tracker, tracker->pendingBox);
}

/* ---- Running the child -------------------------------------------------------------------- */

static int StartChild(Settings* settings, PROCESS_INFORMATION* process) {
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (settings->show >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = (WORD)settings->show;
    }
    return CreateProcessA(settings->app, settings->cmd, NULL, NULL, FALSE, 0, settings->env,
                          settings->cwd, &startup, process);
}

static DWORD WatchChild(Tracker* tracker, HANDLE process) {
    DWORD start = GetTickCount(), code = 0;
    FILE* out = tracker->settings->out;
    for (;;) {
        ScanOnce(tracker);
        if (WaitForSingleObject(process, POLL_MS) == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - start > tracker->settings->timeoutMs) {
            fputs("{\"event\":\"timeout\"}\n", out);
            fflush(out);
            TerminateProcess(process, 259);
            WaitForSingleObject(process, 5000);
            break;
        }
    }
    GetExitCodeProcess(process, &code);
    return code;
}

int main(int argc, char** argv) {
    static Settings settings;
    static Tracker tracker;
    PROCESS_INFORMATION process;
    DWORD code;
    if (argc != 2 || !ReadSettings(argv[1], &settings)) {
        fprintf(stderr, "usage: msgdriver RESPONSEFILE (see the top of msgdriver.c)\n");
        return 2;
    }
    if (!StartChild(&settings, &process)) {
        WriteErrorRecord(settings.out, "CreateProcess", GetLastError());
        return 3;
    }
    fprintf(settings.out, "{\"event\":\"start\",\"pid\":%lu}\n",
            (unsigned long)process.dwProcessId);
    fflush(settings.out);
    tracker.settings = &settings;
    tracker.childPid = process.dwProcessId;
    code = WatchChild(&tracker, process.hProcess);
    fprintf(settings.out, "{\"event\":\"exit\",\"code\":%lu}\n", (unsigned long)code);
    fflush(settings.out);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
