// Compressed table writer. Blocks are parsed greedily with one step of look-ahead against a
// fixed set of 24 distances; the distances are the ones a hash-chain search finds most
// useful over a sample of the table. One Huffman code serves the whole file, fitted to the
// blocks that end up coded.
#include "tbgen/emd_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <queue>
#include <utility>

#include "tablebase/compressed.h"

namespace tavrix {

namespace {

constexpr uint32_t BLOCK = EMD_BLOCK_SIZE;
constexpr int MIN_MATCH = 3;             // shorter matches rarely beat two literals
constexpr int MAIN_CODE_LIMIT = 20;      // longest main code; rarer symbols pay a little more
constexpr int PRE_CODE_LIMIT = 15;
constexpr int PRE_CODE_SYMBOLS = 64;
constexpr int SHORT_REPEAT_MAX = 33;     // repeat counts 2..33 have a symbol of their own
constexpr int HASH_BITS = 13;
constexpr int CHAIN_DEPTH = 48;
constexpr uint32_t SAMPLED_BLOCKS = 256;
// A block is coded only when that saves more than 1/64 of it: a stored block is copied.
constexpr uint32_t STORE_MARGIN_SHIFT = 6;

// A token: the main-code symbol in bits 0..9, the extra length bits above.
constexpr uint32_t SYMBOL_MASK = 0x3FF;
constexpr int EXTRA_SHIFT = 10;

int ExtraBitsOf(uint32_t symbol) {
    const int a = int(symbol & 31);
    return symbol >= 256 && a >= 15 ? a - 14 : 0;
}

uint32_t MatchToken(int distanceIndex, uint32_t length) {
    uint32_t a, extra = 0;
    if (length <= 15) {
        a = length - 1;
    } else {
        const int k = 31 - __builtin_clz(length - 14);   // 2^k <= length - 14 < 2^(k+1)
        a = uint32_t(k) + 14;
        extra = length - 14 - (1u << k);
    }
    const uint32_t symbol = uint32_t(distanceIndex + 8) * 32 + a;
    return symbol | extra << EXTRA_SHIFT;
}

struct BitWriter {
    std::vector<uint8_t>& out;
    uint64_t pending = 0;
    int count = 0;
    void Put(uint32_t value, int bits) {
        if (bits == 0) return;
        pending = pending << bits | value;
        count += bits;
        while (count >= 8) {
            count -= 8;
            out.push_back(uint8_t(pending >> count));
        }
        pending &= (uint64_t(1) << count) - 1;
    }
    void Align() {
        if (count > 0) Put(0, 8 - count);
    }
};

void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

// Huffman code lengths no longer than `limit`; flattening the counts until the tree fits.
void BuildLengths(const uint64_t* frequency, int n, int limit, uint8_t* lengths) {
    std::memset(lengths, 0, size_t(n));
    std::vector<uint64_t> weight(frequency, frequency + n);
    std::vector<int> symbols;
    for (int s = 0; s < n; ++s)
        if (weight[s] > 0) symbols.push_back(s);
    if (symbols.empty()) return;
    if (symbols.size() == 1) {
        lengths[symbols[0]] = 1;
        return;
    }
    for (;;) {
        using Item = std::pair<uint64_t, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue;
        const int leaves = int(symbols.size());
        std::vector<int> parent(size_t(2 * leaves), -1);
        for (int i = 0; i < leaves; ++i) queue.push({weight[symbols[i]], i});
        int next = leaves;
        while (queue.size() > 1) {
            const Item a = queue.top();
            queue.pop();
            const Item b = queue.top();
            queue.pop();
            parent[a.second] = parent[b.second] = next;
            queue.push({a.first + b.first, next++});
        }
        int longest = 0;
        for (int i = 0; i < leaves; ++i) {
            int depth = 0;
            for (int node = i; parent[node] >= 0; node = parent[node]) ++depth;
            lengths[symbols[i]] = uint8_t(depth);
            longest = std::max(longest, depth);
        }
        if (longest <= limit) return;
        for (int s : symbols) weight[s] = std::max<uint64_t>(1, weight[s] >> 1);
    }
}

// Canonical codes for the lengths, assigned as the reader assigns them.
void CanonicalCodes(const uint8_t* lengths, int n, uint32_t* codes) {
    uint32_t perLength[32] = {}, nextCode[32] = {};
    for (int s = 0; s < n; ++s)
        if (lengths[s] > 0) ++perLength[lengths[s]];
    uint32_t code = 0;
    for (int len = 1; len < 32; ++len) {
        code = (code + perLength[len - 1]) << 1;
        nextCode[len] = code;
    }
    for (int s = 0; s < n; ++s) codes[s] = lengths[s] > 0 ? nextCode[lengths[s]]++ : 0;
}

struct Code {
    uint8_t length[EMD_MAIN_SYMBOLS];
    uint32_t code[EMD_MAIN_SYMBOLS];
    int bits[EMD_MAIN_SYMBOLS];   // bits written per symbol
    int used;
};

void MakeCode(const uint64_t* frequency, int n, int limit, Code& c) {
    BuildLengths(frequency, n, limit, c.length);
    CanonicalCodes(c.length, n, c.code);
    c.used = 0;
    for (int s = 0; s < n; ++s) c.used += c.length[s] > 0;
    for (int s = 0; s < n; ++s) c.bits[s] = c.used == 1 ? 0 : c.length[s];
}

void PutSymbol(BitWriter& w, const Code& c, int symbol) { w.Put(c.code[symbol], c.bits[symbol]); }

void WriteShortLengths(BitWriter& w, const uint8_t* lengths, int n) {
    int width = 0;
    for (int i = 0; i < n; ++i) width = std::max(width, 32 - __builtin_clz(uint32_t(lengths[i]) | 1));
    w.Put(uint32_t(width), 5);
    for (int i = 0; i < n;) {
        const uint8_t v = lengths[i++];
        w.Put(v, width);
        if (v == 0) {
            int zeros = 0;
            while (i < n && lengths[i] == 0 && zeros < 15) ++zeros, ++i;
            w.Put(uint32_t(zeros), 4);
        }
    }
}

// A repeat count as its repeat-code symbol and extra bits.
void RepeatSymbol(uint32_t times, int& symbol, uint32_t& extra, int& extraBits) {
    if (times <= SHORT_REPEAT_MAX) {
        symbol = int(times) - 2;
        extra = 0;
        extraBits = 0;
        return;
    }
    const int k = 31 - __builtin_clz(times - 33);
    symbol = 32 + k;
    extra = times - 33 - (1u << k);
    extraBits = k;
}

void WriteCodeLengths(BitWriter& w, const uint8_t* lengths, int n) {
    bool allZero = true;
    for (int i = 0; i < n; ++i) allZero = allZero && lengths[i] == 0;
    w.Put(allZero ? 1 : 0, 1);
    if (allZero) return;
    if (n <= 128) {
        WriteShortLengths(w, lengths, n);
        return;
    }
    // Runs of one length become (length + 32, repeat count) pairs under two pre-codes.
    struct Run { int length; uint32_t times; };
    std::vector<Run> runs;
    for (int i = 0; i < n;) {
        int j = i;
        while (j < n && lengths[j] == lengths[i]) ++j;
        runs.push_back({lengths[i], uint32_t(j - i)});
        i = j;
    }
    uint64_t singleFrequency[PRE_CODE_SYMBOLS] = {}, repeatFrequency[PRE_CODE_SYMBOLS] = {};
    for (const Run& r : runs) {
        if (r.times == 1) {
            ++singleFrequency[r.length];
        } else {
            int f, bits;
            uint32_t extra;
            RepeatSymbol(r.times, f, extra, bits);
            ++singleFrequency[32 + r.length];
            ++repeatFrequency[f];
        }
    }
    Code single, repeat;
    MakeCode(singleFrequency, PRE_CODE_SYMBOLS, PRE_CODE_LIMIT, single);
    MakeCode(repeatFrequency, PRE_CODE_SYMBOLS, PRE_CODE_LIMIT, repeat);
    uint8_t pre[2 * PRE_CODE_SYMBOLS];
    std::memcpy(pre, single.length, PRE_CODE_SYMBOLS);
    std::memcpy(pre + PRE_CODE_SYMBOLS, repeat.length, PRE_CODE_SYMBOLS);
    WriteCodeLengths(w, pre, 2 * PRE_CODE_SYMBOLS);
    for (const Run& r : runs) {
        if (r.times == 1) {
            PutSymbol(w, single, r.length);
            continue;
        }
        int f, bits;
        uint32_t extra;
        RepeatSymbol(r.times, f, extra, bits);
        PutSymbol(w, single, 32 + r.length);
        PutSymbol(w, repeat, f);
        w.Put(extra, bits);
    }
}

// The 24 distances that matched most bytes in a hash-chain search over sampled blocks.
void ChooseDistances(const uint8_t* data, uint64_t length, uint32_t* distances) {
    std::vector<uint64_t> score(BLOCK, 0);
    const uint64_t blocks = (length + BLOCK - 1) / BLOCK;
    const uint64_t step = std::max<uint64_t>(1, blocks / SAMPLED_BLOCKS);
    std::vector<int32_t> head(size_t(1) << HASH_BITS), previous(BLOCK);
    for (uint64_t b = 0; b < blocks; b += step) {
        const uint8_t* p = data + b * BLOCK;
        const uint32_t n = uint32_t(std::min<uint64_t>(BLOCK, length - b * BLOCK));
        std::fill(head.begin(), head.end(), -1);
        auto hashAt = [&](uint32_t i) {
            uint32_t v;
            std::memcpy(&v, p + i, 4);
            return (v * 2654435761u) >> (32 - HASH_BITS);
        };
        auto insert = [&](uint32_t i) {
            if (i + 4 > n) return;
            const uint32_t h = hashAt(i);
            previous[i] = head[h];
            head[h] = int32_t(i);
        };
        for (uint32_t i = 0; i + 4 <= n;) {
            uint32_t bestLength = 0, bestDistance = 0;
            int candidate = head[hashAt(i)];
            for (int depth = 0; candidate >= 0 && depth < CHAIN_DEPTH; ++depth, candidate = previous[candidate]) {
                uint32_t len = 0;
                while (i + len < n && p[candidate + len] == p[i + len]) ++len;
                if (len > bestLength) bestLength = len, bestDistance = i - uint32_t(candidate);
            }
            if (bestLength >= 4) {
                score[bestDistance] += bestLength - 2;
                for (uint32_t k = 0; k < bestLength; ++k) insert(i + k);
                i += bestLength;
            } else {
                insert(i++);
            }
        }
    }
    std::vector<uint32_t> order;
    for (uint32_t d = 1; d < BLOCK; ++d)
        if (score[d] > 0) order.push_back(d);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return score[a] > score[b]; });
    if (order.size() > EMD_MATCH_DISTANCES) order.resize(EMD_MATCH_DISTANCES);
    for (uint32_t d = 1; order.size() < EMD_MATCH_DISTANCES; ++d)
        if (std::find(order.begin(), order.end(), d) == order.end()) order.push_back(d);
    std::sort(order.begin(), order.end());
    std::copy(order.begin(), order.end(), distances);
}

