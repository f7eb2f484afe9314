#include "filesystem/FileSystem_FAT.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "app/Log.h"
#include "platform/UnalignedRead.h"
#include "volume/Volume.h"

namespace vm {
namespace {

constexpr std::uint64_t kFatReadChunk = 2048;  // sectors per FAT read

// Bytes of FAT that hold the entries of clusters 0 .. limit-1, in whole sectors.
std::uint64_t FatBytesFor(FatKind kind, std::uint32_t limit) {
    std::uint64_t bytes = kind == FatKind::Fat12 ? (std::uint64_t(limit) * 3 + 1) / 2
                          : kind == FatKind::Fat16 ? std::uint64_t(limit) * 2
                                                   : std::uint64_t(limit) * 4;
    return (bytes + 511) / 512 * 512;
}

}  // namespace

CFileSystem_FAT::CFileSystem_FAT(CVolume* volume) : CFileSystem(volume) {}

// The drive is closed by whoever ends the analysis; the analyser may outlive the drive's reader
// while the drive itself is being destroyed.
CFileSystem_FAT::~CFileSystem_FAT() = default;

bool CFileSystem_FAT::EnsureLayout() {
    std::lock_guard<std::mutex> g(LayoutLock);
    if (LayoutReady) return true;
    if (!pVolume) return false;
    std::string why;
    if (!ReadFatLayout(pVolume->BootSector, FatKindOf(TypeCode), pVolume->TotalSectors, L, why)) {
        if (FatKindOf(TypeCode) != FatKind::None)
            Log().Error("FAT boot sector of %s: %s. File system analysis skipped.", pVolume->GetDisplayName(), why);
        return false;
    }
    LayoutReady = true;
    return true;
}

int CFileSystem_FAT::Analyse() {
    if (!pVolume || FatKindOf(TypeCode) == FatKind::None) return 0;
    if (!pVolume->OpenDrive()) return 0;
    if (!EnsureLayout()) return 0;
    pVolume->BytesPerSector = L.FsSectorSize;
    pVolume->SectorsPerCluster = L.SectorsPerCluster;
    pVolume->BytesPerCluster = L.BytesPerCluster;
    if (!LoadFat()) return 0;
    Table.MarkUsed(pVolume->ClusterMap);

    Queue.clear();
    Queued.clear();
    {
        std::lock_guard<std::mutex> g(DirLock);
        DirClusters.clear();
    }
    const std::uint32_t rootId = std::uint32_t(pVolume->FoundTree.RootId);
    if (L.Fat32()) {
        Queued.insert(L.RootCluster);
        std::vector<std::uint8_t> root = ReadDirectory(L.RootCluster);
        ParseDirectory(root, rootId, true);
    } else {
        std::vector<std::uint8_t> root;
        if (!ReadRootDirectory(root)) {
            Log().Error(GetString(194));
            return 0;
        }
        ParseDirectory(root, rootId, true);
    }
    for (std::size_t i = 0; i < Queue.size() && Running(); ++i) {
        const std::uint32_t cluster = Queue[i];
        std::vector<std::uint8_t> dir = ReadDirectory(cluster);
        ParseDirectory(dir, cluster, true);
    }
    return 0;
}

bool CFileSystem_FAT::LoadFat() {
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(std::size_t(std::min(FatBytesFor(L.Kind, L.ClusterLimit), L.FatBytes)));
    } catch (const std::bad_alloc&) {
        Log().Error(GetString(193));
        return false;
    }
    // A part of the first copy that cannot be read is taken from the second.
    const std::uint64_t sectors = bytes.size() / 512;
    for (std::uint64_t at = 0; at < sectors; at += kFatReadChunk) {
        const std::uint64_t n = std::min(kFatReadChunk, sectors - at);
        const std::uint64_t good = pVolume->ReadSectors(bytes.data() + at * 512, L.FatSector + at, n) / 512;
        if (good >= n) continue;
        const std::uint64_t bad = L.FatSector + at + good;
        if (L.NumberOfFats > 1 &&
            pVolume->ReadSectors(bytes.data() + (at + good) * 512, bad + L.FatSectors, n - good) != 0) {
            Log().Error("FAT of %s not read at sector %I64d; the second copy is used", pVolume->GetDisplayName(), bad);
            continue;
        }
        Log().Error("FAT of %s not read at sector %I64d; its clusters count as free", pVolume->GetDisplayName(), bad);
    }
    std::lock_guard<std::mutex> g(ChainLock);
    Table.Assign(L, std::move(bytes));
    LastChain = ChainCache{};
    return true;
}

