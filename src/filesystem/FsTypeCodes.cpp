// The table of file-system type codes. Hidden partition types (0x11, 0x14, 0x16, 0x1B, 0x1C,
// 0x1E) hold the same file systems as their visible twins; the volume-set and mirror types
// (0x86, 0x87, 0x8B, 0x8C) carry a FAT or NTFS boot sector but belong to a set of disks and are
// not analysed.
#include "filesystem/FsTypeCodes.h"

namespace vm {
namespace {

using F = FsFamily;
using B = FsBootLayout;

// The first row of each family is the code its boot sector is recognised as.
constexpr FsTypeRow kTypes[] = {
    {FS_FAT12, "FAT12", F::Fat12, B::Fat16, 0},
    {FS_FAT16_SMALL, "FAT16", F::Fat16, B::Fat16, 0},
    {FS_FAT16, "FAT16", F::Fat16, B::Fat16, 0},
    {FS_NTFS, "NTFS", F::Ntfs, B::Ntfs, 5},
    {FS_FAT32, "FAT32", F::Fat32, B::Fat32, 2},
    {FS_FAT32_LBA, "FAT32", F::Fat32, B::Fat32, 2},
    {FS_FAT16_LBA, "FAT16", F::Fat16, B::Fat16, 0},
    {17, "FAT12", F::Fat12, B::Fat16, 0},
    {20, "FAT16", F::Fat16, B::Fat16, 0},
    {22, "FAT16", F::Fat16, B::Fat16, 0},
    {FS_EXFAT, "exFAT", F::Exfat, B::Exfat, 1},
    {27, "FAT32", F::Fat32, B::Fat32, 2},
    {28, "FAT32", F::Fat32, B::Fat32, 2},
    {30, "FAT16", F::Fat16, B::Fat16, 0},
    {128, "NTFS", F::None, B::None, -1},
    {134, "Unknown", F::None, B::Fat16, -1},
    {135, "Unknown", F::None, B::Ntfs, -1},
    {139, "Unknown", F::None, B::Fat32, -1},
    {140, "Unknown", F::None, B::Fat32, -1},
};

constexpr FsTypeRow kUnknown = {FS_NONE, "Unknown", F::None, B::None, -1};

}  // namespace

const FsTypeRow& FsType(std::uint32_t code) {
    for (const FsTypeRow& row : kTypes)
        if (row.Code == code) return row;
    return kUnknown;
}

std::uint32_t FsFamilyCode(FsFamily family) {
    if (family == F::None) return FS_NONE;
    for (const FsTypeRow& row : kTypes)
        if (row.Family == family) return row.Code;
    return FS_NONE;
}

}  // namespace vm
