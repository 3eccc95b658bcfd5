// explode against streams built field by field: results, the callback contract, block
// boundaries, matches at the edges of the window and of the output area, and input that
// arrives in pieces or ends early.
#include "stream_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace explode_test {
namespace {

uint32_t WindowSize(uint8_t dictBits) {
    return 64u << dictBits;
}

// A mix of literals (about `literalShare` percent of the tokens) and matches of every length
// class, with distances up to the window, decoding to at least `size` bytes; ends with the
// marker.
StreamBuilder RandomStream(uint8_t literalMode, uint8_t dictBits, size_t size, uint32_t seed,
                           uint32_t literalShare = 55) {
    StreamBuilder builder(literalMode, dictBits);
    std::mt19937 rng(seed);
    while (builder.Expected().size() < size) {
        size_t produced = builder.Expected().size();
        uint32_t roll = rng() % 100;
        if (produced == 0 || roll < literalShare) {
            // Mostly text-like bytes, so that ASCII mode meets short and long codes alike.
            uint8_t byte = rng() % 5 != 0 ? (uint8_t)(0x20 + rng() % 0x5F) : (uint8_t)rng();
            builder.Literal(byte);
            continue;
        }
        uint32_t kind = rng() % 100;
        uint32_t length;
        if (kind < 35)
            length = 2;
        else if (kind < 90)
            length = 3 + rng() % 30;
        else
            length = 3 + rng() % 516;
        uint32_t reach = length == 2 ? 256 : WindowSize(dictBits);
        uint32_t limit = (uint32_t)std::min<size_t>(reach, produced);
        uint32_t distance = rng() % 8 == 0 ? limit : 1 + rng() % limit;
        builder.Match(length, distance);
    }
    builder.EndMarker();
    return builder;
}

std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 3)
        bytes.push_back((uint8_t)std::stoul(text.substr(i, 2), nullptr, 16));
    return bytes;
}

std::vector<uint32_t> WriteSizes(const Harness& h) {
    std::vector<uint32_t> sizes;
    for (const WriteCall& call : h.writes)
        sizes.push_back(call.size);
    return sizes;
}

// Sizes explode must write for `decoded` bytes: full blocks, then the rest (maybe 0).
std::vector<uint32_t> BlockSizes(size_t decoded) {
    std::vector<uint32_t> sizes(decoded / 4096, 4096);
    sizes.push_back((uint32_t)(decoded % 4096));
    return sizes;
}

// The contract every call must keep, whatever its result.
void ExpectContractKept(const Harness& h, ExplodeWorkArea* work) {
    ASSERT_FALSE(h.reads.empty());
    for (const ReadCall& call : h.reads) {
        EXPECT_EQ(call.buffer, work->inputBlock);
        EXPECT_EQ(call.capacity, 2048u);
    }
    EXPECT_FALSE(h.readAfterEnd);
    for (const WriteCall& call : h.writes)
        EXPECT_EQ(call.buffer, &work->outputArea[4096]);
    // inputBlock still holds the last delivered bytes: nothing was stored over them.
    EXPECT_TRUE(std::equal(h.lastPiece.begin(), h.lastPiece.end(), work->inputBlock));
}

// Decodes the builder's stream on a fresh work area full of stale bytes and checks the
// callback contract; the harness keeps every call and output byte for the caller.
ExplodeResult DecodeFresh(const StreamBuilder& builder, Harness& h) {
    WorkAreaPtr work = NewWorkArea();
    h.stream = builder.Bytes();
    ExplodeResult result = RunExplode(h, work.get());
    ExpectContractKept(h, work.get());
    return result;
}

struct HeaderCase {
    const char* name;
    std::string stream; // hex bytes
    size_t firstPiece;
    ExplodeResult result;
    size_t writes;
};

class HeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderTest, ResultWritesAndReads) {
    const HeaderCase& c = GetParam();
    WorkAreaPtr work = NewWorkArea();
    Harness h;
    h.stream = Hex(c.stream);
    h.firstPiece = c.firstPiece;
    EXPECT_EQ(RunExplode(h, work.get()), c.result);
    ExpectContractKept(h, work.get());
    EXPECT_EQ(h.writes.size(), c.writes);
    if (c.writes == 1) {
        EXPECT_EQ(h.writes[0].size, 0u);
    }
    EXPECT_EQ(h.reads.size(), 1u);
}

// Streams of empty data: mode, dictBits, then 0x01 0xFF (flag, length code 15, eight ones).
INSTANTIATE_TEST_SUITE_P(
    Explode, HeaderTest,
    ::testing::Values(
        HeaderCase{"NothingToRead", "", 2048, EXPLODE_SHORT_INPUT, 0},
        HeaderCase{"FourByteEmptyData", "00 06 01 ff", 2048, EXPLODE_SHORT_INPUT, 0},
        HeaderCase{"FirstReadOfFourWithMoreLeft", "00 06 01 ff 00 00", 4, EXPLODE_SHORT_INPUT, 0},
        HeaderCase{"FiveBytesAccepted", "00 06 01 ff 00", 2048, EXPLODE_OK, 1},
        HeaderCase{"AsciiDict4", "01 04 01 ff 7e", 2048, EXPLODE_OK, 1},
        HeaderCase{"BinaryDict5", "00 05 01 ff ff 11", 2048, EXPLODE_OK, 1},
        HeaderCase{"DictionaryCheckedBeforeMode", "05 07 01 ff 00", 2048,
                   EXPLODE_BAD_DICTIONARY_SIZE, 0},
        HeaderCase{"DictionaryBelowRange", "00 03 01 ff 00", 2048, EXPLODE_BAD_DICTIONARY_SIZE, 0},
        HeaderCase{"DictionaryZero", "01 00 01 ff 00", 2048, EXPLODE_BAD_DICTIONARY_SIZE, 0},
        HeaderCase{"DictionaryAboveRange", "00 07 01 ff 00", 2048, EXPLODE_BAD_DICTIONARY_SIZE, 0},
        HeaderCase{"LiteralModeTwo", "02 06 01 ff 00", 2048, EXPLODE_BAD_LITERAL_MODE, 0},
        HeaderCase{"LiteralModeFF", "ff 04 01 ff 00", 2048, EXPLODE_BAD_LITERAL_MODE, 0},
        HeaderCase{"ShortInputBeforeHeaderChecks", "05 07 01", 2048, EXPLODE_SHORT_INPUT, 0}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

// The marker's extra bits always need one more byte; a stream that ends right after the
// marker gets a 0 from readFn there, which is no error. Streams of 1 to 9 binary literals
// put the marker's end at every bit position within its last byte.
TEST(ExplodeEnd, StreamEndingWithTheMarkerSucceedsAfterOneEmptyRead) {
    for (int literals = 1; literals <= 9; literals++) {
        StreamBuilder builder(0, 6);
        for (int i = 0; i < literals; i++)
            builder.Literal((uint8_t)(0x30 + i));
        builder.EndMarker();
        Harness h;
        EXPECT_EQ(DecodeFresh(builder, h), EXPLODE_OK) << literals;
        ASSERT_EQ(h.reads.size(), 2u) << literals;
        EXPECT_EQ(h.reads[1].returned, 0u);
        EXPECT_EQ(h.output, builder.Expected());
        EXPECT_EQ(WriteSizes(h), BlockSizes(literals));
    }
}

// Bytes after the marker are not decoded, and at most one of them is taken: the byte that
// the marker's extra bits make the bit reader take.
TEST(ExplodeEnd, TakesAtMostOneByteAfterTheMarker) {
    StreamBuilder builder(1, 5);
    for (char c : std::string("trailing bytes"))
        builder.Literal((uint8_t)c);
    builder.EndMarker();
    std::vector<uint8_t> stream = builder.Bytes();
    size_t streamSize = stream.size();
    stream.insert(stream.end(), 10, 0xFF); // junk that would decode as more tokens

    WorkAreaPtr work = NewWorkArea();
    Harness byteByByte;
    byteByByte.stream = stream;
    byteByByte.firstPiece = 5;
    byteByByte.piece = 1;
    EXPECT_EQ(RunExplode(byteByByte, work.get()), EXPLODE_OK);
    EXPECT_EQ(byteByByte.output, builder.Expected());
    EXPECT_EQ(byteByByte.position, streamSize + 1);

    Harness whole;
    whole.stream = stream;
    EXPECT_EQ(RunExplode(whole, work.get()), EXPLODE_OK);
    EXPECT_EQ(whole.output, builder.Expected());
    EXPECT_EQ(whole.reads.size(), 1u);
}

TEST(ExplodeBlocks, WritesFullBlocksThenTheRest) {
    for (size_t decoded : {1, 4095, 4096, 4097, 8191, 8192, 8193, 12288}) {
        StreamBuilder builder(0, 6);
        for (size_t i = 0; i < decoded; i++)
            builder.Literal((uint8_t)(i * 7 + i / 256));
        builder.EndMarker();
        Harness h;
        h.piece = 1000;
        EXPECT_EQ(DecodeFresh(builder, h), EXPLODE_OK) << decoded;
        EXPECT_EQ(WriteSizes(h), BlockSizes(decoded)) << decoded;
        EXPECT_EQ(h.output, builder.Expected()) << decoded;
    }
}

// A 518-byte match starting at position 8191 of the output area fills it to the last byte;
// the flush that follows moves the 517-byte overhang over the bytes it just wrote.
TEST(ExplodeBlocks, LongestMatchAtTheLastPositionBeforeAFlush) {
    for (uint32_t distance : {1u, 7u, 518u, 1000u, 4095u, 4096u}) {
        StreamBuilder builder(0, 6);
        for (size_t i = 0; i < 4095; i++)
            builder.Literal((uint8_t)(i % 251));
        builder.Match(518, distance);
        builder.Literal(0x99);
        builder.Match(518, 517); // reaches into the moved overhang
        builder.EndMarker();
        Harness h;
        EXPECT_EQ(DecodeFresh(builder, h), EXPLODE_OK) << distance;
        EXPECT_EQ(WriteSizes(h), (std::vector<uint32_t>{4096, 517 + 1 + 518})) << distance;
        EXPECT_EQ(h.output, builder.Expected()) << distance;
    }
}

// Matches that end in the last bytes of outputArea, with distances long enough to be copied
// in whole words: the copy must stop inside the area, so the input block after it (here the
// whole stream, in one read) is left intact and decoding goes on correctly.
TEST(ExplodeMatches, MatchesEndingAtTheEndOfTheOutputArea) {
    for (uint32_t end = 8700; end <= 8709; end++) {
        for (uint32_t length : {518u, 515u, 512u, 509u}) {
            uint32_t start = end - length; // output position where the match begins
            if (start > 8191)
                continue;
            for (uint32_t distance : {8u, 9u, 100u}) {
                StreamBuilder builder(0, 6);
                for (uint32_t i = 0; i < 150; i++)
                    builder.Literal((uint8_t)(i * 37 + 11));
                for (;;) {
                    uint32_t left = start - 4096 - (uint32_t)builder.Expected().size();
                    if (left == 0)
                        break;
                    if (left == 1)
                        builder.Literal(0x33);
                    else
                        builder.Match(left == 519 ? 517 : std::min(left, 518u), 150);
                }
                builder.Match(length, distance);
                builder.Match(40, 41);
                for (int i = 0; i < 16; i++) // keeps the match away from the stream's end
                    builder.Literal((uint8_t)(0x5A + i));
                builder.EndMarker();
                Harness h;
                ASSERT_LE(builder.Bytes().size(), 2048u);
                EXPECT_EQ(DecodeFresh(builder, h), EXPLODE_OK);
                ASSERT_EQ(h.output, builder.Expected())
                    << "end " << end << " start " << start << " distance " << distance;
            }
        }
    }
}

// A token that fills the pending block exactly (literal or match) is flushed at once: a
// longest match after it must start again from position 4096, or it would run past
// outputArea into the input block.
TEST(ExplodeMatches, BlockFilledExactlyIsFlushedBeforeTheNextToken) {
    for (bool lastIsMatch : {false, true}) {
        StreamBuilder builder(0, 6);
        for (uint32_t i = 0; i < 200; i++)
            builder.Literal((uint8_t)(i * 13 + 1));
        while (builder.Expected().size() < 4096 - 300)
            builder.Match(518, 200);
        while (builder.Expected().size() < 4096 - (lastIsMatch ? 30 : 0))
            builder.Literal((uint8_t)(builder.Expected().size() | 1));
        if (lastIsMatch)
            builder.Match(30, 77);
        ASSERT_EQ(builder.Expected().size(), 4096u);
        builder.Match(518, 9);
        for (int i = 0; i < 16; i++) // keeps the match away from the stream's end
            builder.Literal((uint8_t)(0xA0 + i));
        builder.EndMarker();
        Harness h;
        ASSERT_LE(builder.Bytes().size(), 2048u);
        EXPECT_EQ(DecodeFresh(builder, h), EXPLODE_OK);
        EXPECT_EQ(h.output, builder.Expected()) << lastIsMatch;
        EXPECT_EQ(WriteSizes(h), BlockSizes(builder.Expected().size())) << lastIsMatch;
    }
}

TEST(ExplodeMatches, DistanceOneRepeatsTheLastByte) {
    for (uint8_t mode : {0, 1}) {
        StreamBuilder builder(mode, 4);
        builder.Literal(0x41);
        builder.Match(10, 1);
        builder.EndMarker();
        Harness h;
        EXPECT_EQ(DecodeFresh(builder, h), EXPLODE_OK);
        EXPECT_EQ(h.output, std::vector<uint8_t>(11, 0x41)) << (int)mode;
    }
}

// Every byte value as a literal, next to short and long codes alike, decoded both from
// whole blocks and byte by byte (where every read ends a block early).
TEST(ExplodeLiterals, EveryByteValueInBothModes) {
    for (uint8_t mode : {0, 1}) {
        StreamBuilder builder(mode, 6);
        for (int round = 0; round < 3; round++)
            for (int c = 0; c < 256; c++) {
                builder.Literal((uint8_t)c);
                builder.Literal((uint8_t)(round == 0 ? 255 - c : round == 1 ? ' ' : c * 7));
            }
        builder.EndMarker();
        for (size_t piece : {1, 2048}) {
            Harness h;
            h.firstPiece = std::max<size_t>(piece, 5);
            h.piece = piece;
            EXPECT_EQ(DecodeFresh(builder, h), EXPLODE_OK);
            EXPECT_EQ(h.output, builder.Expected()) << "mode " << (int)mode << " piece " << piece;
        }
    }
}

class DictionaryTest : public ::testing::TestWithParam<uint8_t> {};

// Length-2 matches carry 2 low distance bits whatever the dictionary size, so they reach
// 256 bytes back; longer ones reach the whole window.
TEST_P(DictionaryTest, MatchesReachTheirFarthestDistance) {
    uint8_t dictBits = GetParam();
    StreamBuilder builder(0, dictBits);
    std::mt19937 rng(dictBits);
    for (int i = 0; i < 5000; i++)
        builder.Literal((uint8_t)rng());
    for (uint32_t distance : {256u, 255u, 4u, 1u, 253u})
        builder.Match(2, distance);
    for (uint32_t length : {3u, 9u, 10u, 518u})
        builder.Match(length, WindowSize(dictBits));
    builder.Match(3, WindowSize(dictBits) - 1);
    builder.Match(3, 17);
    builder.EndMarker();
    Harness h;
    EXPECT_EQ(DecodeFresh(builder, h), EXPLODE_OK);
    EXPECT_EQ(h.output, builder.Expected());
}

INSTANTIATE_TEST_SUITE_P(Explode, DictionaryTest, ::testing::Values(4, 5, 6));

class RoundTripTest : public ::testing::TestWithParam<std::tuple<uint8_t, uint8_t>> {};

TEST_P(RoundTripTest, DecodesEveryTokenKind) {
    uint8_t mode = std::get<0>(GetParam());
    uint8_t dictBits = std::get<1>(GetParam());
    StreamBuilder builder = RandomStream(mode, dictBits, 60000, mode * 10 + dictBits);
    Harness h;
    EXPECT_EQ(DecodeFresh(builder, h), EXPLODE_OK);
    EXPECT_EQ(h.output, builder.Expected());
    EXPECT_EQ(WriteSizes(h), BlockSizes(builder.Expected().size()));
}

INSTANTIATE_TEST_SUITE_P(Explode, RoundTripTest,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Values(4, 5, 6)));

// Input cut anywhere before the marker: every token completed before the cut is written,
// the one cut short produces nothing, and the result is 4.
TEST(ExplodeCut, EveryCutWritesWhatWasDecodedBeforeIt) {
    for (uint8_t mode : {0, 1}) {
        StreamBuilder builder = RandomStream(mode, 5, 400, 77 + mode);
        std::vector<uint8_t> full = builder.Bytes();
        for (size_t cut = 5; cut < full.size(); cut++) {
            WorkAreaPtr work = NewWorkArea();
            Harness h;
            h.stream.assign(full.begin(), full.begin() + cut);
            h.piece = cut % 2 ? 7 : 2048;
            ASSERT_EQ(RunExplode(h, work.get()), EXPLODE_INPUT_EXHAUSTED) << cut;
            ExpectContractKept(h, work.get());
            size_t decoded = builder.DecodedBeforeCut(cut);
            std::vector<uint8_t> expected(builder.Expected().begin(),
                                          builder.Expected().begin() + decoded);
            ASSERT_EQ(h.output, expected) << "mode " << (int)mode << " cut " << cut;
            EXPECT_EQ(WriteSizes(h), BlockSizes(decoded)) << cut;
        }
    }
}

TEST(ExplodeCut, LongStreamCutOneByteShort) {
    StreamBuilder builder = RandomStream(1, 6, 20000, 5);
    WorkAreaPtr work = NewWorkArea();
    Harness h;
    h.stream = builder.Bytes();
    h.stream.pop_back();
    EXPECT_EQ(RunExplode(h, work.get()), EXPLODE_INPUT_EXHAUSTED);
    ExpectContractKept(h, work.get());
    size_t decoded = builder.DecodedBeforeCut(h.stream.size());
    EXPECT_GT(decoded, 19000u);
    EXPECT_EQ(h.output, std::vector<uint8_t>(builder.Expected().begin(),
                                             builder.Expected().begin() + decoded));
    EXPECT_EQ(h.reads.back().returned, 0u);
}

// Any piece size after a first piece of at least 5 bytes gives the same output, and a new
// read comes only once the previous piece is used up.
TEST(ExplodePieces, EveryPieceSizeGivesTheSameOutput) {
    StreamBuilder builder = RandomStream(1, 6, 9000, 11, 97);
    std::vector<uint8_t> stream = builder.Bytes();
    ASSERT_GT(stream.size(), 2 * 2048u);
    WorkAreaPtr work = NewWorkArea();
    for (size_t piece = 1; piece <= 2048; piece++) {
        Harness h;
        h.stream = stream;
        h.firstPiece = 5 + piece % 3;
        h.piece = piece;
        ASSERT_EQ(RunExplode(h, work.get()), EXPLODE_OK) << piece;
        ASSERT_EQ(h.output, builder.Expected()) << piece;
        ASSERT_EQ(h.position, stream.size()) << piece;
        size_t expectedReads = 1 + (stream.size() - h.firstPiece + piece - 1) / piece + 1;
        ASSERT_EQ(h.reads.size(), expectedReads) << piece;
        ASSERT_FALSE(h.readAfterEnd) << piece;
    }
}

// Each full block is written as soon as the token that completes it is decoded: after
// exactly the reads that token needs, before any read for the next one.
TEST(ExplodePieces, BlocksAreWrittenBetweenTheReadsOfTheirTokens) {
    for (uint8_t mode : {0, 1}) {
        StreamBuilder builder = RandomStream(mode, 6, 40000, 21 + mode, 90);
        for (size_t piece : {1, 7, 300, 2048}) {
            Harness h;
            h.firstPiece = std::max<size_t>(piece, 5);
            h.piece = piece;
            ASSERT_EQ(DecodeFresh(builder, h), EXPLODE_OK);
            ASSERT_EQ(h.output, builder.Expected());
            ASSERT_GE(h.writes.size(), 3u);
            for (size_t i = 0; i + 1 < h.writes.size(); i++) {
                size_t taken = builder.StreamBytesThrough(4096 * (i + 1));
                size_t reads = 1;
                if (taken > h.firstPiece)
                    reads += (taken - h.firstPiece + piece - 1) / piece;
                EXPECT_EQ(h.writes[i].readsBefore, reads)
                    << "mode " << (int)mode << " piece " << piece << " write " << i;
            }
        }
    }
}

// The history window is cleared at every call, so a match reaching back before the first
// byte of a call copies zeros, not stale memory or bytes of the previous stream.
TEST(ExplodeHistory, MatchBeforeTheFirstByteCopiesZeros) {
    StreamBuilder previous(0, 6);
    for (int i = 0; i < 9000; i++)
        previous.Literal((uint8_t)(0x41 + i % 26));
    previous.EndMarker();

    StreamBuilder reaching(1, 6);
    reaching.Match(5, 3); // first token: nothing before it yet
    reaching.Literal('x');
    reaching.Match(20, 4096); // back to the very first history byte
    reaching.EndMarker();
    std::vector<uint8_t> expected(5, 0);
    expected.push_back('x');
    expected.insert(expected.end(), 20, 0);
    ASSERT_EQ(reaching.Expected(), expected);

    for (bool afterAnotherStream : {false, true}) {
        WorkAreaPtr work = NewWorkArea(0xAA);
        if (afterAnotherStream) {
            Harness first;
            first.stream = previous.Bytes();
            ASSERT_EQ(RunExplode(first, work.get()), EXPLODE_OK);
        }
        Harness h;
        h.stream = reaching.Bytes();
        EXPECT_EQ(RunExplode(h, work.get()), EXPLODE_OK);
        EXPECT_EQ(h.output, expected) << afterAnotherStream;
    }
}

// One work area serves calls in sequence with no preparation in between.
TEST(ExplodeHistory, WorkAreaReusedAcrossModesAndFailures) {
    WorkAreaPtr work = NewWorkArea(0x00);
    for (int round = 0; round < 3; round++) {
        for (uint8_t mode : {0, 1}) {
            StreamBuilder builder = RandomStream(mode, (uint8_t)(4 + round), 10000, round + mode);
            Harness h;
            h.stream = builder.Bytes();
            EXPECT_EQ(RunExplode(h, work.get()), EXPLODE_OK);
            EXPECT_EQ(h.output, builder.Expected());
            Harness bad;
            bad.stream = Hex("03 05 01 ff 00");
            EXPECT_EQ(RunExplode(bad, work.get()), EXPLODE_BAD_LITERAL_MODE);
        }
    }
}

} // namespace
} // namespace explode_test
