#include "archive_builder.h"

#include "archive.h"
#include "crc32.h"

Bytes BuildArchive(const std::vector<MemberSpec>& members, const Bytes& trailing) {
    Bytes out(SQ_SIGNATURE, SQ_SIGNATURE + SQ_SIGNATURE_SIZE);
    for (const MemberSpec& m : members) {
        MemberHeader h = {};
        for (size_t i = 0; i < m.name.size() && i < SQ_NAME_FIELD_SIZE; ++i)
            h.memberName[i] = m.name[i];
        h.storedSize = m.sizeOverride >= 0 ? (uint32_t)m.sizeOverride : (uint32_t)m.data.size();
        uint32_t crc = ~UpdateCrc32(m.data.data(), (uint32_t)m.data.size(), 0xFFFFFFFFu);
        h.storedCrc = m.wrongCrc ? ~crc : crc;
        h.dosDate = m.dosDate;
        h.dosTime = m.dosTime;
        h.method = m.method;
        uint8_t raw[SQ_HEADER_SIZE];
        FormatMemberHeader(&h, raw);
        out.insert(out.end(), raw, raw + SQ_HEADER_SIZE);
        out.insert(out.end(), m.data.begin(), m.data.end());
    }
    out.insert(out.end(), trailing.begin(), trailing.end());
    return out;
}

namespace {
struct BitWriter {
    Bytes out;
    uint32_t bits = 0;
    int count = 0;
    void put(uint32_t value, int n) { // least significant bit first
        for (int i = 0; i < n; ++i) {
            bits |= ((value >> i) & 1u) << count;
            if (++count == 8) {
                out.push_back((uint8_t)bits);
                bits = 0;
                count = 0;
            }
        }
    }
    void flush() {
        if (count)
            out.push_back((uint8_t)bits);
        count = 0;
        bits = 0;
    }
};
} // namespace

Bytes LiteralStream(const std::string& text) {
    BitWriter w;
    w.out = {0, 6}; // binary literals, 4 KiB window
    for (unsigned char c : text) {
        w.put(0, 1); // literal flag
        w.put(c, 8);
    }
    w.put(1, 1);    // match flag
    w.put(0, 7);    // length code 15 (code 0x00, 7 bits)
    w.put(0xFF, 8); // extra bits 255: the end-of-stream marker
    w.flush();
    return w.out;
}
