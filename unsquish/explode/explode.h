// explode: streaming decoder for the implode format held by method-2 archive members.
//
// The decoder allocates nothing, keeps no global state and uses no C run-time, so the
// same object links into UNSQUISH.DLL, the command-line tool and the native tests.
#ifndef UNSQUISH_EXPLODE_EXPLODE_H
#define UNSQUISH_EXPLODE_EXPLODE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Results of explode (a 32-bit unsigned value).
typedef uint32_t ExplodeResult;
enum {
    EXPLODE_OK = 0,                  // end-of-stream marker decoded, every byte written
    EXPLODE_BAD_DICTIONARY_SIZE = 1, // header byte 1 not 4, 5 or 6; nothing written
    EXPLODE_BAD_LITERAL_MODE = 2,    // header byte 1 valid, byte 0 neither 0 nor 1; nothing written
    EXPLODE_SHORT_INPUT = 3,         // first read delivered 4 bytes or fewer; nothing written
    EXPLODE_INPUT_EXHAUSTED = 4      // input ended before the marker; all decoded bytes written
};

// Callback contract.
//
// readFn(buffer, size, param)
//   explode sets *size to 2048 before every call and always passes the work area's
//   inputBlock as buffer. The callback stores up to *size bytes of the compressed stream,
//   in stream order, and returns how many it stored (never more than 2048); 0 means no
//   input is left. It may lower *size; explode ignores the word afterwards and uses only
//   the returned count. The first call must deliver at least 5 bytes whenever the stream
//   has them: a first delivery of 4 bytes or fewer ends the call with EXPLODE_SHORT_INPUT.
//   After a call that returned 0, readFn is not called again during this explode call.
//
// writeFn(buffer, size, param)
//   Must take exactly *size bytes from buffer; they stay valid only until it returns.
//   explode ignores whatever the callback leaves in *size and learns nothing of write
//   failures (a caller that cares records them in its own param state).
//
// Calling order: one readFn call at the start; then, interleaved as decoding needs them,
// further readFn calls (each time inputBlock is used up and more bits are needed) and
// writeFn calls of exactly 4096 bytes; then one last writeFn call with the bytes still
// pending, which may be 0 bytes. The last call is made for EXPLODE_OK and
// EXPLODE_INPUT_EXHAUSTED only. Every writeFn call passes &outputArea[4096].
// Both callbacks run synchronously on the calling thread, inside explode.
typedef uint32_t (*ExplodeReadFn)(uint8_t* buffer, uint32_t* size, void* param);
typedef void (*ExplodeWriteFn)(uint8_t* buffer, uint32_t* size, void* param);

enum {
    EXPLODE_HISTORY_SIZE = 4096,
    EXPLODE_OUTPUT_AREA_SIZE = 8192 + 517, // history, one pending block, longest match tail
    EXPLODE_INPUT_BLOCK_SIZE = 2048
};

// All state of one decoding call; supplied by the caller, needs no preparation, and may
// serve any number of calls in sequence. explode keeps no pointer to it after returning.
typedef struct ExplodeWorkArea {
    uint32_t literalMode; // header byte 0: 0 binary, 1 ASCII
    uint32_t outputPos;   // next free index in outputArea; 4096..8191 between tokens
    uint32_t dictBits;    // header byte 1: 4, 5 or 6
    uint32_t dictMask;    // (1 << dictBits) - 1
    uint32_t bitBuffer;   // unread stream bits, next bit in bit 0; 8 + extraBits valid bits
    uint32_t extraBits;   // valid bits above the lowest eight (0..7 between tokens)
    uint32_t inputPos;    // next unread byte in inputBlock
    uint32_t inputCount;  // bytes the last read delivered into inputBlock
    void* param;
    ExplodeReadFn readFn;
    ExplodeWriteFn writeFn;
    // 0..4095: history window (the last 4096 bytes handed to writeFn, zeros at the start
    // of every call); from 4096: decoded bytes not yet written; from 8192: the tail of a
    // 518-byte match that starts at the last position below 8192.
    uint8_t outputArea[EXPLODE_OUTPUT_AREA_SIZE];
    uint8_t inputBlock[EXPLODE_INPUT_BLOCK_SIZE];
    uint8_t distanceLookup[256];     // next 8 bits -> distance code index (0..63)
    uint8_t lengthLookup[256];       // next 8 bits -> length code index (0..15)
    uint8_t asciiLookup[256];        // next 8 bits -> literal of a code <= 8 bits, or 255
    uint8_t asciiLookup4[256];       // longer codes, low 6 bits not all zero: bits 4..11
    uint8_t asciiLookup6[128];       // longer codes, low 6 bits zero, low 8 not: bits 6..12
    uint8_t asciiLookup8[256];       // codes whose low 8 bits are zero: bits 8..15
    uint8_t asciiRemainingBits[256]; // per literal, code bits still to drop after the lookup
    uint8_t distanceCodeLengths[64];
    uint8_t lengthCodeLengths[16];
    uint8_t lengthExtraBits[16];
    uint16_t lengthBase[16];
} ExplodeWorkArea;

ExplodeResult explode(ExplodeReadFn readFn, ExplodeWriteFn writeFn, ExplodeWorkArea* work,
                      void* param);

// The format's constant code tables (see explode_tables.cpp for how they are derived).
extern const uint8_t LENGTH_CODE_LENGTHS[16];
extern const uint8_t LENGTH_CODES[16];
extern const uint8_t LENGTH_EXTRA_BITS[16];
extern const uint16_t LENGTH_BASE[16];
extern const uint8_t DISTANCE_CODE_LENGTHS[64];
extern const uint8_t DISTANCE_CODES[64];
extern const uint8_t ASCII_CODE_LENGTHS[256];
extern const uint16_t ASCII_CODES[256];

#ifdef __cplusplus
}
#endif

#endif
