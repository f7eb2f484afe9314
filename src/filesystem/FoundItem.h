#pragma once
// One found file or folder: a plain record copied by value. Analysers fill one on their stack
// and hand it to the drive, which files a copy in its found-items tree.
#include <cstdint>

namespace vm {

class CVolume;

enum FoundItemFlags : std::uint16_t {
    FI_DELETED = 0x0001,
    FI_FOLDER = 0x0002,
    FI_EXACT_SIZE = 0x0004,  // a lost file whose own structure gave its size: no rule overrides it
    FI_HAS_DELETED = 0x0010,
    FI_NAMED = 0x0080,
    FI_CHECKED = 0x0100,
    FI_LOST = 0x1000,
    FI_SIGNATURE_MATCH = 0x2000,
    FI_DRIVE = 0x4000,
};

constexpr std::int32_t ID_LOST_FOLDERS = -18;
constexpr std::int32_t ID_LOST_FILES = -19;
constexpr std::uint64_t SIZE_UNKNOWN = ~std::uint64_t(0);

struct FoundItem {
    std::uint16_t Flags = 0;
    std::uint64_t DataOffset = 0;    // byte position of the first data byte on the drive
    std::uint64_t Size = SIZE_UNKNOWN;
    std::uint32_t Id = 0;            // compared as signed: negative ids are synthetic folders
    std::uint32_t ParentId = 0;
    std::int16_t FileType = 0;
    std::uint16_t Attributes = 0;
    std::uint64_t CreateTime = 0;    // FILETIME, UTC
    std::uint64_t WriteTime = 0;
    std::uint64_t AccessTime = 0;
    // UTF-8, NUL-terminated, owned by the tree (or by whoever filed the item without ownership).
    // For a drive root item (FI_DRIVE) it holds the owning CVolume instead; use DriveOf().
    const char* Name = nullptr;
    std::uint32_t CheckedCount = 0;
    std::uint64_t FirstCluster = 0;

    std::int32_t SignedId() const { return std::int32_t(Id); }
    std::int32_t SignedParentId() const { return std::int32_t(ParentId); }
    bool Is(std::uint16_t flag) const { return (Flags & flag) != 0; }
    bool SizeKnown() const { return Size != SIZE_UNKNOWN; }
    // The volume of a drive root item, or null for every other item.
    CVolume* DriveOf() const {
        return (Flags & FI_DRIVE) ? reinterpret_cast<CVolume*>(const_cast<char*>(Name)) : nullptr;
    }
    const char* NameOrEmpty() const { return (Name && !(Flags & FI_DRIVE)) ? Name : ""; }
};

}  // namespace vm
