// Runs winrt the way a deliverable does: started through SqExeEntry, with the memory
// routines and the stack probe in use and no C run-time behind them. Each failed check
// writes its name to standard output; the exit code is the number of failures, or the
// number given after "exit" on the command line, which tests that WinMain's result reaches
// ExitProcess.
#include "winrt.h"

static int g_failures;

static void Report(const char* name) {
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), name, lstrlenA(name), &written, NULL);
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "\n", 1, &written, NULL);
}

static void Check(int ok, const char* name) {
    if (!ok) {
        Report(name);
        ++g_failures;
    }
}

// Calls through a volatile pointer, so the compiler cannot fold the routines away.
static void* (*volatile g_memmove)(void*, const void*, size_t) = memmove;
static void* (*volatile g_memcpy)(void*, const void*, size_t) = memcpy;
static void* (*volatile g_memset)(void*, int, size_t) = memset;
static int (*volatile g_memcmp)(const void*, const void*, size_t) = memcmp;

static void CheckMemoryRoutines(void) {
    char forward[] = "abcdefgh";
    g_memmove(forward + 2, forward, 5); // destination above source: copies from the end
    Check(lstrcmpA(forward, "ababcdeh") == 0, "memmove overlapping upwards");
    char backward[] = "abcdefgh";
    g_memmove(backward, backward + 3, 5);
    Check(lstrcmpA(backward, "defghfgh") == 0, "memmove overlapping downwards");
    char copy[8] = "-------";
    Check(g_memcpy(copy, "xyz", 3) == copy && lstrcmpA(copy, "xyz----") == 0, "memcpy");
    char fill[6] = "zzzzz";
    Check(g_memset(fill + 1, 0x141, 3) == fill + 1 && lstrcmpA(fill, "zAAAz") == 0,
          "memset uses the low byte of the value");
    const unsigned char low[] = {1, 0x7F}, high[] = {1, 0x80};
    Check(g_memcmp(low, high, 2) < 0 && g_memcmp(high, low, 2) > 0, "memcmp as unsigned");
    Check(g_memcmp(low, high, 1) == 0 && g_memcmp(low, high, 0) == 0, "memcmp equal prefix");
}

struct SkipCase {
    const char* line;
    const char* rest;
};

static void CheckSkipProgramName(void) {
    static const SkipCase cases[] = {
        {"SETUP.EXE", ""},
        {"SETUP.EXE  /S A:\\", "/S A:\\"},
        {"\"C:\\My Setup\\SETUP.EXE\" x y", "x y"},
        {"\"C:\\My Setup\\SETUP.EXE\"x", "x"},
        {"\"unterminated quote", ""},
        {"prog\t\targ", "arg"},
        {"", ""},
    };
    for (const SkipCase& c : cases) {
        char line[64];
        lstrcpyA(line, c.line);
        Check(lstrcmpA(SkipProgramName(line), c.rest) == 0, c.line);
    }
}

// Reserves more than a page, so the compiler calls the stack probe first; the sum proves
// that the frame and the caller's registers survived it. (Wine commits thread stacks
// eagerly, so a missing probe would crash only on Windows; a faulty one crashes anywhere.)
static int __attribute__((noinline)) SumLargeFrame(int seed) {
    volatile int big[5000];
    for (int i = 0; i < 5000; ++i)
        big[i] = seed + i;
    int sum = 0;
    for (int i = 0; i < 5000; i += 1000)
        sum += big[i];
    return sum;
}

static int ExitCodeRequested(const char* arguments) {
    if (arguments[0] != 'e' || arguments[1] != 'x' || arguments[2] != 'i' || arguments[3] != 't' ||
        arguments[4] != ' ')
        return -1;
    int code = 0;
    for (const char* p = arguments + 5; *p >= '0' && *p <= '9'; ++p)
        code = code * 10 + (*p - '0');
    return code;
}

extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int) {
    int requested = ExitCodeRequested(commandLine);
    if (requested >= 0)
        return requested;
    Check(instance == GetModuleHandleA(NULL) && previous == NULL, "WinMain instances");
    Check(lstrcmpA(commandLine, "\"two words\" tail") == 0, "WinMain command line");
    CheckMemoryRoutines();
    CheckSkipProgramName();
    Check(SumLargeFrame(7) == 5 * 7 + 10000, "stack probe");
    return g_failures;
}
