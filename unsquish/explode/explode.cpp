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

// Machine words move bytes in bulk and hold the fast path's bit buffer.
#ifdef EXPLODE_NARROW_BIT_WORD
typedef uint32_t BitWord; // lets a 64-bit host test the path 32-bit targets take
#else
typedef uintptr_t BitWord;
#endif
enum {
    WORD_BYTES = sizeof(BitWord),
    WORD_BITS = 8 * sizeof(BitWord),
    REFILL_BITS = WORD_BITS - 8 // a fast-path refill leaves at least this many valid bits
};

// Word access at any address: the type tells the compiler that it may be unaligned and may
// alias the bytes around it.
typedef BitWord __attribute__((__may_alias__, __aligned__(1))) UnalignedWord;

static inline BitWord LoadWord(const uint8_t* from) {
    return *(const UnalignedWord*)from;
}

static inline void StoreWord(uint8_t* to, BitWord word) {
    *(UnalignedWord*)to = word;
}

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
    // Ascending whole words: safe for the overlapping tail, as the ranges lie 4096 apart. The
    // last word may carry up to a word's worth of bytes past `end`, all inside the work area,
    // into positions that are written before they are ever read.
    for (uint32_t i = FLUSH_SIZE; i < end; i += WORD_BYTES)
        StoreWord(area + i - FLUSH_SIZE, LoadWord(area + i));
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

// Decodes one token through the exact bit reader and stores its bytes. Used where the
// input block is nearly used up, so that reads happen exactly when bits are needed.
static uint32_t DecodeTokenCarefully(ExplodeWorkArea* work) {
    uint32_t symbol = DecodeLiteralOrLength(work);
    if (symbol >= SYMBOL_END_OF_STREAM)
        return symbol;
    if (symbol < SYMBOL_MATCH_BASE) {
        work->outputArea[work->outputPos++] = (uint8_t)symbol;
    } else {
        uint32_t length = symbol - 254;
        uint32_t distance = DecodeDistance(work, length);
        if (distance == 0)
            return SYMBOL_INPUT_EXHAUSTED;
        CopyMatch(work, length, distance);
    }
    if (work->outputPos >= FLUSH_LIMIT)
        FlushBlock(work);
    return symbol;
}

// ---- Fast path ------------------------------------------------------------------------------
//
// While the input block holds a whole machine word beyond the bytes in use, tokens are decoded
// from a word-wide bit buffer held in locals, and no read can be due. A refill leaves at least
// 56 valid bits in a 64-bit word and a token takes at most 30; a 32-bit word keeps 24 and is
// refilled again before the distance, as no part of a token (literal; flag, length code and
// extra bits; distance code and low bits) takes more than 16. So after every token the word
// still holds the byte that the exact reader would have taken ahead of it. On leaving, the
// exact reader's state (8 to 15 valid bits and the matching input position) is rebuilt, and
// the careful path takes over for the last few bytes of each block.

enum {
    RUN_LEFT = 0 // the fast run stopped between tokens; input is short
};

// Copies a match. Whole words move when the distance is at least a word (so each word read
// is already final) and the last word stays inside outputArea; otherwise bytes move one at
// a time, which repeats a pattern when the distance is shorter than the length.
static inline void CopyMatchFast(uint8_t* area, uint32_t pos, uint32_t length, uint32_t distance) {
    uint8_t* to = area + pos;
    const uint8_t* from = to - distance;
    if (distance >= WORD_BYTES && pos + length + WORD_BYTES <= EXPLODE_OUTPUT_AREA_SIZE) {
        for (uint32_t i = 0; i < length; i += WORD_BYTES)
            StoreWord(to + i, LoadWord(from + i));
    } else if (distance == 1) {
        uint8_t byte = *from;
        for (uint32_t i = 0; i < length; i++)
            to[i] = byte;
    } else {
        for (uint32_t i = 0; i < length; i++)
            to[i] = from[i];
    }
}

struct FastBits {
    BitWord bits;      // next bit in bit 0; bits above `count` are stream bits or zeros
    uint32_t count;    // valid bits
    const uint8_t* in; // next byte not yet in `bits`
};

static inline void Refill(FastBits* r) {
    r->bits |= LoadWord(r->in) << r->count;
    r->in += (WORD_BITS - 1 - r->count) >> 3;
    r->count |= REFILL_BITS;
}

static inline void Consume(FastBits* r, uint32_t n) {
    r->bits >>= n;
    r->count -= n;
}

// The long ASCII codes (more than 8 bits, or starting with 8 zero bits), through the
// secondary lookups. The flag bit is still in bit 0.
static inline uint32_t FastLongAsciiLiteral(const ExplodeWorkArea* work, FastBits* r) {
    uint32_t low = (uint32_t)(r->bits >> 1) & 0xFF;
    uint32_t c;
    uint32_t used;
    if (low == 0) {
        c = work->asciiLookup8[(r->bits >> 9) & 0xFF];
        used = 9;
    } else if ((low & 0x3F) != 0) {
        c = work->asciiLookup4[(r->bits >> 5) & 0xFF];
        used = 5;
    } else {
        c = work->asciiLookup6[(r->bits >> 7) & 0x7F];
        used = 7;
    }
    Consume(r, used + work->asciiRemainingBits[c]);
    return c;
}

