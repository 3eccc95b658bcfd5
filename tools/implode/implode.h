// implode: writer of the explode stream format, for preparing archive members and for
// testing the decoder. Everything works on whole buffers in memory; setup media files are
// small enough that streaming would buy nothing.
#ifndef TOOLS_IMPLODE_IMPLODE_H
#define TOOLS_IMPLODE_IMPLODE_H

#include <cstddef>
#include <cstdint>
#include <vector>

enum ImplodeLiteralMode {
    IMPLODE_LITERAL_AUTO = -1, // pick by the data (see ChooseLiteralMode)
    IMPLODE_LITERAL_BINARY = 0,
    IMPLODE_LITERAL_ASCII = 1
};

enum ImplodeLevel {
    IMPLODE_LEVEL_FAST = 1,    // greedy, short hash chains
    IMPLODE_LEVEL_DEFAULT = 2, // lazy matching
    IMPLODE_LEVEL_BEST = 3     // cost-optimal parse over long hash chains
};

enum {
    IMPLODE_MIN_DICT_BITS = 4,
    IMPLODE_MAX_DICT_BITS = 6,
    IMPLODE_MIN_MATCH = 2,
    IMPLODE_MAX_MATCH = 518,
    IMPLODE_SHORT_MATCH_REACH = 256 // a length-2 match carries only 2 low distance bits
};

struct ImplodeOptions {
    int literalMode = IMPLODE_LITERAL_AUTO;
    int dictBits = IMPLODE_MAX_DICT_BITS; // window of 64 << dictBits bytes
    int level = IMPLODE_LEVEL_DEFAULT;
};

// One token of a parse: a literal (length 0, the byte is the input byte at the token's
// position) or a match of length bytes starting distance bytes back.
struct ImplodeToken {
    uint16_t length;
    uint16_t distance;
};

// The literal mode expected to give the smaller stream: ASCII when the data's bytes would
// cost fewer bits under the ASCII literal codes than as plain bytes.
int ChooseLiteralMode(const uint8_t* data, size_t size);

// True when every option is in range (literal mode AUTO, BINARY or ASCII; dictBits 4..6;
// level 1..3).
bool ImplodeOptionsValid(const ImplodeOptions& options);

// Splits data into tokens. Matches never reach before the first byte of data, never exceed
// the window, and length-2 matches reach back at most 256 bytes. literalMode must be
// resolved (not AUTO).
std::vector<ImplodeToken> ImplodeParse(const uint8_t* data, size_t size,
                                       const ImplodeOptions& options);

// Compresses data into a complete explode stream: header, tokens, end-of-stream marker,
// last byte padded with zero bits. Returns false (out untouched) on invalid options or an
// input over 2 GiB, more than an archive can hold.
bool Implode(const uint8_t* data, size_t size, const ImplodeOptions& options,
             std::vector<uint8_t>* out);

#endif