struct Match { uint32_t length; int index; };

Match LongestMatch(const uint8_t* p, uint32_t n, uint32_t at, const uint32_t* distances) {
    Match best{0, 0};
    for (int k = 0; k < EMD_MATCH_DISTANCES; ++k) {
        const uint32_t d = distances[k];
        if (d > at || p[at - d] != p[at]) continue;
        uint32_t len = 1;
        while (at + len < n && p[at + len - d] == p[at + len]) ++len;
        if (len > best.length) best = {len, k};
        if (at + len == n) break;
    }
    return best;
}

void ParseBlock(const uint8_t* p, uint32_t n, const uint32_t* distances, std::vector<uint32_t>& tokens) {
    for (uint32_t at = 0; at < n;) {
        const Match m = LongestMatch(p, n, at, distances);
        if (m.length < uint32_t(MIN_MATCH) ||
            (at + 1 < n && LongestMatch(p, n, at + 1, distances).length > m.length + 1)) {
            tokens.push_back(p[at++]);
            continue;
        }
        tokens.push_back(MatchToken(m.index, m.length));
        at += m.length;
    }
}

uint64_t CodedBits(const std::vector<uint32_t>& tokens, uint64_t first, uint64_t last, const Code& c) {
    uint64_t bits = 0;
    for (uint64_t t = first; t < last; ++t) {
        const uint32_t s = tokens[t] & SYMBOL_MASK;
        if (c.length[s] == 0) return UINT64_MAX;
        bits += uint64_t(c.bits[s]) + uint64_t(ExtraBitsOf(s));
    }
    return bits;
}

