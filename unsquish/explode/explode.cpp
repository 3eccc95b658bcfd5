// explode: decoder for the implode format (fixed prefix codes, LZ77 window of up to 4 KB).
//
// Free-standing: no run-time library, no allocation, no writable globals. All state lives in
// the caller's ExplodeWorkArea; the constant code tables are only read.
#include "explode/explode.h"

namespace {

enum {
    SYMBOL_MATCH_BASE = 256,           // symbols 256..772 are matches of length symbol - 254
    SYMBOL_END_OF_STREAM = 773,        // length index 15 with all eight extra bits set
    SYMBOL_INPUT_EXHAUSTED = 774,      // a read returned 0 while bits were still needed
    END_MARKER_INDEX_PLUS_EXTRA = 270, // 15 + 255: the marker's length index and extra bits
    FLUSH_SIZE = 4096,
    FLUSH_LIMIT = 8192
};

} // namespace

// Discards n (1..8) bits. Takes at most one byte, and reads a new input block only when the
// current one is used up and the bits are really needed. Returns 0 when the input has ended.
static int DropBits(ExplodeWorkArea* work, uint32_t n) {
    if (work->extraBits >= n) {
        work->bitBuffer >>= n;
        work->extraBits -= n;
        return 1;
    }
    uint32_t k = work->extraBits;
    if (work->inputPos == work->inputCount) {
        uint32_t capacity = EXPLODE_INPUT_BLOCK_SIZE;
        work->inputCount = work->readFn(work->inputBlock, &capacity, work->param);
        if (work->inputCount == 0)
            return 0; // bit reader untouched; decoding ends here
        work->inputPos = 0;
    }
    work->bitBuffer >>= k;
    uint32_t byte = work->inputBlock[work->inputPos++];
    work->bitBuffer = ((byte << 8) + work->bitBuffer) >> (n - k);
    work->extraBits = k - n + 8;
    return 1;
}

// Fills a 256-entry lookup so that every 8-bit value maps to the symbol whose code it starts
// with. Codes are stored with their first bit in bit 0, so a code of length L owns every
// index congruent to it modulo 2^L.
static void BuildLookup(uint32_t count, const uint8_t* lengths, const uint8_t* codes,
                        uint8_t* table) {
    for (uint32_t symbol = count; symbol-- > 0;) {
        uint32_t step = 1u << lengths[symbol];
        for (uint32_t index = codes[symbol]; index < 256; index += step)
            table[index] = (uint8_t)symbol;
    }
}

static void FillStrided(uint8_t* table, uint32_t size, uint32_t start, uint32_t step,
                        uint8_t value) {
    for (uint32_t index = start; index < size; index += step)
        table[index] = value;
}

// Builds the literal lookups of ASCII mode. Codes of up to 8 bits resolve in asciiLookup.
// A longer code is split by where its low bits leave room: if its low 6 bits are nonzero, its
// low 8 bits mark it in asciiLookup and bits 4..11 resolve it in asciiLookup4; if only the
// low 8 bits are nonzero, bits 6..12 resolve it in asciiLookup6; if its low 8 bits are zero,
// bits 8..15 resolve it in asciiLookup8. asciiRemainingBits (holding the full lengths on
// entry) becomes the count still to drop after the lookup that finds each literal.
static void BuildAsciiLookups(ExplodeWorkArea* work) {
    for (uint32_t c = 256; c-- > 0;) {
        uint32_t length = work->asciiRemainingBits[c];
        uint32_t code = ASCII_CODES[c];
        if (length <= 8) {
            FillStrided(work->asciiLookup, 256, code, 1u << length, (uint8_t)c);
        } else if ((code & 0xFF) != 0) {
            work->asciiLookup[code & 0xFF] = 255;
            if ((code & 0x3F) != 0) {
                work->asciiRemainingBits[c] = (uint8_t)(length - 4);
                FillStrided(work->asciiLookup4, 256, code >> 4, 1u << (length - 4), (uint8_t)c);
            } else {
                work->asciiRemainingBits[c] = (uint8_t)(length - 6);
                FillStrided(work->asciiLookup6, 128, code >> 6, 1u << (length - 6), (uint8_t)c);
            }
        } else {
            work->asciiRemainingBits[c] = (uint8_t)(length - 8);
            FillStrided(work->asciiLookup8, 256, code >> 8, 1u << (length - 8), (uint8_t)c);
        }
    }
}

