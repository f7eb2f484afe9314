#include "filesystem/FileSystem.h"

#include <cstring>

#include "filesystem/ExfatBoot.h"
#include "filesystem/FatTable.h"

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
std::uint64_t CFileSystem::HeldBytes(const FoundItem&) { return kNoBound; }

std::uint32_t CFileSystem::DetectType(const std::uint8_t* bs) {
    if (!bs) return FS_NONE;
    switch (FatKindOfBootSector(bs)) {
        case FatKind::Fat12: return FsFamilyCode(FsFamily::Fat12);
        case FatKind::Fat16: return FsFamilyCode(FsFamily::Fat16);
        case FatKind::Fat32: return FsFamilyCode(FsFamily::Fat32);
        case FatKind::Exfat:
        case FatKind::None: break;
    }
    // A parameter block that describes no usable volume: the label text is all there is.
    if (std::memcmp(bs + 54, "FAT12   ", 8) == 0) return FsFamilyCode(FsFamily::Fat12);
    if (std::memcmp(bs + 54, "FAT16   ", 8) == 0) return FsFamilyCode(FsFamily::Fat16);
    if (std::memcmp(bs + 82, "FAT32   ", 8) == 0) return FsFamilyCode(FsFamily::Fat32);
    if (std::memcmp(bs + 3, "NTFS    ", 8) == 0) return FsFamilyCode(FsFamily::Ntfs);
    if (IsExfatBootSector(bs)) return FsFamilyCode(FsFamily::Exfat);
    return FS_NONE;
}

const char* CFileSystem::TypeNameOf(std::uint32_t code) { return FsType(code).Name; }

void CFileSystem::CopyTypeFrom(const CFileSystem& other) {
    TypeCode = other.TypeCode;
    FsFlags = other.FsFlags;
    TypeName = other.TypeName;
}

bool IsFatTypeCode(std::uint32_t code) { return IsFatFamily(FsType(code).Family); }

bool AnalyserReadsItems(std::uint32_t code) { return FsType(code).Family != FsFamily::None; }

}  // namespace vm
