// The archive reader's platform layer on POSIX: real files, stderr for messages. Used by
// the command-line tool and by native tests that extract into a temporary directory.
#ifndef UNSQUISH_POSIX_SYSTEM_H
#define UNSQUISH_POSIX_SYSTEM_H

#include <stdint.h>

#include "sqsystem.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct PosixSystem {
    SqSystem sys; // first, so the table's pointer is the record's pointer
    // Called for each reported failure with the text's id and the formatted text; when null,
    // the text is printed to stderr. Lets a tool or a test collect messages.
    void (*onMessage)(void* user, uint32_t textId, const char* text);
    void* user;
    // The file open for reading (the source), which stays open while outputs are written.
    // An output that is that same file is refused, as Windows refuses to open a file for
    // writing while it is open with read sharing only.
    int sourceOpen;
    uint64_t sourceDevice;
    uint64_t sourceInode;
} PosixSystem;

void InitPosixSystem(PosixSystem* posix);

// The library's message texts ("%s" not filled), or null for an unknown id.
const char* SqMessageFormat(uint32_t textId);

#ifdef __cplusplus
}
#endif

#endif