// Tables the fast path builds on the stack at every call, so that one load resolves the
// next token's start and one more a distance code.
//
// tokenTable, indexed by the next 9 bits (flag bit first):
//   literal whose whole token fits in 9 bits:  byte | bits << 16
//   match: TOKEN_MATCH | (base + 2) | (flag + code bits) << 16 | extra bits << 20
//   TOKEN_LONG_LITERAL: an ASCII code longer than 8 bits, decoded through the lookups
// distanceTable, indexed by the next 8 bits: code index | code bits << 8
enum {
    TOKEN_TABLE_SIZE = 512,
    TOKEN_MATCH = 1u << 30,
    TOKEN_LONG_LITERAL = 1u << 31,
    END_OF_STREAM_LENGTH = 519 // length index 15 with all eight extra bits set
};

struct FastTables {
    uint32_t token[TOKEN_TABLE_SIZE];
    uint16_t distance[256];
};

static uint32_t TokenEntry(const ExplodeWorkArea* work, uint32_t next9) {
    uint32_t low = next9 >> 1;
    if (next9 & 1) {
        uint32_t i = work->lengthLookup[low];
        return TOKEN_MATCH | (work->lengthBase[i] + 2u) |
               (uint32_t)(1 + work->lengthCodeLengths[i]) << 16 |
               (uint32_t)work->lengthExtraBits[i] << 20;
    }
    if (work->literalMode == 0)
        return low | 9u << 16;
    if (low == 0 || work->asciiLookup[low] == 255)
        return TOKEN_LONG_LITERAL;
    uint32_t c = work->asciiLookup[low];
    return c | (uint32_t)(1 + work->asciiRemainingBits[c]) << 16;
}

static void BuildFastTables(const ExplodeWorkArea* work, FastTables* tables) {
    for (uint32_t next9 = 0; next9 < TOKEN_TABLE_SIZE; next9++)
        tables->token[next9] = TokenEntry(work, next9);
    for (uint32_t next8 = 0; next8 < 256; next8++) {
        uint32_t code = work->distanceLookup[next8];
        tables->distance[next8] = (uint16_t)(code | work->distanceCodeLengths[code] << 8);
    }
}

// Decodes tokens while the input block has a word to spare. Returns SYMBOL_END_OF_STREAM
// when it decoded the marker, else RUN_LEFT with the exact reader's state restored.
static uint32_t DecodeRun(ExplodeWorkArea* work, const FastTables* tables) {
    if (work->inputCount < WORD_BYTES + work->inputPos)
        return RUN_LEFT;
    FastBits r;
    r.bits = work->bitBuffer;
    r.count = 8 + work->extraBits;
    r.in = work->inputBlock + work->inputPos;
    const uint8_t* lastLoad = work->inputBlock + work->inputCount - WORD_BYTES;
    uint8_t* area = work->outputArea;
    uint32_t pos = work->outputPos;
    uint32_t dictBits = work->dictBits;
    uint32_t result = RUN_LEFT;
    while (r.in <= lastLoad) {
        Refill(&r);
        uint32_t entry = tables->token[r.bits & (TOKEN_TABLE_SIZE - 1)];
        if ((entry & (TOKEN_MATCH | TOKEN_LONG_LITERAL)) == 0) {
            area[pos++] = (uint8_t)entry;
            Consume(&r, entry >> 16);
        } else if (entry & TOKEN_LONG_LITERAL) {
            area[pos++] = (uint8_t)FastLongAsciiLiteral(work, &r);
        } else {
            uint32_t used = (entry >> 16) & 0xF;
            uint32_t extra = (entry >> 20) & 0xF;
            uint32_t length = (entry & 0x3FF) + ((uint32_t)(r.bits >> used) & ((1u << extra) - 1));
            Consume(&r, used + extra);
            if (length == END_OF_STREAM_LENGTH) {
                result = SYMBOL_END_OF_STREAM;
                break;
            }
            if (WORD_BITS < 64)
                Refill(&r); // a narrow word may not hold the distance as well
            uint32_t code = tables->distance[r.bits & 0xFF];
            Consume(&r, code >> 8);
            uint32_t lowBits = length == 2 ? 2 : dictBits;
            uint32_t distance =
                ((code & 0xFF) << lowBits) + ((uint32_t)r.bits & ((1u << lowBits) - 1)) + 1;
            Consume(&r, lowBits);
            CopyMatchFast(area, pos, length, distance);
            pos += length;
        }
        if (pos >= FLUSH_LIMIT) {
            work->outputPos = pos;
            FlushBlock(work);
            pos = work->outputPos;
        }
    }
    // The exact reader holds 8 + (count mod 8) valid bits and has taken every byte before
    // them, no more.
    uint32_t valid = 8 + (r.count & 7);
    work->bitBuffer = (uint32_t)(r.bits & ((1u << valid) - 1));
    work->extraBits = valid - 8;
    work->inputPos = (uint32_t)(r.in - work->inputBlock) - (r.count - valid) / 8;
    work->outputPos = pos;
    return result;
}

static uint32_t DecodeStream(ExplodeWorkArea* work) {
    FastTables tables;
    BuildFastTables(work, &tables);
    uint32_t symbol;
    work->outputPos = FLUSH_SIZE;
    for (;;) {
        if (DecodeRun(work, &tables) == SYMBOL_END_OF_STREAM) {
            symbol = SYMBOL_END_OF_STREAM;
            break;
        }
        symbol = DecodeTokenCarefully(work);
        if (symbol >= SYMBOL_END_OF_STREAM)
            break;
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
    for (uint32_t i = 0; i < EXPLODE_HISTORY_SIZE; i += WORD_BYTES)
        StoreWord(work->outputArea + i, 0);
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
