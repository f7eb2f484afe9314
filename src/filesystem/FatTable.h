#pragma once
// The layout of a FAT volume from its boot sector, and its file allocation table: entry lookup,
// bounded chain walks and the cluster-use map. Every count is in 512-byte units, whatever the
// file system's own sector size.
#include <cstdint>
#include <string>
#include <vector>

namespace vm {

class CBitArray;

enum class FatKind { None, Fat12, Fat16, Fat32, Exfat };  // Exfat: 32-bit entries, all bits used

// The FAT width that goes with a file-system type code; None for codes without a FAT layout.
FatKind FatKindOf(std::uint32_t typeCode);

// The FAT width of a boot sector (at least 512 bytes) by its count of clusters: below 4085
// FAT12, below 65525 FAT16. A parameter block in the FAT32 form (no 16-bit FAT size, no root
// directory entries) is FAT32 at any count. None when the parameter block describes no usable
// FAT volume.
FatKind FatKindOfBootSector(const std::uint8_t* boot);

struct FatLayout {
    FatKind Kind = FatKind::None;
    std::uint32_t FsSectorSize = 512;      // bytes per sector of the file system itself
    std::uint32_t SectorsPerCluster = 0;   // 512-byte units
    std::uint32_t BytesPerCluster = 0;
    std::uint32_t NumberOfFats = 0;
    std::uint64_t FatSector = 0;           // first sector of the first FAT
    std::uint64_t FatSectors = 0;          // sectors of one FAT copy
    std::uint64_t FatBytes = 0;            // bytes of one FAT copy
    std::uint64_t RootDirSector = 0;       // FAT12/16 root directory; on FAT32 the first data sector
    std::uint32_t RootEntries = 0;         // 0 on FAT32
    std::uint32_t RootCluster = 0;         // FAT32 only
    std::uint64_t DataStart = 0;           // first sector of cluster 2
    std::uint32_t ClusterLimit = 2;        // clusters 2 .. ClusterLimit-1 exist

    bool Fat32() const { return Kind == FatKind::Fat32; }
    // First sector of a cluster (the cluster must be at least 2).
    std::uint64_t ClusterSector(std::uint32_t cluster) const {
        return DataStart + std::uint64_t(cluster - 2) * SectorsPerCluster;
    }
    bool ClusterInRange(std::uint64_t cluster) const { return cluster >= 2 && cluster < ClusterLimit; }
};

// Reads the layout from a boot sector (at least 512 bytes). `totalSectors` (512-byte units, 0
// when unknown) bounds the cluster count. False with the reason in `why` when the boot sector
// cannot describe a usable volume.
bool ReadFatLayout(const std::uint8_t* boot, FatKind kind, std::uint64_t totalSectors, FatLayout& out,
                   std::string& why);

// How a chain walk ended.
enum class ChainEnd { EndMark, Free, Loop, OutOfRange, Capped };

class CFatTable {
public:
    // Takes the bytes of one FAT copy for a volume of that layout.
    void Assign(const FatLayout& layout, std::vector<std::uint8_t> bytes);
    bool Empty() const { return pFat.empty(); }

    // The value of entry i; 0 for entries beyond the table.
    std::uint32_t Entry(std::uint32_t i) const;
    // End-of-chain marks of the table's width.
    bool IsEndMark(std::uint32_t value) const;
    // Number of entries the table holds (limited to the volume's clusters).
    std::uint32_t EntryCount() const { return Entries; }

    // The clusters of the chain from `first` (itself in range), at most `maxClusters` of them,
    // in order, each at most once: a walk that meets a cluster again ends as Loop, a link to a
    // cluster that does not exist as OutOfRange, a free entry as Free.
    ChainEnd Chain(std::uint32_t first, std::uint32_t maxClusters, std::vector<std::uint32_t>& out) const;

    // One bit per entry, set for every entry that is not free.
    void MarkUsed(CBitArray& map) const;

private:
    FatKind Kind = FatKind::None;
    std::uint32_t Limit = 2;
    std::uint32_t Entries = 0;
    std::vector<std::uint8_t> pFat;
};

}  // namespace vm
