// The generated tables against an independent source: every legal 3-man position probed
// through the engine must give Gaviota's distance to mate; 4-man tables must agree with
// themselves move by move.
#include <gtest/gtest.h>

#include <gtb-probe.h>

#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "board/position.h"
#include "tablebase/tb_fixture.h"

namespace tavrix::testing {
namespace {

constexpr const char* GAVIOTA_DIRECTORY = "/usr/share/gaviotatb/gtb1";

struct Gaviota {
    const char** paths = nullptr;
    bool ready = false;
    Gaviota() {
        paths = tbpaths_init();
        paths = tbpaths_add(paths, GAVIOTA_DIRECTORY);
        tb_init(0, tb_CP1, paths);
        tbcache_init(4 * 1024 * 1024, 0);
        ready = tb_availability() != 0;
    }
    ~Gaviota() {
        tbcache_done();
        tb_done();
        tbpaths_done(paths);
    }
    // Distance in moves for the side to move, or false when Gaviota has no answer.
    bool Distance(int side, int whiteKing, int blackKing, int square, int type, int owner, int& moves, bool& mated) {
        unsigned ws[3] = {unsigned(whiteKing), tb_NOSQUARE, tb_NOSQUARE};
        unsigned bs[3] = {unsigned(blackKing), tb_NOSQUARE, tb_NOSQUARE};
        unsigned char wp[3] = {tb_KING, tb_NOPIECE, tb_NOPIECE};
        unsigned char bp[3] = {tb_KING, tb_NOPIECE, tb_NOPIECE};
        (owner == WHITE ? ws : bs)[1] = unsigned(square);
        (owner == WHITE ? wp : bp)[1] = static_cast<unsigned char>(type);
        unsigned info = 0, plies = 0;
        if (!tb_probe_hard(unsigned(side), tb_NOSQUARE, tb_NOCASTLE, ws, bs, wp, bp, &info, &plies)) return false;
        mated = info != tb_DRAW && plies == 0;
        if (info == tb_DRAW) moves = 0;
        else if ((info == tb_WMATE) == (side == WHITE)) moves = int(plies + 1) / 2;
        else moves = -int(plies / 2);
        return info == tb_DRAW || info == tb_WMATE || info == tb_BMATE;
    }
};

TEST(TablebaseGenerator, EveryThreeManPositionAgreesWithGaviota) {
    Gaviota gaviota;
    ASSERT_TRUE(gaviota.ready) << "Gaviota tables missing in " << GAVIOTA_DIRECTORY;
    ASSERT_EQ(UseTables(ThreeManDirectory()), 3);
    // The sanitized build looks at every 13th placement to stay quick.
    const int stride = TAVRIX_SANITIZED ? 13 : 1;
    int compared = 0, counter = 0;
    Position p;
    for (int type = PAWN; type <= QUEEN; ++type)
        for (int owner = 0; owner < 2; ++owner)
            for (int wk = 0; wk < 64; ++wk)
                for (int bk = 0; bk < 64; ++bk)
                    for (int sq = 0; sq < 64; ++sq) {
                        if (wk == bk || sq == wk || sq == bk) continue;
                        if (type == PAWN && (sq < 8 || sq > 55)) continue;
                        if (++counter % stride != 0) continue;
                        for (int side = 0; side < 2; ++side) {
                            std::memset(&p, 0, sizeof p);
                            for (int s = 0; s < 64; ++s) p.pieceColour[s] = EMPTY_COLOUR;
                            p.pieceType[wk] = KING, p.pieceColour[wk] = WHITE;
                            p.pieceType[bk] = KING, p.pieceColour[bk] = BLACK;
                            p.pieceType[sq] = static_cast<uint8_t>(type);
                            p.pieceColour[sq] = static_cast<uint8_t>(owner);
                            if (!SetUpPosition(p, side, 0)) continue;
                            const TablebaseResult ours = ProbeTablebase(p, side);
                            int moves = 0;
                            bool mated = false;
                            ASSERT_TRUE(gaviota.Distance(side, wk, bk, sq, type, owner, moves, mated));
                            if (mated) {
                                EXPECT_FALSE(ours.found);
                                continue;
                            }
                            ASSERT_TRUE(ours.found) << type << " " << wk << " " << bk << " " << sq << " " << side;
                            ASSERT_EQ(ours.distance, moves) << type << " " << wk << " " << bk << " " << sq << " " << side;
                            ++compared;
                        }
                    }
    EXPECT_GT(compared, TAVRIX_SANITIZED ? 100000 : 1500000);
    FreeTablebases();
}

TEST(TablebaseGenerator, FourManTablesAgreeWithTheirBestMoves) {
    // Minutes under the sanitizers; the 3-man generation covers the generator's memory there.
    if (TAVRIX_SANITIZED) GTEST_SKIP() << "Release run only";
    RegisterTablebases(FreshDirectory().c_str());
    // A pawnless 4-man class with captures into 3-man classes.
    for (const char* name : {"kbkn"}) {
        const int c = FindTablebaseClass(name);
        EXPECT_EQ(tbgen::InconsistentSlots(c), 0u) << name;
        EXPECT_GT(tbgen::GenerateClass(c).longestMate, 0) << name;
    }
}

TEST(TablebaseGenerator, LongestDistancesAreStoredAsThemselves) {
    // Slot values are plies: a win in m moves is 2m - 1, a loss in m moves -(2m + 1).
    auto win = [](int m) { return static_cast<int16_t>(2 * m - 1); };
    auto loss = [](int m) { return static_cast<int16_t>(-(2 * m + 1)); };
    const struct {
        const char* what;
        std::vector<int16_t> values;
        bool wide;
    } cases[] = {
        // The byte's spare codes: -127 a loss in 126, -128 a win in 127.
        {"one byte", {win(1), win(126), win(127), loss(0), loss(1), loss(125), loss(126), 0}, false},
        {"two bytes", {win(1), win(127), win(128), loss(126), loss(127), loss(300), win(2000), 0}, true},
    };
    ASSERT_EQ(UseTables(ThreeManDirectory()), 3);
    const int c = FindTablebaseClass("kqk");
    for (const auto& t : cases) {
        // kqk's tables with their first used slots set to the distances under test.
        tbgen::ClassTables tables = tbgen::GenerateClass(c);
        std::vector<uint64_t> slots;
        for (uint64_t i = 0; slots.size() < t.values.size(); ++i)
            if (tables.value[0][i] != tbgen::BROKEN) {
                tables.value[0][i] = t.values[slots.size()];
                slots.push_back(i);
            }
        EXPECT_EQ(tbgen::NeedsWideValues(tables), t.wide) << t.what;
        const std::string d = FreshDirectory();
        ASSERT_TRUE(tbgen::WriteTables(tables, d.c_str())) << t.what;
        struct stat file {};
        ASSERT_EQ(stat((d + "/kqk.nbw").c_str(), &file), 0);
        EXPECT_EQ(uint64_t(file.st_size), tables.value[0].size() * (t.wide ? 2 : 1)) << t.what;
        ASSERT_EQ(UseTables(d), 3) << t.what;
        EXPECT_EQ((Catalogue.entry[c].flags & TablebaseFlag::WIDE) != 0, t.wide) << t.what;
        for (size_t k = 0; k < slots.size(); ++k) {
            const int32_t r = ReadTablebaseValue(c, 0, slots[k]);
            const int moves = r > 0 ? 32767 - r : r < 0 ? -r - 32766 : 0;
            bool found = false;
            EXPECT_EQ(moves, tbgen::MovesOf(t.values[k], found)) << t.what << " slot " << k;
        }
        FreeTablebases();
    }
}

}  // namespace
}  // namespace tavrix::testing
