/*
 * A recording MFC30.DLL for the tests of UNSQUISH.DLL's registration: it provides the two
 * registration exports by the same ordinals as the run-time, keeps one line per call, in
 * order, and hands the lines out through one more export, RecordedCalls.
 */
#include <stdio.h>
#include <windows.h>

static char g_log[2048];
static int g_used;

static void Record(const char* format, const void* first, const void* second) {
    int room = (int)sizeof g_log - g_used;
    int n = snprintf(g_log + g_used, room, format, first, second);
    if (n > 0 && n < room)
        g_used += n;
}

BOOL WINAPI MfcInitExtensionModule(void* record, HMODULE module) {
    Record("588 record=%p module=%p;", record, module);
    return TRUE;
}

void* __attribute__((thiscall)) MfcConstructExtensionLibrary(void* object, void* record) {
    Record("298 object=%p record=%p;", object, record);
    return object;
}

const char* RecordedCalls(void) {
    return g_log;
}
