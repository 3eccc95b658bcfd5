// The constant code tables against the canonical-code rule they come from, and the lookups
// that explode builds from them.
#include "stream_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace explode_test {
namespace {

// Canonical code of the lengths, each code inverted and bit-reversed so that its first
// stream bit is bit 0.
std::vector<uint32_t> DeriveCodes(const std::vector<uint32_t>& lengths) {
    uint32_t count[17] = {};
    for (uint32_t length : lengths)
        count[length]++;
    count[0] = 0;
    uint32_t first[17] = {};
    for (uint32_t length = 2; length <= 16; length++)
        first[length] = (first[length - 1] + count[length - 1]) * 2;
    std::vector<uint32_t> codes;
    for (uint32_t length : lengths) {
        uint32_t inverted = first[length]++ ^ ((1u << length) - 1);
        uint32_t reversed = 0;
        for (uint32_t bit = 0; bit < length; bit++)
            if ((inverted >> bit) & 1)
                reversed |= 1u << (length - 1 - bit);
        codes.push_back(reversed);
    }
    return codes;
}

template <typename T> std::vector<uint32_t> Widen(const T* table, size_t count) {
    return std::vector<uint32_t>(table, table + count);
}

struct CodeTable {
    const char* name;
    std::vector<uint32_t> lengths;
    std::vector<uint32_t> codes;
};

std::vector<CodeTable> AllCodeTables() {
    return {
        {"length", Widen(LENGTH_CODE_LENGTHS, 16), Widen(LENGTH_CODES, 16)},
        {"distance", Widen(DISTANCE_CODE_LENGTHS, 64), Widen(DISTANCE_CODES, 64)},
        {"ascii", Widen(ASCII_CODE_LENGTHS, 256), Widen(ASCII_CODES, 256)},
    };
}

TEST(CodeTables, EveryCodeFollowsFromItsLengths) {
    for (const CodeTable& table : AllCodeTables()) {
        std::vector<uint32_t> derived = DeriveCodes(table.lengths);
        for (size_t symbol = 0; symbol < derived.size(); symbol++)
            EXPECT_EQ(derived[symbol], table.codes[symbol]) << table.name << " symbol " << symbol;
    }
}

TEST(CodeTables, EveryCodeIsCompleteAndPrefixFree) {
    for (const CodeTable& table : AllCodeTables()) {
        // Kraft sum in units of 2^-16: exactly 1 when the code is complete.
        uint64_t kraft = 0;
        for (uint32_t length : table.lengths)
            kraft += 1u << (16 - length);
        EXPECT_EQ(kraft, 1u << 16) << table.name;
        for (size_t a = 0; a < table.codes.size(); a++)
            for (size_t b = 0; b < table.codes.size(); b++) {
                if (a == b || table.lengths[a] > table.lengths[b])
                    continue;
                uint32_t mask = (1u << table.lengths[a]) - 1;
                EXPECT_NE(table.codes[b] & mask, table.codes[a])
                    << table.name << " code " << a << " begins code " << b;
            }
    }
}

TEST(CodeTables, LengthColumnsMatchTheFormat) {
    const uint32_t lengths[16] = {3, 2, 3, 3, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 7, 7};
    const uint32_t codes[16] = {0x05, 0x03, 0x01, 0x06, 0x0A, 0x02, 0x0C, 0x14,
                                0x04, 0x18, 0x08, 0x30, 0x10, 0x20, 0x40, 0x00};
    const uint32_t extra[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    for (int i = 0; i < 16; i++) {
        EXPECT_EQ(LENGTH_CODE_LENGTHS[i], lengths[i]) << i;
        EXPECT_EQ(LENGTH_CODES[i], codes[i]) << i;
        EXPECT_EQ(LENGTH_EXTRA_BITS[i], extra[i]) << i;
    }
    // Each base is the previous base plus the count of lengths the previous index covers,
    // and the last index reaches length 518 plus the marker value.
    EXPECT_EQ(LENGTH_BASE[0], 0);
    for (int i = 1; i < 16; i++)
        EXPECT_EQ(LENGTH_BASE[i], LENGTH_BASE[i - 1] + (1u << LENGTH_EXTRA_BITS[i - 1])) << i;
    EXPECT_EQ(LENGTH_BASE[15] + 255 + 2, 519);
}

TEST(CodeTables, DistanceColumnsMatchTheFormat) {
    struct Range {
        int first, last;
        uint32_t length;
    } ranges[] = {{0, 0, 2}, {1, 2, 4}, {3, 6, 5}, {7, 21, 6}, {22, 47, 7}, {48, 63, 8}};
    for (const Range& range : ranges)
        for (int i = range.first; i <= range.last; i++)
            EXPECT_EQ(DISTANCE_CODE_LENGTHS[i], range.length) << i;
    const uint32_t codes[64] = {0x03, 0x0D, 0x05, 0x19, 0x09, 0x11, 0x01, 0x3E, 0x1E, 0x2E, 0x0E,
                                0x36, 0x16, 0x26, 0x06, 0x3A, 0x1A, 0x2A, 0x0A, 0x32, 0x12, 0x22,
                                0x42, 0x02, 0x7C, 0x3C, 0x5C, 0x1C, 0x6C, 0x2C, 0x4C, 0x0C, 0x74,
                                0x34, 0x54, 0x14, 0x64, 0x24, 0x44, 0x04, 0x78, 0x38, 0x58, 0x18,
                                0x68, 0x28, 0x48, 0x08, 0xF0, 0x70, 0xB0, 0x30, 0xD0, 0x50, 0x90,
                                0x10, 0xE0, 0x60, 0xA0, 0x20, 0xC0, 0x40, 0x80, 0x00};
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(DISTANCE_CODES[i], codes[i]) << i;
}

TEST(CodeTables, AsciiSampleEntries) {
    struct Sample {
        int byte;
        uint32_t length, code;
    } samples[] = {{0x00, 11, 0x0490}, {0x09, 8, 0x00B8}, {0x0A, 7, 0x0062},  {0x0D, 7, 0x0022},
                   {0x20, 4, 0x000F},  {0x41, 6, 0x0031}, {0x45, 5, 0x0017},  {0x61, 5, 0x0007},
                   {0x65, 5, 0x001B},  {0x74, 5, 0x0005}, {0x7F, 12, 0x03A0}, {0x80, 13, 0x0240},
                   {0xFF, 13, 0x0000}};
    for (const Sample& s : samples) {
        EXPECT_EQ(ASCII_CODE_LENGTHS[s.byte], s.length) << std::hex << s.byte;
        EXPECT_EQ(ASCII_CODES[s.byte], s.code) << std::hex << s.byte;
    }
}

// Runs explode on the empty-data stream and returns the work area with its lookups built.
WorkAreaPtr WorkAreaAfterEmptyStream(uint8_t literalMode) {
    WorkAreaPtr work = NewWorkArea();
    Harness h;
    h.stream = {literalMode, 6, 0x01, 0xFF, 0x00};
    EXPECT_EQ(RunExplode(h, work.get()), EXPLODE_OK);
    return work;
}

TEST(Lookups, LengthAndDistanceLookupsFindTheCodeEachByteBegins) {
    WorkAreaPtr work = WorkAreaAfterEmptyStream(0);
    for (uint32_t bits = 0; bits < 256; bits++) {
        uint32_t length = work->lengthLookup[bits];
        ASSERT_LT(length, 16u);
        EXPECT_EQ(bits & ((1u << LENGTH_CODE_LENGTHS[length]) - 1), LENGTH_CODES[length]);
        uint32_t distance = work->distanceLookup[bits];
        ASSERT_LT(distance, 64u);
        EXPECT_EQ(bits & ((1u << DISTANCE_CODE_LENGTHS[distance]) - 1), DISTANCE_CODES[distance]);
    }
}

TEST(Lookups, AsciiCodesSplitIntoFourLookupCases) {
    WorkAreaPtr work = WorkAreaAfterEmptyStream(1);
    // After the build, asciiRemainingBits tells which lookup resolves each literal: the full
    // length for asciiLookup, 4, 6 or 8 bits less for asciiLookup4, 6 and 8.
    int cases[4] = {};
    for (int c = 0; c < 256; c++) {
        int consumed = ASCII_CODE_LENGTHS[c] - work->asciiRemainingBits[c];
        ASSERT_TRUE(consumed == 0 || consumed == 4 || consumed == 6 || consumed == 8) << c;
        cases[consumed == 0 ? 0 : consumed / 2 - 1]++;
    }
    EXPECT_EQ(cases[0], 69);
    EXPECT_EQ(cases[1], 86);
    EXPECT_EQ(cases[2], 69);
    EXPECT_EQ(cases[3], 32);
}

// Index of the literal whose ASCII code the 16 bits begin with.
int LiteralBegunBy(uint32_t bits) {
    for (int c = 0; c < 256; c++)
        if ((bits & ((1u << ASCII_CODE_LENGTHS[c]) - 1)) == ASCII_CODES[c])
            return c;
    return -1;
}

TEST(Lookups, EverySixteenBitValueDecodesToTheLiteralItBegins) {
    WorkAreaPtr work = NewWorkArea();
    for (uint32_t bits = 0; bits < 65536; bits++) {
        StreamBuilder builder(1, 6);
        builder.PutBits(0, 1);     // flag: literal
        builder.PutBits(bits, 16); // the literal's code, then whatever bits follow it
        Harness h;
        h.stream = builder.Bytes();
        RunExplode(h, work.get());
        ASSERT_FALSE(h.output.empty()) << bits;
        ASSERT_EQ(h.output[0], LiteralBegunBy(bits)) << "bits " << bits;
    }
}

} // namespace
} // namespace explode_test
