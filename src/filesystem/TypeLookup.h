#pragma once
// What the found-items tree needs of the file-type catalogue. The catalogue implements it; until
// a catalogue is attached the tree behaves as if the catalogue held no types.
#include <cstdint>
#include <string>

#include "filesystem/FoundItem.h"

namespace vm {

struct TypeInfo {
    std::int16_t TypeId = 0;
    std::int32_t GroupId = 0;   // negative group identifier
    bool Checked = true;        // the type is selected for search and listing
    std::string NamePrefix;     // prefix of lost files' names
    std::string FirstExtension; // GetFirstExtension(), without the dot
    bool FilterChecked = false; // the type is chosen for the filter's custom type list
};

class ITypeLookup {
public:
    virtual ~ITypeLookup() = default;
    // By FileType when not 0, else by the upper-cased extension of Name (writing the TypeId
    // found into FileType); null when none. Must be safe to call from several threads.
    virtual const TypeInfo* TypeOfItem(FoundItem& item) const = 0;
    virtual const TypeInfo* FindType(std::int16_t typeId) const = 0;
    // The group's title, or null when the catalogue has no such group.
    virtual const char* GroupTitle(std::int32_t groupId) const = 0;
};

}  // namespace vm
