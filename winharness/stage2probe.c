/*
 * stage2probe: a stand-in second-stage program that reports what it was given. A setup
 * bootstrap under test starts it; the test then reads the report.
 *
 * It appends one JSON line per run to the file named by the environment variable
 * STAGE2PROBE_REPORT, or, when that is unset, to stage2probe.json beside itself:
 *   {"commandline":...,"argv":[...],"module":...,"cwd":...,"tzbias":MINUTES,
 *    "winver":[MAJOR,MINOR,BUILD,PLATFORMID],"startup":[DWFLAGS,WSHOWWINDOW],
 *    "env":{"TEMP":...,"TMP":null,...},
 *    "cwdfiles":[{"name":...,"size":N,"mtime":UNIXSECONDS,"crc32":N,"dir":false}],
 *    "modulefiles":[...]}
 * Text bytes are written as the code points U+0000..U+00FF of the same value.
 * STAGE2PROBE_VARS  comma-separated names for "env" (default TEMP,TMP,PATH,WINDIR)
 * STAGE2PROBE_SLEEP milliseconds to wait before exiting (default 0)
 * STAGE2PROBE_EXIT  exit code (default 0)
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "json_out.h"

static unsigned long Crc32OfFile(const char* path) {
    static unsigned long table[256];
    unsigned char buffer[4096];
    unsigned long crc = 0xFFFFFFFFUL;
    size_t count, i;
    FILE* file = fopen(path, "rb");
    if (!table[1]) {
        unsigned long n, k;
        for (n = 0; n < 256; ++n) {
            unsigned long c = n;
            for (k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    }
    if (!file)
        return 0;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0)
        for (i = 0; i < count; ++i)
            crc = table[(crc ^ buffer[i]) & 0xFF] ^ (crc >> 8);
    fclose(file);
    return crc ^ 0xFFFFFFFFUL;
}

static long long UnixSeconds(FILETIME time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return (long long)(value.QuadPart / 10000000ULL) - 11644473600LL;
}

static void WriteFileEntry(FILE* out, const char* directory, const WIN32_FIND_DATAA* found) {
    char path[MAX_PATH * 2];
    int isDirectory = (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    _snprintf(path, sizeof path, "%s\\%s", directory, found->cFileName);
    fputs("{\"name\":", out);
    WriteJsonString(out, found->cFileName);
    fprintf(out, ",\"size\":%lu,\"mtime\":%lld,\"crc32\":%lu,\"dir\":%s}",
            (unsigned long)found->nFileSizeLow, UnixSeconds(found->ftLastWriteTime),
            isDirectory ? 0UL : Crc32OfFile(path), isDirectory ? "true" : "false");
}

static void WriteFileList(FILE* out, const char* directory) {
    char pattern[MAX_PATH * 2];
    WIN32_FIND_DATAA found;
    HANDLE search;
    int first = 1;
    _snprintf(pattern, sizeof pattern, "%s\\*", directory);
    fputs("[", out);
    search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, ".."))
                continue;
            fputs(first ? "" : ",", out);
            WriteFileEntry(out, directory, &found);
            first = 0;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    fputs("]", out);
}

static void WriteVariables(FILE* out) {
    char names[1024], value[4096];
    char* name;
    int first = 1;
    if (!GetEnvironmentVariableA("STAGE2PROBE_VARS", names, sizeof names))
        strcpy(names, "TEMP,TMP,PATH,WINDIR");
    fputs("{", out);
    for (name = strtok(names, ","); name; name = strtok(NULL, ",")) {
        fputs(first ? "" : ",", out);
        WriteJsonString(out, name);
        fputs(":", out);
        if (GetEnvironmentVariableA(name, value, sizeof value))
            WriteJsonString(out, value);
        else
            fputs("null", out);
        first = 0;
    }
    fputs("}", out);
}

static void WriteArguments(FILE* out, int argc, char** argv) {
    int i;
    fputs("[", out);
    for (i = 0; i < argc; ++i) {
        fputs(i ? "," : "", out);
        WriteJsonString(out, argv[i]);
    }
    fputs("]", out);
}

/* The module's directory, without its trailing backslash. */
static void ModuleDirectory(const char* module, char* directory, size_t size) {
    const char* slash = strrchr(module, '\\');
    size_t length = slash ? (size_t)(slash - module) : 0;
    if (length >= size)
        length = size - 1;
    memcpy(directory, module, length);
    directory[length] = 0;
}

static FILE* OpenReport(const char* moduleDir) {
    char path[MAX_PATH * 2];
    if (!GetEnvironmentVariableA("STAGE2PROBE_REPORT", path, sizeof path))
        _snprintf(path, sizeof path, "%s\\stage2probe.json", moduleDir);
    return fopen(path, "a");
}

static void WriteReport(FILE* out, int argc, char** argv, const char* module,
                        const char* moduleDir) {
    char cwd[MAX_PATH];
    TIME_ZONE_INFORMATION zone;
    OSVERSIONINFOA version;
    STARTUPINFOA startup;
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    GetCurrentDirectoryA(sizeof cwd, cwd);
    GetTimeZoneInformation(&zone);
    fputs("{\"commandline\":", out);
    WriteJsonString(out, GetCommandLineA());
    fputs(",\"argv\":", out);
    WriteArguments(out, argc, argv);
    fputs(",\"module\":", out);
    WriteJsonString(out, module);
    fputs(",\"cwd\":", out);
    WriteJsonString(out, cwd);
    fprintf(out, ",\"tzbias\":%ld,\"winver\":[%lu,%lu,%lu,%lu]", zone.Bias, version.dwMajorVersion,
            version.dwMinorVersion, version.dwBuildNumber & 0xFFFF, version.dwPlatformId);
    fprintf(out, ",\"startup\":[%lu,%u],\"env\":", startup.dwFlags, startup.wShowWindow);
    WriteVariables(out);
    fputs(",\"cwdfiles\":", out);
    WriteFileList(out, cwd);
    fputs(",\"modulefiles\":", out);
    WriteFileList(out, moduleDir);
    fputs("}\n", out);
}

static int NumberFromEnvironment(const char* name) {
    char value[32];
    return GetEnvironmentVariableA(name, value, sizeof value) ? atoi(value) : 0;
}

int main(int argc, char** argv) {
    char module[MAX_PATH], moduleDir[MAX_PATH];
    FILE* out;
    GetModuleFileNameA(NULL, module, sizeof module);
    ModuleDirectory(module, moduleDir, sizeof moduleDir);
    out = OpenReport(moduleDir);
    if (out) {
        WriteReport(out, argc, argv, module, moduleDir);
        fclose(out);
    }
    Sleep((DWORD)NumberFromEnvironment("STAGE2PROBE_SLEEP"));
    return NumberFromEnvironment("STAGE2PROBE_EXIT");
}
