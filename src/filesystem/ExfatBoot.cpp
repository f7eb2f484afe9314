#include "filesystem/ExfatBoot.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/Format.h"
#include "platform/ByteOrder.h"

namespace vm {
namespace {

constexpr std::uint32_t kChecksummedSectors = 11;
constexpr std::uint32_t kMinSectorShift = 9, kMaxSectorShift = 12;
constexpr std::uint32_t kMaxClusterShift = 25;  // 32 MiB clusters at most
constexpr std::uint32_t kFirstFatSector = 24;    // the two boot regions come first
constexpr std::uint32_t kMaxClusterCount = 0xFFFFFFF5;

// The region of `sectorSize`-byte sectors at `offset`, when it carries the exFAT name and that
// sector size and its checksum holds.
bool ReadValidRegion(const ExfatByteReader& read, std::uint64_t offset, std::uint32_t sectorSize,
                     std::vector<std::uint8_t>& region) {
    region.assign(std::size_t(kExfatBootRegionSectors) * sectorSize, 0);
    if (!read(region.data(), offset, std::uint32_t(region.size()))) return false;
    return IsExfatBootSector(region.data()) && ExfatSectorSize(region.data()) == sectorSize &&
           ExfatBootRegionValid(region.data(), sectorSize);
}

}  // namespace

bool IsExfatBootSector(const std::uint8_t* boot) { return boot && std::memcmp(boot + 3, "EXFAT   ", 8) == 0; }

std::uint32_t ExfatSectorSize(const std::uint8_t* boot) {
    const std::uint32_t shift = boot[108];
    return shift >= kMinSectorShift && shift <= kMaxSectorShift ? 1u << shift : 0;
}

std::uint32_t ExfatBootChecksum(const std::uint8_t* region, std::uint32_t sectorSize) {
    std::uint32_t sum = 0;
    const std::size_t bytes = std::size_t(kChecksummedSectors) * sectorSize;
    for (std::size_t i = 0; i < bytes; ++i) {
        if (i == 106 || i == 107 || i == 112) continue;
        sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
    }
    return sum;
}

bool ExfatBootRegionValid(const std::uint8_t* region, std::uint32_t sectorSize) {
    const std::uint32_t sum = ExfatBootChecksum(region, sectorSize);
    const std::uint8_t* stored = region + std::size_t(kChecksummedSectors) * sectorSize;
    for (std::uint32_t i = 0; i < sectorSize; i += 4)
        if (Le32(stored + i) != sum) return false;
    return true;
}

ExfatRegion SelectExfatBootRegion(const ExfatByteReader& read, std::uint8_t* boot) {
    std::vector<std::uint8_t> region(512);
    if (!read(region.data(), 0, 512)) return ExfatRegion::None;
    const bool mainNamed = IsExfatBootSector(region.data());
    const std::uint32_t mainSize = mainNamed ? ExfatSectorSize(region.data()) : 0;
    std::vector<std::uint8_t> main(region);
    if (mainSize && ReadValidRegion(read, 0, mainSize, region)) {
        std::memcpy(boot, region.data(), 512);
        return ExfatRegion::Main;
    }
    // The backup lies 12 sectors in; when the main boot sector cannot tell the sector size,
    // every size is tried.
    for (std::uint32_t shift = kMinSectorShift; shift <= kMaxSectorShift; ++shift) {
        const std::uint32_t size = 1u << shift;
        if (mainSize && size != mainSize) continue;
        if (ReadValidRegion(read, std::uint64_t(kExfatBootRegionSectors) * size, size, region)) {
            std::memcpy(boot, region.data(), 512);
            return ExfatRegion::Backup;
        }
    }
    if (!mainNamed) return ExfatRegion::None;
    std::memcpy(boot, main.data(), 512);
    return ExfatRegion::MainUnchecked;
}

bool ReadExfatLayout(const std::uint8_t* boot, std::uint64_t totalSectors, ExfatLayout& out, std::string& why) {
    out = ExfatLayout{};
    if (!IsExfatBootSector(boot)) {
        why = "no exFAT boot sector";
        return false;
    }
    const std::uint32_t bps = ExfatSectorSize(boot);
    const std::uint32_t clusterShift = boot[109];
    if (bps == 0) {
        why = Format("invalid sector size (shift %d)", boot[108]);
        return false;
    }
    if (boot[108] + clusterShift > kMaxClusterShift) {
        why = Format("invalid cluster size (shift %d)", clusterShift);
        return false;
    }
    const std::uint32_t units = bps / 512;
    const std::uint64_t fatOffset = Le32(boot + 80), fatLength = Le32(boot + 84);
    const std::uint64_t heapOffset = Le32(boot + 88);
    const std::uint32_t fats = boot[110];
    if (fatOffset < kFirstFatSector || fatLength == 0 || (fats != 1 && fats != 2) ||
        heapOffset < fatOffset + fatLength * fats) {
        why = Format("no FAT (%d FATs of %I64d sectors at %I64d, cluster heap at %I64d)", fats, fatLength, fatOffset,
                     heapOffset);
        return false;
    }
    out.FsSectorSize = bps;
    out.SectorsPerCluster = (1u << clusterShift) * units;
    out.BytesPerCluster = out.SectorsPerCluster * 512;
    const bool secondActive = fats == 2 && (Le16(boot + 106) & 1);
    out.FatSector = (fatOffset + (secondActive ? fatLength : 0)) * units;
    out.FatSectors = fatLength * units;
    out.HeapSector = heapOffset * units;
    out.VolumeSectors = Le64(boot + 72) < (1ull << 52) ? Le64(boot + 72) * units : 0;
    out.Serial = Le32(boot + 100);

    // The clusters that exist: the boot sector's count, within the FAT and within the volume.
    std::uint64_t clusters = std::min<std::uint64_t>(Le32(boot + 92), kMaxClusterCount);
    clusters = std::min<std::uint64_t>(clusters, out.FatSectors * 512 / 4 - 2);
    std::uint64_t end = totalSectors;
    if (out.VolumeSectors && (!end || out.VolumeSectors < end)) end = out.VolumeSectors;
    if (end) clusters = std::min<std::uint64_t>(clusters, end > out.HeapSector ? (end - out.HeapSector) / out.SectorsPerCluster : 0);
    out.ClusterLimit = std::uint32_t(clusters + 2);
    out.RootCluster = Le32(boot + 96);
    if (!out.ClusterInRange(out.RootCluster)) {
        why = Format("root directory at cluster %d outside the %d clusters", out.RootCluster, std::uint32_t(clusters));
        return false;
    }
    return true;
}

}  // namespace vm
