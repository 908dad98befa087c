#include "tablebase/compressed.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "tbgen/emd_encoder.h"

namespace tavrix {
namespace {

using Bytes = std::vector<uint8_t>;

// A read-only stream over a copy of the bytes.
struct MemoryFile {
    Bytes bytes;
    std::FILE* file;
    explicit MemoryFile(const Bytes& b) : bytes(b.empty() ? Bytes{0} : b) {
        file = fmemopen(bytes.data(), b.size() == 0 ? 1 : b.size(), "rb");
        if (b.empty()) std::fgetc(file);   // an empty stream: nothing left to read
    }
    ~MemoryFile() { std::fclose(file); }
};

struct Decoded {
    int openCode = 0;
    int decodeCode = 0;   // first failing block's code
    uint64_t length = 0;
    Bytes data;
};

Decoded DecodeWhole(const Bytes& file) {
    MemoryFile f(file);
    Decoded d;
    CompressedTableHandle* h = nullptr;
    d.openCode = OpenCompressedTable(f.file, &h);
    if (d.openCode != 0) return d;
    d.length = CompressedTableLength(*h);
    uint8_t block[EMD_DECODE_AREA_SIZE];
    for (uint32_t b = 0; b < h->blockCount && d.decodeCode == 0; ++b) {
        d.decodeCode = DecodeTableBlock(*h, f.file, b, block);
        d.data.insert(d.data.end(), block, block + CompressedBlockLength(*h, b));
    }
    CloseCompressedTable(h);
    return d;
}

// The checksum bit by bit, as the format states it; `reversed` picks the format's rule
// (polynomial applied when the low bit is 0) over the usual CRC-32 rule.
uint32_t BitwiseChecksum(const uint8_t* p, size_t n, bool reversed) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        sum ^= p[i];
        for (int k = 0; k < 8; ++k) sum = ((sum & 1) == 0) == reversed ? (sum >> 1) ^ 0xEDB88320 : sum >> 1;
    }
    return sum;
}

uint32_t HeaderSize(const Bytes& f) { return uint32_t(f[64]) << 24 | f[65] << 16 | f[66] << 8 | f[67]; }

void SealHeader(Bytes& f, bool reversed = true) {
    const uint32_t size = HeaderSize(f);
    if (size < 4 || size > f.size()) return;
    const uint32_t sum = BitwiseChecksum(f.data(), size - 4, reversed);
    for (int i = 0; i < 4; ++i) f[size - 4 + i] = uint8_t(sum >> (24 - 8 * i));
}

void PutBits(Bytes& f, uint64_t bitPosition, uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i, ++bitPosition) {
        const uint8_t mask = uint8_t(0x80 >> (bitPosition & 7));
        if ((value >> (bits - 1 - i)) & 1) f[bitPosition >> 3] |= mask;
        else f[bitPosition >> 3] &= uint8_t(~mask);
    }
}

Bytes Encode(const Bytes& data, EmdLayout* layout = nullptr) {
    Bytes out;
    EXPECT_TRUE(EncodeCompressedTable(data.data(), data.size(), out, layout));
    return out;
}

// Table-like data: a periodic pattern of small values with scattered exceptions.
Bytes Periodic(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes d(n);
    for (size_t i = 0; i < n; ++i) d[i] = rng() % 16 == 0 ? uint8_t(rng() % 40) : uint8_t((i % 62) / 5);
    return d;
}

Bytes Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes d(n);
    for (auto& x : d) x = uint8_t(rng());
    return d;
}

