// Tablebase catalogue and registration.
#include "tablebase/catalogue.h"

#include <cinttypes>
#include <cstring>
#include <iterator>

#include "platform/platform.h"

namespace tavrix {

TablebaseCatalogue Catalogue;

namespace {

constexpr const char* CLASS_NAMES[TB_CLASS_COUNT] = {
    "kpk", "knk", "kbk", "krk", "kqk", "kpkp", "knkp", "knkn", "kbkp", "kbkn", "kbkb", "krkp", "krkn",
    "krkb", "krkr", "kqkp", "kqkn", "kqkb", "kqkr", "kqkq", "kppk", "knpk", "knnk", "kbpk", "kbnk", "kbbk",
    "krpk", "krnk", "krbk", "krrk", "kqpk", "kqnk", "kqbk", "kqrk", "kqqk", "kppkp", "kppkn", "kppkb",
    "kppkr", "kppkq", "knpkp", "knpkn", "knpkb", "knpkr", "knpkq", "knnkp", "knnkn", "knnkb", "knnkr",
    "knnkq", "kbpkp", "kbpkn", "kbpkb", "kbpkr", "kbpkq", "kbnkp", "kbnkn", "kbnkb", "kbnkr", "kbnkq",
    "kbbkp", "kbbkn", "kbbkb", "kbbkr", "kbbkq", "krpkp", "krpkn", "krpkb", "krpkr", "krpkq", "krnkp",
    "krnkn", "krnkb", "krnkr", "krnkq", "krbkp", "krbkn", "krbkb", "krbkr", "krbkq", "krrkp", "krrkn",
    "krrkb", "krrkr", "krrkq", "kqpkp", "kqpkn", "kqpkb", "kqpkr", "kqpkq", "kqnkp", "kqnkn", "kqnkb",
    "kqnkr", "kqnkq", "kqbkp", "kqbkn", "kqbkb", "kqbkr", "kqbkq", "kqrkp", "kqrkn", "kqrkb", "kqrkr",
    "kqrkq", "kqqkp", "kqqkn", "kqqkb", "kqqkr", "kqqkq", "kpppk", "knppk", "knnpk", "knnnk", "kbppk",
    "kbnpk", "kbnnk", "kbbpk", "kbbnk", "kbbbk", "krppk", "krnpk", "krnnk", "krbpk", "krbnk", "krbbk",
    "krrpk", "krrnk", "krrbk", "krrrk", "kqppk", "kqnpk", "kqnnk", "kqbpk", "kqbnk", "kqbbk", "kqrpk",
    "kqrnk", "kqrbk", "kqrrk", "kqqpk", "kqqnk", "kqqbk", "kqqrk", "kqqqk", "knnknn", "kbnknn", "kbbknn",
    "kbbkbn", "kbbkbb", "krnknn", "krnkbb", "krbknn", "krbkbb", "krrknn", "krrkbn", "krrkbb", "krrkrn",
    "krrkrb", "krrkrr", "kqnknn", "kqnkbb", "kqnkrr", "kqbknn", "kqbkbb", "kqbkrr", "kqrknn", "kqrkbb",
    "kqrkrr", "kqqknn", "kqqkbn", "kqqkbb", "kqqkrn", "kqqkrb", "kqqkrr", "kqqkqn", "kqqkqb", "kqqkqr",
    "kqqkqq", "kbnkbn", "krnkrn", "krbkrb", "kqnkqn", "kqbkqb", "kqrkqr", "krnkbn", "krbkbn", "krbkrn",
    "kqnkbn", "kqnkrn", "kqnkrb", "kqbkbn", "kqbkrn", "kqbkrb", "kqbkqn", "kqrkbn", "kqrkrn", "kqrkrb",
    "kqrkqn", "kqrkqb", "kppkpp", "knpkpp", "knpknp", "knnkpp", "knnknp", "kbpkpp", "kbpknp", "kbpknn",
    "kbpkbp", "kbnkpp", "kbnknp", "kbnkbp", "kbbkpp", "kbbknp", "kbbkbp", "krpkpp", "krpknp", "krpknn",
    "krpkbp", "krpkbn", "krpkbb", "krpkrp", "krnkpp", "krnknp", "krnkbp", "krnkrp", "krbkpp", "krbknp",
    "krbkbp", "krbkrp", "krrkpp", "krrknp", "krrkbp", "krrkrp", "kqpkpp", "kqpknp", "kqpknn", "kqpkbp",
    "kqpkbn", "kqpkbb", "kqpkrp", "kqpkrn", "kqpkrb", "kqpkrr", "kqpkqp", "kqnkpp", "kqnknp", "kqnkbp",
    "kqnkrp", "kqnkqp", "kqbkpp", "kqbknp", "kqbkbp", "kqbkrp", "kqbkqp", "kqrkpp", "kqrknp", "kqrkbp",
    "kqrkrp", "kqrkqp", "kqqkpp", "kqqknp", "kqqkbp", "kqqkrp", "kqqkqp", "knnnkn", "kbnnkn", "kbbnkn",
    "kbbbkn", "krnnkn", "krbbkn", "krrnkn", "krrbkn", "krrrkn", "kqnnkn", "kqbbkn", "kqrrkn", "kqqnkn",
    "kqqbkn", "kqqrkn", "kqqqkn", "knnnkb", "kbnnkb", "kbbnkb", "kbbbkb", "krnnkb", "krbbkb", "krrnkb",
    "krrbkb", "krrrkb", "kqnnkb", "kqbbkb", "kqrrkb", "kqqnkb", "kqqbkb", "kqqrkb", "kqqqkb", "knnnkr",
    "kbnnkr", "kbbnkr", "kbbbkr", "krnnkr", "krbbkr", "krrnkr", "krrbkr", "krrrkr", "kqnnkr", "kqbbkr",
    "kqrrkr", "kqqnkr", "kqqbkr", "kqqrkr", "kqqqkr", "knnnkq", "kbnnkq", "kbbnkq", "kbbbkq", "krnnkq",
    "krbbkq", "krrnkq", "krrbkq", "krrrkq", "kqnnkq", "kqbbkq", "kqrrkq", "kqqnkq", "kqqbkq", "kqqrkq",
    "kqqqkq", "krbnkn", "kqbnkn", "kqrnkn", "kqrbkn", "krbnkb", "kqbnkb", "kqrnkb", "kqrbkb", "krbnkr",
    "kqbnkr", "kqrnkr", "kqrbkr", "krbnkq", "kqbnkq", "kqrnkq", "kqrbkq", "kpppkp", "knppkp", "knnpkp",
    "knnnkp", "kbppkp", "kbnpkp", "kbnnkp", "kbbpkp", "kbbnkp", "kbbbkp", "krppkp", "krnpkp", "krnnkp",
    "krbpkp", "krbnkp", "krbbkp", "krrpkp", "krrnkp", "krrbkp", "krrrkp", "kqppkp", "kqnpkp", "kqnnkp",
    "kqbpkp", "kqbnkp", "kqbbkp", "kqrpkp", "kqrnkp", "kqrbkp", "kqrrkp", "kqqpkp", "kqqnkp", "kqqbkp",
    "kqqrkp", "kqqqkp", "kpppkn", "knppkn", "knnpkn", "kbppkn", "kbnpkn", "kbbpkn", "krppkn", "krnpkn",
    "krbpkn", "krrpkn", "kqppkn", "kqnpkn", "kqbpkn", "kqrpkn", "kqqpkn", "kpppkb", "knppkb", "knnpkb",
    "kbppkb", "kbnpkb", "kbbpkb", "krppkb", "krnpkb", "krbpkb", "krrpkb", "kqppkb", "kqnpkb", "kqbpkb",
    "kqrpkb", "kqqpkb", "kpppkr", "knppkr", "knnpkr", "kbppkr", "kbnpkr", "kbbpkr", "krppkr", "krnpkr",
    "krbpkr", "krrpkr", "kqppkr", "kqnpkr", "kqbpkr", "kqrpkr", "kqqpkr", "kpppkq", "knppkq", "knnpkq",
    "kbppkq", "kbnpkq", "kbbpkq", "krppkq", "krnpkq", "krbpkq", "krrpkq", "kqppkq", "kqnpkq", "kqbpkq",
    "kqrpkq", "kqqpkq",
};

// Value widths known of the format. Only a split class depends on them: one extent of two-byte
// values is exactly as long as a full extent of one-byte values, so its files cannot tell. A
// split class of unknown width is not used; a whole class's file is one or two bytes a position
// long and so says which it holds.
constexpr const char* WIDE_CLASSES[] = {
    "kppkpp", "kqpkqp", "krnknn", "krnkbn",
};
// Of the four split classes with equal material only kqpkqp stores two bytes.
constexpr const char* ONE_BYTE_SPLIT_CLASSES[] = {
    "kqqpkq", "knpknp", "kbpkbp", "krpkrp",
};

bool Listed(const char* name, const char* const* list, int count) {
    for (int i = 0; i < count; ++i)
        if (std::strcmp(list[i], name) == 0) return true;
    return false;
}
bool ListedWide(const char* name) { return Listed(name, WIDE_CLASSES, std::size(WIDE_CLASSES)); }

// The largest classes come as extent files. Where the cut lies is known only from the classes
// named split or whole and from their count (153 of 440): it falls between kqrnkr, 10880922957
// positions in both tables, and krbnkq, 10892076140.
constexpr uint64_t SPLIT_POSITIONS = 10886000000;
constexpr int FIRST_FOUR_MAN = 6;
constexpr int FIRST_FIVE_MAN = 36;
constexpr int FIRST_SIX_MAN = 146;
constexpr int LOOKUP_LEAF = 9;
constexpr int LOOKUP_PIECES = 4;

enum FileForm : uint8_t { PLAIN = 1, EMD, UNDERSCORE_EMD, UNDERSCORE_BOTH, NO_DOT_EMD };

bool IsCompressedForm(int form) { return form != PLAIN; }

// A node at `level` with `used` pieces counted so far; returns its offset in the pool.
int BuildLookupNode(TablebaseCatalogue& c, int level, int used) {
    const int offset = c.lookupSize;
    const int entries = LOOKUP_PIECES - used + 1;
    c.lookupSize += entries;
    for (int n = 0; n < entries; ++n) c.lookup[offset + n] = 0;
    if (level < LOOKUP_LEAF)
        for (int n = 0; n < entries; ++n) c.lookup[offset + n] = BuildLookupNode(c, level + 1, used + n);
    return offset;
}

int* LookupLeaf(const int* counts) {
    int node = 0, used = 0;
    for (int level = 0; level < LOOKUP_LEAF; ++level) {
        if (counts[level] < 0 || used + counts[level] > LOOKUP_PIECES) return nullptr;
        node = Catalogue.lookup[node + counts[level]];
        used += counts[level];
    }
    if (counts[LOOKUP_LEAF] < 0 || used + counts[LOOKUP_LEAF] > LOOKUP_PIECES) return nullptr;
    return &Catalogue.lookup[node + counts[LOOKUP_LEAF]];
}

bool EnterLookup(int classIndex) {
    // Pawns to queens of the first side (White as written), then of the second.
    const TablebaseShape& shape = Enumerations.shape[classIndex];
    int counts[10];
    for (int type = PAWN; type <= QUEEN; ++type) {
        counts[type - PAWN] = shape.firstCount[type];
        counts[5 + type - PAWN] = shape.secondCount[type];
    }
    int* leaf = LookupLeaf(counts);
    if (leaf == nullptr) return false;
    *leaf = classIndex;
    if (!(Catalogue.entry[classIndex].flags & TablebaseFlag::SYMMETRIC)) {
        int swapped[10];
        for (int i = 0; i < 5; ++i) swapped[i] = counts[i + 5], swapped[i + 5] = counts[i];
        leaf = LookupLeaf(swapped);
        if (leaf == nullptr) return false;
        *leaf = -classIndex;
    }
    return true;
}

void BuildCatalogue() {
    TablebaseCatalogue& c = Catalogue;
    BuildEnumerations();
    for (int i = 1; i <= TB_CLASS_COUNT; ++i) {
        TablebaseClass& e = c.entry[i];
        std::strncpy(e.name, CLASS_NAMES[i - 1], sizeof e.name - 1);
        const TablebaseShape& shape = Enumerations.shape[i];
        e.flags = shape.symmetric ? TablebaseFlag::SYMMETRIC : 0;
        if (ListedWide(e.name)) e.flags |= TablebaseFlag::WIDE;
        e.indexFunction[0] = &Enumerations.layout[i][0];
        e.indexFunction[1] = &Enumerations.layout[i][shape.symmetric ? 0 : 1];
        // Lengths are found when first needed (a few classes end in long runs of unused slots).
        e.length[0] = e.length[1] = 0;
        // A class is cut into extent files when its tables together (a symmetric class has one)
        // pass SPLIT_POSITIONS.
        const uint64_t total = e.indexFunction[0]->capacity + (shape.symmetric ? 0 : e.indexFunction[1]->capacity);
        if (total >= SPLIT_POSITIONS) e.flags |= TablebaseFlag::SPLIT;
        e.widthKnown = !(e.flags & TablebaseFlag::SPLIT) || ListedWide(e.name) ||
                       Listed(e.name, ONE_BYTE_SPLIT_CLASSES, std::size(ONE_BYTE_SPLIT_CLASSES));
    }
    c.lookupSize = 0;
    BuildLookupNode(c, 0, 0);
    c.built = true;
}

// Suffix of extent e: the digits, then letters.
char ExtentCharacter(int extent) { return static_cast<char>(extent < 10 ? '0' + extent : 'a' + extent - 10); }

// The file name of one form: element, "/", name, [".e"], ".nbw"/".nbb", then the form's end.
bool BuildName(const char* element, int elementLength, int classIndex, int side, int extent, int form, char* out,
               int capacity) {
    const TablebaseClass& e = Catalogue.entry[classIndex];
    const bool split = (e.flags & TablebaseFlag::SPLIT) != 0;
    char extentText[3] = "";
    if (split) extentText[0] = '.', extentText[1] = ExtentCharacter(extent);
    const char* separator = elementLength > 0 && element[elementLength - 1] != '/' ? "/" : "";
    const char* tail = side == 0 ? "nbw" : "nbb";
    int n = 0;
    switch (form) {
        case PLAIN: n = std::snprintf(out, capacity, "%.*s%s%s%s.%s", elementLength, element, separator, e.name, extentText, tail); break;
        case EMD: n = std::snprintf(out, capacity, "%.*s%s%s%s.%s.emd", elementLength, element, separator, e.name, extentText, tail); break;
        case UNDERSCORE_EMD: n = std::snprintf(out, capacity, "%.*s%s%s_%s.emd", elementLength, element, separator, e.name, tail); break;
        case UNDERSCORE_BOTH: n = std::snprintf(out, capacity, "%.*s%s%s_%s_emd", elementLength, element, separator, e.name, tail); break;
        default: n = std::snprintf(out, capacity, "%.*s%s%s%s.emd", elementLength, element, separator, e.name, tail); break;
    }
    return n > 0 && n < capacity;
}

// Elements of the registered path list.
bool PathElement(const char* list, int number, const char*& start, int& length) {
    const char* p = list;
    for (int i = 1;; ++i) {
        const char* end = p;
        while (*end && *end != ',' && *end != ';') ++end;
        if (i == number) {
            start = p;
            length = static_cast<int>(end - p);
            return true;
        }
        if (*end == '\0') return false;
        p = end + 1;
    }
}

// A table that cannot be used is reported and skipped; the engine goes on without it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void Report(const char* format, const char* file, const char* detail) {
    char message[TB_PATH_SIZE + 200];
    std::snprintf(message, sizeof message, format, file, detail);
    platform::Print("info string *** %s\n", message);
}
#pragma GCC diagnostic pop

// Opens the first name form of (class, side, extent) that exists in the element.
std::FILE* OpenTableFile(const char* element, int elementLength, int classIndex, int s, int extent, int& form,
                         char* name, int capacity) {
    const bool split = (Catalogue.entry[classIndex].flags & TablebaseFlag::SPLIT) != 0;
    const int lastForm = split ? EMD : classIndex < FIRST_SIX_MAN ? NO_DOT_EMD : UNDERSCORE_BOTH;
    for (form = PLAIN; form <= lastForm; ++form)
        if (BuildName(element, elementLength, classIndex, s, extent, form, name, capacity))
            if (std::FILE* file = std::fopen(name, "rb")) return file;
    return nullptr;
}

// Whether a class has a registered file on either side.
bool AnyRegistered(const TablebaseClass& e) {
    for (const auto& side : e.fileElement)
        for (const uint8_t element : side)
            if (element != 0) return true;
    return false;
}

// Registers one extent: true when it is (or already was) registered.
bool RegisterExtent(int classIndex, const char* element, int elementLength, int elementNumber, int s, int extent) {
    TablebaseClass& e = Catalogue.entry[classIndex];
    if (e.fileElement[s][extent] != 0) return true;  // the first element that holds it wins
    char name[TB_PATH_SIZE + 40];
    int form = PLAIN;
    std::FILE* file = OpenTableFile(element, elementLength, classIndex, s, extent, form, name, sizeof name);
    if (file == nullptr) return false;

    const bool split = (e.flags & TablebaseFlag::SPLIT) != 0;
    const uint64_t length = ClassLength(classIndex, s);
    uint64_t bytes = 0;
    CompressedTableHandle* handle = nullptr;
    if (!IsCompressedForm(form)) {
        if (fseeko(file, 0, SEEK_END) != 0) {
            Report("Seek in %s failed%s", name, "");
            std::fclose(file);
            return false;
        }
        bytes = static_cast<uint64_t>(ftello(file));
    } else {
        const int code = OpenCompressedTable(file, &handle);
        if (code != 0) {
            const int kind = EmdErrorKind(code);
            char detail[48];
            if (kind == EMD_READ_ERROR) std::snprintf(detail, sizeof detail, "read error");
            else if (kind == EMD_OUT_OF_MEMORY) std::snprintf(detail, sizeof detail, "out of memory");
            else if (kind == EMD_FILE_BROKEN) std::snprintf(detail, sizeof detail, "file broken");
            else std::snprintf(detail, sizeof detail, "error %d", code);
            Report("Unable to read %s - %s", name, detail);
            std::fclose(file);
            return false;
        }
        if (handle->blockSize != EMD_BLOCK_SIZE) {
            char detail[48];
            std::snprintf(detail, sizeof detail, "%u", handle->blockSize);
            Report("%s: Unsupported block size %s", name, detail);
            CloseCompressedTable(handle);
            std::fclose(file);
            return false;
        }
        bytes = CompressedTableLength(*handle);
    }
    std::fclose(file);
    // A whole class's first file sets the width for this registration; the rest must match.
    if (!split && !AnyRegistered(e) && (bytes == 2 * length) != ((e.flags & TablebaseFlag::WIDE) != 0))
        e.flags ^= TablebaseFlag::WIDE;
    const bool wide = (e.flags & TablebaseFlag::WIDE) != 0;
    const uint64_t extentPositions = wide ? TB_EXTENT_POSITIONS / 2 : TB_EXTENT_POSITIONS;
    const uint64_t full = split ? extentPositions : length;
    const uint64_t remainder = split ? length % extentPositions : length;
    const uint64_t size = wide ? bytes / 2 : bytes;
    if (size != full && size != remainder) {
        char detail[80];
        std::snprintf(detail, sizeof detail, " %" PRIu64 " %" PRIu64 " %" PRIu64, full, remainder, size);
        Report("%s corrupted%s", name, detail);
        CloseCompressedTable(handle);
        return false;
    }
    if (!EnterLookup(classIndex)) {
        Report("Unable to register %s%s", name, "");
        CloseCompressedTable(handle);
        return false;
    }
    e.fileElement[s][extent] = static_cast<uint8_t>(elementNumber);
    e.fileForm[s][extent] = static_cast<uint8_t>(form);
    e.compressedHandle[s][extent] = handle;
    if (handle != nullptr) ++Catalogue.compressedFiles;
    ++Catalogue.registeredFiles;
    if (!e.hasBuckets[s]) {
        e.hasBuckets[s] = true;
        for (int32_t& b : e.cacheBuckets[s]) b = -1;
    }
    return true;
}

}  // namespace