bool CFileSystem_FAT::ReadRootDirectory(std::vector<std::uint8_t>& out) {
    const std::uint64_t sectors = L.DataStart - L.RootDirSector;
    if (sectors == 0) return false;
    out.assign(std::size_t(sectors * 512), 0);
    return pVolume->ReadSectors(out.data(), L.RootDirSector, sectors) != 0;
}

bool CFileSystem_FAT::DirectoryClusterRead(std::uint32_t cluster) const {
    std::lock_guard<std::mutex> g(DirLock);
    return DirClusters.count(cluster) != 0;
}

// Records the clusters as read; a chain that runs into a cluster some other directory already
// holds ends there (two directories never share their entries, and a cycle cannot form).
bool CFileSystem_FAT::ClaimDirectoryClusters(std::uint32_t first, std::vector<std::uint32_t>& clusters) {
    std::lock_guard<std::mutex> g(DirLock);
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        if (DirClusters.count(clusters[i]) == 0) continue;
        Log().Error("Directory at cluster %d runs into cluster %d of another directory", first, clusters[i]);
        clusters.resize(i);
        break;
    }
    DirClusters.insert(clusters.begin(), clusters.end());
    return !clusters.empty();
}

std::vector<std::uint8_t> CFileSystem_FAT::ReadDirectory(std::uint32_t first) {
    std::vector<std::uint8_t> out;
    if (!L.ClusterInRange(first)) {
        Log().Error("Directory at cluster %d lies outside the volume", first);
        return out;
    }
    const std::uint32_t maxClusters =
        std::max<std::uint32_t>(1, kMaxDirectoryEntries * std::uint32_t(kFatEntrySize) / L.BytesPerCluster);
    std::vector<std::uint32_t> clusters;
    switch (Table.Chain(first, maxClusters, clusters)) {
        case ChainEnd::Loop:
            Log().Error("FAT chain of the directory at cluster %d comes back to cluster %d", first,
                        Table.Entry(clusters.back()));
            break;
        case ChainEnd::OutOfRange:
            Log().Error("FAT chain of the directory at cluster %d leaves the volume after cluster %d", first,
                        clusters.back());
            break;
        case ChainEnd::Capped:
            Log().Error("Directory at cluster %d holds more than %d entries; the rest is not read", first,
                        kMaxDirectoryEntries);
            break;
        default:
            break;
    }
    if (!ClaimDirectoryClusters(first, clusters)) return out;
    out.assign(clusters.size() * std::size_t(L.BytesPerCluster), 0);
    // Runs of consecutive clusters are read in one piece each.
    for (std::size_t i = 0; i < clusters.size() && Running();) {
        std::size_t j = i + 1;
        while (j < clusters.size() && clusters[j] == clusters[j - 1] + 1) ++j;
        const std::uint64_t sector = L.ClusterSector(clusters[i]);
        if (!pVolume->ReadSectors(out.data() + i * L.BytesPerCluster, sector, (j - i) * L.SectorsPerCluster))
            Log().Error("Directory at cluster %d not read at sector %I64d", first, sector);
        i = j;
    }
    return out;
}

void CFileSystem_FAT::ParseDirectory(const std::vector<std::uint8_t>& buffer, std::uint32_t parent, bool queueFolders) {
    if (buffer.empty()) return;
    try {
        ParseFatDirectory(buffer.data(), buffer.size(), L.Fat32(), [&](const FatDirEntry& e) {
            if (!Running()) return false;
            FileEntry(e, parent, queueFolders);
            return true;
        });
    } catch (...) {
        Log().Error("CFileSystem_FAT: directory at cluster %d not parsed to its end", parent);
    }
}

