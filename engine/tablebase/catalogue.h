// The tablebase catalogue: the 440 material classes the engine knows, the registration of
// their files along the path list, and the lookup from a position's material to its class.
#pragma once

#include <cstdint>
#include <cstdio>

#include "tablebase/compressed.h"
#include "tablebase/index.h"

namespace tavrix {

constexpr int TB_MAX_EXTENTS = 18;
constexpr int TB_BUCKETS = 32;
constexpr int TB_PATH_SIZE = 160;
constexpr uint64_t TB_EXTENT_POSITIONS = uint64_t(1) << 31;    // per extent file of a split class

namespace TablebaseFlag {
constexpr uint32_t SYMMETRIC = 1;
constexpr uint32_t WIDE = 2;
constexpr uint32_t SPLIT = 4;
}  // namespace TablebaseFlag

struct TablebaseClass {
    uint32_t flags;
    const IndexLayout* indexFunction[2];
    char name[8];
    uint64_t length[2];                       // 0 until first needed
    // Registered file per side and extent: the path element (1-based, 0 = none) and which of
    // the name forms was found.
    uint8_t fileElement[2][TB_MAX_EXTENTS];
    uint8_t fileForm[2][TB_MAX_EXTENTS];
    std::FILE* openFile[2][TB_MAX_EXTENTS];
    CompressedTableHandle* compressedHandle[2][TB_MAX_EXTENTS];
    // False for a split class whose value width the catalogue cannot vouch for: not used.
    bool widthKnown;
    bool widthReported;                       // its files were reported in this registration
    bool hasBuckets[2];
    int32_t cacheBuckets[2][TB_BUCKETS];
};

struct TablebaseCatalogue {
    bool built;
    TablebaseClass entry[TB_CLASS_COUNT + 1];
    char path[TB_PATH_SIZE];                  // the path list the names were registered from
    int32_t registeredFiles;
    int32_t compressedFiles;
    int32_t highestClass;
    int32_t lookupSize;
    int32_t lookup[4096];                     // nested count arrays; leaves hold +-class
};
extern TablebaseCatalogue Catalogue;

const char* TablebaseClassName(int classIndex);
// Positions in one side's table (found on first use).
uint64_t ClassLength(int classIndex, int side);
// Number of extents of one side of a class.
int ExtentCount(int classIndex, int side);

// Piece counts: white pawns, knights, bishops, rooks, queens, then Black's. +i, -i or 0.
int MaterialLookup(const int* counts);

// Full re-registration along a path list (elements split at "," and ";"). Returns the
// largest class size registered (0, 3, 4, 5 or 6 men).
int RegisterTablebases(const char* pathList);
bool RegisterClassSide(int classIndex, const char* element, int elementLength, int elementNumber, int side);
void CloseTablebaseFiles();
// Drops every registration and frees the compressed-file handles.
void ResetTablebaseCatalogue();
// The registered file name of (class, side, extent); false when none.
bool TablebaseFileName(int classIndex, int side, int extent, char* out, int capacity);

}  // namespace tavrix
