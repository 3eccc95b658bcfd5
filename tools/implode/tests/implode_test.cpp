#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "explode_buffer.h"
#include "implode.h"
#include "test_bytes.h"

namespace {

// English-like text: words from a small vocabulary with punctuation and line breaks, so it
// has the repeats and letter frequencies that the ASCII codes are made for.
Bytes TextBytes(size_t size, uint32_t seed) {
    static const char* const kWords[] = {
        "the",   "setup",    "program", "copies", "files",     "to",      "your",    "hard",
        "disk",  "and",      "then",    "starts", "a",         "second",  "stage",   "which",
        "asks",  "for",      "options", "of",     "Please",    "wait",    "while",   "is",
        "being", "prepared", "Windows", "system", "directory", "library", "version", "newer"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) {
        s += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
        uint32_t r = rng() % 16;
        s += r == 0 ? ".\r\n" : r == 1 ? ", " : " ";
    }
    s.resize(size);
    return Bytes(s.begin(), s.end());
}

// A real executable: the test program itself.
Bytes ElfBytes(size_t limit) {
    std::ifstream f("/proc/self/exe", std::ios::binary);
    Bytes b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (b.size() > limit) {
        b.resize(limit);
    }
    return b;
}

// Long runs and short periods: matches of the greatest length, distance 1 overlaps, and
// lengths that are not multiples of 518.
Bytes RepetitiveBytes(size_t size) {
    Bytes b;
    b.reserve(size);
    const std::string pattern = "ABCABCABD";
    while (b.size() < size) {
        b.insert(b.end(), 5000, 0);
        for (int i = 0; i < 300 && b.size() < size + 4000; ++i) {
            b.insert(b.end(), pattern.begin(), pattern.end());
        }
        b.push_back(static_cast<uint8_t>(b.size()));
        b.insert(b.end(), 1037, 0xFF);
    }
    b.resize(size);
    return b;
}

enum DataKind { kText, kRandom, kElf, kRepetitive, kMixed };

const char* KindName(DataKind k) {
    switch (k) {
    case kText:
        return "Text";
    case kRandom:
        return "Random";
    case kElf:
        return "Elf";
    case kRepetitive:
        return "Repetitive";
    case kMixed:
        return "Mixed";
    }
    return "?";
}

// Inputs are built once: the same bytes serve every mode, window and level.
const Bytes& Sample(DataKind k) {
    static const Bytes text = TextBytes(96 * 1024, 1);
    static const Bytes random = RandomBytes(48 * 1024, 2);
    static const Bytes elf = ElfBytes(160 * 1024);
    static const Bytes repetitive = RepetitiveBytes(3 * 1024 * 1024 + 77);
    static const Bytes mixed = [] {
        Bytes b = TextBytes(20000, 3);
        Bytes r = RandomBytes(7000, 4);
        b.insert(b.end(), r.begin(), r.end());
        b.insert(b.end(), b.begin(), b.begin() + 9000); // a repeat from far back
        return b;
    }();
    switch (k) {
    case kText:
        return text;
    case kRandom:
        return random;
    case kElf:
        return elf;
    case kRepetitive:
        return repetitive;
    case kMixed:
        return mixed;
    }
    return text;
}

Bytes Compress(const Bytes& data, int mode, int dictBits, int level) {
    ImplodeOptions o;
    o.literalMode = mode;
    o.dictBits = dictBits;
    o.level = level;
    Bytes out;
    EXPECT_TRUE(Implode(data.data(), data.size(), o, &out));
    return out;
}

struct Decoded {
    ExplodeResult result;
    Bytes bytes;
};

Decoded Decompress(const Bytes& stream, ExplodePieces pieces = ExplodePieces()) {
    auto work = std::make_unique<ExplodeWorkArea>();
    Decoded d;
    d.result = ExplodeBuffer(stream.data(), stream.size(), pieces, work.get(), &d.bytes).result;
    return d;
}

// Checks what the decoder cannot check for us: every match is representable and reaches
// only bytes of this input, and the tokens cover the input exactly.
void ExpectTokensWellFormed(const Bytes& data, const ImplodeOptions& o) {
    std::vector<ImplodeToken> tokens = ImplodeParse(data.data(), data.size(), o);
    const size_t window = 64u << o.dictBits;
    size_t pos = 0;
    for (const ImplodeToken& t : tokens) {
        if (t.length != 0) {
            ASSERT_GE(t.length, IMPLODE_MIN_MATCH) << "at " << pos;
            ASSERT_LE(t.length, IMPLODE_MAX_MATCH) << "at " << pos;
            ASSERT_GE(t.distance, 1) << "at " << pos;
            ASSERT_LE(t.distance, pos) << "match before the first byte at " << pos;
            ASSERT_LE(t.distance, t.length == 2 ? size_t{IMPLODE_SHORT_MATCH_REACH} : window)
                << "at " << pos << " length " << t.length;
        }
        pos += t.length == 0 ? 1 : t.length;
    }
    EXPECT_EQ(pos, data.size());
}

using RoundTripParam = std::tuple<DataKind, int, int, int>; // kind, mode, dictBits, level

class RoundTrip : public ::testing::TestWithParam<RoundTripParam> {};

TEST_P(RoundTrip, DecodesToInputWithWellFormedTokens) {
    auto [kind, mode, dictBits, level] = GetParam();
    const Bytes& data = Sample(kind);
    Bytes stream = Compress(data, mode, dictBits, level);
    ASSERT_GE(stream.size(), 5u);
    EXPECT_EQ(stream[0], mode);
    EXPECT_EQ(stream[1], dictBits);
    Decoded d = Decompress(stream);
    EXPECT_EQ(d.result, EXPLODE_OK);
    EXPECT_TRUE(d.bytes == data) << "decoded " << d.bytes.size() << " of " << data.size();

    ImplodeOptions o;
    o.literalMode = mode;
    o.dictBits = dictBits;
    o.level = level;
    ExpectTokensWellFormed(data, o);
}

INSTANTIATE_TEST_SUITE_P(
    AllKindsModesWindowsLevels, RoundTrip,
    ::testing::Combine(::testing::Values(kText, kRandom, kElf, kRepetitive, kMixed),
                       ::testing::Values(IMPLODE_LITERAL_BINARY, IMPLODE_LITERAL_ASCII),
                       ::testing::Values(4, 5, 6),
                       ::testing::Values(IMPLODE_LEVEL_FAST, IMPLODE_LEVEL_DEFAULT,
                                         IMPLODE_LEVEL_BEST)),
    [](const ::testing::TestParamInfo<RoundTripParam>& info) {
        return std::string(KindName(std::get<0>(info.param))) +
               (std::get<1>(info.param) ? "Ascii" : "Binary") + "Dict" +
               std::to_string(std::get<2>(info.param)) + "Level" +
               std::to_string(std::get<3>(info.param));
    });

// Every input of 1 to 16 bytes drawn from a small alphabet, so that tiny inputs still hold
// length-2 and overlapping matches, and every stream stays at least 5 bytes long.
TEST(ImplodeTiny, EveryLengthUpTo16RoundTrips) {
    std::mt19937 rng(7);
    for (size_t n = 1; n <= 16; ++n) {
        for (int trial = 0; trial < 20; ++trial) {
            Bytes data(n);
            for (uint8_t& x : data) {
                x = static_cast<uint8_t>("ab \xFF"[rng() % 4]);
            }
            for (int mode : {IMPLODE_LITERAL_BINARY, IMPLODE_LITERAL_ASCII}) {
                for (int level = IMPLODE_LEVEL_FAST; level <= IMPLODE_LEVEL_BEST; ++level) {
                    Bytes stream = Compress(data, mode, 4, level);
                    ASSERT_GE(stream.size(), 5u) << n;
                    Decoded d = Decompress(stream);
                    ASSERT_EQ(d.result, EXPLODE_OK) << n;
                    ASSERT_TRUE(d.bytes == data) << "n=" << n << " mode=" << mode;
                }
            }
        }
    }
}

TEST(ImplodeEmpty, GivesTheFourByteStream) {
    for (int mode : {IMPLODE_LITERAL_BINARY, IMPLODE_LITERAL_ASCII}) {
        for (int dictBits = 4; dictBits <= 6; ++dictBits) {
            Bytes stream = Compress(Bytes(), mode, dictBits, IMPLODE_LEVEL_DEFAULT);
            Bytes expected = {static_cast<uint8_t>(mode), static_cast<uint8_t>(dictBits), 0x01,
                              0xFF};
            EXPECT_EQ(stream, expected);
        }
    }
}

// The stream is read in pieces of every size the decoder may be handed; the bytes must not
// depend on where the pieces end.
class PieceSizes : public ::testing::TestWithParam<int> {};

TEST_P(PieceSizes, EveryPieceSizeGivesTheSameBytes) {
    const int mode = GetParam();
    Bytes data = TextBytes(2500, 11);
    Bytes r = RandomBytes(600, 12);
    data.insert(data.end(), r.begin(), r.end());
    data.insert(data.end(), 700, 'x');
    Bytes stream = Compress(data, mode, 5, IMPLODE_LEVEL_BEST);
    auto work = std::make_unique<ExplodeWorkArea>();
    Bytes out;
    for (uint32_t first : {5u, 6u, 2048u}) {
        for (uint32_t rest = 1; rest <= 2048; ++rest) {
            ExplodeRun run =
                ExplodeBuffer(stream.data(), stream.size(), {first, rest}, work.get(), &out);
            ASSERT_EQ(run.result, EXPLODE_OK) << "first " << first << " rest " << rest;
            ASSERT_TRUE(out == data) << "first " << first << " rest " << rest;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothModes, PieceSizes,
                         ::testing::Values(IMPLODE_LITERAL_BINARY, IMPLODE_LITERAL_ASCII));

TEST(ImplodeLiteralMode, AutoPicksAsciiForTextAndBinaryOtherwise) {
    struct Case {
        DataKind kind;
        int expected;
    };
    const Case cases[] = {{kText, IMPLODE_LITERAL_ASCII},
                          {kRandom, IMPLODE_LITERAL_BINARY},
                          {kElf, IMPLODE_LITERAL_BINARY}};
    for (const Case& c : cases) {
        const Bytes& data = Sample(c.kind);
        EXPECT_EQ(ChooseLiteralMode(data.data(), data.size()), c.expected) << KindName(c.kind);
        Bytes stream = Compress(data, IMPLODE_LITERAL_AUTO, 6, IMPLODE_LEVEL_FAST);
        EXPECT_EQ(stream[0], c.expected) << KindName(c.kind);
    }
}

// A parser that stops finding matches still round-trips; these bounds catch it.
TEST(ImplodeRatio, CompressesWhatIsCompressible) {
    struct Case {
        DataKind kind;
        int mode;
        double maxRatio;
    };
    const Case cases[] = {{kText, IMPLODE_LITERAL_ASCII, 0.40},
                          {kElf, IMPLODE_LITERAL_BINARY, 0.75},
                          {kRepetitive, IMPLODE_LITERAL_BINARY, 0.01},
                          {kRandom, IMPLODE_LITERAL_BINARY, 1.13}};
    for (const Case& c : cases) {
        const Bytes& data = Sample(c.kind);
        for (int level = IMPLODE_LEVEL_FAST; level <= IMPLODE_LEVEL_BEST; ++level) {
            double ratio = static_cast<double>(Compress(data, c.mode, 6, level).size()) /
                           static_cast<double>(data.size());
            EXPECT_LT(ratio, c.maxRatio) << KindName(c.kind) << " level " << level;
        }
    }
}

TEST(ImplodeLevels, HigherLevelsAreNotLarger) {
    for (DataKind kind : {kText, kElf, kMixed}) {
        const Bytes& data = Sample(kind);
        int mode = ChooseLiteralMode(data.data(), data.size());
        size_t fast = Compress(data, mode, 6, IMPLODE_LEVEL_FAST).size();
        size_t normal = Compress(data, mode, 6, IMPLODE_LEVEL_DEFAULT).size();
        size_t best = Compress(data, mode, 6, IMPLODE_LEVEL_BEST).size();
        EXPECT_LE(normal, fast) << KindName(kind);
        EXPECT_LE(best, normal) << KindName(kind);
    }
}

// "et", 120 bytes that repeat nothing, "et" again: the far length-2 match costs 13 bits,
// less than two plain bytes (18) but more than the ASCII codes of 'e' and 't' (12).
TEST(ImplodeCost, FarShortMatchIsTakenOnlyWhereItIsCheaper) {
    Bytes data = {'e', 't'};
    for (int i = 0; i < 120; ++i) {
        data.push_back(static_cast<uint8_t>(0x80 + i));
    }
    data.push_back('e');
    data.push_back('t');
    for (int level = IMPLODE_LEVEL_FAST; level <= IMPLODE_LEVEL_BEST; ++level) {
        for (int mode : {IMPLODE_LITERAL_BINARY, IMPLODE_LITERAL_ASCII}) {
            ImplodeOptions o;
            o.literalMode = mode;
            o.level = level;
            std::vector<ImplodeToken> tokens = ImplodeParse(data.data(), data.size(), o);
            size_t matches = 0;
            for (const ImplodeToken& t : tokens) {
                matches += t.length != 0;
            }
            EXPECT_EQ(matches, mode == IMPLODE_LITERAL_BINARY ? 1u : 0u)
                << "mode " << mode << " level " << level;
        }
    }
}

TEST(ImplodeOptions, OutOfRangeIsRefusedAndLeavesOutputAlone) {
    struct Case {
        int mode, dictBits, level;
    };
    const Case cases[] = {{2, 6, 2}, {-2, 6, 2}, {0, 3, 2}, {0, 7, 2}, {0, 6, 0}, {0, 6, 4}};
    const Bytes data = {1, 2, 3};
    for (const Case& c : cases) {
        ImplodeOptions o;
        o.literalMode = c.mode;
        o.dictBits = c.dictBits;
        o.level = c.level;
        Bytes out = {0xAA};
        EXPECT_FALSE(Implode(data.data(), data.size(), o, &out));
        EXPECT_EQ(out, Bytes{0xAA});
    }
}

} // namespace