void CFileSystem_FAT::FileEntry(const FatDirEntry& e, std::uint32_t parent, bool queueFolders) {
    FoundItem item;
    item.Id = e.FirstCluster;
    item.ParentId = parent;
    item.FirstCluster = e.FirstCluster;
    if (e.FirstCluster >= 2)
        item.DataOffset = std::uint64_t(e.FirstCluster - 2) * L.BytesPerCluster + L.DataStart * 512;
    item.Name = e.Name.c_str();
    item.Flags = FI_NAMED;
    item.Size = e.Size;
    item.CreateTime = FatTimeToFileTime(e.CreateDate, e.CreateTime, e.CreateTenths);
    item.WriteTime = FatTimeToFileTime(e.WriteDate, e.WriteTime);
    item.AccessTime = FatTimeToFileTime(e.AccessDate, 0);
    if (e.Deleted) item.Flags |= FI_DELETED;
    item.Attributes = e.Attributes;
    if (e.IsFolder()) {
        item.Flags |= FI_FOLDER;
        // Cluster 0 or 1 names no directory of its own (a cleared entry), so nothing is queued.
        if (queueFolders && L.ClusterInRange(e.FirstCluster) && Queued.insert(e.FirstCluster).second)
            Queue.push_back(e.FirstCluster);
    }
    if (item.Id == 0) return;
    if (item.Id == item.ParentId) item.ParentId = RootFolder.Id;
    FileItem(item);
}

void CFileSystem_FAT::FileItem(const FoundItem& rec) {
    if (pVolume) pVolume->AddFileSystemItem(rec);
}

std::uint32_t CFileSystem_FAT::ClusterAtSector(std::uint64_t sector) const {
    if (sector < L.DataStart || (sector - L.DataStart) % L.SectorsPerCluster) return 0;
    const std::uint64_t cluster = (sector - L.DataStart) / L.SectorsPerCluster + 2;
    return L.ClusterInRange(cluster) ? std::uint32_t(cluster) : 0;
}

void CFileSystem_FAT::ExamineFoundRecord(const FoundItem& find) {
    try {
        if (!pVolume || !EnsureLayout()) return;
        const std::uint64_t total = pVolume->TotalSectors;
        std::uint64_t sector = find.DataOffset / 512;
        std::uint32_t parent = std::uint32_t(pVolume->FoundTree.RootId);
        std::vector<std::uint8_t> dir;
        std::vector<std::uint8_t> cluster(L.BytesPerCluster);
        // The found directory and the clusters that follow it, as long as they hold directory
        // entries and belong to no directory the walk has read and to no other directory.
        for (int k = 0; k < 10 && (total == 0 || sector < total) && Running(); ++k, sector += L.SectorsPerCluster) {
            const std::uint32_t at = ClusterAtSector(sector);
            if (at && DirectoryClusterRead(at)) break;
            if (!pVolume->ReadSectors(cluster.data(), sector, L.SectorsPerCluster)) break;
            if (!FatEntryValid(cluster.data())) break;
            const bool starts = FatLooksLikeDirectoryStart(cluster.data(), cluster.size());
            if (k > 0 && starts) break;
            if (k == 0 && starts) {
                // Its entries belong to the directory the "." entry names.
                const std::uint32_t self = FatEntryCluster(cluster.data(), L.Fat32());
                if (L.ClusterInRange(self)) parent = self;
            }
            dir.insert(dir.end(), cluster.begin(), cluster.end());
        }
        ParseDirectory(dir, parent, false);
    } catch (...) {
        Log().Error("CFileSystem_FAT::ExamineFoundRecord except at: %I64d", find.DataOffset);
    }
}

// A live file is read along its chain when the chain links as many clusters as its size needs,
// or ends with an end mark before that (the file holds no more); a deleted file (whose chain is
// cleared) and a file whose chain breaks lie contiguously from their first cluster, up to the
// end of the data area. The layout of the last file asked for is kept, since recovery reads a
// file chunk by chunk.
CFileSystem_FAT::FileLayout CFileSystem_FAT::LayoutOf(const FoundItem& item) {
    FileLayout contiguous;
    if (L.ClusterInRange(item.Id))
        contiguous.Held = std::uint64_t(L.ClusterLimit - item.Id) * L.BytesPerCluster;
    if (item.Is(FI_DELETED) || Table.Empty() || !L.ClusterInRange(item.Id)) return contiguous;
    std::lock_guard<std::mutex> g(ChainLock);
    if (LastChain.Id == item.Id && LastChain.Size == item.Size && LastChain.Valid) return LastChain.Layout;
    LastChain = ChainCache{item.Id, item.Size, true, contiguous};
    const std::uint64_t size = item.SizeKnown() ? item.Size : 0;
    const std::uint64_t needed = std::max<std::uint64_t>(1, (size + L.BytesPerCluster - 1) / L.BytesPerCluster);
    std::vector<std::uint32_t> clusters;
    const ChainEnd end = Table.Chain(item.Id, std::uint32_t(std::min<std::uint64_t>(needed, L.ClusterLimit)), clusters);
    if (clusters.size() != needed && end != ChainEnd::EndMark) return LastChain.Layout;
    FileLayout& chain = LastChain.Layout;
    chain.AlongChain = true;
    chain.Held = std::uint64_t(clusters.size()) * L.BytesPerCluster;
    for (std::uint32_t c : clusters) {
        if (!chain.Runs.empty() && chain.Runs.back().First + chain.Runs.back().Count == c)
            ++chain.Runs.back().Count;
        else
            chain.Runs.push_back({c, 1});
    }
    return chain;
}

