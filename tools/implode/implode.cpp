#include "implode.h"

#include <algorithm>
#include <limits>

#include "explode/explode.h"

namespace {

constexpr int kHashBits = 15;
constexpr uint32_t kHashSize = 1u << kHashBits;
constexpr uint32_t kRingSize = 8192; // at least twice the largest window
constexpr uint32_t kPairCount = 65536;
constexpr int32_t kNone = -1;
constexpr size_t kOptimalBlock = 16384;
constexpr uint32_t kEndMarkerExtra = 255;
constexpr int kEndMarkerIndex = 15;
constexpr size_t kMaxInput = 0x7FFFFFFF; // positions are kept as 32-bit signed values

struct LevelParams {
    int chainDepth; // candidates looked at per position
    int niceLength; // a match this long is taken without looking further
    bool lazy;      // try the next position before committing to a match
    bool optimal;   // cost-optimal parse instead of greedy/lazy
};

const LevelParams kLevels[3] = {
    {8, 32, false, false},
    {48, 128, true, false},
    {256, 258, false, true},
};

// Bit costs of every token, including the flag bit.
struct CostModel {
    uint32_t dictBits;
    uint8_t literal[256];
    uint8_t length[IMPLODE_MAX_MATCH + 1]; // flag, length code and extra bits
};

int LengthIndex(uint32_t length) {
    int i = 15;
    while (LENGTH_BASE[i] + 2u > length) {
        --i;
    }
    return i;
}

uint32_t LowDistanceBits(uint32_t length, uint32_t dictBits) {
    return length == 2 ? 2 : dictBits;
}

void BuildCostModel(int literalMode, uint32_t dictBits, CostModel* model) {
    model->dictBits = dictBits;
    for (int c = 0; c < 256; ++c) {
        model->literal[c] = static_cast<uint8_t>(
            1 + (literalMode == IMPLODE_LITERAL_ASCII ? ASCII_CODE_LENGTHS[c] : 8));
    }
    for (uint32_t len = IMPLODE_MIN_MATCH; len <= IMPLODE_MAX_MATCH; ++len) {
        int i = LengthIndex(len);
        model->length[len] =
            static_cast<uint8_t>(1 + LENGTH_CODE_LENGTHS[i] + LENGTH_EXTRA_BITS[i]);
    }
}

uint32_t MatchCost(const CostModel& model, uint32_t length, uint32_t distance) {
    uint32_t low = LowDistanceBits(length, model.dictBits);
    return model.length[length] + DISTANCE_CODE_LENGTHS[(distance - 1) >> low] + low;
}

struct Match {
    uint32_t length = 0;
    uint32_t distance = 0;
};

// Hash chains over 3-byte prefixes, plus the latest position of every 2-byte pair for the
// short matches that the 3-byte chains cannot see.
struct MatchFinder {
    const uint8_t* data;
    size_t size;
    uint32_t window;
    int chainDepth;
    uint32_t niceLength;
    std::vector<int32_t> head;
    std::vector<int32_t> prev;
    std::vector<int32_t> lastPair;
};

uint32_t HashAt(const uint8_t* p) {
    uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    return (v * 2654435761u) >> (32 - kHashBits);
}

uint32_t PairAt(const uint8_t* p) {
    return p[0] | (p[1] << 8);
}

void InitMatchFinder(MatchFinder* mf, const uint8_t* data, size_t size, uint32_t dictBits,
                     const LevelParams& params) {
    mf->data = data;
    mf->size = size;
    mf->window = 64u << dictBits;
    mf->chainDepth = params.chainDepth;
    mf->niceLength = static_cast<uint32_t>(params.niceLength);
    mf->head.assign(kHashSize, kNone);
    mf->prev.assign(kRingSize, kNone);
    mf->lastPair.assign(kPairCount, kNone);
}

// Makes position pos visible to searches from later positions.
void InsertPosition(MatchFinder* mf, size_t pos) {
    if (pos + 1 < mf->size) {
        mf->lastPair[PairAt(mf->data + pos)] = static_cast<int32_t>(pos);
    }
    if (pos + 2 < mf->size) {
        uint32_t h = HashAt(mf->data + pos);
        mf->prev[pos & (kRingSize - 1)] = mf->head[h];
        mf->head[h] = static_cast<int32_t>(pos);
    }
}

uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n < limit && a[n] == b[n]) {
        ++n;
    }
    return n;
}

