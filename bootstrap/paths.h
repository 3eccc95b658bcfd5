// Path helpers shared by every step of the bootstrap. Paths are ANSI text in 256-byte
// buffers (at most 255 characters).
#ifndef BOOTSTRAP_PATHS_H
#define BOOTSTRAP_PATHS_H

enum { SPLIT_BASE_NAME = 1, SPLIT_EXTENSION = 2, SPLIT_DIRECTORY = 4 };

// Appends a backslash unless path already ends in one; path is a 256-byte buffer and is
// never empty. Returns path. A full 255-character path is left as it is.
char* AppendBackslash(char* path);

// Writes dir and name into out (256 bytes): an empty dir gives name, an empty name gives
// dir, otherwise dir, one backslash unless dir ends in one, then name. Returns out, or null
// when the result would not fit in 255 characters; out is then empty, so a path is never
// cut into another one.
char* JoinPath(char* out, const char* dir, const char* name);

// Copies one part of path into out (256 bytes): the last "." begins the extension and the
// path is cut there; the last backslash of the rest separates the directory (without the
// backslash) from the base name. Selector bit 1 gives the base name, else bit 2 the
// extension, else bit 4 the directory; with none of them out is left unchanged.
char* SplitPath(char* out, const char* path, int selector);

#endif
