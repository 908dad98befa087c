#include "control/options.h"

#include <cstring>

#include "book/book.h"
#include "book/learning.h"
#include "control/elo.h"
#include "control/engine.h"
#include "control/keywords.h"
#include "control/timeman.h"
#include "control/workers.h"
#include "platform/platform.h"
#include "search/ttable.h"
#include "tablebase/probe.h"

namespace tavrix {

namespace {

constexpr const char* PLAYING_STYLE_NAMES[] = {"Normal", "Aggressive", "Solid"};
constexpr const char* BOOK_STYLE_NAMES[] = {"", "Wild", "Wide", "Varied", "Tournament"};
constexpr int PLAYING_STYLE_COUNT = 3;
constexpr int BOOK_STYLE_COUNT = 5;

constexpr const char ENGINE_ABOUT[] = "TAVRIX 11 UCI version 11.0, single-threaded UCI chess engine";

constexpr int DRAW_VALUE_LIMIT = 128;          // accepted by "setoption"; "uci" shows -100..100
constexpr int32_t DEFAULT_THREAT_DEPTH = 3;
constexpr int32_t DEFAULT_FORWARD_PRUNING = 10;
constexpr int32_t FORWARD_PRUNING_UNIT = 16;
constexpr uint32_t DEFAULT_TABLEBASE_DEPTH = 2;
constexpr int32_t KB_PER_MB = 1024;

const char* Bool(bool on) { return on ? "true" : "false"; }
bool Flag(uint32_t mask) { return (Settings.optionFlags & mask) != 0; }

void SetFlag(uint32_t mask, bool on) {
    if (on) Settings.optionFlags |= mask;
    else Settings.optionFlags &= ~mask;
}

void SetField(uint32_t mask, int shift, int value) {
    Settings.optionFlags = (Settings.optionFlags & ~mask) | ((static_cast<uint32_t>(value) << shift) & mask);
}

int Field(uint32_t mask, int shift) { return static_cast<int>((Settings.optionFlags & mask) >> shift); }

// How a matched option takes its value.
enum class OptionKind : uint8_t {
    FLAG,             // boolean bit of the flag word
    AUTOSAVE,         // boolean bit of the autosave word
    IGNORED_BOOL,     // read and ignored
    PLAYING_STYLE,
    BOOK_STYLE,
    SELECTIVITY,
    FORWARD_PRUNING,
    DRAW_VALUE,
    CLEAR_HASH,
    HASH,
    THREAT_DEPTH,
    TABLEBASE_DEPTH,
    MULTI_PV,
    NALIMOV_CACHE,
    NALIMOV_PATH,
    BOOK_FILE,
    ELO,
    LIMIT_STRENGTH,
    THREADS,
};

struct OptionEntry {
    const char* name;
    OptionKind kind;
    uint32_t mask;          // FLAG, AUTOSAVE
    int32_t minimum;        // numbers
    int32_t maximum;
};

// Matching order matters: the first name that matches acts.
constexpr OptionEntry OPTION_TABLE[] = {
    {"Playing Style", OptionKind::PLAYING_STYLE, 0, 0, 0},
    {"Book Style", OptionKind::BOOK_STYLE, 0, 0, 0},
    {"Selectivity", OptionKind::SELECTIVITY, 0, 0, 7},
    {"Steady Search", OptionKind::FLAG, OptionFlag::STEADY_SEARCH, 0, 0},
    {"Futility", OptionKind::FLAG, OptionFlag::FUTILITY, 0, 0},
    {"Forward Pruning", OptionKind::FORWARD_PRUNING, 0, 0, 15},
    {"Tavrix Draw Value", OptionKind::DRAW_VALUE, 0, -DRAW_VALUE_LIMIT, DRAW_VALUE_LIMIT},
    {"Retain Hash", OptionKind::FLAG, OptionFlag::RETAIN_HASH, 0, 0},
    {"Smart Search", OptionKind::FLAG, OptionFlag::SMART_SEARCH, 0, 0},
    {"Swindle", OptionKind::FLAG, OptionFlag::SWINDLE, 0, 0},
    {"Ponder", OptionKind::FLAG, OptionFlag::PONDER, 0, 0},
    {"Clear Hash", OptionKind::CLEAR_HASH, 0, 0, 0},
    {"Hash", OptionKind::HASH, 0, 1, MAX_HASH_MB},
    {"Use Tablebases", OptionKind::FLAG, OptionFlag::USE_TABLEBASES, 0, 0},
    {"Book Learning", OptionKind::FLAG, OptionFlag::BOOK_LEARNING, 0, 0},
    {"Position Learning", OptionKind::FLAG, OptionFlag::POSITION_LEARNING, 0, 0},
    {"Combinations", OptionKind::FLAG, OptionFlag::COMBINATIONS, 0, 0},
    {"Hyper-Modern Play", OptionKind::FLAG, OptionFlag::HYPER_MODERN, 0, 0},
    {"Threat Depth", OptionKind::THREAT_DEPTH, 0, 0, 7},
    {"Tablebase Depth", OptionKind::TABLEBASE_DEPTH, 0, 0, 7},
    {"OwnBook", OptionKind::FLAG, OptionFlag::OWN_BOOK, 0, 0},
    {"MultiPV", OptionKind::MULTI_PV, 0, 1, 127},
    {"NalimovCache", OptionKind::NALIMOV_CACHE, 0, 1, 256},
    {"NalimovPath", OptionKind::NALIMOV_PATH, 0, 0, 0},
    {"Book File", OptionKind::BOOK_FILE, 0, 0, 0},
    {"UCI_Elo", OptionKind::ELO, 0, 0, 0},
    {"UCI_LimitStrength", OptionKind::LIMIT_STRENGTH, 0, 0, 0},
    {"UCI_Chess960", OptionKind::IGNORED_BOOL, 0, 0, 0},
    {"GUI Time Lag", OptionKind::FLAG, OptionFlag::GUI_TIME_LAG, 0, 0},
    {"Verbose UCI", OptionKind::FLAG, OptionFlag::VERBOSE_UCI, 0, 0},
    {"AutoSave PGN", OptionKind::AUTOSAVE, AUTOSAVE_PGN, 0, 0},
    {"Threads", OptionKind::THREADS, 0, 1, MAX_THREADS},
};

// "true" or "false" in any case; anything else is no value.
bool ReadBool(const char* cursor, bool& value) {
    if (MatchKeyword(cursor, "true")) {
        value = true;
        return true;
    }
    if (MatchKeyword(cursor, "false")) {
        value = false;
        return true;
    }
    return false;
}

bool ReadInRange(const char* cursor, int32_t minimum, int32_t maximum, int32_t& value) {
    return ReadNumber(cursor, value) && value >= minimum && value <= maximum;
}

// Index of the name in the table that matches the text (any case), or -1.
int ReadChoice(const char* cursor, const char* const* names, int first, int count) {
    for (int i = first; i < count; ++i) {
        const char* text = cursor;
        if (MatchKeyword(text, names[i])) return i;
    }
    return -1;
}

bool CopyFileName(char* target, const char* value) {
    if (std::strlen(value) >= static_cast<size_t>(FILE_NAME_SIZE)) return false;
    CopyText(target, value, FILE_NAME_SIZE);
    return true;
}

void ApplyOption(const OptionEntry& option, const char* cursor) {
    if (option.kind == OptionKind::CLEAR_HASH) {
        ClearHashTable();
        PrepareHelpers();
        return;
    }
    if (!MatchKeyword(cursor, "value")) return;
    bool on = false;
    int32_t number = 0;
    switch (option.kind) {
        case OptionKind::FLAG:
            if (ReadBool(cursor, on)) SetFlag(option.mask, on);
            break;
        case OptionKind::AUTOSAVE:
            if (ReadBool(cursor, on)) {
                if (on) Settings.autosaveFlags |= option.mask;
                else Settings.autosaveFlags &= ~option.mask;
            }
            break;
        case OptionKind::IGNORED_BOOL:
            // Chess960 castling follows from the position itself.
            break;
        case OptionKind::PLAYING_STYLE: {
            const int style = ReadChoice(cursor, PLAYING_STYLE_NAMES, 0, PLAYING_STYLE_COUNT);
            if (style >= 0) SetField(OptionFlag::PLAYING_STYLE, OptionFlag::PLAYING_STYLE_SHIFT, style);
            break;
        }
        case OptionKind::BOOK_STYLE: {
            const int style = ReadChoice(cursor, BOOK_STYLE_NAMES, 1, BOOK_STYLE_COUNT);
            if (style >= 0) SetField(OptionFlag::BOOK_STYLE, OptionFlag::BOOK_STYLE_SHIFT, style);
            break;
        }
        case OptionKind::SELECTIVITY:
            if (ReadInRange(cursor, option.minimum, option.maximum, number)) {
                SetField(OptionFlag::SELECTIVITY, OptionFlag::SELECTIVITY_SHIFT, number);
            }
            break;
        case OptionKind::FORWARD_PRUNING:
            if (ReadInRange(cursor, option.minimum, option.maximum, number)) {
                Settings.forwardPruning = number * FORWARD_PRUNING_UNIT;
            }
            break;
        case OptionKind::DRAW_VALUE:
            if (ReadInRange(cursor, option.minimum, option.maximum, number)) {
                Settings.drawValue = -(number * PAWN_VALUE) / 100;
            }
            break;
        case OptionKind::HASH:
            if (ReadInRange(cursor, option.minimum, option.maximum, number) && number * KB_PER_MB != Settings.hashSize) {
                Settings.hashSize = AllocateHashTable(number * KB_PER_MB);
            }
            break;
        case OptionKind::THREAT_DEPTH:
            if (ReadInRange(cursor, option.minimum, option.maximum, number)) Settings.threatDepth = -number;
            break;
        case OptionKind::TABLEBASE_DEPTH:
            if (ReadInRange(cursor, option.minimum, option.maximum, number)) {
                Settings.tablebaseDepth = static_cast<uint32_t>(number);
            }
            break;
        case OptionKind::MULTI_PV:
            if (ReadInRange(cursor, option.minimum, option.maximum, number)) {
                Settings.multiPV = static_cast<uint8_t>(number);
            }
            break;
        case OptionKind::NALIMOV_CACHE:
            if (ReadInRange(cursor, option.minimum, option.maximum, number)) {
                Settings.tablebaseCache = number * MEGABYTE;
                InitialiseTablebases(false, Settings.tablebasePath, Settings.tablebaseCache);
            }
            break;
        case OptionKind::NALIMOV_PATH:
            // A new path registers every table afresh, even in the middle of a game.
            CopyFileName(Settings.tablebasePath, cursor);
            InitialiseTablebases(true, Settings.tablebasePath, Settings.tablebaseCache);
            break;
        case OptionKind::BOOK_FILE:
            if (CopyFileName(Settings.bookFileName, cursor)) OpenBook(Settings.bookFileName);
            break;
        case OptionKind::ELO:
            if (ReadInRange(cursor, Settings.eloMinimum, Settings.eloMaximum, number)) {
                Settings.elo = number;
                if (Flag(OptionFlag::LIMIT_STRENGTH)) Settings.strengthLimit = NodeRateFromElo(Settings.elo);
            }
            break;
        case OptionKind::LIMIT_STRENGTH:
            if (ReadBool(cursor, on)) {
                SetFlag(OptionFlag::LIMIT_STRENGTH, on);
                Settings.strengthLimit = on ? NodeRateFromElo(Settings.elo) : 0;
            }
            break;
        case OptionKind::CLEAR_HASH:
            break;
        case OptionKind::THREADS:
            if (ReadInRange(cursor, option.minimum, option.maximum, number)) ResizeWorkers(number);
            break;
    }
}

}  // namespace

int32_t AllocateHashTable(int32_t kilobytes) {
    // The new table starts empty: positions learned in this run reach it through the file.
    if (Learning.changed) SaveLearning();
    const int32_t obtained = ResizeHashTable(kilobytes);
    PrepareHelpers();
    if (obtained != 0 && (Settings.optionFlags & OptionFlag::POSITION_LEARNING) != 0) LoadLearning();
    return obtained;
}

const char* PlayingStyleName(int style) {
    return (style >= 0 && style < PLAYING_STYLE_COUNT) ? PLAYING_STYLE_NAMES[style] : "";
}

const char* BookStyleName(int style) {
    return (style >= 0 && style < BOOK_STYLE_COUNT) ? BOOK_STYLE_NAMES[style] : "";
}

void ResetEngineSettings() {
    Settings = EngineSettings{};
    Settings.optionFlags = OptionFlag::DEFAULT_WORD;
    Settings.hashSize = 0;
    CopyText(Settings.bookFileName, DEFAULT_BOOK_FILE, FILE_NAME_SIZE);
    Settings.bookPositions = 0;
    Settings.tablebasePath[0] = '\0';
    Settings.tablebaseCache = MEGABYTE;
    Settings.tablebaseDepth = DEFAULT_TABLEBASE_DEPTH;
    Settings.threatDepth = -DEFAULT_THREAT_DEPTH;
    Settings.forwardPruning = DEFAULT_FORWARD_PRUNING * FORWARD_PRUNING_UNIT;
    Settings.drawValue = 0;
    Settings.elo = DEFAULT_ELO;
    Settings.eloMinimum = DEFAULT_ELO_MINIMUM;
    Settings.eloMaximum = DEFAULT_ELO_MAXIMUM;
    Settings.strengthLimit = 0;
    Settings.multiPV = 1;
    Settings.autosaveFlags = AUTOSAVE_PGN;
}

void LoadDefaults() {
    Settings.optionFlags = OptionFlag::DEFAULT_WORD;
    Settings.threatDepth = -DEFAULT_THREAT_DEPTH;
    Settings.forwardPruning = DEFAULT_FORWARD_PRUNING * FORWARD_PRUNING_UNIT;
    Settings.tablebaseDepth = DEFAULT_TABLEBASE_DEPTH;
    Settings.drawValue = 0;
    ResetGoLimits();
    ResetClocks();
    // The piece-letter table is reset by its own code when it exists.
}

void PrintOptions() {
    using platform::Print;
    Print("option name Ponder type check default true\n");
    Print("option name OwnBook type check default %s\n", Bool(Flag(OptionFlag::OWN_BOOK)));
    Print("option name Book File type string default %s\n", Settings.bookFileName);
    Print("option name Book Positions type combo default %d var %d\n", Settings.bookPositions,
          Settings.bookPositions);
    Print("option name Book Style type combo default %s var %s var %s var %s var %s\n",
          BookStyleName(Field(OptionFlag::BOOK_STYLE, OptionFlag::BOOK_STYLE_SHIFT)), BOOK_STYLE_NAMES[1],
          BOOK_STYLE_NAMES[2], BOOK_STYLE_NAMES[3], BOOK_STYLE_NAMES[4]);
    Print("option name Book Learning type check default %s\n", Bool(Flag(OptionFlag::BOOK_LEARNING)));
    Print("option name Position Learning type check default %s\n", Bool(Flag(OptionFlag::POSITION_LEARNING)));
    Print("option name Hash type spin min 1 max 2048 default %ld\n", static_cast<long>(Settings.hashSize / KB_PER_MB));
    Print("option name Clear Hash type button\n");
    Print("option name Retain Hash type check default %s\n", Bool(Flag(OptionFlag::RETAIN_HASH)));
    Print("option name Use Tablebases type check default %s\n", Bool(Flag(OptionFlag::USE_TABLEBASES)));
    Print("option name Tablebase Depth type spin min 0 max 7 default %d\n", static_cast<int>(Settings.tablebaseDepth));
    Print("option name NalimovCache type spin min 1 max 256 default %ld\n",
          static_cast<long>(Settings.tablebaseCache / MEGABYTE));
    Print("option name NalimovPath type string default %s\n", Settings.tablebasePath);
    Print("option name Tavrix Draw Value type spin min -100 max 100 default %d\n", -Settings.drawValue);
    Print("option name UCI_Elo type spin min %d max %d default %d\n", Settings.eloMinimum, Settings.eloMaximum,
          Settings.elo);
    Print("option name UCI_LimitStrength type check default false\n");
    Print("option name UCI_Chess960 type check default false\n");
    Print("option name Playing Style type combo default %s var %s var %s var %s\n",
          PlayingStyleName(Field(OptionFlag::PLAYING_STYLE, OptionFlag::PLAYING_STYLE_SHIFT)),
          PLAYING_STYLE_NAMES[0], PLAYING_STYLE_NAMES[1], PLAYING_STYLE_NAMES[2]);
    Print("option name Selectivity type spin min 0 max 7 default %ld\n",
          static_cast<long>(Field(OptionFlag::SELECTIVITY, OptionFlag::SELECTIVITY_SHIFT)));
    Print("option name Forward Pruning type spin min 0 max 15 default %ld\n",
          static_cast<long>(Settings.forwardPruning / FORWARD_PRUNING_UNIT));
    Print("option name Threat Depth type spin min 0 max 7 default %ld\n", static_cast<long>(-Settings.threatDepth));
    Print("option name Smart Search type check default %s\n", Bool(Flag(OptionFlag::SMART_SEARCH)));
    Print("option name Futility type check default %s\n", Bool(Flag(OptionFlag::FUTILITY)));
    Print("option name Steady Search type check default %s\n", Bool(Flag(OptionFlag::STEADY_SEARCH)));
    Print("option name Combinations type check default %s\n", Bool(Flag(OptionFlag::COMBINATIONS)));
    Print("option name Hyper-Modern Play type check default %s\n", Bool(Flag(OptionFlag::HYPER_MODERN)));
    Print("option name Swindle type check default %s\n", Bool(Flag(OptionFlag::SWINDLE)));
    Print("option name GUI Time Lag type check default false\n");
    Print("option name Verbose UCI type check default false\n");
    Print("option name AutoSave PGN type check default true\n");
    Print("option name MultiPV type spin min 1 max 127 default %d\n", static_cast<int>(Settings.multiPV));
    Print("option name UCI_EngineAbout type string default %s\n", ENGINE_ABOUT);
    Print("option name Threads type spin default %d min 1 max %d\n", DEFAULT_THREADS, MAX_THREADS);
}

void SetOption(const char* cursor) {
    for (const OptionEntry& option : OPTION_TABLE) {
        const char* text = cursor;
        if (MatchKeyword(text, option.name)) {
            ApplyOption(option, text);
            return;
        }
    }
}

}  // namespace tavrix
