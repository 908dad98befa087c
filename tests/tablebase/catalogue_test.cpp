// Catalogue rows, material lookup and registration along the path list.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "control/output_capture.h"
#include "tablebase/tb_fixture.h"

namespace tavrix::testing {
namespace {

struct Row {
    const char* name;
    uint32_t flags;
    uint64_t whiteToMove, blackToMove;
};

TEST(TablebaseCatalogue, KnownClassLengthsAndFlags) {
    RegisterTablebases(FreshDirectory().c_str());
    const Row rows[] = {
        {"kpk", 0, 81664, 84012},
        {"kqk", 0, 25629, 28644},
        {"kpkp", 0, 3863492, 3863492},
        {"knkn", 1, 1603202, 1603202},
        {"knnknn", 1, 1301488080, 1301488080},
        {"krnknn", 2, 2723107830, 2602976160},
        {"krnkbn", 6, 5446215660, 5489194800},
        {"kqpkqp", 7, 12651597608, 12651597608},
        {"kqqpkq", 4, 7297961576, 8514011520},
        // The en-passant block ends 42 slots short of the format's length (see TableLength).
        {"kppkpp", 3, 1917741770, 1917741770},
    };
    for (const Row& r : rows) {
        const int c = FindTablebaseClass(r.name);
        EXPECT_EQ(Catalogue.entry[c].flags, r.flags) << r.name;
        EXPECT_EQ(ClassLength(c, 0), r.whiteToMove) << r.name;
        EXPECT_EQ(ClassLength(c, 1), r.blackToMove) << r.name;
    }
    // Equal material on both sides: 19 classes, 4 of them split; 153 split classes in all.
    int symmetric = 0, symmetricSplit = 0, split = 0;
    for (int c = 1; c <= TB_CLASS_COUNT; ++c) {
        const uint32_t f = Catalogue.entry[c].flags;
        symmetric += (f & TablebaseFlag::SYMMETRIC) != 0;
        symmetricSplit += (f & TablebaseFlag::SYMMETRIC) && (f & TablebaseFlag::SPLIT);
        split += (f & TablebaseFlag::SPLIT) != 0;
    }
    EXPECT_EQ(symmetric, 19);
    EXPECT_EQ(symmetricSplit, 4);
    EXPECT_EQ(split, 153);
    EXPECT_EQ(FindTablebaseClass("kpk"), 1);
    EXPECT_EQ(FindTablebaseClass("kqqpkq"), TB_CLASS_COUNT);
}

TEST(TablebaseCatalogue, RegistrationRules) {
    const std::string tables = ThreeManDirectory();
    const std::string second = FreshDirectory();
    ASSERT_TRUE(WriteTables(second, {"krk"}));

    // Only 3-man tables: 3 men; the first element that holds a file wins.
    EXPECT_EQ(UseTables(tables + ";" + second), 3);
    char name[256];
    ASSERT_TRUE(TablebaseFileName(FindTablebaseClass("krk"), 0, 0, name, sizeof name));
    EXPECT_EQ(std::string(name), tables + "/krk.nbw");
    EXPECT_EQ(RegisteredTablebaseFiles(), 10);

    // Colours as written and exchanged.
    const int whiteQueen[10] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    const int blackQueen[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const int twoQueens[10] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    EXPECT_EQ(MaterialLookup(whiteQueen), 5);
    EXPECT_EQ(MaterialLookup(blackQueen), -5);
    EXPECT_EQ(MaterialLookup(twoQueens), 0);  // not registered

    // An empty element is the working directory; "," separates as ";" does.
    char here[512];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(second.c_str()), 0);
    EXPECT_EQ(UseTables(","), 3);
    EXPECT_TRUE(TablebaseFileName(FindTablebaseClass("krk"), 1, 0, name, sizeof name));
    EXPECT_EQ(std::string(name), "krk.nbb");
    EXPECT_FALSE(TablebaseFileName(FindTablebaseClass("kqk"), 0, 0, name, sizeof name));
    ASSERT_EQ(chdir(here), 0);

    // A 4-man class raises the figure (a sparse file of the right size registers).
    const int kqkq = FindTablebaseClass("kqkq");
    const int fd = open((second + "/kqkq.nbw").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(ClassLength(kqkq, 0))), 0);
    close(fd);
    EXPECT_EQ(UseTables(second), 4);
    FreeTablebases();
}

TEST(TablebaseCatalogue, BrokenTableIsReportedAndSkipped) {
    const std::string d = FreshDirectory();
    ASSERT_TRUE(WriteTables(d, {"kqk"}));
    ASSERT_EQ(truncate((d + "/kqk.nbb").c_str(), 100), 0);
    OutputCapture out;
    EXPECT_EQ(UseTables(d), 3);  // the side that is whole still registers
    const std::string text = out.Take();
    EXPECT_NE(text.find("info string *** " + d + "/kqk.nbb corrupted"), std::string::npos) << text;
    EXPECT_EQ(RegisteredTablebaseFiles(), 1);
    FreeTablebases();
}

TEST(TablebaseCatalogue, SplitClassStopsAtFirstMissingExtent) {
    RegisterTablebases(FreshDirectory().c_str());
    const int c = FindTablebaseClass("kqqpkq");
    ASSERT_TRUE(Catalogue.entry[c].flags & TablebaseFlag::SPLIT);
    ASSERT_GE(ExtentCount(c, 1), 3);
    // Sparse extent files of the full extent size: extents 0 and 2, not 1.
    const std::string d = FreshDirectory();
    for (const char* e : {"0", "2"}) {
        const std::string file = d + "/kqqpkq." + e + ".nbb";
        const int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(TB_EXTENT_POSITIONS)), 0);
        close(fd);
    }
    EXPECT_EQ(UseTables(d), 6);
    char name[256];
    EXPECT_TRUE(TablebaseFileName(c, 1, 0, name, sizeof name));
    EXPECT_FALSE(TablebaseFileName(c, 1, 1, name, sizeof name));
    EXPECT_FALSE(TablebaseFileName(c, 1, 2, name, sizeof name));
    FreeTablebases();
}

