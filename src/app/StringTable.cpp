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
    {135, "Analysis duration: %d minute(s), %d second(s)."},
    {136, "Analysis completed. Found %d folder(s) and %d file(s)."},
    {172, "Volume %s at position %I64d not read, retry %d"},
    {173, "Can't read boot sector on [%s]"},
    {174, "GetPartitionInfo error on volume [%s]"},
    {178, "Analyzing MFT table"},
    {186, "Can't create temporary file"},
    {193, "Can't allocate memory!"},
    {194, "FAT Root directory not read!"},
    {4352, "Lost folders"},
    {4865, "lost_file_%I64d"},
    {5120, "Lost files"},
    {5376, "lost_folder_%d"},
    {57118, "Folder"},
};

}  // namespace

const char* BuiltinString(int id) {
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const Entry& e, int v) { return e.id < v; });
    if (it == std::end(kStrings) || it->id != id) return "";
    return it->text;
}

std::string GetString(int id) { return BuiltinString(id); }

}  // namespace vm
