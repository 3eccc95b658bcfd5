// The platform layer under the archive reader: a small table of I/O and user-interface
// operations handed to the portable core, so that the same extraction code runs inside
// UNSQUISH.DLL (Win32 file API and message boxes), in the command-line tool (POSIX) and in
// native tests (memory files, fault injection).
#ifndef UNSQUISH_SQSYSTEM_H
#define UNSQUISH_SQSYSTEM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SqFile SqFile; // opaque; each platform layer defines its own

// Every operation gets the table itself first, so a platform layer can embed SqSystem at the
// start of a larger record of its own (owner window, test counters...) and cast back.
typedef struct SqSystem {
    // Opens an existing file for reading, sharing read access with others.
    // Returns null when it cannot be opened.
    SqFile* (*openRead)(struct SqSystem* sys, const char* path);
    // Prepares and opens an output file: an existing file first gets normal attributes (so a
    // read-only, hidden or system file can be overwritten), then it is opened for reading and
    // writing, created when missing, positioned at byte 0. Returns null on failure.
    SqFile* (*openOutput)(struct SqSystem* sys, const char* path);
    // Reads up to size bytes at the current position. Returns the count read (0 at the end
    // of the file) or -1 when the read fails.
    int32_t (*read)(struct SqSystem* sys, SqFile* file, void* buffer, uint32_t size);
    // Writes size bytes at the current position. Returns 1 when all were written, else 0.
    int (*write)(struct SqSystem* sys, SqFile* file, const void* buffer, uint32_t size);
    // Moves to an absolute offset (0 to 0x7FFFFFFF). Returns 1 on success, else 0.
    int (*seek)(struct SqSystem* sys, SqFile* file, uint32_t offset);
    // Cuts the file at its current position. Returns 1 on success, else 0.
    int (*truncate)(struct SqSystem* sys, SqFile* file);
    // Sets the last-write time from an MS-DOS date and time, taken as they stand (no
    // local-to-UTC conversion), leaving creation and last-access times alone.
    // Returns 1 on success, 0 when the platform rejects the pair.
    int (*setDosTime)(struct SqSystem* sys, SqFile* file, uint16_t dosDate, uint16_t dosTime);
    void (*close)(struct SqSystem* sys, SqFile* file);
    // Free store for the decoder's work area. alloc returns null when memory is short.
    void* (*alloc)(struct SqSystem* sys, uint32_t size);
    void (*free)(struct SqSystem* sys, void* block);
    // Reports a failure to the user: text textId (13500 to 13505) with its one "%s" filled
    // from arg, captioned 13502. Returns when the user has dismissed it.
    void (*message)(struct SqSystem* sys, uint32_t textId, const char* arg);
} SqSystem;

// Text ids of the library's string table.
enum {
    SQ_MSG_CANNOT_OPEN_SOURCE = 13500,
    SQ_MSG_CANNOT_CREATE_OUTPUT = 13501,
    SQ_MSG_CAPTION = 13502,
    SQ_MSG_INTERNAL_ERROR = 13504,
    SQ_MSG_OUT_OF_MEMORY = 13505
};

#ifdef __cplusplus
}
#endif

#endif