// Sparse extent files of one side of a split class, laid out for one or two bytes a position.
void WriteExtents(const std::string& directory, int c, int side, bool wide, int files) {
    const uint64_t length = ClassLength(c, side);
    const uint64_t extent = wide ? TB_EXTENT_POSITIONS / 2 : TB_EXTENT_POSITIONS;
    const int needed = static_cast<int>(length / extent) + 1;
    for (int e = 0; e < files; ++e) {
        const uint64_t positions = e + 1 < needed ? extent : length % extent;
        const std::string file = directory + "/" + TablebaseClassName(c) + "." + std::to_string(e) +
                                 (side == 0 ? ".nbw" : ".nbb");
        const int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(positions * (wide ? 2 : 1))), 0);
        close(fd);
    }
}

TEST(TablebaseCatalogue, SplitClassesAreReadOnlyAtAWidthTheCatalogueKnows) {
    RegisterTablebases(FreshDirectory().c_str());
    const struct {
        const char* name;
        int side;
        bool wideFiles;
        int files;
        int registered;  // extents
        bool reported;
    } cases[] = {
        // Six two-byte extents: read a byte a position they would pass as three whole extents.
        {"krbkbn", 0, true, 6, 0, true},
        {"krnkbn", 0, true, 6, 6, false},
        {"kqqpkq", 1, false, 4, 4, false},
        {"krpkrp", 0, false, 7, 7, false},
    };
    for (const auto& t : cases) {
        const int c = FindTablebaseClass(t.name);
        ASSERT_TRUE(Catalogue.entry[c].flags & TablebaseFlag::SPLIT) << t.name;
        const std::string d = FreshDirectory();
        WriteExtents(d, c, t.side, t.wideFiles, t.files);
        OutputCapture out;
        EXPECT_EQ(UseTables(d), t.registered > 0 ? 6 : 0) << t.name;
        const std::string text = out.Take();
        const std::string report = "info string *** " + d + "/" + t.name + ".0." + (t.side == 0 ? "nbw" : "nbb") +
                                   ": value width of class " + t.name + " not known, not used\n";
        EXPECT_EQ(text, t.reported ? report : "") << t.name;
        if (t.registered > 0) {
            EXPECT_EQ(ExtentCount(c, t.side), t.files) << t.name;
        }
        char name[256];
        for (int e = 0; e < t.files; ++e)
            EXPECT_EQ(TablebaseFileName(c, t.side, e, name, sizeof name), e < t.registered) << t.name << " " << e;
        FreeTablebases();
    }
}

}  // namespace
}  // namespace tavrix::testing
