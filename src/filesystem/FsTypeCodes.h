#pragma once
// The file-system type codes (the partition-type numbers, which boot-sector recognition also
// yields) and everything the program knows about each one: its display name, the family of
// analysers that reads it, where its boot sector keeps label and serial number, and the id of
// its root folder. Every question about a type code is answered from the one table in
// FsTypeCodes.cpp; a new file system is one more row there. The table is constant: any thread.
#include <cstdint>

namespace vm {

// The codes that other code names.
enum FsTypeCode : std::uint32_t {
    FS_NONE = 0,
    FS_FAT12 = 1,
    FS_FAT16_SMALL = 4,
    FS_FAT16 = 6,
    FS_NTFS = 7,
    FS_FAT32 = 11,
    FS_FAT32_LBA = 12,
    FS_FAT16_LBA = 14,
    // exFAT shares partition type 7 with NTFS; its boot sector tells it apart. Its own code is
    // also the catalogue id of its boot-sector signature.
    FS_EXFAT = 26,
};

// The analyser family that reads a code's volumes; None for codes that are only named.
enum class FsFamily { None, Fat12, Fat16, Fat32, Ntfs, Exfat };

// Where a boot sector of that type keeps its serial number and label.
enum class FsBootLayout { None, Fat16, Fat32, Ntfs, Exfat };

struct FsTypeRow {
    std::uint32_t Code;
    const char* Name;     // the type name a drive shows
    FsFamily Family;
    FsBootLayout Boot;
    std::int32_t RootId;  // id of the root folder in the found tree; -1 without analyser
};

// The row of a code; a row of family None named "Unknown" for codes the table does not hold.
const FsTypeRow& FsType(std::uint32_t code);
// The code that boot-sector recognition gives a volume of that family (the family's first row);
// FS_NONE for None.
std::uint32_t FsFamilyCode(FsFamily family);

// True for the codes that boot-sector recognition gives (1, 4, 7, 11, 26): the catalogue's types of
// boot sectors carry these numbers.
inline bool IsRecognitionCode(std::uint32_t code) {
    return code != FS_NONE && FsFamilyCode(FsType(code).Family) == code;
}

inline bool IsFatFamily(FsFamily f) { return f == FsFamily::Fat12 || f == FsFamily::Fat16 || f == FsFamily::Fat32; }

}  // namespace vm