static uint32_t DecodeAsciiLiteral(ExplodeWorkArea* work) {
    uint32_t low = work->bitBuffer & 0xFF;
    uint32_t c;
    if (low == 0) {
        if (!DropBits(work, 8))
            return SYMBOL_INPUT_EXHAUSTED;
        c = work->asciiLookup8[work->bitBuffer & 0xFF];
    } else {
        c = work->asciiLookup[low];
        if (c == 255) { // marker: the code is longer than 8 bits
            if ((work->bitBuffer & 0x3F) != 0) {
                if (!DropBits(work, 4))
                    return SYMBOL_INPUT_EXHAUSTED;
                c = work->asciiLookup4[work->bitBuffer & 0xFF];
            } else {
                if (!DropBits(work, 6))
                    return SYMBOL_INPUT_EXHAUSTED;
                c = work->asciiLookup6[work->bitBuffer & 0x7F];
            }
        }
    }
    if (!DropBits(work, work->asciiRemainingBits[c]))
        return SYMBOL_INPUT_EXHAUSTED;
    return c;
}

// Returns a literal byte (0..255), a match length + 254 (256..772), the end-of-stream
// marker or SYMBOL_INPUT_EXHAUSTED.
static uint32_t DecodeLiteralOrLength(ExplodeWorkArea* work) {
    if (work->bitBuffer & 1) {
        if (!DropBits(work, 1))
            return SYMBOL_INPUT_EXHAUSTED;
        uint32_t index = work->lengthLookup[work->bitBuffer & 0xFF];
        if (!DropBits(work, work->lengthCodeLengths[index]))
            return SYMBOL_INPUT_EXHAUSTED;
        uint32_t n = work->lengthExtraBits[index];
        if (n == 0)
            return SYMBOL_MATCH_BASE + index;
        uint32_t extra = work->bitBuffer & ((1u << n) - 1);
        // The marker's eight extra bits always need one more byte, and a stream may end
        // right after them: no byte to take is then no error.
        if (!DropBits(work, n) && index + extra != END_MARKER_INDEX_PLUS_EXTRA)
            return SYMBOL_INPUT_EXHAUSTED;
        return SYMBOL_MATCH_BASE + work->lengthBase[index] + extra;
    }
    if (!DropBits(work, 1))
        return SYMBOL_INPUT_EXHAUSTED;
    if (work->literalMode == 1)
        return DecodeAsciiLiteral(work);
    uint32_t c = work->bitBuffer & 0xFF;
    if (!DropBits(work, 8))
        return SYMBOL_INPUT_EXHAUSTED;
    return c;
}

// Returns the match distance (1..4096), or 0 when the input ended. Matches of length 2 carry
// only 2 low bits, whatever the dictionary size.
static uint32_t DecodeDistance(ExplodeWorkArea* work, uint32_t length) {
    uint32_t index = work->distanceLookup[work->bitBuffer & 0xFF];
    if (!DropBits(work, work->distanceCodeLengths[index]))
        return 0;
    uint32_t distance;
    if (length == 2) {
        distance = (index << 2) + (work->bitBuffer & 3);
        if (!DropBits(work, 2))
            return 0;
    } else {
        distance = (index << work->dictBits) + (work->bitBuffer & work->dictMask);
        if (!DropBits(work, work->dictBits))
            return 0;
    }
    return distance + 1;
}

static void WriteOutput(ExplodeWorkArea* work, uint32_t count) {
    uint32_t size = count;
    work->writeFn(&work->outputArea[FLUSH_SIZE], &size, work->param);
}

// Hands a full block to writeFn and slides it, with any overhang, down into the history.
static void FlushBlock(ExplodeWorkArea* work) {
    WriteOutput(work, FLUSH_SIZE);
    uint8_t* area = work->outputArea;
    uint32_t end = work->outputPos;
    for (uint32_t i = FLUSH_SIZE; i < end; i++)
        area[i - FLUSH_SIZE] = area[i]; // ascending order: safe for the overlapping tail
    work->outputPos = end - FLUSH_SIZE;
}

