#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control/engine.h"
#include "control/options.h"
#include "platform/platform.h"

namespace tavrix {
namespace {

constexpr int32_t STARTED_HASH_KB = 16384;

// Settings as start-up leaves them without a book.
void StartClean() {
    ResetEngineSettings();
    LoadDefaults();
    Settings.hashSize = STARTED_HASH_KB;
}

void ExpectSameSettings(const EngineSettings& a, const EngineSettings& b, const char* line) {
    EXPECT_EQ(a.optionFlags, b.optionFlags) << line;
    EXPECT_EQ(a.hashSize, b.hashSize) << line;
    EXPECT_STREQ(a.bookFileName, b.bookFileName) << line;
    EXPECT_EQ(a.bookPositions, b.bookPositions) << line;
    EXPECT_STREQ(a.tablebasePath, b.tablebasePath) << line;
    EXPECT_EQ(a.tablebaseCache, b.tablebaseCache) << line;
    EXPECT_EQ(a.tablebaseDepth, b.tablebaseDepth) << line;
    EXPECT_EQ(a.threatDepth, b.threatDepth) << line;
    EXPECT_EQ(a.forwardPruning, b.forwardPruning) << line;
    EXPECT_EQ(a.drawValue, b.drawValue) << line;
    EXPECT_EQ(a.elo, b.elo) << line;
    EXPECT_EQ(a.eloMinimum, b.eloMinimum) << line;
    EXPECT_EQ(a.eloMaximum, b.eloMaximum) << line;
    EXPECT_EQ(a.strengthLimit, b.strengthLimit) << line;
    EXPECT_EQ(a.multiPV, b.multiPV) << line;
    EXPECT_EQ(a.autosaveFlags, b.autosaveFlags) << line;
}

TEST(Settings, DefaultsMatchTheDocumentedValues) {
    StartClean();
    EXPECT_EQ(Settings.optionFlags, 0x3A24FC83u);
    EXPECT_EQ(Settings.optionFlags & OptionFlag::OUTPUT_LEVEL, 3u);
    EXPECT_EQ((Settings.optionFlags & OptionFlag::BOOK_STYLE) >> OptionFlag::BOOK_STYLE_SHIFT, 4u);
    EXPECT_EQ((Settings.optionFlags & OptionFlag::SELECTIVITY) >> OptionFlag::SELECTIVITY_SHIFT, 7u);
    EXPECT_EQ(Settings.optionFlags & OptionFlag::OWN_BOOK, 0u);
    EXPECT_NE(Settings.optionFlags & OptionFlag::RESERVED_800, 0u);
    EXPECT_EQ(Settings.threatDepth, -3);
    EXPECT_EQ(Settings.forwardPruning, 160);
    EXPECT_EQ(Settings.tablebaseDepth, 2u);
    EXPECT_EQ(Settings.tablebaseCache, 1048576);
    EXPECT_EQ(Settings.drawValue, 0);
    EXPECT_EQ(Settings.elo, 1925);
    EXPECT_EQ(Settings.eloMinimum, 1250);
    EXPECT_EQ(Settings.eloMaximum, 3025);
    EXPECT_EQ(Settings.multiPV, 1);
    EXPECT_EQ(Settings.autosaveFlags, 0x1000000u);
    EXPECT_STREQ(Settings.bookFileName, "T11Book.tbk");
    EXPECT_EQ(Limits.moveTimeTarget, 2000000000);
    EXPECT_EQ(Limits.depthLimit, 62);
    EXPECT_EQ(Limits.secondDepthLimit, 62);
    EXPECT_EQ(Limits.searchType, SearchType::FIXED);
}

TEST(SetOption, ChangesExactlyTheNamedSetting) {
    using Change = void (*)(EngineSettings&);
    struct Case {
        const char* line;   // text behind "name"
        Change change;      // nullptr: nothing may change
    };
    const Case cases[] = {
        // Booleans, any case, on their own bit only.
        {"Steady Search value true", [](EngineSettings& s) { s.optionFlags |= 0x10; }},
        {"Futility value FALSE", [](EngineSettings& s) { s.optionFlags &= ~0x40000u; }},
        {"Retain Hash value false", [](EngineSettings& s) { s.optionFlags &= ~0x400u; }},
        {"Smart Search value false", [](EngineSettings& s) { s.optionFlags &= ~0x8000u; }},
        {"Swindle value false", [](EngineSettings& s) { s.optionFlags &= ~0x02000000u; }},
        {"Ponder value False", [](EngineSettings& s) { s.optionFlags &= ~0x200000u; }},
        {"Use Tablebases value false", [](EngineSettings& s) { s.optionFlags &= ~0x08000000u; }},
        {"Book Learning value false", [](EngineSettings& s) { s.optionFlags &= ~0x10000000u; }},
        {"Position Learning value false", [](EngineSettings& s) { s.optionFlags &= ~0x20000000u; }},
        {"Combinations value true", [](EngineSettings& s) { s.optionFlags |= 0x40000000u; }},
        {"Hyper-Modern Play value true", [](EngineSettings& s) { s.optionFlags |= 0x80000000u; }},
        {"OwnBook value true", [](EngineSettings& s) { s.optionFlags |= 0x10000u; }},
        {"GUI Time Lag value true", [](EngineSettings& s) { s.optionFlags |= 0x8u; }},
        {"Verbose UCI value true", [](EngineSettings& s) { s.optionFlags |= 0x4u; }},
        {"AutoSave PGN value false", [](EngineSettings& s) { s.autosaveFlags &= ~0x1000000u; }},
        {"UCI_Chess960 value true", nullptr},
        {"Futility value yes", nullptr},
        {"Futility value falsey", nullptr},
        {"Futility true", nullptr},
        {"Futility", nullptr},
        // Choices.
        {"Playing Style value Aggressive", [](EngineSettings& s) { s.optionFlags |= 0x100u; }},
        {"Playing Style value solid", [](EngineSettings& s) { s.optionFlags |= 0x200u; }},
        {"Playing Style value Normal", nullptr},
        {"Playing Style value Wild", nullptr},
        {"Book Style value Wild", [](EngineSettings& s) { s.optionFlags = (s.optionFlags & ~0xE0u) | 0x20u; }},
        {"Book Style value Varied", [](EngineSettings& s) { s.optionFlags = (s.optionFlags & ~0xE0u) | 0x60u; }},
        {"book style value WIDE", [](EngineSettings& s) { s.optionFlags = (s.optionFlags & ~0xE0u) | 0x40u; }},
        {"Book Style value", nullptr},
        {"Book Style value Solid", nullptr},
        // Numbers with their ranges.
        {"Selectivity value 0", [](EngineSettings& s) { s.optionFlags &= ~0x7000u; }},
        {"Selectivity value 3", [](EngineSettings& s) { s.optionFlags = (s.optionFlags & ~0x7000u) | 0x3000u; }},
        {"Selectivity value 8", nullptr},
        {"Selectivity value -1", nullptr},
        {"Selectivity value x", nullptr},
        {"Forward Pruning value 15", [](EngineSettings& s) { s.forwardPruning = 240; }},
        {"Forward Pruning value 0", [](EngineSettings& s) { s.forwardPruning = 0; }},
        {"Forward Pruning value 16", nullptr},
        {"Tavrix Draw Value value 50", [](EngineSettings& s) { s.drawValue = -64; }},
        {"Tavrix Draw Value value -50", [](EngineSettings& s) { s.drawValue = 64; }},
        {"Tavrix Draw Value value 1", [](EngineSettings& s) { s.drawValue = -1; }},
        {"Tavrix Draw Value value -1", [](EngineSettings& s) { s.drawValue = 1; }},
        {"Tavrix Draw Value value 128", [](EngineSettings& s) { s.drawValue = -163; }},
        {"Tavrix Draw Value value -128", [](EngineSettings& s) { s.drawValue = 163; }},
        {"Tavrix Draw Value value 129", nullptr},
        {"Tavrix Draw Value value -129", nullptr},
        {"Threat Depth value 5", [](EngineSettings& s) { s.threatDepth = -5; }},
        {"Threat Depth value 0", [](EngineSettings& s) { s.threatDepth = 0; }},
        {"Threat Depth value 8", nullptr},
        {"Tablebase Depth value 7", [](EngineSettings& s) { s.tablebaseDepth = 7; }},
        {"Tablebase Depth value 8", nullptr},
        {"MultiPV value 127", [](EngineSettings& s) { s.multiPV = 127; }},
        {"MultiPV value 128", nullptr},
        {"MultiPV value 0", nullptr},
        {"NalimovCache value 256", [](EngineSettings& s) { s.tablebaseCache = 256 * 1048576; }},
        {"NalimovCache value 257", nullptr},
        {"NalimovCache value 0", nullptr},
        // Hash: 1..2048 MB, the current size does nothing.
        {"Hash value 32", [](EngineSettings& s) { s.hashSize = 32 * 1024; }},
        {"hash value 1", [](EngineSettings& s) { s.hashSize = 1024; }},
        {"Hash value 16", nullptr},
        {"Hash value 0", nullptr},
        {"Hash value 2049", nullptr},
        {"Hash value 99999999999", nullptr},
        {"Clear Hash", nullptr},
        // Strings: the rest of the line, shorter than 160 characters.
        {"NalimovPath value /tb/a dir;/tb/b", [](EngineSettings& s) { std::strcpy(s.tablebasePath, "/tb/a dir;/tb/b"); }},
        {"Book File value my book.tbk", [](EngineSettings& s) { std::strcpy(s.bookFileName, "my book.tbk"); }},
        {"Book File value", [](EngineSettings& s) { s.bookFileName[0] = '\0'; }},
        // Strength.
        {"UCI_Elo value 2000", [](EngineSettings& s) { s.elo = 2000; }},
        {"UCI_Elo value 1250", [](EngineSettings& s) { s.elo = 1250; }},
        {"UCI_Elo value 3025", [](EngineSettings& s) { s.elo = 3025; }},
        {"UCI_Elo value 1249", nullptr},
        {"UCI_Elo value 3026", nullptr},
        {"UCI_LimitStrength value true", [](EngineSettings& s) { s.optionFlags |= 0x100000u; s.strengthLimit = 128; }},
        {"UCI_LimitStrength value false", nullptr},
        // Unknown names and near misses.
        {"Nonsense value 3", nullptr},
        {"Hashes value 3", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        StartClean();
        EngineSettings expected = Settings;
        if (c.change != nullptr) c.change(expected);
        SetOption(c.line);
        ExpectSameSettings(Settings, expected, c.line);
    }
}

TEST(SetOption, LongStringsAreRefused) {
    StartClean();
    const std::string keep(159, 'p');
    SetOption(("NalimovPath value " + keep).c_str());
    EXPECT_EQ(std::string(Settings.tablebasePath), keep);
    SetOption(("NalimovPath value " + std::string(160, 'q')).c_str());
    EXPECT_EQ(std::string(Settings.tablebasePath), keep);
    SetOption(("Book File value " + std::string(5000, 'b')).c_str());
    EXPECT_STREQ(Settings.bookFileName, "T11Book.tbk");
}

TEST(SetOption, StrengthLimitFollowsBothOptions) {
    StartClean();
    SetOption("UCI_Elo value 1250");
    EXPECT_EQ(Settings.strengthLimit, 0);          // off: the limit stays 0
    SetOption("UCI_LimitStrength value true");
    EXPECT_EQ(Settings.strengthLimit, 16);
    SetOption("UCI_Elo value 1925");
    EXPECT_EQ(Settings.strengthLimit, 128);
    SetOption("UCI_Elo value 1000");               // below the minimum: ignored
    EXPECT_EQ(Settings.strengthLimit, 128);
    SetOption("UCI_LimitStrength value false");
    EXPECT_EQ(Settings.strengthLimit, 0);
    EXPECT_EQ(Settings.optionFlags & OptionFlag::LIMIT_STRENGTH, 0u);
    EXPECT_EQ(Settings.elo, 1925);
}

// Collects what the options print.
std::string PrintedOptions() {
    char* data = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&data, &size);
    platform::RedirectOutput(stream);
    PrintOptions();
    platform::RedirectOutput(nullptr);
    std::fclose(stream);
    std::string text(data, size);
    std::free(data);
    return text;
}

TEST(PrintOptions, ListsEveryOptionInOrderWithItsDefault) {
    StartClean();
    const std::string expected =
        "option name Ponder type check default true\n"
        "option name OwnBook type check default false\n"
        "option name Book File type string default T11Book.tbk\n"
        "option name Book Positions type combo default 0 var 0\n"
        "option name Book Style type combo default Tournament var Wild var Wide var Varied var Tournament\n"
        "option name Book Learning type check default true\n"
        "option name Position Learning type check default true\n"
        "option name Hash type spin min 1 max 2048 default 16\n"
        "option name Clear Hash type button\n"
        "option name Retain Hash type check default true\n"
        "option name Use Tablebases type check default true\n"
        "option name Tablebase Depth type spin min 0 max 7 default 2\n"
        "option name NalimovCache type spin min 1 max 256 default 1\n"
        "option name NalimovPath type string default \n"
        "option name Tavrix Draw Value type spin min -100 max 100 default 0\n"
        "option name UCI_Elo type spin min 1250 max 3025 default 1925\n"
        "option name UCI_LimitStrength type check default false\n"
        "option name UCI_Chess960 type check default false\n"
        "option name Playing Style type combo default Normal var Normal var Aggressive var Solid\n"
        "option name Selectivity type spin min 0 max 7 default 7\n"
        "option name Forward Pruning type spin min 0 max 15 default 10\n"
        "option name Threat Depth type spin min 0 max 7 default 3\n"
        "option name Smart Search type check default true\n"
        "option name Futility type check default true\n"
        "option name Steady Search type check default false\n"
        "option name Combinations type check default false\n"
        "option name Hyper-Modern Play type check default false\n"
        "option name Swindle type check default true\n"
        "option name GUI Time Lag type check default false\n"
        "option name Verbose UCI type check default false\n"
        "option name AutoSave PGN type check default true\n"
        "option name MultiPV type spin min 1 max 127 default 1\n"
        "option name UCI_EngineAbout type string default TAVRIX 11 UCI";
    const std::string printed = PrintedOptions();
    ASSERT_EQ(printed.compare(0, expected.size(), expected), 0) << printed;
    EXPECT_EQ(printed.back(), '\n');
    // About ends the classic options; the later ones follow it.
    const size_t aboutEnd = printed.find('\n', expected.size());
    EXPECT_EQ(printed.substr(aboutEnd + 1), "option name Threads type spin default 1 min 1 max 256\n");
}

TEST(PrintOptions, ShowsCurrentValues) {
    struct Case {
        const char* option;
        const char* line;
    };
    const Case cases[] = {
        {"OwnBook value true", "option name OwnBook type check default true\n"},
        {"Book Style value Wild", "option name Book Style type combo default Wild var Wild var Wide"},
        {"Hash value 64", "option name Hash type spin min 1 max 2048 default 64\n"},
        {"Retain Hash value false", "option name Retain Hash type check default false\n"},
        {"NalimovCache value 8", "option name NalimovCache type spin min 1 max 256 default 8\n"},
        {"NalimovPath value /tb", "option name NalimovPath type string default /tb\n"},
        {"UCI_Elo value 2222", "option name UCI_Elo type spin min 1250 max 3025 default 2222\n"},
        {"Playing Style value Solid", "option name Playing Style type combo default Solid var Normal"},
        {"Selectivity value 2", "option name Selectivity type spin min 0 max 7 default 2\n"},
        {"Forward Pruning value 4", "option name Forward Pruning type spin min 0 max 15 default 4\n"},
        {"Threat Depth value 6", "option name Threat Depth type spin min 0 max 7 default 6\n"},
        {"Steady Search value true", "option name Steady Search type check default true\n"},
        {"Hyper-Modern Play value true", "option name Hyper-Modern Play type check default true\n"},
        {"MultiPV value 3", "option name MultiPV type spin min 1 max 127 default 3\n"},
    };
    for (const Case& c : cases) {
        StartClean();
        SetOption(c.option);
        EXPECT_NE(PrintedOptions().find(c.line), std::string::npos) << c.option;
    }
}

}  // namespace
}  // namespace tavrix
