#include "filesystem/FileSystem.h"

#include <cstring>

#include "filesystem/ExfatBoot.h"

namespace vm {

CFileSystem::CFileSystem(CVolume* volume) : pVolume(volume) {
    RootFolder.Flags = FI_FOLDER | FI_NAMED;
    RootFolder.Name = ".";
    RootFolder.Size = 0;
}

CFileSystem::~CFileSystem() = default;

int CFileSystem::Analyse() { return 0; }
void CFileSystem::ExamineFoundRecord(const FoundItem&) {}
std::uint32_t CFileSystem::FileRead(const FoundItem&, void*, std::uint64_t, std::uint32_t) { return 0; }

std::uint32_t CFileSystem::DetectType(const std::uint8_t* bs) {
    if (!bs) return FS_NONE;
    if (std::memcmp(bs + 54, "FAT12   ", 8) == 0) return FS_FAT12;
    if (std::memcmp(bs + 54, "FAT16   ", 8) == 0) return FS_FAT16_SMALL;
    if (std::memcmp(bs + 82, "FAT32   ", 8) == 0) return FS_FAT32;
    if (std::memcmp(bs + 3, "NTFS    ", 8) == 0) return FS_NTFS;
    if (IsExfatBootSector(bs)) return FS_EXFAT;
    return FS_NONE;
}

const char* CFileSystem::TypeNameOf(std::uint32_t code) {
    switch (code) {
        case 1: return "FAT12";
        case 4:
        case 6: return "FAT16";
        case 7:
        case 128: return "NTFS";
        case 11:
        case 12: return "FAT32";
        case FS_EXFAT: return "exFAT";
        default: return "Unknown";
    }
}

void CFileSystem::CopyTypeFrom(const CFileSystem& other) {
    TypeCode = other.TypeCode;
    FsFlags = other.FsFlags;
    TypeName = other.TypeName;
}

bool IsFatTypeCode(std::uint32_t code) {
    switch (code) {
        case 1: case 4: case 6: case 11: case 12: case 14: case 17: case 20: case 22: case 27: case 28: case 30:
            return true;
        default:
            return false;
    }
}

bool AnalyserReadsItems(std::uint32_t code) {
    switch (code) {
        case 1: case 4: case 6: case 7: case 11: case 17: case FS_EXFAT:
            return true;
        default:
            return false;
    }
}

}  // namespace vm