uint32_t MaxLengthAt(const MatchFinder& mf, size_t pos) {
    return static_cast<uint32_t>(std::min<size_t>(IMPLODE_MAX_MATCH, mf.size - pos));
}

// The nearest length-2 match at pos, within the reach of a length-2 match.
Match FindPairMatch(const MatchFinder& mf, size_t pos) {
    Match m;
    if (pos + 1 >= mf.size) {
        return m;
    }
    int32_t p = mf.lastPair[PairAt(mf.data + pos)];
    if (p != kNone && pos - static_cast<size_t>(p) <= IMPLODE_SHORT_MATCH_REACH) {
        m.length = 2;
        m.distance = static_cast<uint32_t>(pos - static_cast<size_t>(p));
    }
    return m;
}

// Walks the hash chain at pos (nearest first) and reports each match of 3 or more bytes that
// is longer than every nearer one, so that for any length the reported match with the
// smallest distance is known. Stops at the nice length. Returns the longest match.
template <typename Report> Match WalkChain(const MatchFinder& mf, size_t pos, Report report) {
    Match best;
    best.length = 2;
    uint32_t limit = MaxLengthAt(mf, pos);
    if (limit < 3) {
        return Match();
    }
    const uint8_t* here = mf.data + pos;
    int32_t cand = mf.head[HashAt(here)];
    for (int depth = mf.chainDepth; depth > 0 && cand != kNone; --depth) {
        size_t c = static_cast<size_t>(cand);
        if (c >= pos || pos - c > mf.window) {
            break;
        }
        const uint8_t* there = mf.data + c;
        if (there[best.length] == here[best.length]) {
            uint32_t len = CommonLength(here, there, limit);
            if (len > best.length) {
                best.length = len;
                best.distance = static_cast<uint32_t>(pos - c);
                report(best);
                if (len >= mf.niceLength || len == limit) {
                    break;
                }
            }
        }
        int32_t next = mf.prev[c & (kRingSize - 1)];
        if (next >= cand) {
            break; // the ring slot was reused by a newer position
        }
        cand = next;
    }
    return best.distance == 0 ? Match() : best;
}

// Sums of literal costs, so the cost of spelling out any stretch is one subtraction.
std::vector<uint32_t> LiteralCostPrefix(const CostModel& model, const uint8_t* data, size_t size) {
    std::vector<uint32_t> sums(size + 1);
    sums[0] = 0;
    for (size_t i = 0; i < size; ++i) {
        sums[i + 1] = sums[i] + model.literal[data[i]];
    }
    return sums;
}

// Bits saved by a match at pos over spelling its bytes out as literals (negative: a loss).
int64_t MatchSaving(const CostModel& model, const std::vector<uint32_t>& litSums, size_t pos,
                    const Match& m) {
    if (m.length < IMPLODE_MIN_MATCH) {
        return std::numeric_limits<int64_t>::min();
    }
    int64_t literals = static_cast<int64_t>(litSums[pos + m.length]) - litSums[pos];
    return literals - MatchCost(model, m.length, m.distance);
}

// The most profitable of the pair match and the longest chain match at pos.
Match FindBestMatch(const MatchFinder& mf, const CostModel& model,
                    const std::vector<uint32_t>& litSums, size_t pos) {
    Match pair = FindPairMatch(mf, pos);
    Match longest = WalkChain(mf, pos, [](const Match&) {});
    if (MatchSaving(model, litSums, pos, pair) > MatchSaving(model, litSums, pos, longest)) {
        return pair;
    }
    return longest;
}

void PushLiteral(std::vector<ImplodeToken>* tokens) {
    tokens->push_back({0, 0});
}

void PushMatch(std::vector<ImplodeToken>* tokens, const Match& m) {
    tokens->push_back({static_cast<uint16_t>(m.length), static_cast<uint16_t>(m.distance)});
}

void InsertRange(MatchFinder* mf, size_t from, size_t to) {
    for (size_t p = from; p < to; ++p) {
        InsertPosition(mf, p);
    }
}