const char* TablebaseClassName(int classIndex) {
    return classIndex >= 1 && classIndex <= TB_CLASS_COUNT ? CLASS_NAMES[classIndex - 1] : "";
}

uint64_t ClassLength(int classIndex, int side) {
    TablebaseClass& e = Catalogue.entry[classIndex];
    if (e.flags & TablebaseFlag::SYMMETRIC) side = 0;
    if (e.length[side] == 0) e.length[side] = TableLength(classIndex, side);
    return e.length[side];
}

int ExtentCount(int classIndex, int side) {
    const TablebaseClass& e = Catalogue.entry[classIndex];
    if (!(e.flags & TablebaseFlag::SPLIT)) return 1;
    // From the capacity, so that registration needs no length until a file turns up.
    const uint64_t positions = e.indexFunction[side]->capacity * ((e.flags & TablebaseFlag::WIDE) ? 2 : 1);
    const uint64_t extents = positions / TB_EXTENT_POSITIONS + 1;
    return extents > TB_MAX_EXTENTS ? TB_MAX_EXTENTS : static_cast<int>(extents);
}

int MaterialLookup(const int* counts) {
    if (!Catalogue.built) return 0;
    const int* leaf = LookupLeaf(counts);
    return leaf == nullptr ? 0 : *leaf;
}

