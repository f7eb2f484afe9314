#pragma once
// The program-wide filter that every file list and folder-tree node passes through: items it
// rejects are not shown. Its stored form is one 728-byte binary value (integers little-endian,
// the pattern UTF-16LE) under the program's key, subkey "Filter", default value.
//
// Threads: the window thread edits the filter. A reader on another thread (the find) works on a
// copy taken when it starts.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "filesystem/FoundItem.h"

namespace vm {

class CRegistryStore;
class ITypeLookup;

enum FilterTypeMode : std::int32_t {
    FILTER_ALL_TYPES = 0,    // "Show all files"
    FILTER_KNOWN_TYPES = 1,  // "Show only known file types"
    FILTER_CUSTOM_TYPES = 2, // "Custom:": the types marked in the catalogue's filter marks
};

class CFilter {
public:
    static constexpr std::size_t kStoredSize = 728;
    static constexpr std::size_t kMaskUnits = 256;  // the pattern's room, its NUL included
    static constexpr std::uint64_t kNoUpperBound = ~std::uint64_t(0);

    CFilter();

    // Every field to its default: nothing is rejected.
    void Reset();
    bool Rejects(const FoundItem& item) const;

    // Resets the filter, then takes the stored filter when there is a valid one; creates the
    // key with the defaults when there is none. A damaged value is logged and left alone, and
    // the defaults are used. 1 when a stored filter was taken, else 0.
    int LoadOrCreate(CRegistryStore& store);
    int LoadOrCreate();  // the user's store
    // Writes the stored form. 1 on success.
    int Save(CRegistryStore& store) const;

    // The 728-byte stored form. The pattern keeps at most 255 UTF-16 units.
    std::vector<std::uint8_t> StoredForm() const;
    // Takes a stored form; false with the reason in `why` (and nothing changed) when it is not
    // a valid one. Reserved bytes are kept and written back as they were.
    bool FromStoredForm(std::span<const std::uint8_t> bytes, std::string& why);

    // The catalogue for the type modes; null behaves as a catalogue without types.
    void SetTypeLookup(const ITypeLookup* lookup) { pTypes = lookup; }

    std::int32_t DeletedOnly = 0;  // "Show deleted files only"
    std::int32_t MaskOn = 0;       // "Show folders and files filtered by wildcards:"
    std::int32_t DateOn = 0;       // "Date:"
    std::int32_t TimeOfDay = 0;    // compare the creation time in local time
    std::int32_t SizeOn = 0;       // "File size:" (stored, not tested)
    std::int32_t TypeMode = FILTER_ALL_TYPES;
    std::string Mask = "*";        // UTF-8; compared exactly, case included
    std::uint64_t DateFrom = 0;    // FILETIME bounds of CreateTime, both included
    std::uint64_t DateTo = kNoUpperBound;

private:
    bool RejectsByDate(const FoundItem& item) const;
    bool RejectsByType(const FoundItem& item) const;

    std::array<std::uint8_t, kStoredSize> Stored{};  // the reserved fields as last stored
    const ITypeLookup* pTypes = nullptr;
};

}  // namespace vm
