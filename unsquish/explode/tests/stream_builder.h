// Test-only helpers: a bit writer that lays down implode tokens field by field, a model of
// the bytes they decode to, and callbacks that record every call explode makes.
#ifndef UNSQUISH_EXPLODE_TESTS_STREAM_BUILDER_H
#define UNSQUISH_EXPLODE_TESTS_STREAM_BUILDER_H

#include "explode/explode.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace explode_test {

// Writes fields least significant bit first, bytes in order. Tracks, per token, where its
// bits end and how many decoded bytes exist after it, so that tests can predict what a
// stream cut at any length yields.
class StreamBuilder {
  public:
    StreamBuilder(uint8_t literalMode, uint8_t dictBits);

    void PutBits(uint32_t value, uint32_t count);
    void Literal(uint8_t byte);
    void Match(uint32_t length, uint32_t distance);
    void EndMarker();

    // The stream: two header bytes, then the bits padded with zeros to a byte boundary.
    std::vector<uint8_t> Bytes() const;
    // Bytes the tokens so far decode to (a match before the first byte copies zeros).
    const std::vector<uint8_t>& Expected() const { return expected_; }
    // Decoded bytes written when only the first `streamBytes` bytes of Bytes() arrive.
    size_t DecodedBeforeCut(size_t streamBytes) const;
    // Stream bytes (header included) the decoder has taken once it has decoded the token
    // that brings the output to `decoded` bytes or more.
    size_t StreamBytesThrough(size_t decoded) const;

  private:
    void EndToken();

    uint8_t literalMode_;
    uint8_t dictBits_;
    std::vector<uint8_t> bits_; // packed bit stream, without the header
    uint64_t bitCount_ = 0;
    std::vector<uint8_t> expected_;
    struct TokenEnd {
        uint64_t bitEnd;
        size_t decodedBytes;
    };
    std::vector<TokenEnd> tokens_;
};

struct ReadCall {
    uint8_t* buffer;
    uint32_t capacity; // the capacity word as explode set it
    uint32_t returned;
};

struct WriteCall {
    uint8_t* buffer;
    uint32_t size;
    size_t readsBefore; // reads made before this write
};

// Delivers a stream in pieces (first piece, then a fixed size) and records every call.
struct Harness {
    std::vector<uint8_t> stream;
    size_t firstPiece = EXPLODE_INPUT_BLOCK_SIZE;
    size_t piece = EXPLODE_INPUT_BLOCK_SIZE;
    size_t position = 0;
    bool readAfterEnd = false; // a read came after one that returned 0
    std::vector<ReadCall> reads;
    std::vector<WriteCall> writes;
    std::vector<uint8_t> output;
    std::vector<uint8_t> lastPiece; // bytes of the last read that delivered any

    static uint32_t Read(uint8_t* buffer, uint32_t* size, void* param);
    static void Write(uint8_t* buffer, uint32_t* size, void* param);
};

struct WorkAreaDeleter {
    void operator()(ExplodeWorkArea* work) const;
};
using WorkAreaPtr = std::unique_ptr<ExplodeWorkArea, WorkAreaDeleter>;

// A work area whose every byte is `fill`, as stale memory would be.
WorkAreaPtr NewWorkArea(uint8_t fill = 0xAA);

ExplodeResult RunExplode(Harness& harness, ExplodeWorkArea* work);

} // namespace explode_test

#endif