void CloseTablebaseFiles() {
    for (TablebaseClass& e : Catalogue.entry)
        for (auto& side : e.openFile)
            for (std::FILE*& f : side)
                if (f != nullptr) {
                    std::fclose(f);
                    f = nullptr;
                }
}

void ResetTablebaseCatalogue() {
    CloseTablebaseFiles();
    for (TablebaseClass& e : Catalogue.entry) {
        for (auto& side : e.compressedHandle)
            for (CompressedTableHandle*& h : side) {
                CloseCompressedTable(h);
                h = nullptr;
            }
        std::memset(e.fileElement, 0, sizeof e.fileElement);
        std::memset(e.fileForm, 0, sizeof e.fileForm);
        e.hasBuckets[0] = e.hasBuckets[1] = false;
        e.widthReported = false;
        // Back to the catalogue's width; a whole class's files may set it again.
        e.flags = (e.flags & ~TablebaseFlag::WIDE) | (ListedWide(e.name) ? TablebaseFlag::WIDE : 0);
    }
    Catalogue.registeredFiles = 0;
    Catalogue.compressedFiles = 0;
    Catalogue.highestClass = 0;
    Catalogue.path[0] = '\0';
    if (Catalogue.built) {
        Catalogue.lookupSize = 0;
        BuildLookupNode(Catalogue, 0, 0);
    }
}