// Bytes a block takes coded (at least one), or UINT64_MAX when the code cannot express it.
uint64_t CodedBytes(const std::vector<uint32_t>& tokens, uint64_t first, uint64_t last, const Code& c) {
    const uint64_t bits = CodedBits(tokens, first, last, c);
    return bits == UINT64_MAX ? bits : std::max<uint64_t>(1, (bits + 7) / 8);
}

}  // namespace

bool EncodeCompressedTable(const uint8_t* data, uint64_t length, std::vector<uint8_t>& out, EmdLayout* layout) {
    out.clear();
    if (length == 0 || (length + BLOCK - 1) / BLOCK > UINT32_MAX) return false;
    const uint32_t blockCount = uint32_t((length + BLOCK - 1) / BLOCK);
    auto blockLength = [&](uint32_t b) { return uint32_t(std::min<uint64_t>(BLOCK, length - uint64_t(b) * BLOCK)); };

    uint32_t distances[EMD_MATCH_DISTANCES];
    ChooseDistances(data, length, distances);
    std::vector<uint32_t> tokens;
    std::vector<uint64_t> firstToken(blockCount + 1);
    for (uint32_t b = 0; b < blockCount; ++b) {
        firstToken[b] = tokens.size();
        ParseBlock(data + uint64_t(b) * BLOCK, blockLength(b), distances, tokens);
    }
    firstToken[blockCount] = tokens.size();

    // Fit the code to every block, drop the blocks it cannot shrink, fit it again to the rest.
    std::vector<uint8_t> coded(blockCount, 1);
    auto code = std::make_unique<Code>();
    for (int pass = 0; pass < 2; ++pass) {
        uint64_t frequency[EMD_MAIN_SYMBOLS] = {};
        for (uint32_t b = 0; b < blockCount; ++b)
            if (coded[b])
                for (uint64_t t = firstToken[b]; t < firstToken[b + 1]; ++t) ++frequency[tokens[t] & SYMBOL_MASK];
        MakeCode(frequency, EMD_MAIN_SYMBOLS, MAIN_CODE_LIMIT, *code);
        for (uint32_t b = 0; b < blockCount; ++b)
            if (coded[b] && CodedBytes(tokens, firstToken[b], firstToken[b + 1], *code) + (blockLength(b) >> STORE_MARGIN_SHIFT) >=
                                blockLength(b))
                coded[b] = 0;
    }
    uint32_t storedBlocks = 0;
    for (uint8_t c : coded) storedBlocks += c == 0;
    if (storedBlocks == blockCount) std::memset(code->length, 0, sizeof code->length);

    std::vector<uint8_t> body;
    std::vector<uint32_t> packedSize(blockCount), packedSum(blockCount), plainSum(blockCount);
    for (uint32_t b = 0; b < blockCount; ++b) {
        const uint8_t* plain = data + uint64_t(b) * BLOCK;
        const size_t start = body.size();
        if (coded[b]) {
            BitWriter w{body};
            for (uint64_t t = firstToken[b]; t < firstToken[b + 1]; ++t) {
                const uint32_t s = tokens[t] & SYMBOL_MASK;
                PutSymbol(w, *code, int(s));
                w.Put(tokens[t] >> EXTRA_SHIFT, ExtraBitsOf(s));
            }
            w.Align();
            if (body.size() == start) body.push_back(0);
        } else {
            body.insert(body.end(), plain, plain + blockLength(b));
        }
        packedSize[b] = uint32_t(body.size() - start);
        packedSum[b] = EmdChecksum(body.data() + start, packedSize[b]);
        plainSum[b] = EmdChecksum(plain, blockLength(b));
    }

    out.insert(out.end(), EMD_BANNER, EMD_BANNER + sizeof EMD_BANNER);
    PutBig32(out, 0);                          // header size, filled in below
    out.push_back(0);
    out.push_back(0);
    out.push_back(EMD_BLOCK_BITS);
    out.push_back(EMD_MATCH_DISTANCES);
    PutBig32(out, blockCount);
    PutBig32(out, 0x004001F5);
    for (uint32_t b = 0; b < blockCount; ++b) {
        PutBig32(out, packedSum[b]);
        PutBig32(out, plainSum[b]);
    }
    const uint64_t blockIndexByte = out.size();
    BitWriter w{out};
    // A field of EMD_BLOCK_BITS bits cannot hold a full block's size; 0 stands for it.
    for (uint32_t b = 0; b < blockCount; ++b) w.Put(packedSize[b] % BLOCK, EMD_BLOCK_BITS);
    w.Put(blockLength(blockCount - 1) % BLOCK, EMD_BLOCK_BITS);
    for (uint32_t d : distances) w.Put(d, EMD_BLOCK_BITS);
    w.Align();
    const uint64_t codeLengthsByte = out.size();
    WriteCodeLengths(w, code->length, EMD_MAIN_SYMBOLS);
    w.Align();
    const uint32_t headerSize = uint32_t(out.size() + 4);
    for (int i = 0; i < 4; ++i) out[64 + i] = uint8_t(headerSize >> (24 - 8 * i));
    PutBig32(out, EmdChecksum(out.data(), out.size()));
    out.insert(out.end(), body.begin(), body.end());

    if (layout != nullptr) {
        uint32_t used = 0, longest = 0;
        for (uint8_t l : code->length) {
            used += l > 0;
            longest = std::max<uint32_t>(longest, l);
        }
        *layout = EmdLayout{headerSize, blockIndexByte, codeLengthsByte, blockCount, storedBlocks, used, longest};
    }
    return true;
}

void AppendCodeLengths(std::vector<uint8_t>& out, const uint8_t* lengths, int n) {
    BitWriter w{out};
    WriteCodeLengths(w, lengths, n);
    w.Align();
}

bool WriteCompressedTable(const char* path, const uint8_t* data, uint64_t length) {
    std::vector<uint8_t> encoded;
    if (!EncodeCompressedTable(data, length, encoded)) return false;
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(encoded.data(), 1, encoded.size(), file) == encoded.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace tavrix