// Greedy parse, or lazy when the level asks for it: a match is deferred by one byte when the
// match at the next position saves more.
void ParseGreedy(MatchFinder* mf, const CostModel& model, const LevelParams& params,
                 std::vector<ImplodeToken>* tokens) {
    std::vector<uint32_t> litSums = LiteralCostPrefix(model, mf->data, mf->size);
    size_t pos = 0;
    Match cur;
    bool haveCur = false;
    while (pos < mf->size) {
        if (!haveCur) {
            cur = FindBestMatch(*mf, model, litSums, pos);
            InsertPosition(mf, pos);
        }
        haveCur = false;
        int64_t saving = MatchSaving(model, litSums, pos, cur);
        if (saving <= 0) {
            PushLiteral(tokens);
            ++pos;
            continue;
        }
        if (params.lazy && cur.length < mf->niceLength && pos + 1 < mf->size) {
            Match next = FindBestMatch(*mf, model, litSums, pos + 1);
            InsertPosition(mf, pos + 1);
            if (MatchSaving(model, litSums, pos + 1, next) > saving) {
                PushLiteral(tokens);
                ++pos;
                cur = next;
                haveCur = true;
                continue;
            }
            InsertRange(mf, pos + 2, pos + cur.length);
        } else {
            InsertRange(mf, pos + 1, pos + cur.length);
        }
        PushMatch(tokens, cur);
        pos += cur.length;
    }
}

struct PathNode {
    uint32_t cost;
    uint16_t length; // of the token that ends here; 1 for a literal
    uint16_t distance;
};

void Relax(std::vector<PathNode>* nodes, size_t to, uint32_t cost, uint32_t length,
           uint32_t distance) {
    PathNode& n = (*nodes)[to];
    if (cost < n.cost) {
        n.cost = cost;
        n.length = static_cast<uint16_t>(length);
        n.distance = static_cast<uint16_t>(distance);
    }
}

// Appends the cheapest path from node 0 to node end, as tokens.
void AppendPath(const std::vector<PathNode>& nodes, size_t end, std::vector<ImplodeToken>* tokens) {
    std::vector<ImplodeToken> reversed;
    for (size_t j = end; j > 0; j -= nodes[j].length) {
        const PathNode& n = nodes[j];
        reversed.push_back({static_cast<uint16_t>(n.length == 1 ? 0 : n.length), n.distance});
    }
    tokens->insert(tokens->end(), reversed.rbegin(), reversed.rend());
}

// Cost-optimal parse (shortest path over token costs) in blocks. A match of the nice length
// ends its block early and is taken as it stands, which keeps highly repetitive data fast.
void ParseOptimal(MatchFinder* mf, const CostModel& model, std::vector<ImplodeToken>* tokens) {
    std::vector<PathNode> nodes;
    size_t pos = 0;
    while (pos < mf->size) {
        size_t blockLen = std::min(kOptimalBlock, mf->size - pos);
        nodes.assign(blockLen + 1, {std::numeric_limits<uint32_t>::max(), 0, 0});
        nodes[0].cost = 0;
        size_t end = blockLen;
        Match cut;
        for (size_t j = 0; j < blockLen; ++j) {
            size_t p = pos + j;
            uint32_t base = nodes[j].cost;
            Relax(&nodes, j + 1, base + model.literal[mf->data[p]], 1, 0);
            Match pair = FindPairMatch(*mf, p);
            if (pair.length == 2 && j + 2 <= blockLen) {
                Relax(&nodes, j + 2, base + MatchCost(model, 2, pair.distance), 2, pair.distance);
            }
            uint32_t covered = 2;
            Match longest = WalkChain(*mf, p, [&](const Match& m) {
                for (uint32_t len = covered + 1; len <= m.length && j + len <= blockLen; ++len) {
                    Relax(&nodes, j + len, base + MatchCost(model, len, m.distance), len,
                          m.distance);
                }
                covered = m.length;
            });
            InsertPosition(mf, p);
            if (longest.length >= mf->niceLength) {
                end = j;
                cut = longest;
                break;
            }
        }
        AppendPath(nodes, end, tokens);
        pos += end;
        if (cut.length != 0) {
            PushMatch(tokens, cut);
            InsertRange(mf, pos + 1, pos + cut.length);
            pos += cut.length;
        }
    }
}

// Collects bits least significant first, the order in which the decoder reads them.
struct BitWriter {
    std::vector<uint8_t>* out;
    uint64_t acc;
    int count;
};

void PutBits(BitWriter* w, uint32_t value, int bits) {
    w->acc |= static_cast<uint64_t>(value & ((1u << bits) - 1)) << w->count;
    w->count += bits;
    while (w->count >= 8) {
        w->out->push_back(static_cast<uint8_t>(w->acc));
        w->acc >>= 8;
        w->count -= 8;
    }
}

