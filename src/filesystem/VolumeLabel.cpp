#include "filesystem/VolumeLabel.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "filesystem/ExfatBoot.h"
#include "filesystem/ExfatDirectory.h"
#include "filesystem/FatTable.h"
#include "filesystem/FileSystem.h"
#include "filesystem/FileSystem_NTFS.h"
#include "filesystem/MftRecord.h"
#include "platform/ByteOrder.h"
#include "platform/TextConvert.h"

namespace vm {
namespace {

constexpr std::uint64_t kMaxLabelSearchBytes = 256u << 10;  // of a root directory
constexpr std::uint32_t kVolumeRecord = 3;
constexpr std::uint32_t kAttrVolumeName = 0x60;

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

// The bytes of a root directory that starts at `first` and follows a chain of 32-bit FAT
// entries (masked with `mask`) at `fatSector`, at most kMaxLabelSearchBytes of them.
std::vector<std::uint8_t> ReadRootChain(const LabelSectorReader& read, std::uint32_t first, std::uint64_t fatSector,
                                        std::uint32_t mask, std::uint32_t limit, std::uint32_t sectorsPerCluster,
                                        const std::function<std::uint64_t(std::uint32_t)>& clusterSector) {
    std::vector<std::uint8_t> out, fat(512);
    std::uint64_t fatLoaded = ~std::uint64_t(0);
    const std::size_t clusterBytes = std::size_t(sectorsPerCluster) * 512;
    for (std::uint32_t c = first; c >= 2 && c < limit && out.size() + clusterBytes <= kMaxLabelSearchBytes;) {
        const std::size_t at = out.size();
        out.resize(at + clusterBytes);
        if (!read(out.data() + at, clusterSector(c), sectorsPerCluster)) {
            out.resize(at);
            break;
        }
        const std::uint64_t entrySector = fatSector + std::uint64_t(c) * 4 / 512;
        if (entrySector != fatLoaded) {
            if (!read(fat.data(), entrySector, 1)) break;
            fatLoaded = entrySector;
        }
        // End marks and free entries lie outside the clusters; a loop ends at the size bound.
        c = Le32(fat.data() + std::uint64_t(c) * 4 % 512) & mask;
    }
    return out;
}

// The live volume-label entry of a FAT directory buffer, read up to the end-of-directory mark.
bool FatRootLabel(const std::vector<std::uint8_t>& dir, std::string& label) {
    for (std::size_t at = 0; at + 32 <= dir.size(); at += 32) {
        const std::uint8_t* e = dir.data() + at;
        if (e[0] == 0x00) break;
        if (e[0] == 0xE5 || (e[11] & 0x0F) == 0x0F || (e[11] & 0x18) != 0x08) continue;
        label = Trim(OemToUtf8(e, 11));
        return true;
    }
    return false;
}

std::string FatLabel(std::uint32_t code, const std::uint8_t* boot, std::uint64_t totalSectors,
                     const LabelSectorReader& read) {
    const FatKind kind = FatKindOf(code);
    // A FAT32 boot sector names itself, or at least has no 16-bit FAT size; its label copy lies
    // further on.
    const bool fat32 = std::memcmp(boot + 82, "FAT32   ", 8) == 0 ||
                       (std::memcmp(boot + 54, "FAT1", 4) != 0 && Le16(boot + 22) == 0);
    const std::uint32_t labelAt = fat32 ? 71 : 43;
    FatLayout l;
    std::string why, label;
    if (ReadFatLayout(boot, kind, totalSectors, l, why)) {
        std::vector<std::uint8_t> root;
        if (l.Fat32()) {
            root = ReadRootChain(read, l.RootCluster, l.FatSector, 0x0FFFFFFF, l.ClusterLimit, l.SectorsPerCluster,
                                 [&](std::uint32_t c) { return l.ClusterSector(c); });
        } else {
            const std::uint64_t sectors = std::min<std::uint64_t>(l.DataStart - l.RootDirSector, kMaxLabelSearchBytes / 512);
            root.resize(std::size_t(sectors * 512));
            if (sectors == 0 || !read(root.data(), l.RootDirSector, sectors)) root.clear();
        }
        if (FatRootLabel(root, label)) return label;
    }
    return FatBootSectorLabel(boot, labelAt);
}

std::string NtfsLabel(const std::uint8_t* boot, const LabelSectorReader& read) {
    const std::uint32_t bps = Le16(boot + 11);
    const std::uint8_t raw = boot[13];
    if (bps < 512 || bps > 4096 || (bps & (bps - 1)) || raw == 0) return {};
    const std::uint64_t clusterBytes = raw >= 0x80 ? (256u - raw <= 12 ? std::uint64_t(bps) << (256u - raw) : 0)
                                                   : std::uint64_t(bps) * raw;
    const std::uint32_t recordSize = NtfsRecordBytes(boot[0x40], std::uint32_t(clusterBytes));
    const std::uint64_t mftLcn = Le64(boot + 0x30);
    if (clusterBytes == 0 || recordSize == 0 || mftLcn > (1ull << 48)) return {};
    // The first records of the MFT always lie in its first run.
    const std::uint64_t at = mftLcn * clusterBytes + std::uint64_t(kVolumeRecord) * recordSize;
    std::vector<std::uint8_t> rec(CeilDiv(recordSize, 512) * 512);
    if (at % 512 || !read(rec.data(), at / 512, rec.size() / 512)) return {};
    if (Le32(rec.data()) != kMftSignature || ApplyFixups(rec.data(), recordSize) < 0) return {};
    for (std::uint32_t off = Le16(rec.data() + 0x14); off + 24 <= recordSize;) {
        const std::uint8_t* a = rec.data() + off;
        const std::uint32_t type = Le32(a), length = Le32(a + 4);
        if (type == AT_END || length < 24 || length > recordSize - off) break;
        if (type == kAttrVolumeName && a[8] == 0) {
            const std::uint32_t valueLength = Le32(a + 16), valueAt = Le16(a + 20);
            if (valueAt > length || valueLength > length - valueAt) break;
            return Utf16LeToUtf8(a + valueAt, valueLength / 2);
        }
        off += length;
    }
    return {};
}

std::string ExfatLabel(const std::uint8_t* boot, std::uint64_t totalSectors, const LabelSectorReader& read) {
    ExfatLayout l;
    std::string why, label;
    if (!ReadExfatLayout(boot, totalSectors, l, why)) return {};
    const std::vector<std::uint8_t> root =
        ReadRootChain(read, l.RootCluster, l.FatSector, 0xFFFFFFFF, l.ClusterLimit, l.SectorsPerCluster,
                      [&](std::uint32_t c) { return l.ClusterSector(c); });
    return ExfatVolumeLabel(root.data(), root.size(), label) ? label : std::string();
}

}  // namespace

std::string FatBootSectorLabel(const std::uint8_t* boot, std::uint32_t labelAt) {
    const std::string label = Trim(OemToUtf8(boot + labelAt, 11));
    return label == "NO NAME" ? std::string() : label;
}

std::string ReadVolumeLabel(std::uint32_t typeCode, const std::uint8_t* boot, std::uint64_t totalSectors,
                            const LabelSectorReader& read) {
    try {
        if (typeCode == FS_NTFS) return NtfsLabel(boot, read);
        if (typeCode == FS_EXFAT) return ExfatLabel(boot, totalSectors, read);
        if (IsFatTypeCode(typeCode)) return FatLabel(typeCode, boot, totalSectors, read);
    } catch (...) {
    }
    return {};
}

}  // namespace vm
