// Retrograde analysis over the engine's index numbering.
#include "tbgen/retrograde.h"

#include "tbgen/emd_encoder.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tablebase/catalogue.h"

namespace tavrix {

int FindTablebaseClass(const char* name) {
    for (int i = 1; i <= TB_CLASS_COUNT; ++i)
        if (std::strcmp(TablebaseClassName(i), name) == 0) return i;
    return 0;
}

}  // namespace tavrix

namespace tavrix::tbgen {

namespace {

constexpr int MAX_PLY = 2000;
constexpr int KNIGHT_JUMP[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
constexpr int RAY[8][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}, {1, 1}, {-1, 1}, {-1, -1}, {1, -1}};
constexpr int PROMOTIONS[4] = {QUEEN, ROOK, BISHOP, KNIGHT};
constexpr uint8_t DONE = 1;

std::unique_ptr<ClassTables> Cache[TB_CLASS_COUNT + 1];
ProgressHandler Handler = nullptr;
int OpenClasses = 0;
constexpr uint64_t PROGRESS_STEP = 1 << 12;   // slots between reports

int Forward(int owner) { return owner == 0 ? 8 : -8; }
int DoubleRow(int owner) { return owner == 0 ? 3 : 4; }
bool OnBoard(int f, int r) { return f >= 0 && f < 8 && r >= 0 && r < 8; }

int KingOf(const GenPosition& p, int owner) {
    for (int s = 0; s < 64; ++s)
        if (p.type[s] == KING && p.owner[s] == owner) return s;
    return -1;
}

bool Attacked(const GenPosition& p, int square, int by) { return SquareAttacked(p.type, p.owner, square, by); }

// Class of the material on the board; flip = 1 when the class's first side is owner 1.
int ClassOf(const GenPosition& p, int& flip) {
    int count[2][7] = {};
    for (int s = 0; s < 64; ++s)
        if (p.owner[s] >= 0 && p.type[s] != KING) count[p.owner[s]][p.type[s]]++;
    for (flip = 0; flip < 2; ++flip) {
        std::string name = "k";
        for (int o : {flip, flip ^ 1}) {
            if (o != flip) name += 'k';
            for (int t = QUEEN; t >= PAWN; --t) name.append(count[o][t], " pnbrq"[t]);
        }
        if (name == "kk") return 0;
        const int c = FindTablebaseClass(name.c_str());
        if (c != 0) return c;
    }
    flip = 0;
    return -1;
}

bool Records(const GenPosition& p, SquareRecord* record) {
    std::memset(record, 0, 2 * sizeof(SquareRecord));
    int used[2][7] = {};
    for (int s = 0; s < 64; ++s) {
        if (p.owner[s] < 0) continue;
        const int o = p.owner[s], t = p.type[s];
        if (t == KING) {
            record[o].place[RECORD_KING] = static_cast<uint8_t>(s);
        } else {
            if (used[o][t] == 3) return false;
            record[o].place[RecordPlace(t) + used[o][t]++] = static_cast<uint8_t>(s);
        }
    }
    return true;
}

struct Slot {
    int table;
    uint64_t index;
};

Slot SlotOf(int classIndex, const GenPosition& p, int flip) {
    SquareRecord record[2];
    if (!Records(p, record)) return Slot{0, TB_NO_INDEX};
    const int side = p.side ^ flip;
    const bool symmetric = Enumerations.shape[classIndex].symmetric;
    const uint64_t index = IndexFunction(classIndex, side, record[flip], record[flip ^ 1], p.ep, flip);
    return Slot{symmetric ? 0 : side, index};
}

GenPosition FromDecoded(const DecodedPosition& d, int side) {
    GenPosition p;
    PlacementBoard(d, p.type, p.owner);
    p.side = side;
    p.ep = d.epSquare;
    return p;
}

void Place(GenPosition& q, int from, int to, int type) {
    q.type[to] = static_cast<int8_t>(type);
    q.owner[to] = q.owner[from];
    q.type[from] = 0;
    q.owner[from] = -1;
}

// Every legal move: f(successor, changesMaterial).
template <typename F>
void ForEachMove(const GenPosition& p, F&& f) {
    const int us = p.side, them = us ^ 1;
    const int dir = Forward(us);
    auto finish = [&](GenPosition& q, bool exit) {
        q.side = them;
        const int king = KingOf(q, us);
        if (!Attacked(q, king, them)) f(q, exit);
    };
    for (int from = 0; from < 64; ++from) {
        if (p.owner[from] != us) continue;
        const int type = p.type[from];
        const int ff = from & 7, fr = from >> 3;
        if (type == PAWN) {
            const int to = from + dir;
            const bool promotes = (to >> 3) == (us == 0 ? 7 : 0);
            auto pawnTo = [&](int target, bool capture) {
                for (int k = 0; k < (promotes ? 4 : 1); ++k) {
                    GenPosition q = p;
                    q.ep = TB_NO_EP;
                    Place(q, from, target, promotes ? PROMOTIONS[k] : PAWN);
                    finish(q, capture || promotes);
                }
            };
            if (p.owner[to] < 0) {
                pawnTo(to, false);
                const int two = to + dir;
                if (fr == (us == 0 ? 1 : 6) && p.owner[two] < 0) {
                    GenPosition q = p;
                    q.ep = TB_NO_EP;
                    Place(q, from, two, PAWN);
                    // En passant only when an enemy pawn stands beside the pawn that passed.
                    const int tf = two & 7;
                    for (int df = -1; df <= 1; df += 2)
                        if (tf + df >= 0 && tf + df < 8 && q.owner[two + df] == them && q.type[two + df] == PAWN)
                            q.ep = to;
                    finish(q, false);
                }
            }
            for (int df = -1; df <= 1; df += 2) {
                if (ff + df < 0 || ff + df > 7) continue;
                const int target = to + df;
                if (p.owner[target] == them && p.type[target] != KING) pawnTo(target, true);
                if (target == p.ep) {
                    GenPosition q = p;
                    q.ep = TB_NO_EP;
                    Place(q, from, target, PAWN);
                    q.type[target - dir] = 0;
                    q.owner[target - dir] = -1;
                    finish(q, true);
                }
            }
            continue;
        }
        auto to = [&](int target) {
            if (p.owner[target] == us || p.type[target] == KING) return false;
            GenPosition q = p;
            q.ep = TB_NO_EP;
            const bool capture = p.owner[target] == them;
            Place(q, from, target, type);
            finish(q, capture);
            return !capture;
        };
        if (type == KING || type == KNIGHT) {
            for (int i = 0; i < 8; ++i) {
                const int f = ff + (type == KING ? RAY[i][0] : KNIGHT_JUMP[i][0]);
                const int r = fr + (type == KING ? RAY[i][1] : KNIGHT_JUMP[i][1]);
                if (OnBoard(f, r)) to(r * 8 + f);
            }
            continue;
        }
        for (int i = type == BISHOP ? 4 : 0; i < (type == ROOK ? 4 : 8); ++i)
            for (int f = ff + RAY[i][0], r = fr + RAY[i][1]; OnBoard(f, r); f += RAY[i][0], r += RAY[i][1])
                if (!to(r * 8 + f) || p.owner[r * 8 + f] >= 0) break;
    }
}

// Positions that may lead to p by one move of the side that did not move in p.
template <typename F>
void ForEachPredecessor(const GenPosition& p, F&& f) {
    const int u = p.side ^ 1, t = p.side;
    auto emit = [&](GenPosition& q) {
        q.side = u;
        q.ep = TB_NO_EP;
        if (Attacked(q, KingOf(q, t), u)) return;
        f(q);
        // The same placement just after a double step of t that u may take en passant.
        const int dirT = Forward(t);
        for (int s = 0; s < 64; ++s) {
            if (q.owner[s] != t || q.type[s] != PAWN || (s >> 3) != DoubleRow(t)) continue;
            const int passed = s - dirT, origin = s - 2 * dirT;
            if (q.owner[passed] >= 0 || q.owner[origin] >= 0) continue;
            bool capturer = false;
            for (int df = -1; df <= 1; df += 2)
                if ((s & 7) + df >= 0 && (s & 7) + df < 8 && q.owner[s + df] == u && q.type[s + df] == PAWN)
                    capturer = true;
            if (!capturer) continue;
            GenPosition e = q;
            e.ep = passed;
            f(e);
        }
    };
    for (int from = 0; from < 64; ++from) {
        if (p.owner[from] != u) continue;
        const int type = p.type[from];
        const int ff = from & 7, fr = from >> 3;
        if (type == PAWN) {
            const int dir = Forward(u);
            const int back = from - dir;
            if ((back >> 3) >= 1 && (back >> 3) <= 6 && p.owner[back] < 0) {
                GenPosition q = p;
                Place(q, from, back, PAWN);
                emit(q);
                if (fr == DoubleRow(u) && p.owner[back - dir] < 0) {
                    GenPosition q2 = p;
                    Place(q2, from, back - dir, PAWN);
                    emit(q2);
                }
            }
            continue;
        }
        auto back = [&](int target) {
            if (p.owner[target] >= 0) return false;
            GenPosition q = p;
            Place(q, from, target, type);
            emit(q);
            return true;
        };
        if (type == KING || type == KNIGHT) {
            for (int i = 0; i < 8; ++i) {
                const int f = ff + (type == KING ? RAY[i][0] : KNIGHT_JUMP[i][0]);
                const int r = fr + (type == KING ? RAY[i][1] : KNIGHT_JUMP[i][1]);
                if (OnBoard(f, r)) back(r * 8 + f);
            }
            continue;
        }
        for (int i = type == BISHOP ? 4 : 0; i < (type == ROOK ? 4 : 8); ++i)
            for (int f = ff + RAY[i][0], r = fr + RAY[i][1]; OnBoard(f, r); f += RAY[i][0], r += RAY[i][1])
                if (!back(r * 8 + f)) break;
    }
}

int16_t ExitValue(const GenPosition& q) {
    int flip;
    const int c = ClassOf(q, flip);
    if (c <= 0) return 0;
    const ClassTables& sub = GenerateClass(c);
    const Slot slot = SlotOf(c, q, flip);
    if (slot.index == TB_NO_INDEX || slot.index >= sub.value[slot.table].size()) return 0;
    return sub.value[slot.table][slot.index];
}

// Without pawns, kings on the long diagonal leave the other pieces and their reflection in
// two slots: the reflected slot of a placement, or none.
Slot TwinSlot(int classIndex, const Slot& s) {
    DecodedPosition d;
    if (Enumerations.shape[classIndex].pawns || s.index == TB_NO_INDEX || !DecodeIndex(classIndex, s.table, s.index, d))
        return Slot{0, TB_NO_INDEX};
    auto onDiagonal = [](int sq) { return (sq & 7) == (sq >> 3); };
    if (!onDiagonal(d.king[0]) || !onDiagonal(d.king[1])) return Slot{0, TB_NO_INDEX};
    for (int i = 0; i < d.groupCount; ++i)
        for (int j = 0; j < d.group[i].count; ++j)
            d.square[i][j] = static_cast<uint8_t>((d.square[i][j] & 7) * 8 + (d.square[i][j] >> 3));
    SquareRecord first, second;
    RecordsOf(d, first, second);
    return Slot{s.table, IndexFunction(classIndex, s.table, first, second, TB_NO_EP, 0)};
}

struct Generation {
    ClassTables* tables;
    std::vector<uint8_t> flags[2];
    std::vector<uint16_t> stamp[2];
    std::vector<Slot> bucket[MAX_PLY + 2];
};

// The value the moves of p prove with what is known: 0 when undecided (or a draw).
int16_t Evaluate(const Generation& g, int classIndex, const GenPosition& p, bool& decided) {
    int bestWin = 0, longestLoss = -1;
    bool allLose = true, any = false;
    ForEachMove(p, [&](const GenPosition& q, bool exit) {
        any = true;
        int16_t v;
        bool known;
        if (exit) {
            v = ExitValue(q);
            if (v == BROKEN) v = 0;
            known = true;
        } else {
            Slot s = SlotOf(classIndex, q, 0);
            if (s.index != TB_NO_INDEX && s.index >= g.tables->value[s.table].size()) s.index = TB_NO_INDEX;
            v = s.index == TB_NO_INDEX ? int16_t(0) : g.tables->value[s.table][s.index];
            known = s.index != TB_NO_INDEX && (g.flags[s.table][s.index] & DONE);
        }
        if (known && v < 0) {
            const int plies = -v - 1 + 1;
            if (bestWin == 0 || plies < bestWin) bestWin = plies;
        }
        if (known && v > 0) {
            if (v + 1 > longestLoss) longestLoss = v + 1;
        } else {
            allLose = false;
        }
    });
    if (!any) {
        decided = true;
        return Attacked(p, KingOf(p, p.side), p.side ^ 1) ? int16_t(-1) : int16_t(0);
    }
    if (bestWin > 0) {
        decided = true;
        return static_cast<int16_t>(bestWin);
    }
    if (allLose) {
        decided = true;
        return static_cast<int16_t>(-(longestLoss + 1));
    }
    decided = false;
    return 0;
}

int PliesOf(int16_t v) { return v > 0 ? v : -v - 1; }

}  // namespace

void SetProgressHandler(ProgressHandler handler) { Handler = handler; }

void ResetGenerator() {
    for (auto& c : Cache) c.reset();
}

const ClassTables& GenerateClass(int classIndex) {
    if (Cache[classIndex]) return *Cache[classIndex];
    BuildEnumerations();
    Cache[classIndex] = std::make_unique<ClassTables>();
    ClassTables& t = *Cache[classIndex];
    t.classIndex = classIndex;
    t.tableCount = Enumerations.shape[classIndex].symmetric ? 1 : 2;
    Generation g;
    g.tables = &t;
    std::vector<Slot> current;       // slots decided at the level being worked on
    Progress progress{Progress::START, classIndex, ++OpenClasses, 0, 0, 0, 0, 0};
    auto report = [&](Progress::Stage stage, uint64_t done, uint64_t total) {
        if (Handler == nullptr) return;
        progress.stage = stage;
        progress.done = done;
        progress.total = total;
        Handler(progress);
    };
    report(Progress::START, 0, 0);

    auto decide = [&](const Slot& s, int16_t v, int) {
        t.value[s.table][s.index] = v;
        g.flags[s.table][s.index] |= DONE;
        current.push_back(s);
        ++progress.decided;
    };
    // Every used slot: terminal positions now; positions with captures or promotions are
    // looked at again at the level their exits suggest.
    uint64_t slots = 0;
    for (int table = 0; table < t.tableCount; ++table) {
        const uint64_t length = TableLength(classIndex, table);
        t.value[table].assign(length, 0);
        g.flags[table].assign(length, 0);
        g.stamp[table].assign(length, 0);
        slots += length;
    }
    uint64_t scanned = 0;
    for (int table = 0; table < t.tableCount; ++table) {
        const uint64_t length = t.value[table].size();
        for (uint64_t i = 0; i < length; ++i, ++scanned) {
            if (scanned % PROGRESS_STEP == 0) report(Progress::SETUP, scanned, slots);
            DecodedPosition d;
            SquareRecord first, second;
            bool used = DecodeIndex(classIndex, table, i, d) && LegalPlacement(d, table);
            if (used) {
                RecordsOf(d, first, second);
                used = IndexFunction(classIndex, table, first, second, d.epSquare, 0) == i;
            }
            if (!used) {
                t.value[table][i] = BROKEN;
                g.flags[table][i] = DONE;
                continue;
            }
            ++progress.used;
            const GenPosition p = FromDecoded(d, table);
            bool decided;
            const int16_t v = Evaluate(g, classIndex, p, decided);
            if (!decided) continue;  // its successors will bring it back
            if (v == 0 || v == -1) {
                // Stalemate, or mated already.
                t.value[table][i] = v;
                g.flags[table][i] = DONE;
                ++progress.decided;
                if (v != 0) current.push_back(Slot{table, i});
            } else if (PliesOf(v) <= MAX_PLY) {
                g.bucket[PliesOf(v)].push_back(Slot{table, i});
            }
        }
    }
    std::vector<Slot> previous;
    int quiet = 0;
    for (int level = 1; level <= MAX_PLY && quiet < 2; ++level) {
        previous.swap(current);
        current.clear();
        progress.pass = level;
        const uint64_t work = previous.size() + g.bucket[level].size();
        uint64_t worked = 0;
        report(Progress::RETROGRADE, 0, work);
        auto consider = [&](const Slot& s) {
            if (s.index == TB_NO_INDEX || s.index >= t.value[s.table].size()) return;
            if (g.flags[s.table][s.index] & DONE) return;
            if (g.stamp[s.table][s.index] == level) return;
            g.stamp[s.table][s.index] = static_cast<uint16_t>(level);
            DecodedPosition d;
            if (!DecodeIndex(classIndex, s.table, s.index, d)) return;
            const GenPosition p = FromDecoded(d, s.table);
            bool decided;
            const int16_t v = Evaluate(g, classIndex, p, decided);
            if (!decided) return;
            const int plies = PliesOf(v);
            if (plies > level && plies <= MAX_PLY) g.bucket[plies].push_back(s);
            else decide(s, v, level);
        };
        for (const Slot& s : previous) {
            if (++worked % PROGRESS_STEP == 0) report(Progress::RETROGRADE, worked, work);
            DecodedPosition d;
            if (!DecodeIndex(classIndex, s.table, s.index, d)) continue;
            const GenPosition p = FromDecoded(d, s.table);
            ForEachPredecessor(p, [&](const GenPosition& q) {
                const Slot slot = SlotOf(classIndex, q, 0);
                consider(slot);
                consider(TwinSlot(classIndex, slot));
            });
        }
        for (const Slot& s : g.bucket[level]) {
            if (++worked % PROGRESS_STEP == 0) report(Progress::RETROGRADE, worked, work);
            consider(s);
        }
        g.bucket[level].clear();
        bool pending = false;
        for (int l = level + 1; l <= MAX_PLY && !pending; ++l) pending = !g.bucket[l].empty();
        quiet = current.empty() && !pending ? quiet + 1 : 0;
    }
    for (int table = 0; table < t.tableCount; ++table)
        for (const int16_t v : t.value[table])
            if (v != BROKEN && v > 0 && (v + 1) / 2 > t.longestMate) t.longestMate = (v + 1) / 2;
    report(Progress::DONE, slots, slots);
    --OpenClasses;
    return t;
}

int16_t LookUpPosition(const GenPosition& p) {
    BuildEnumerations();
    int flip;
    const int c = ClassOf(p, flip);
    if (c <= 0) return c == 0 ? 0 : BROKEN;
    const ClassTables& t = GenerateClass(c);
    const Slot s = SlotOf(c, p, flip);
    if (s.index == TB_NO_INDEX || s.index >= t.value[s.table].size()) return BROKEN;
    return t.value[s.table][s.index];
}

uint64_t InconsistentSlots(int classIndex) {
    const ClassTables& t = GenerateClass(classIndex);
    uint64_t bad = 0;
    for (int table = 0; table < t.tableCount; ++table)
        for (uint64_t i = 0; i < t.value[table].size(); ++i) {
            const int16_t stored = t.value[table][i];
            if (stored == BROKEN) continue;
            DecodedPosition d;
            if (!DecodeIndex(classIndex, table, i, d)) {
                ++bad;
                continue;
            }
            // Best over the moves: the quickest win, else a draw, else the longest loss.
            int bestWin = 0, longestLoss = -1;
            bool draw = false, any = false;
            ForEachMove(FromDecoded(d, table), [&](const GenPosition& q, bool exit) {
                any = true;
                int16_t v;
                if (exit) {
                    v = ExitValue(q);
                } else {
                    const Slot s = SlotOf(classIndex, q, 0);
                    v = s.index == TB_NO_INDEX || s.index >= t.value[s.table].size() ? BROKEN
                                                                                      : t.value[s.table][s.index];
                }
                if (v == BROKEN || v == 0) draw = true;
                else if (v < 0 && (bestWin == 0 || -v < bestWin)) bestWin = -v;
                else if (v > 0 && v + 1 > longestLoss) longestLoss = v + 1;
            });
            int16_t expected;
            if (!any) expected = Attacked(FromDecoded(d, table), d.king[table], table ^ 1) ? int16_t(-1) : int16_t(0);
            else if (bestWin > 0) expected = static_cast<int16_t>(bestWin);
            else if (draw) expected = 0;
            else expected = static_cast<int16_t>(-(longestLoss + 1));
            if (expected != stored) ++bad;
        }
    return bad;
}

bool SlotFen(int classIndex, int side, uint64_t index, char* fen, int capacity) {
    DecodedPosition d;
    if (!DecodeIndex(classIndex, side, index, d)) return false;
    const GenPosition p = FromDecoded(d, side);
    std::string text;
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            const int s = rank * 8 + file;
            if (p.owner[s] < 0) {
                ++empty;
                continue;
            }
            if (empty > 0) text += static_cast<char>('0' + empty);
            empty = 0;
            const char letter = " PNBRQK"[p.type[s]];
            text += p.owner[s] == 0 ? letter : static_cast<char>(letter - 'A' + 'a');
        }
        if (empty > 0) text += static_cast<char>('0' + empty);
        if (rank > 0) text += '/';
    }
    text += side == 0 ? " w - " : " b - ";
    if (p.ep == TB_NO_EP) text += "-";
    else text += std::string{static_cast<char>('a' + (p.ep & 7)), static_cast<char>('1' + (p.ep >> 3))};
    return std::snprintf(fen, capacity, "%s", text.c_str()) < capacity;
}