void FlushBits(BitWriter* w) {
    if (w->count > 0) {
        w->out->push_back(static_cast<uint8_t>(w->acc));
    }
    w->acc = 0;
    w->count = 0;
}

void PutLiteral(BitWriter* w, int literalMode, uint8_t c) {
    PutBits(w, 0, 1);
    if (literalMode == IMPLODE_LITERAL_ASCII) {
        PutBits(w, ASCII_CODES[c], ASCII_CODE_LENGTHS[c]);
    } else {
        PutBits(w, c, 8);
    }
}

void PutLengthCode(BitWriter* w, int index, uint32_t extra) {
    PutBits(w, 1, 1);
    PutBits(w, LENGTH_CODES[index], LENGTH_CODE_LENGTHS[index]);
    if (LENGTH_EXTRA_BITS[index] != 0) {
        PutBits(w, extra, LENGTH_EXTRA_BITS[index]);
    }
}

void PutMatch(BitWriter* w, uint32_t dictBits, uint32_t length, uint32_t distance) {
    int index = LengthIndex(length);
    PutLengthCode(w, index, length - 2 - LENGTH_BASE[index]);
    uint32_t low = LowDistanceBits(length, dictBits);
    uint32_t d = distance - 1;
    PutBits(w, DISTANCE_CODES[d >> low], DISTANCE_CODE_LENGTHS[d >> low]);
    PutBits(w, d, static_cast<int>(low));
}

void WriteStream(const uint8_t* data, const std::vector<ImplodeToken>& tokens, int literalMode,
                 uint32_t dictBits, std::vector<uint8_t>* out) {
    out->clear();
    out->push_back(static_cast<uint8_t>(literalMode));
    out->push_back(static_cast<uint8_t>(dictBits));
    BitWriter w = {out, 0, 0};
    size_t pos = 0;
    for (const ImplodeToken& t : tokens) {
        if (t.length == 0) {
            PutLiteral(&w, literalMode, data[pos++]);
        } else {
            PutMatch(&w, dictBits, t.length, t.distance);
            pos += t.length;
        }
    }
    PutLengthCode(&w, kEndMarkerIndex, kEndMarkerExtra);
    FlushBits(&w);
}

} // namespace

int ChooseLiteralMode(const uint8_t* data, size_t size) {
    uint64_t asciiBits = 0;
    for (size_t i = 0; i < size; ++i) {
        asciiBits += ASCII_CODE_LENGTHS[data[i]];
    }
    return asciiBits < 8ull * size ? IMPLODE_LITERAL_ASCII : IMPLODE_LITERAL_BINARY;
}

bool ImplodeOptionsValid(const ImplodeOptions& options) {
    return options.literalMode >= IMPLODE_LITERAL_AUTO &&
           options.literalMode <= IMPLODE_LITERAL_ASCII &&
           options.dictBits >= IMPLODE_MIN_DICT_BITS && options.dictBits <= IMPLODE_MAX_DICT_BITS &&
           options.level >= IMPLODE_LEVEL_FAST && options.level <= IMPLODE_LEVEL_BEST;
}

std::vector<ImplodeToken> ImplodeParse(const uint8_t* data, size_t size,
                                       const ImplodeOptions& options) {
    const LevelParams& params = kLevels[options.level - 1];
    CostModel model;
    BuildCostModel(options.literalMode, static_cast<uint32_t>(options.dictBits), &model);
    MatchFinder mf;
    InitMatchFinder(&mf, data, size, static_cast<uint32_t>(options.dictBits), params);
    std::vector<ImplodeToken> tokens;
    if (params.optimal) {
        ParseOptimal(&mf, model, &tokens);
    } else {
        ParseGreedy(&mf, model, params, &tokens);
    }
    return tokens;
}

bool Implode(const uint8_t* data, size_t size, const ImplodeOptions& options,
             std::vector<uint8_t>* out) {
    if (!ImplodeOptionsValid(options) || size > kMaxInput) {
        return false;
    }
    ImplodeOptions resolved = options;
    if (resolved.literalMode == IMPLODE_LITERAL_AUTO) {
        resolved.literalMode = ChooseLiteralMode(data, size);
    }
    std::vector<ImplodeToken> tokens = ImplodeParse(data, size, resolved);
    WriteStream(data, tokens, resolved.literalMode, static_cast<uint32_t>(resolved.dictBits), out);
    return true;
}