std::uint64_t CFileSystem_FAT::HeldBytes(const FoundItem& item) {
    if (!pVolume || !EnsureLayout() || item.Id < 2) return 0;
    return LayoutOf(item).Held;
}

// The sectors that hold `bytes` bytes of the item from `offset` on.
void CFileSystem_FAT::MapRange(const FoundItem& item, std::uint64_t offset, std::uint64_t bytes,
                               std::vector<Extent>& out) {
    out.clear();
    std::uint64_t first = offset / 512;
    std::uint64_t count = (bytes + 511) / 512;
    const FileLayout layout = LayoutOf(item);
    if (!layout.AlongChain) {
        out.push_back({L.ClusterSector(item.Id) + first, count});
        return;
    }
    const std::uint64_t perCluster = L.SectorsPerCluster;
    std::uint64_t runStart = 0;  // sector index in the file of the run's first sector
    for (const ClusterRun& r : layout.Runs) {
        const std::uint64_t runSectors = std::uint64_t(r.Count) * perCluster;
        if (count == 0) break;
        if (first < runStart + runSectors) {
            const std::uint64_t into = first - runStart;
            const std::uint64_t n = std::min(count, runSectors - into);
            out.push_back({L.ClusterSector(r.First) + into, n});
            first += n;
            count -= n;
        }
        runStart += runSectors;
    }
}

std::uint32_t CFileSystem_FAT::ReadExtents(const std::vector<Extent>& extents, void* buffer, std::uint32_t length) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint64_t done = 0, delivered = 0;
    for (const Extent& x : extents) {
        if (done >= length) break;
        const std::uint64_t bytes = x.Count * 512;
        std::uint32_t got;
        if (done + bytes <= length) {
            got = pVolume->ReadSectors(out + done, x.Sector, x.Count);
        } else {
            // The caller's buffer ends inside the last sector: read it aside.
            std::vector<std::uint8_t> tail(static_cast<std::size_t>(bytes));
            got = pVolume->ReadSectors(tail.data(), x.Sector, x.Count);
            std::memcpy(out + done, tail.data(), std::size_t(length - done));
        }
        if (got == 0) Log().Error("CFileSystem_FAT.FileRead: Can't read sector at: %I64d", x.Sector);
        delivered += got;
        if (got < bytes) break;  // the bytes after a fault are not the file's: the count ends here
        done += bytes;
    }
    // The answer counts only bytes read from the drive, from the buffer's start: zeros for what
    // could not be read, or for what lies past the chain's end, are never reported as data.
    if (delivered < length) std::memset(out + delivered, 0, std::size_t(length - delivered));
    return std::uint32_t(std::min<std::uint64_t>(delivered, length));
}

std::uint32_t CFileSystem_FAT::FileRead(const FoundItem& item, void* buffer, std::uint64_t offset, std::uint32_t length) {
    if (length == 0 || !buffer || !pVolume) return 0;
    try {
        const bool lost = item.Is(FI_LOST);
        if (!lost && (!EnsureLayout() || item.Id < 2)) {
            Log().Error("CFileSystem_FAT.FileRead: Can't read sector at: %I64d", item.DataOffset / 512);
            return 0;
        }
        // Whole sectors from the one that holds the first byte asked for.
        const std::uint64_t start = lost ? item.DataOffset + offset : offset;
        const std::uint32_t skip = std::uint32_t(start % 512);
        return ReadFromInsideUnit(skip, buffer, length, [&](void* out, std::uint32_t bytes) {
            std::vector<Extent> extents;
            if (lost)
                extents.push_back({start / 512, (std::uint64_t(bytes) + 511) / 512});
            else
                MapRange(item, offset - skip, bytes, extents);
            return ReadExtents(extents, out, bytes);
        });
    } catch (...) {
        return 0;
    }
}

}  // namespace vm
