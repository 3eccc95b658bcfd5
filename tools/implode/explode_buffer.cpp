#include "explode_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

struct BufferState {
    const uint8_t* stream;
    size_t size;
    size_t pos;
    ExplodePieces pieces;
    std::vector<uint8_t>* out;
    uint32_t reads;
    uint32_t writes;
};

uint32_t ReadPiece(uint8_t* buffer, uint32_t* size, void* param) {
    BufferState* s = static_cast<BufferState*>(param);
    uint32_t want = s->reads == 0 ? s->pieces.first : s->pieces.rest;
    want = std::min(want, *size);
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(want, s->size - s->pos));
    std::memcpy(buffer, s->stream + s->pos, n);
    s->pos += n;
    ++s->reads;
    return n;
}

void WritePiece(uint8_t* buffer, uint32_t* size, void* param) {
    BufferState* s = static_cast<BufferState*>(param);
    s->out->insert(s->out->end(), buffer, buffer + *size);
    ++s->writes;
}

} // namespace

ExplodeRun ExplodeBuffer(const uint8_t* stream, size_t size, const ExplodePieces& pieces,
                         ExplodeWorkArea* work, std::vector<uint8_t>* out) {
    out->clear();
    BufferState state = {stream, size, 0, pieces, out, 0, 0};
    ExplodeRun run;
    run.result = explode(ReadPiece, WritePiece, work, &state);
    run.reads = state.reads;
    run.writes = state.writes;
    run.consumed = state.pos;
    return run;
}