namespace {
bool FitsOneByte(int16_t v) {
    if (v == BROKEN || v == 0) return true;
    return v > 0 ? (v + 1) / 2 <= ONE_BYTE_LONGEST_WIN : (-v - 1) / 2 <= ONE_BYTE_LONGEST_LOSS;
}
}  // namespace

bool NeedsWideValues(const ClassTables& t) {
    for (int table = 0; table < t.tableCount; ++table)
        for (const int16_t v : t.value[table])
            if (!FitsOneByte(v)) return true;
    return false;
}

int32_t EncodedValue(int16_t v, bool wide) {
    if (v == BROKEN) return wide ? 32767 : 127;
    if (v == 0) return 0;
    if (v > 0) {
        const int moves = (v + 1) / 2;
        if (wide) return 32767 - moves;
        // The byte's two spare codes hold the longest win and loss.
        return moves == ONE_BYTE_LONGEST_WIN ? -128 : 127 - moves;
    }
    const int moves = (-v - 1) / 2;
    if (wide) return moves - 32766;
    return moves == ONE_BYTE_LONGEST_LOSS ? -127 : moves - 126;
}

int32_t MovesOf(int16_t v, bool& found) {
    found = v != BROKEN && v != -1;
    if (!found) return 0;
    if (v > 0) return (v + 1) / 2;
    if (v < 0) return -((-v - 1) / 2);
    return 0;
}

bool WriteTables(const ClassTables& t, const char* directory, bool compressed) {
    const char* name = TablebaseClassName(t.classIndex);
    const bool wide = NeedsWideValues(t);
    for (int table = 0; table < t.tableCount; ++table) {
        const std::string path =
            std::string(directory) + "/" + name + (table == 0 ? ".nbw" : ".nbb") + (compressed ? ".emd" : "");
        std::vector<uint8_t> bytes;
        bytes.reserve(t.value[table].size() * (wide ? 2 : 1));
        for (const int16_t v : t.value[table]) {
            const int32_t r = EncodedValue(v, wide);
            bytes.push_back(static_cast<uint8_t>(r & 0xFF));
            if (wide) bytes.push_back(static_cast<uint8_t>((r >> 8) & 0xFF));
        }
        if (compressed) {
            if (!WriteCompressedTable(path.c_str(), bytes.data(), bytes.size())) return false;
            continue;
        }
        const std::string temporary = path + ".tmp";
        std::FILE* f = std::fopen(temporary.c_str(), "wb");
        if (f == nullptr) return false;
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if (std::fclose(f) != 0 || !ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace tavrix::tbgen
