#pragma once
// The boot region of an exFAT volume: its checksum, the choice between the main region (sectors
// 0-11) and its backup (sectors 12-23), and the layout its boot sector describes. Pure functions
// over bytes and a reader given by the caller, so that any thread and the fuzzer can run them.
#include <cstdint>
#include <functional>
#include <string>

namespace vm {

constexpr std::uint32_t kExfatBootRegionSectors = 12;  // 11 checksummed sectors and the checksum

struct ExfatLayout {
    std::uint32_t FsSectorSize = 512;     // bytes per sector of the file system itself
    std::uint32_t SectorsPerCluster = 0;  // 512-byte units
    std::uint32_t BytesPerCluster = 0;
    std::uint64_t FatSector = 0;          // first sector of the active FAT (512-byte units)
    std::uint64_t FatSectors = 0;         // sectors of one FAT
    std::uint64_t HeapSector = 0;         // first sector of cluster 2
    std::uint32_t ClusterLimit = 2;       // clusters 2 .. ClusterLimit-1 exist
    std::uint32_t RootCluster = 0;
    std::uint64_t VolumeSectors = 0;      // the volume's length by its boot sector
    std::uint32_t Serial = 0;

    std::uint64_t ClusterSector(std::uint32_t cluster) const {
        return HeapSector + std::uint64_t(cluster - 2) * SectorsPerCluster;
    }
    bool ClusterInRange(std::uint64_t cluster) const { return cluster >= 2 && cluster < ClusterLimit; }
};

// "EXFAT   " at byte 3 of a boot sector (at least 512 bytes).
bool IsExfatBootSector(const std::uint8_t* boot);
// Bytes per sector from the boot sector's shift (512 to 4096), 0 when the shift is outside that.
std::uint32_t ExfatSectorSize(const std::uint8_t* boot);

// The checksum of a boot region's first 11 sectors of `sectorSize` bytes (the volume flags and
// the percent in use left out).
std::uint32_t ExfatBootChecksum(const std::uint8_t* region, std::uint32_t sectorSize);
// True when sector 11 of the region (12 sectors of `sectorSize` bytes) repeats its checksum.
bool ExfatBootRegionValid(const std::uint8_t* region, std::uint32_t sectorSize);

// Reads `bytes` bytes at byte `offset` of the volume into `buffer`; false when they cannot be read.
using ExfatByteReader = std::function<bool(void* buffer, std::uint64_t offset, std::uint32_t bytes)>;

enum class ExfatRegion { None, Main, Backup, MainUnchecked };

// Finds the boot region to use: the main one when its checksum holds, else the backup when its
// checksum holds, else the main one unchecked when it at least carries the exFAT name. The boot
// sector chosen is copied to `boot` (512 bytes).
ExfatRegion SelectExfatBootRegion(const ExfatByteReader& read, std::uint8_t* boot);

// Reads the layout from a boot sector (at least 512 bytes). `totalSectors` (512-byte units, 0
// when unknown) bounds the cluster count. False with the reason in `why` when the boot sector
// cannot describe a usable volume.
bool ReadExfatLayout(const std::uint8_t* boot, std::uint64_t totalSectors, ExfatLayout& out, std::string& why);

}  // namespace vm