static void CopyMatch(ExplodeWorkArea* work, uint32_t length, uint32_t distance) {
    uint8_t* area = work->outputArea;
    uint32_t pos = work->outputPos;
    // One byte at a time in ascending order, so a short distance repeats a pattern.
    for (uint32_t i = 0; i < length; i++)
        area[pos + i] = area[pos + i - distance];
    work->outputPos = pos + length;
}

static uint32_t DecodeStream(ExplodeWorkArea* work) {
    uint32_t symbol;
    work->outputPos = FLUSH_SIZE;
    for (;;) {
        symbol = DecodeLiteralOrLength(work);
        if (symbol >= SYMBOL_END_OF_STREAM)
            break;
        if (symbol < SYMBOL_MATCH_BASE) {
            work->outputArea[work->outputPos++] = (uint8_t)symbol;
        } else {
            uint32_t length = symbol - 254;
            uint32_t distance = DecodeDistance(work, length);
            if (distance == 0) {
                symbol = SYMBOL_INPUT_EXHAUSTED;
                break;
            }
            CopyMatch(work, length, distance);
        }
        if (work->outputPos >= FLUSH_LIMIT)
            FlushBlock(work);
    }
    WriteOutput(work, work->outputPos - FLUSH_SIZE);
    return symbol;
}

static void CopyBytes(uint8_t* to, const uint8_t* from, uint32_t count) {
    for (uint32_t i = 0; i < count; i++)
        to[i] = from[i];
}

// A match that reaches back before the first byte of this call must copy zeros, never bytes
// of an earlier member or stale memory.
static void ClearHistory(ExplodeWorkArea* work) {
    for (uint32_t i = 0; i < EXPLODE_HISTORY_SIZE; i++)
        work->outputArea[i] = 0;
}

static void PrepareTables(ExplodeWorkArea* work) {
    CopyBytes(work->lengthCodeLengths, LENGTH_CODE_LENGTHS, 16);
    BuildLookup(16, work->lengthCodeLengths, LENGTH_CODES, work->lengthLookup);
    CopyBytes(work->lengthExtraBits, LENGTH_EXTRA_BITS, 16);
    for (uint32_t i = 0; i < 16; i++)
        work->lengthBase[i] = LENGTH_BASE[i];
    CopyBytes(work->distanceCodeLengths, DISTANCE_CODE_LENGTHS, 64);
    BuildLookup(64, work->distanceCodeLengths, DISTANCE_CODES, work->distanceLookup);
}

extern "C" ExplodeResult explode(ExplodeReadFn readFn, ExplodeWriteFn writeFn,
                                 ExplodeWorkArea* work, void* param) {
    ClearHistory(work);
    work->readFn = readFn;
    work->writeFn = writeFn;
    work->param = param;
    uint32_t capacity = EXPLODE_INPUT_BLOCK_SIZE;
    work->inputCount = readFn(work->inputBlock, &capacity, param);
    if (work->inputCount <= 4)
        return EXPLODE_SHORT_INPUT;
    work->literalMode = work->inputBlock[0];
    work->dictBits = work->inputBlock[1];
    work->bitBuffer = work->inputBlock[2];
    work->extraBits = 0;
    work->inputPos = 3;
    if (work->dictBits < 4 || work->dictBits > 6)
        return EXPLODE_BAD_DICTIONARY_SIZE;
    work->dictMask = (1u << work->dictBits) - 1;
    if (work->literalMode == 1) {
        CopyBytes(work->asciiRemainingBits, ASCII_CODE_LENGTHS, 256);
        BuildAsciiLookups(work);
    } else if (work->literalMode != 0) {
        return EXPLODE_BAD_LITERAL_MODE;
    }
    PrepareTables(work);
    if (DecodeStream(work) == SYMBOL_INPUT_EXHAUSTED)
        return EXPLODE_INPUT_EXHAUSTED;
    return EXPLODE_OK;
}
