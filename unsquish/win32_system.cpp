#include "win32_system.h"

// Module text buffer: every text is loaded here just before use; the message box caption
// is loaded last, after the text that it captions has been formatted elsewhere.
static char g_text[256];

enum { MESSAGE_BUFFER_SIZE = 2048 };

static HANDLE ToHandle(SqFile* file) {
    return reinterpret_cast<HANDLE>(file);
}

static SqFile* FromHandle(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    return reinterpret_cast<SqFile*>(handle);
}

static SqFile* OpenRead(SqSystem*, const char* path) {
    return FromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL));
}

// Only a file's attributes are reset: a directory of that name keeps its own, and the open
// below fails on it.
static SqFile* OpenOutput(SqSystem*, const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return FromHandle(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
}

static int32_t ReadBytes(SqSystem*, SqFile* file, void* buffer, uint32_t size) {
    DWORD got = 0;
    if (!ReadFile(ToHandle(file), buffer, size, &got, NULL))
        return -1;
    return static_cast<int32_t>(got);
}

static int WriteBytes(SqSystem*, SqFile* file, const void* buffer, uint32_t size) {
    DWORD written = 0;
    if (!WriteFile(ToHandle(file), buffer, size, &written, NULL))
        return 0;
    return written == size;
}

// Offsets never exceed 0x7FFFFFFF, so the failure value 0xFFFFFFFF cannot be a position.
static int SeekTo(SqSystem*, SqFile* file, uint32_t offset) {
    DWORD at = SetFilePointer(ToHandle(file), static_cast<LONG>(offset), NULL, FILE_BEGIN);
    return at == offset;
}

static int TruncateHere(SqSystem*, SqFile* file) {
    return SetEndOfFile(ToHandle(file)) != 0;
}

// The converted time is set as it stands: archives carry the time they were packed with
// and the member gets exactly that back, with no local-to-UTC shift.
static int SetDosTime(SqSystem*, SqFile* file, uint16_t dosDate, uint16_t dosTime) {
    FILETIME written;
    if (!DosDateTimeToFileTime(dosDate, dosTime, &written))
        return 0;
    return SetFileTime(ToHandle(file), NULL, NULL, &written) != 0;
}

static void CloseFile(SqSystem*, SqFile* file) {
    CloseHandle(ToHandle(file));
}

static void* Allocate(SqSystem*, uint32_t size) {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

static void Release(SqSystem*, void* block) {
    HeapFree(GetProcessHeap(), 0, block);
}

static void LoadText(HINSTANCE module, UINT id) {
    if (LoadStringA(module, id, g_text, sizeof(g_text)) == 0)
        g_text[0] = '\0';
}

// wsprintfA writes at most 1,024 characters, and a text (at most 255) with one path (at
// most 255) in it stays far below that, so the message buffer cannot overrun.
static void ShowMessage(SqSystem* sys, uint32_t textId, const char* arg) {
    Win32System* win = reinterpret_cast<Win32System*>(sys);
    char message[MESSAGE_BUFFER_SIZE];
    LoadText(win->textModule, textId);
    wsprintfA(message, g_text, arg);
    LoadText(win->textModule, SQ_MSG_CAPTION);
    MessageBoxA(win->owner, message, g_text, MB_OK | MB_ICONSTOP);
}

extern "C" void InitWin32System(Win32System* sys, HWND owner, HINSTANCE textModule) {
    sys->base.openRead = OpenRead;
    sys->base.openOutput = OpenOutput;
    sys->base.read = ReadBytes;
    sys->base.write = WriteBytes;
    sys->base.seek = SeekTo;
    sys->base.truncate = TruncateHere;
    sys->base.setDosTime = SetDosTime;
    sys->base.close = CloseFile;
    sys->base.alloc = Allocate;
    sys->base.free = Release;
    sys->base.message = ShowMessage;
    sys->owner = owner;
    sys->textModule = textModule;
}
