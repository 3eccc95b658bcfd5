#include "paths.h"

#include "context.h"
#include "text.h"

char* AppendBackslash(char* path) {
    int n = TextLength(path);
    if ((n == 0 || path[n - 1] != '\\') && n + 1 < SETUP_PATH_SIZE) {
        path[n] = '\\';
        path[n + 1] = 0;
    }
    return path;
}

char* JoinPath(char* out, const char* dir, const char* name) {
    char joined[SETUP_PATH_SIZE];
    int fits;
    if (dir[0] == 0) {
        fits = CopyText(joined, sizeof joined, name);
    } else if (name[0] == 0) {
        fits = CopyText(joined, sizeof joined, dir);
    } else {
        int n = TextLength(dir);
        fits = CopyText(joined, sizeof joined, dir) &&
               (dir[n - 1] == '\\' || AppendText(joined, sizeof joined, "\\")) &&
               AppendText(joined, sizeof joined, name);
    }
    // out may be dir or name itself, so it is written only once the result is known.
    if (!fits) {
        out[0] = 0;
        return 0;
    }
    CopyText(out, SETUP_PATH_SIZE, joined);
    return out;
}

char* SplitPath(char* out, const char* path, int selector) {
    char copy[SETUP_PATH_SIZE];
    CopyText(copy, sizeof copy, path);
    const char* extension = "";
    int lastDot = -1;
    for (int i = 0; copy[i] != 0; ++i) {
        if (copy[i] == '.')
            lastDot = i;
    }
    if (lastDot >= 0) {
        copy[lastDot] = 0;
        extension = copy + lastDot + 1;
    }
    int lastSlash = -1;
    for (int i = 0; copy[i] != 0; ++i) {
        if (copy[i] == '\\')
            lastSlash = i;
    }
    const char* baseName = copy;
    const char* directory = "";
    if (lastSlash >= 0) {
        copy[lastSlash] = 0;
        baseName = copy + lastSlash + 1;
        directory = copy;
    }
    if (selector & SPLIT_BASE_NAME)
        CopyText(out, SETUP_PATH_SIZE, baseName);
    else if (selector & SPLIT_EXTENSION)
        CopyText(out, SETUP_PATH_SIZE, extension);
    else if (selector & SPLIT_DIRECTORY)
        CopyText(out, SETUP_PATH_SIZE, directory);
    return out;
}
