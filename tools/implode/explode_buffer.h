// Runs the explode decoder over a stream held in memory, delivering the input in pieces of
// chosen sizes, as tests, the benchmark and the archive tool need.
#ifndef TOOLS_IMPLODE_EXPLODE_BUFFER_H
#define TOOLS_IMPLODE_EXPLODE_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "explode/explode.h"

struct ExplodePieces {
    uint32_t first = EXPLODE_INPUT_BLOCK_SIZE; // size of the first read
    uint32_t rest = EXPLODE_INPUT_BLOCK_SIZE;  // size of every later read
};

struct ExplodeRun {
    ExplodeResult result;
    uint32_t reads;  // readFn calls, the final one that found no input included
    uint32_t writes; // writeFn calls
    size_t consumed; // stream bytes handed to the decoder
};

// Decodes stream into out (cleared first; appended to by every write). work is reused as
// given, so a caller may keep one work area for many calls.
ExplodeRun ExplodeBuffer(const uint8_t* stream, size_t size, const ExplodePieces& pieces,
                         ExplodeWorkArea* work, std::vector<uint8_t>* out);

#endif