TEST(CompressedTable, EncodedTablesReadBackUnchanged) {
    struct Case {
        const char* name;
        Bytes data;
        int storedBlocks;      // -1: not checked
        int codeSymbols;       // -1: more than one
        size_t largestFile;    // the encoded file must not be bigger
    };
    // Geometric byte frequencies: the rarest symbols get codes longer than the direct lookup.
    Bytes skewed(4 * EMD_BLOCK_SIZE);
    std::mt19937 rng(13);
    for (auto& x : skewed) x = uint8_t(__builtin_ctz(rng() | 1u << 30) * 7);
    Bytes runs(3 * EMD_BLOCK_SIZE);
    for (size_t i = 0; i < runs.size(); ++i) runs[i] = uint8_t(i / 700 % 5);
    Bytes storedThenCoded = Random(EMD_BLOCK_SIZE, 3);
    const Bytes tail = Periodic(EMD_BLOCK_SIZE, 4);
    storedThenCoded.insert(storedThenCoded.end(), tail.begin(), tail.end());
    const Case cases[] = {
        // Nothing shrinks: every block stored and copied; the file has an empty code, so a
        // block that was decoded instead of copied would fail.
        {"random", Random(2 * EMD_BLOCK_SIZE + 100, 1), 3, 0, 2 * EMD_BLOCK_SIZE + 100 + 400},
        {"runs", runs, 0, -1, runs.size() / 20},
        {"long codes", skewed, 0, -1, skewed.size() / 3},
        {"short last block", Periodic(2 * EMD_BLOCK_SIZE + 5, 2), -1, -1, 2 * EMD_BLOCK_SIZE},
        {"one stored, one coded", storedThenCoded, 1, -1, EMD_BLOCK_SIZE + EMD_BLOCK_SIZE / 2 + 400},
        // Two equal literals: a lone symbol whose code takes no bits.
        {"single symbol", Bytes{5, 5}, 0, 1, 200},
        {"one byte", Bytes{9}, 1, 0, 200},
        {"all zero", Bytes(EMD_BLOCK_SIZE * 2, 0), 0, -1, 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EmdLayout layout{};
        const Bytes file = Encode(c.data, &layout);
        const Decoded d = DecodeWhole(file);
        ASSERT_EQ(d.openCode, 0);
        EXPECT_EQ(d.decodeCode, 0);
        EXPECT_EQ(d.length, c.data.size());
        EXPECT_EQ(d.data, c.data);
        EXPECT_EQ(layout.blockCount, (c.data.size() + EMD_BLOCK_SIZE - 1) / EMD_BLOCK_SIZE);
        if (c.storedBlocks >= 0) {
            EXPECT_EQ(int(layout.storedBlocks), c.storedBlocks);
        }
        if (c.codeSymbols >= 0) {
            EXPECT_EQ(int(layout.mainCodeSymbols), c.codeSymbols);
        } else {
            EXPECT_GT(layout.mainCodeSymbols, 1u);
        }
        EXPECT_LE(file.size(), c.largestFile);
        if (c.data == skewed) {
            EXPECT_GT(layout.longestCode, uint32_t(EMD_DIRECT_BITS));
        }
    }
}

TEST(CompressedTable, HeaderChecksumFollowsTheReversedRule) {
    const Bytes data = Periodic(3000, 5);
    Bytes file = Encode(data);
    for (size_t length : {size_t(1), size_t(7), size_t(8), size_t(13), size_t(2999)})
        EXPECT_EQ(EmdChecksum(data.data() + 1, length), BitwiseChecksum(data.data() + 1, length, true)) << length;
    const struct {
        bool reversed;
        int kind;
    } cases[] = {{true, 0}, {false, EMD_FILE_BROKEN}};
    for (const auto& c : cases) {
        SealHeader(file, c.reversed);
        EXPECT_EQ(EmdErrorKind(DecodeWhole(file).openCode), c.kind) << c.reversed;
    }
}

// A header whose main code-length stream is replaced by `stream`.
Bytes WithCodeLengths(const Bytes& file, const EmdLayout& layout, const Bytes& stream) {
    Bytes f = file;
    const uint64_t room = layout.headerSize - 4 - layout.codeLengthsByte;
    EXPECT_LE(stream.size(), room);
    std::fill(f.begin() + long(layout.codeLengthsByte), f.begin() + long(layout.headerSize - 4), 0);
    std::copy(stream.begin(), stream.end(), f.begin() + long(layout.codeLengthsByte));
    SealHeader(f);
    return f;
}

Bytes LengthStream(std::vector<std::pair<int, int>> nonZero) {
    uint8_t lengths[EMD_MAIN_SYMBOLS] = {};
    for (auto [symbol, length] : nonZero) lengths[symbol] = uint8_t(length);
    Bytes out;
    AppendCodeLengths(out, lengths, EMD_MAIN_SYMBOLS);
    return out;
}

TEST(CompressedTable, EveryKindOfDamageAnswersBroken) {
    EmdLayout layout{};
    const Bytes coded = Encode(Periodic(2 * EMD_BLOCK_SIZE + 77, 6), &layout);
    EmdLayout storedLayout{};
    const Bytes stored = Encode(Random(2 * EMD_BLOCK_SIZE, 7), &storedLayout);
    ASSERT_EQ(storedLayout.mainCodeSymbols, 0u);
    const uint64_t distanceBit = layout.blockIndexByte * 8 + (layout.blockCount + 1) * EMD_BLOCK_BITS;

    // A repeat that writes past the 1024 lengths: the pre-code (short form, width 1) gives
    // symbols 0 and 32 ("length 0 repeated") one bit each and the repeat code only symbol 41
    // (2^9 + 33 + 9 more bits); the run then asks for 512 + 33 + 511 lengths.
    Bytes pastEnd(40, 0);
    {
        uint64_t at = 0;
        auto put = [&](uint32_t v, int n) { PutBits(pastEnd, at, v, n); at += uint64_t(n); };
        put(0, 1);                     // main code: not all zero
        put(0, 1);                     // pre-code: not all zero
        put(1, 5);                     // width 1
        auto zeros = [&](int n) {      // a 0, then counts of further zeros
            while (n > 0) {
                const int more = std::min(n - 1, 15);
                put(0, 1);
                put(uint32_t(more), 4);
                n -= more + 1;
            }
        };
        put(1, 1);  zeros(31);         // pre[0] = 1, pre[1..31] = 0
        put(1, 1);  zeros(72);         // pre[32] = 1, pre[33..104] = 0
        put(1, 1);  zeros(22);         // pre[105] = 1 (repeat symbol 41), pre[106..127] = 0
        put(1, 1);                     // symbol 32; the lone repeat symbol takes no bits
        put(511, 9);
    }

    struct Case {
        const char* name;
        const Bytes* source;
        std::function<void(Bytes&)> damage;
        bool atOpen;
        int kind;
    };
    auto sealed = [](std::function<void(Bytes&)> change) {
        return [change](Bytes& f) { change(f); SealHeader(f); };
    };
    const Case cases[] = {
        {"banner", &coded, sealed([](Bytes& f) { f[5] ^= 0x20; }), true, EMD_FILE_BROKEN},
        {"distance count", &coded, sealed([](Bytes& f) { f[71] = 23; }), true, EMD_FILE_BROKEN},
        {"format magic", &coded, sealed([](Bytes& f) { f[79] ^= 1; }), true, EMD_FILE_BROKEN},
        {"block bits", &coded, sealed([](Bytes& f) { f[70] = 17; }), true, EMD_FILE_BROKEN},
        {"header size too small", &coded, [](Bytes& f) { f[64] = f[65] = f[66] = 0; f[67] = 83; }, true, EMD_FILE_BROKEN},
        {"header size past the end", &coded, [](Bytes& f) { f[64] = 0x7F; }, true, EMD_FILE_BROKEN},
        {"header checksum", &coded, [](Bytes& f) { f[HeaderSize(f) - 1] ^= 4; }, true, EMD_FILE_BROKEN},
        {"block count beyond the header", &coded, sealed([](Bytes& f) { f[72] = 0x10; }), true, EMD_FILE_BROKEN},
        {"no blocks", &coded, sealed([](Bytes& f) { f[72] = f[73] = f[74] = f[75] = 0; }), true, EMD_FILE_BROKEN},
        {"short fixed header", &coded, [](Bytes& f) { f.resize(50); }, true, EMD_READ_ERROR},
        {"last block cut off", &coded, [](Bytes& f) { f.pop_back(); }, true, EMD_FILE_BROKEN},
        {"block sizes past the file", &coded,
         sealed([&](Bytes& f) { PutBits(f, layout.blockIndexByte * 8, 0, EMD_BLOCK_BITS); }), true, EMD_FILE_BROKEN},
        {"packed block without a code", &stored,
         sealed([&](Bytes& f) { PutBits(f, storedLayout.blockIndexByte * 8, 1, EMD_BLOCK_BITS); }), true, EMD_FILE_BROKEN},
        {"incomplete code", &coded, [&](Bytes& f) { f = WithCodeLengths(f, layout, LengthStream({{0, 2}, {1, 2}})); }, true, EMD_FILE_BROKEN},
        {"over-full code", &coded, [&](Bytes& f) { f = WithCodeLengths(f, layout, LengthStream({{0, 1}, {1, 1}, {2, 1}})); }, true, EMD_FILE_BROKEN},
        {"lone two-bit code", &coded, [&](Bytes& f) { f = WithCodeLengths(f, layout, LengthStream({{7, 2}})); }, true, EMD_FILE_BROKEN},
        {"lengths written past the end", &coded, [&](Bytes& f) { f = WithCodeLengths(f, layout, pastEnd); }, true, EMD_FILE_BROKEN},
        {"header too short for its code", &coded,
         [&](Bytes& f) { f[67] = uint8_t(layout.codeLengthsByte + 5); f[66] = uint8_t((layout.codeLengthsByte + 5) >> 8);
                         SealHeader(f); }, true, EMD_FILE_BROKEN},
        {"coded block byte", &coded, [&](Bytes& f) { f[layout.headerSize + 40] ^= 0x10; }, false, EMD_FILE_BROKEN},
        {"stored block byte", &stored, [&](Bytes& f) { f[storedLayout.headerSize + 9] ^= 1; }, false, EMD_FILE_BROKEN},
        {"match distances past the output", &coded,
         sealed([&](Bytes& f) { for (int k = 0; k < EMD_MATCH_DISTANCES; ++k) PutBits(f, distanceBit + k * 13, 8191, 13); }),
         false, EMD_FILE_BROKEN},
        {"block checksum", &coded, sealed([](Bytes& f) { f[EMD_FIXED_HEADER_SIZE + 4] ^= 1; }), false, EMD_FILE_BROKEN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes f = *c.source;
        c.damage(f);
        const Decoded d = DecodeWhole(f);
        if (c.atOpen) {
            EXPECT_EQ(EmdErrorKind(d.openCode), c.kind);
        } else {
            ASSERT_EQ(d.openCode, 0);
            EXPECT_EQ(EmdErrorKind(d.decodeCode), c.kind);
        }
    }
}

TEST(CompressedTable, FileShortenedAfterOpeningIsAReadError) {
    const Bytes file = Encode(Random(EMD_BLOCK_SIZE, 8));
    MemoryFile whole(file);
    MemoryFile cut(Bytes(file.begin(), file.end() - 10));
    CompressedTableHandle* h = nullptr;
    ASSERT_EQ(OpenCompressedTable(whole.file, &h), 0);
    uint8_t block[EMD_DECODE_AREA_SIZE];
    EXPECT_EQ(DecodeTableBlock(*h, cut.file, 0, block), EMD_READ_ERROR);
    EXPECT_EQ(DecodeTableBlock(*h, whole.file, 1, block), EMD_BAD_ARGUMENT);
    EXPECT_EQ(DecodeTableBlock(*h, whole.file, 0, block), 0);
    CloseCompressedTable(h);
}

// Mutated files: every answer is an error of a known kind or the original data.
TEST(CompressedTable, MutatedFilesNeverMisread) {
    const Bytes mixed = [] {
        Bytes d = Periodic(EMD_BLOCK_SIZE + 300, 9);
        const Bytes r = Random(EMD_BLOCK_SIZE, 10);
        d.insert(d.begin() + EMD_BLOCK_SIZE, r.begin(), r.end());
        return d;
    }();
    Bytes skewed(EMD_BLOCK_SIZE + 5000);   // codes longer than the direct lookup
    std::mt19937 source(14);
    for (auto& x : skewed) x = uint8_t(__builtin_ctz(source() | 1u << 30));
    constexpr int SOURCES = 4;
    const Bytes sources[SOURCES] = {Periodic(2 * EMD_BLOCK_SIZE + 999, 11), mixed, Bytes{5, 5, 5, 5}, skewed};
    EmdLayout layouts[SOURCES];
    std::vector<Bytes> files;
    for (int i = 0; i < SOURCES; ++i) files.push_back(Encode(sources[i], &layouts[i]));
    std::mt19937 rng(12);
    const int rounds = TAVRIX_SANITIZED ? 1000 : 3000;
    int opened = 0, readBack = 0;
    for (int round = 0; round < rounds; ++round) {
        const Bytes& data = sources[round % SOURCES];
        const EmdLayout& layout = layouts[round % SOURCES];
        Bytes f = files[round % SOURCES];
        const int kind = int(rng() % 5);
        if (kind == 0) {
            for (int n = 1 + int(rng() % 4); n > 0; --n) f[rng() % f.size()] ^= uint8_t(1u << (rng() % 8));
        } else if (kind == 1) {
            f.resize(rng() % f.size());
        } else if (kind == 2) {   // header fields, resealed so that the deeper checks run
            for (int n = 1 + int(rng() % 3); n > 0; --n)
                f[EMD_FIXED_HEADER_SIZE + rng() % (layout.headerSize - 4 - EMD_FIXED_HEADER_SIZE)] ^= uint8_t(1u << (rng() % 8));
            SealHeader(f);
        } else if (kind == 3) {   // a size field or the header size itself
            if (rng() % 2) PutBits(f, 64 * 8 + 16 + rng() % 16, 1, 1);
            else PutBits(f, layout.blockIndexByte * 8 + (rng() % (layout.blockCount + 1)) * 13, rng() % 8192, 13);
            SealHeader(f);
        } else {                  // random bytes from the code-length stream on
            for (uint64_t i = layout.codeLengthsByte + rng() % 8; i < layout.headerSize - 4; ++i) f[i] = uint8_t(rng());
            SealHeader(f);
        }
        const Decoded d = DecodeWhole(f);
        const int openKind = EmdErrorKind(d.openCode);
        ASSERT_TRUE(openKind == 0 || openKind == EMD_FILE_BROKEN || openKind == EMD_READ_ERROR) << d.openCode;
        if (openKind != 0) continue;
        ++opened;
        const int decodeKind = EmdErrorKind(d.decodeCode);
        ASSERT_TRUE(decodeKind == 0 || decodeKind == EMD_FILE_BROKEN || decodeKind == EMD_READ_ERROR) << d.decodeCode;
        // Every block that did decode is the original's.
        const size_t good = d.decodeCode == 0 ? d.data.size() : d.data.size() - std::min<size_t>(d.data.size(), EMD_BLOCK_SIZE);
        ASSERT_LE(good, data.size());
        ASSERT_TRUE(std::equal(d.data.begin(), d.data.begin() + long(good), data.begin()));
        if (d.decodeCode == 0) {
            ASSERT_EQ(d.data.size(), data.size());
            ++readBack;
        }
    }
    // The mutations reach the decoder, and some leave the table intact.
    EXPECT_GT(opened, rounds / 10);
    EXPECT_GT(readBack, 0);
}

}  // namespace
}  // namespace tavrix
