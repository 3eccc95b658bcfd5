// Builds archives byte by byte for the reader's tests, independent of the real writer, so
// that malformed archives (bad names, wrong CRCs, huge sizes, unknown methods) are easy.
#ifndef UNSQUISH_TESTS_ARCHIVE_BUILDER_H
#define UNSQUISH_TESTS_ARCHIVE_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct MemberSpec {
    std::string name;          // copied into the 19-byte field; 19 characters leave no NUL
    uint16_t method;           // 1 stored, 2 exploded, anything else as given
    Bytes data;                // the stored bytes exactly as they lie in the archive
    uint16_t dosDate = 0x1E21; // 1 January 1995
    uint16_t dosTime = 0x6000; // 12:00:00
    bool wrongCrc = false;     // store the complement of the real CRC
    int64_t sizeOverride = -1; // storedSize to write instead of data.size()
};

Bytes BuildArchive(const std::vector<MemberSpec>& members, const Bytes& trailing = {});

// An explode stream that holds text as binary-mode literals only, then the end marker.
Bytes LiteralStream(const std::string& text);

inline Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

#endif
