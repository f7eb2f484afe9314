#include "app/StringTable.h"

#include <algorithm>
#include <iterator>

namespace vm {
namespace {

struct Entry {
    int id;
    const char* text;
};

// Sorted by id. Add new texts in their place.
constexpr Entry kStrings[] = {
    {134, "Found file: %s"},
    {135, "Analysis duration: %d minute(s), %d second(s)."},
    {136, "Analysis completed. Found %d folder(s) and %d file(s)."},
    {172, "Volume %s at position %I64d not read, retry %d"},
    {173, "Can't read boot sector on [%s]"},
    {174, "GetPartitionInfo error on volume [%s]"},
    {179, "Found %s volume at: %I64d"},
    {180, "Volume %c: Medium connected!"},
    {181, "Drive %c: Medium removed!"},
    {186, "Can't create temporary file"},
    {193, "Can't allocate memory!"},
    {194, "FAT Root directory not read!"},
    {4352, "Lost folders"},
    {4865, "lost_file_%I64d"},
    {5120, "Lost files"},
    {5376, "lost_folder_%d"},
    {57111, "Initializing drive %s"},
    {57112, "Aborting..."},
    {57113, "Operation aborted. Incomplete drive analysis!"},
    {57114, "Clear last drive analysis information..."},
    {57118, "Folder"},
    {57123, "Analysis of %s completed"},
    {57211, "Analyzing file system."},
    {57212, "Beginning file system analysis."},
    {57214, "No file system detected! File system analysis skipped."},
    {57311, "Analyzing drive sectors."},
    {57313, "Starting drive sector analysis, searching for lost files."},
};

constexpr bool SortedById() {
    for (std::size_t i = 1; i < std::size(kStrings); ++i)
        if (kStrings[i - 1].id >= kStrings[i].id) return false;
    return true;
}
static_assert(SortedById(), "the string table must stay sorted by id, each id once");

}  // namespace

const char* BuiltinString(int id) {
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const Entry& e, int v) { return e.id < v; });
    if (it == std::end(kStrings) || it->id != id) return "";
    return it->text;
}

std::string GetString(int id) { return BuiltinString(id); }

}  // namespace vm
