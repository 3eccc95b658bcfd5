#include "stream_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace explode_test {

StreamBuilder::StreamBuilder(uint8_t literalMode, uint8_t dictBits)
    : literalMode_(literalMode), dictBits_(dictBits) {}

void StreamBuilder::PutBits(uint32_t value, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        if (bitCount_ % 8 == 0)
            bits_.push_back(0);
        if ((value >> i) & 1)
            bits_.back() |= (uint8_t)(1u << (bitCount_ % 8));
        bitCount_++;
    }
}

void StreamBuilder::EndToken() {
    tokens_.push_back({bitCount_, expected_.size()});
}

void StreamBuilder::Literal(uint8_t byte) {
    PutBits(0, 1); // flag: literal
    if (literalMode_ == 1)
        PutBits(ASCII_CODES[byte], ASCII_CODE_LENGTHS[byte]);
    else
        PutBits(byte, 8);
    expected_.push_back(byte);
    EndToken();
}

void StreamBuilder::Match(uint32_t length, uint32_t distance) {
    if (length < 2 || length > 518 || distance < 1)
        throw std::invalid_argument("match out of range");
    uint32_t index = 15;
    while (LENGTH_BASE[index] + 2u > length)
        index--;
    PutBits(1, 1); // flag: match
    PutBits(LENGTH_CODES[index], LENGTH_CODE_LENGTHS[index]);
    PutBits(length - 2 - LENGTH_BASE[index], LENGTH_EXTRA_BITS[index]);
    uint32_t lowBits = length == 2 ? 2 : dictBits_;
    uint32_t high = (distance - 1) >> lowBits;
    if (high > 63)
        throw std::invalid_argument("distance out of range");
    PutBits(DISTANCE_CODES[high], DISTANCE_CODE_LENGTHS[high]);
    PutBits((distance - 1) & ((1u << lowBits) - 1), lowBits);
    for (uint32_t i = 0; i < length; i++) {
        size_t size = expected_.size();
        expected_.push_back(distance > size ? 0 : expected_[size - distance]);
    }
    EndToken();
}

void StreamBuilder::EndMarker() {
    PutBits(1, 1);                                      // flag: match
    PutBits(LENGTH_CODES[15], LENGTH_CODE_LENGTHS[15]); // length index 15
    PutBits(0xFF, 8);                                   // extra bits all set
}

std::vector<uint8_t> StreamBuilder::Bytes() const {
    std::vector<uint8_t> out(2 + bits_.size());
    out[0] = literalMode_;
    out[1] = dictBits_;
    std::copy(bits_.begin(), bits_.end(), out.begin() + 2);
    return out;
}

size_t StreamBuilder::DecodedBeforeCut(size_t streamBytes) const {
    // The bit reader keeps at least 8 bits ahead of the bits it has used, so a token ending
    // at bit b of the bit stream needs ceil(b / 8) + 1 of its bytes to complete (and takes
    // no more).
    size_t available = streamBytes < 2 ? 0 : streamBytes - 2;
    size_t decoded = 0;
    for (const TokenEnd& token : tokens_) {
        if ((token.bitEnd + 7) / 8 + 1 > available)
            break;
        decoded = token.decodedBytes;
    }
    return decoded;
}

size_t StreamBuilder::StreamBytesThrough(size_t decoded) const {
    for (const TokenEnd& token : tokens_)
        if (token.decodedBytes >= decoded)
            return 2 + (token.bitEnd + 7) / 8 + 1;
    throw std::invalid_argument("no token reaches that far");
}

uint32_t Harness::Read(uint8_t* buffer, uint32_t* size, void* param) {
    Harness* h = static_cast<Harness*>(param);
    if (!h->reads.empty() && h->reads.back().returned == 0)
        h->readAfterEnd = true;
    size_t want = h->reads.empty() ? h->firstPiece : h->piece;
    size_t count = std::min({want, (size_t)*size, h->stream.size() - h->position});
    std::copy_n(h->stream.begin() + h->position, count, buffer);
    if (count > 0)
        h->lastPiece.assign(buffer, buffer + count);
    h->position += count;
    h->reads.push_back({buffer, *size, (uint32_t)count});
    *size = 1; // explode must not rely on the word after the call
    return (uint32_t)count;
}

void Harness::Write(uint8_t* buffer, uint32_t* size, void* param) {
    Harness* h = static_cast<Harness*>(param);
    h->writes.push_back({buffer, *size, h->reads.size()});
    h->output.insert(h->output.end(), buffer, buffer + *size);
    *size = 0xFFFFFFFF; // explode must ignore what the callback leaves in the word
}

void WorkAreaDeleter::operator()(ExplodeWorkArea* work) const {
    delete work;
}

WorkAreaPtr NewWorkArea(uint8_t fill) {
    WorkAreaPtr work(new ExplodeWorkArea);
    std::memset(work.get(), fill, sizeof(ExplodeWorkArea));
    return work;
}

ExplodeResult RunExplode(Harness& harness, ExplodeWorkArea* work) {
    return explode(Harness::Read, Harness::Write, work, &harness);
}

} // namespace explode_test
