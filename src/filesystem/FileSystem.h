#pragma once
// The file-system analyser base: recognises a file system from its boot sector, names its type
// and carries its root folder. The FAT and NTFS analysers derive from it.
#include <cstdint>
#include <string>

#include "filesystem/FoundItem.h"
#include "filesystem/FsTypeCodes.h"

namespace vm {

class CVolume;

class CFileSystem {
public:
    explicit CFileSystem(CVolume* volume = nullptr);
    virtual ~CFileSystem();
    CFileSystem(const CFileSystem&) = delete;
    CFileSystem& operator=(const CFileSystem&) = delete;

    // Reads the file system and files what it finds in the drive's tree; the base finds nothing.
    virtual int Analyse();
    // A file-system structure that the sector search matched at find.DataOffset.
    virtual void ExamineFoundRecord(const FoundItem& find);
    // `length` bytes of the item's data from `offset` into it; the base reads nothing.
    virtual std::uint32_t FileRead(const FoundItem& item, void* buffer, std::uint64_t offset, std::uint32_t length);
    // How many bytes of the item's data, from its start, the drive holds for FileRead to read: a
    // size field that claims more is damage. kNoBound when the analyser knows no bound.
    static constexpr std::uint64_t kNoBound = ~std::uint64_t(0);
    virtual std::uint64_t HeldBytes(const FoundItem& item);

    // The type code of a boot sector (at least 512 bytes), 0 when none is recognised. A FAT
    // boot sector whose parameter block describes a usable volume is FAT12, FAT16 or FAT32 by
    // its count of clusters, whatever its label text says.
    static std::uint32_t DetectType(const std::uint8_t* bootSector);
    static const char* TypeNameOf(std::uint32_t code);
    void SetTypeName(std::uint32_t code) { TypeName = TypeNameOf(code); }
    // Takes type code, flags and name from the object it replaces.
    void CopyTypeFrom(const CFileSystem& other);

    FoundItem RootFolder;
    std::uint32_t TypeCode = 0;
    std::uint32_t FsFlags = 0;
    std::string TypeName = "Unknown";

protected:
    CVolume* pVolume;
};

// True for the codes that the FAT analyser reads (FAT12, FAT16, FAT32 and their variants).
bool IsFatTypeCode(std::uint32_t code);
// The analyser's own read serves items of the codes an analyser reads; other items are read raw.
bool AnalyserReadsItems(std::uint32_t code);

}  // namespace vm
