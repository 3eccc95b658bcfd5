// The .LSZ archive container: a 6-byte signature, then members, each a 51-byte header and
// storedSize data bytes. No directory, no count, no end marker: a reader walks from header
// to header until too few bytes remain for another one.
#ifndef UNSQUISH_ARCHIVE_H
#define UNSQUISH_ARCHIVE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    SQ_SIGNATURE_SIZE = 6,
    SQ_HEADER_SIZE = 51,
    SQ_NAME_FIELD_SIZE = 19,
    SQ_METHOD_STORED = 1,
    SQ_METHOD_EXPLODED = 2,
    // Offsets are signed 32-bit: no header may start beyond this.
    SQ_MAX_OFFSET = 0x7FFFFFFF
};

extern const uint8_t SQ_SIGNATURE[SQ_SIGNATURE_SIZE]; // 37 F0 FF FF 00 03

// One member header, decoded field by field from its little-endian bytes.
typedef struct MemberHeader {
    char memberName[SQ_NAME_FIELD_SIZE]; // as stored; NUL-terminated when well formed
    uint32_t storedSize;                 // data bytes after the header
    uint32_t storedCrc;                  // CRC-32 of the stored bytes (exploded members)
    uint16_t dosDate;
    uint16_t dosTime;
    uint16_t method; // 1 stored, 2 exploded, anything else an error
} MemberHeader;

// Byte offsets of the fields inside the 51 header bytes.
enum {
    SQ_OFF_NAME = 4,
    SQ_OFF_STORED_SIZE = 23,
    SQ_OFF_STORED_CRC = 27,
    SQ_OFF_DOS_DATE = 31,
    SQ_OFF_DOS_TIME = 33,
    SQ_OFF_METHOD = 37
};

// 1 when the first six bytes are the archive signature.
int IsArchiveSignature(const uint8_t* bytes, uint32_t count);
void ParseMemberHeader(const uint8_t raw[SQ_HEADER_SIZE], MemberHeader* header);
// Inverse of ParseMemberHeader, for writers: reserved bytes are written as zero.
void FormatMemberHeader(const MemberHeader* header, uint8_t raw[SQ_HEADER_SIZE]);

// 1 when the name can be used as a file name inside the destination directory: it holds a
// NUL within its field, is not empty, is not made of dots and blanks only ("." and ".."
// among them), contains no '\\', '/' or ':', and is
// not a DOS device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, any case, any extension; the
// digit may also be a superscript one to three).
int IsPlainMemberName(const char name[SQ_NAME_FIELD_SIZE]);

// Position of the header that follows a member whose header starts at headerPos, or 0 when
// that position would lie beyond SQ_MAX_OFFSET (the walk then ends).
uint32_t NextHeaderPos(uint32_t headerPos, uint32_t storedSize);

#ifdef __cplusplus
}
#endif

#endif
