// Extraction over the platform layer: what SQExtractFile does, with every file, memory and
// message operation going through an SqSystem table.
#ifndef UNSQUISH_EXTRACT_H
#define UNSQUISH_EXTRACT_H

#include <stdint.h>
#include "sqsystem.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { SQ_PATH_SIZE = 256 }; // every path formed holds at most 255 characters

// Unpacks the archive sourceDir\fileName (".LSZ" appended when the name has no extension of
// up to three characters) into destDir, or, when that file is not an archive, copies it
// whole to destDir\altName. Empty directories mean the current directory; trailing
// backslashes are optional. Every failure is reported through sys->message first.
// Returns 1 when the archive was walked to its end (even when members failed their check)
// or the copy was made, else 0.
int32_t SqExtract(SqSystem* sys, const char* sourceDir, const char* destDir, const char* fileName,
                  const char* altName);

// Joins dir and name into out (SQ_PATH_SIZE bytes): name alone when dir is empty, else dir,
// a backslash unless dir ends in one, then name. Returns 0 and leaves out alone when name
// is empty or the result would not fit.
int MakePath(char* out, const char* dir, const char* name);

// Appends ".LSZ" when path has no "." or its last "." starts more than 4 characters from
// the end. Returns 0 when the result would not fit in SQ_PATH_SIZE bytes.
int ApplyArchiveExtension(char* path);

#ifdef __cplusplus
}
#endif

#endif