bool RegisterClassSide(int classIndex, const char* element, int elementLength, int elementNumber, int side) {
    TablebaseClass& e = Catalogue.entry[classIndex];
    const int s = (e.flags & TablebaseFlag::SYMMETRIC) ? 0 : side;
    if (!e.widthKnown) {
        // Read at a guessed width every value would be wrong: tell the user once and skip it.
        char name[TB_PATH_SIZE + 40];
        int form;
        std::FILE* file = OpenTableFile(element, elementLength, classIndex, s, 0, form, name, sizeof name);
        if (file == nullptr) return false;
        std::fclose(file);
        if (!e.widthReported) Report("%s: value width of class %s not known, not used", name, e.name);
        e.widthReported = true;
        return false;
    }
    const int extents = ExtentCount(classIndex, s);
    bool first = false;
    for (int extent = 0; extent < extents; ++extent) {
        if (!RegisterExtent(classIndex, element, elementLength, elementNumber, s, extent)) break;
        if (extent == 0) first = true;
    }
    return first;
}

int RegisterTablebases(const char* pathList) {
    if (!Catalogue.built) BuildCatalogue();
    ResetTablebaseCatalogue();
    std::snprintf(Catalogue.path, sizeof Catalogue.path, "%s", pathList);
    for (int number = 1;; ++number) {
        const char* element;
        int length;
        if (!PathElement(Catalogue.path, number, element, length)) break;
        for (int i = 1; i <= TB_CLASS_COUNT; ++i) {
            bool any = RegisterClassSide(i, element, length, number, 0);
            if (!(Catalogue.entry[i].flags & TablebaseFlag::SYMMETRIC))
                any = RegisterClassSide(i, element, length, number, 1) || any;
            if (any && i > Catalogue.highestClass) Catalogue.highestClass = i;
        }
    }
    const int h = Catalogue.highestClass;
    return h >= FIRST_SIX_MAN ? 6 : h >= FIRST_FIVE_MAN ? 5 : h >= FIRST_FOUR_MAN ? 4 : h >= 1 ? 3 : 0;
}

bool TablebaseFileName(int classIndex, int side, int extent, char* out, int capacity) {
    const TablebaseClass& e = Catalogue.entry[classIndex];
    if (e.fileElement[side][extent] == 0) return false;
    const char* element;
    int length;
    if (!PathElement(Catalogue.path, e.fileElement[side][extent], element, length)) return false;
    return BuildName(element, length, classIndex, side, extent, e.fileForm[side][extent], out, capacity);
}

}  // namespace tavrix
