#include "filesystem/FatTable.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <unordered_set>

#include "app/Format.h"
#include "filesystem/BitArray.h"
#include "filesystem/FsTypeCodes.h"

namespace vm {
namespace {


bool PowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Entries that `bytes` of FAT hold, and the highest cluster number the width allows.
std::uint64_t EntriesIn(FatKind kind, std::uint64_t bytes) {
    switch (kind) {
        case FatKind::Fat12: return std::min<std::uint64_t>(bytes * 2 / 3, 0xFF7);
        case FatKind::Fat16: return std::min<std::uint64_t>(bytes / 2, 0xFFF7);
        case FatKind::Fat32: return std::min<std::uint64_t>(bytes / 4, 0x0FFFFFF7);
        case FatKind::Exfat: return std::min<std::uint64_t>(bytes / 4, 0xFFFFFFF7);
        default: return 0;
    }
}

}  // namespace

FatKind FatKindOf(std::uint32_t typeCode) {
    switch (FsType(typeCode).Family) {
        case FsFamily::Fat12: return FatKind::Fat12;
        case FsFamily::Fat16: return FatKind::Fat16;
        case FsFamily::Fat32: return FatKind::Fat32;
        default: return FatKind::None;
    }
}

FatKind FatKindOfBootSector(const std::uint8_t* boot) {
    const std::uint32_t bps = Le16(boot + 11), spc = boot[13], reserved = Le16(boot + 14), fats = boot[16];
    const std::uint32_t rootEntries = Le16(boot + 17), media = boot[21];
    const std::uint64_t fat16Size = Le16(boot + 22), fat32Size = Le32(boot + 36);
    const std::uint64_t total = Le16(boot + 19) ? Le16(boot + 19) : Le32(boot + 32);
    if (bps < 512 || bps > 4096 || !PowerOfTwo(bps) || !PowerOfTwo(spc) || reserved == 0 || fats == 0 ||
        (media != 0xF0 && media < 0xF8))
        return FatKind::None;
    const bool fat32Form = fat16Size == 0 && rootEntries == 0;
    const std::uint64_t fatSize = fat32Form ? fat32Size : fat16Size;
    const std::uint64_t dataStart = reserved + fats * fatSize + (std::uint64_t(rootEntries) * 32 + bps - 1) / bps;
    if (fatSize == 0 || total <= dataStart) return FatKind::None;
    const std::uint64_t clusters = (total - dataStart) / spc;
    if (fat32Form) return FatKind::Fat32;
    if (clusters < 4085) return FatKind::Fat12;
    // A 16-bit FAT cannot number more clusters: such a block is damaged.
    return clusters < 65525 ? FatKind::Fat16 : FatKind::None;
}

bool ReadFatLayout(const std::uint8_t* boot, FatKind kind, std::uint64_t totalSectors, FatLayout& out,
                   std::string& why) {
    out = FatLayout{};
    if (kind == FatKind::None) {
        why = "no FAT layout for this file-system type";
        return false;
    }
    const std::uint32_t bps = Le16(boot + 11);
    const std::uint32_t spc = boot[13];
    const std::uint32_t reserved = Le16(boot + 14);
    const std::uint32_t fats = boot[16];
    const std::uint64_t perFat = kind == FatKind::Fat32 ? Le32(boot + 36) : Le16(boot + 22);
    if (bps < 512 || bps > 4096 || !PowerOfTwo(bps)) {
        why = Format("invalid sector size (%d bytes)", bps);
        return false;
    }
    if (!PowerOfTwo(spc)) {
        why = Format("invalid cluster size (%d sectors per cluster)", spc);
        return false;
    }
    if (reserved == 0 || fats == 0 || perFat == 0) {
        why = Format("no FAT (%d reserved sectors, %d FATs of %I64d sectors)", reserved, fats, perFat);
        return false;
    }
    const std::uint32_t units = bps / 512;
    out.Kind = kind;
    out.FsSectorSize = bps;
    out.SectorsPerCluster = spc * units;
    out.BytesPerCluster = out.SectorsPerCluster * 512;
    out.NumberOfFats = fats;
    out.FatSector = std::uint64_t(reserved) * units;
    out.FatSectors = perFat * units;
    out.FatBytes = out.FatSectors * 512;
    out.RootDirSector = (reserved + fats * perFat) * units;
    out.RootEntries = kind == FatKind::Fat32 ? 0 : Le16(boot + 17);
    out.RootCluster = kind == FatKind::Fat32 ? Le32(boot + 44) : 0;
    const std::uint64_t rootBytes = std::uint64_t(out.RootEntries) * 32;
    out.DataStart = out.RootDirSector + (rootBytes + bps - 1) / bps * units;

    // The volume ends at the smaller of its own size and the size its boot sector gives.
    std::uint64_t fsSectors = std::uint64_t(Le16(boot + 19) ? Le16(boot + 19) : Le32(boot + 32)) * units;
    std::uint64_t end = totalSectors;
    if (fsSectors && (!end || fsSectors < end)) end = fsSectors;
    std::uint64_t clusters = EntriesIn(kind, out.FatBytes);
    if (end) clusters = std::min<std::uint64_t>(clusters, end > out.DataStart ? (end - out.DataStart) / out.SectorsPerCluster + 2 : 2);
    out.ClusterLimit = std::uint32_t(std::max<std::uint64_t>(clusters, 2));
    return true;
}

void CFatTable::Assign(const FatLayout& layout, std::vector<std::uint8_t> bytes) {
    Kind = layout.Kind;
    Limit = layout.ClusterLimit;
    pFat = std::move(bytes);
    Entries = std::uint32_t(std::min<std::uint64_t>(EntriesIn(Kind, pFat.size()), Limit));
}

std::uint32_t CFatTable::Entry(std::uint32_t i) const {
    if (i >= Entries) return 0;
    const std::uint8_t* p = pFat.data();
    switch (Kind) {
        case FatKind::Fat12: {
            const std::uint32_t v = Le16(p + std::size_t(i) * 3 / 2);
            return (i & 1) ? v >> 4 : v & 0xFFF;
        }
        case FatKind::Fat16: return Le16(p + std::size_t(i) * 2);
        case FatKind::Fat32: return Le32(p + std::size_t(i) * 4) & 0x0FFFFFFF;
        case FatKind::Exfat: return Le32(p + std::size_t(i) * 4);
        default: return 0;
    }
}

bool CFatTable::IsEndMark(std::uint32_t v) const {
    switch (Kind) {
        case FatKind::Fat12: return v >= 0xFF8;
        case FatKind::Fat16: return v >= 0xFFF8;
        case FatKind::Fat32: return v >= 0x0FFFFFF8;
        case FatKind::Exfat: return v >= 0xFFFFFFF7;  // the bad-cluster mark ends a chain too
        default: return true;
    }
}

ChainEnd CFatTable::Chain(std::uint32_t first, std::uint32_t maxClusters, std::vector<std::uint32_t>& out) const {
    out.clear();
    if (first < 2 || first >= Limit || maxClusters == 0) return ChainEnd::OutOfRange;
    // The walk is bounded by maxClusters; a chain that comes back to one of its clusters can only
    // end that way, so the search for a repeat is needed only then.
    out.push_back(first);
    ChainEnd end = ChainEnd::Capped;
    for (std::uint32_t cur = first; out.size() < maxClusters;) {
        const std::uint32_t next = Entry(cur);
        if (next == 0) { end = ChainEnd::Free; break; }
        if (IsEndMark(next)) { end = ChainEnd::EndMark; break; }
        if (next < 2 || next >= Limit) { end = ChainEnd::OutOfRange; break; }
        out.push_back(next);
        cur = next;
    }
    if (end == ChainEnd::Capped) {
        const std::uint32_t next = Entry(out.back());
        if (next == 0) end = ChainEnd::Free;
        else if (IsEndMark(next)) end = ChainEnd::EndMark;
    }
    if (end == ChainEnd::Capped && out.size() > 1) {
        std::vector<std::uint32_t> sorted(out);
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
            std::unordered_set<std::uint32_t> seen;
            std::size_t keep = 0;
            while (keep < out.size() && seen.insert(out[keep]).second) ++keep;
            out.resize(keep);
            end = ChainEnd::Loop;
        }
    }
    return end;
}

void CFatTable::MarkUsed(CBitArray& map) const {
    if (!map.Create(nullptr, std::max<std::uint32_t>(Entries, 1), false)) return;
    for (std::uint32_t i = 0; i < Entries; ++i)
        if (Entry(i) != 0) map.Set(i, true);
}

}  // namespace vm
