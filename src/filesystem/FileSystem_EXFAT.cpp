#include "filesystem/FileSystem_EXFAT.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "app/Log.h"
#include "platform/ByteOrder.h"
#include "volume/Volume.h"

namespace vm {
namespace {

constexpr std::uint8_t kBitmapEntry = 0x81;
constexpr std::uint64_t kReadChunkSectors = 2048;

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

}  // namespace

CFileSystem_EXFAT::CFileSystem_EXFAT(CVolume* volume) : CFileSystem(volume) {}

// The drive is closed by whoever ends the analysis.
CFileSystem_EXFAT::~CFileSystem_EXFAT() = default;

int CFileSystem_EXFAT::Analyse() {
    if (!pVolume || !pVolume->OpenDrive()) return 0;
    if (!LoadLayout() || !LoadFat()) return 0;
    pVolume->BytesPerSector = L.FsSectorSize;
    pVolume->SectorsPerCluster = L.SectorsPerCluster;
    pVolume->BytesPerCluster = L.BytesPerCluster;

    Queue.clear();
    Queued.clear();
    Queued.insert(L.RootCluster);
    Stream root;
    root.FirstCluster = L.RootCluster;
    root.Length = kMaxDirectoryBytes;
    const std::vector<std::uint8_t> rootDir = ReadDirectory(root);
    MarkUsedClusters(rootDir);
    ParseDirectory(rootDir, std::uint32_t(pVolume->FoundTree.RootId));
    for (std::size_t i = 0; i < Queue.size() && Running(); ++i) {
        const PendingDirectory dir = Queue[i];
        ParseDirectory(ReadDirectory(dir.Data), dir.Id);
    }
    return 0;
}

bool CFileSystem_EXFAT::LoadLayout() {
    std::string why;
    if (!ReadExfatLayout(pVolume->BootSector, pVolume->TotalSectors, L, why)) {
        Log().Error("exFAT boot sector of %s: %s. File system analysis skipped.", pVolume->GetDisplayName(), why);
        return false;
    }
    return true;
}

bool CFileSystem_EXFAT::LoadFat() {
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(std::size_t(std::min<std::uint64_t>(CeilDiv(std::uint64_t(L.ClusterLimit) * 4, 512) * 512,
                                                         L.FatSectors * 512)));
    } catch (const std::bad_alloc&) {
        Log().Error(GetString(193));
        return false;
    }
    const std::uint64_t sectors = bytes.size() / 512;
    for (std::uint64_t at = 0; at < sectors; at += kReadChunkSectors) {
        const std::uint64_t n = std::min(kReadChunkSectors, sectors - at);
        if (pVolume->ReadSectors(bytes.data() + at * 512, L.FatSector + at, n) / 512 < n)
            Log().Error("FAT of %s not read at sector %I64d; its clusters count as free", pVolume->GetDisplayName(),
                        L.FatSector + at);
    }
    FatLayout shape;
    shape.Kind = FatKind::Exfat;
    shape.ClusterLimit = L.ClusterLimit;
    Table.Assign(shape, std::move(bytes));
    return true;
}

// The allocation bitmap that the root directory names: one bit per cluster from cluster 2 on.
void CFileSystem_EXFAT::MarkUsedClusters(const std::vector<std::uint8_t>& root) {
    for (std::size_t at = 0; at + kExfatEntrySize <= root.size(); at += kExfatEntrySize) {
        const std::uint8_t* e = root.data() + at;
        if (e[0] != kBitmapEntry) continue;
        Stream s;
        s.FirstCluster = Le32(e + 20);
        s.Length = std::min<std::uint64_t>(Le64(e + 24), CeilDiv(L.ClusterLimit, 8));
        std::vector<std::uint8_t> bits(std::size_t(s.Length), 0);
        if (bits.empty() || ReadStream(StreamRuns(s, false), 0, bits.data(), bits.size()) == 0) break;
        CBitArray& map = pVolume->ClusterMap;
        if (!map.Create(nullptr, L.ClusterLimit, false)) break;
        for (std::uint32_t c = 2; c < L.ClusterLimit; ++c)
            if (std::size_t((c - 2) / 8) < bits.size() && (bits[(c - 2) / 8] >> ((c - 2) % 8) & 1)) map.Set(c, true);
        break;
    }
}

// The clusters of a stream as runs. A file's chain that does not give as many clusters as its
// length needs (cleared, looping or leaving the volume) is logged and its data taken as
// contiguous; a directory (`directory`) keeps the clusters its chain gives, so that it never
// takes in the clusters of others.
std::vector<CFileSystem_EXFAT::ClusterRun> CFileSystem_EXFAT::StreamRuns(const Stream& s, bool directory) const {
    std::vector<ClusterRun> runs;
    if (!L.ClusterInRange(s.FirstCluster) || s.Length == 0) return runs;
    const std::uint64_t needed = CeilDiv(s.Length, L.BytesPerCluster);
    if (!s.Contiguous) {
        std::vector<std::uint32_t> clusters;
        const ChainEnd end =
            Table.Chain(s.FirstCluster, std::uint32_t(std::min<std::uint64_t>(needed, L.ClusterLimit)), clusters);
        if (directory && clusters.size() < needed && end != ChainEnd::EndMark)
            Log().Error("FAT chain of the directory at cluster %d breaks after %d clusters; the rest is not read",
                        s.FirstCluster, std::uint32_t(clusters.size()));
        if (clusters.size() == needed || directory) {
            for (std::uint32_t c : clusters) {
                if (!runs.empty() && runs.back().First + runs.back().Count == c)
                    ++runs.back().Count;
                else
                    runs.push_back({c, 1});
            }
            return runs;
        }
        Log().Error("FAT chain from cluster %d ends after %d of its %I64d clusters; its data is read contiguously",
                    s.FirstCluster, std::uint32_t(clusters.size()), needed);
    }
    const std::uint64_t room = L.ClusterLimit - s.FirstCluster;
    runs.push_back({s.FirstCluster, std::uint32_t(std::min(needed, room))});
    return runs;
}

// Reads `bytes` bytes from `offset` of the data the runs hold into `out`; the part beyond the
// runs is zeros. Returns the bytes read from the drive, 0 when a read failed.
std::uint64_t CFileSystem_EXFAT::ReadStream(const std::vector<ClusterRun>& runs, std::uint64_t offset,
                                            std::uint8_t* out, std::uint64_t bytes) {
    std::memset(out, 0, std::size_t(bytes));
    std::uint64_t runStart = 0, delivered = 0;
    std::vector<std::uint8_t> aside;
    for (const ClusterRun& r : runs) {
        const std::uint64_t runBytes = std::uint64_t(r.Count) * L.BytesPerCluster;
        const std::uint64_t from = std::max(offset, runStart), to = std::min(offset + bytes, runStart + runBytes);
        runStart += runBytes;
        if (from >= to) continue;
        // Whole sectors from the one that holds `from`; a part sector is read aside.
        const std::uint64_t into = from - (runStart - runBytes);
        const std::uint64_t sector = L.ClusterSector(r.First) + into / 512;
        const std::uint64_t skip = into % 512, count = CeilDiv(skip + (to - from), 512);
        std::uint8_t* dest = out + (from - offset);
        std::uint32_t got;
        if (skip == 0 && (to - from) % 512 == 0) {
            got = pVolume->ReadSectors(dest, sector, count);
        } else {
            aside.assign(std::size_t(count * 512), 0);
            got = pVolume->ReadSectors(aside.data(), sector, count);
            std::memcpy(dest, aside.data() + skip, std::size_t(to - from));
        }
        if (got == 0) {
            Log().Error("CFileSystem_EXFAT.FileRead: Can't read sector at: %I64d", sector);
            return 0;
        }
        delivered += std::min<std::uint64_t>(got, to - from);
    }
    return delivered;
}

std::vector<std::uint8_t> CFileSystem_EXFAT::ReadDirectory(const Stream& s) {
    std::vector<std::uint8_t> out;
    if (!L.ClusterInRange(s.FirstCluster)) {
        Log().Error("Directory at cluster %d lies outside the volume", s.FirstCluster);
        return out;
    }
    Stream bounded = s;
    if (bounded.Length > kMaxDirectoryBytes) {
        Log().Error("Directory at cluster %d is %I64d bytes long; only the first %I64d are read", s.FirstCluster,
                    s.Length, kMaxDirectoryBytes);
        bounded.Length = kMaxDirectoryBytes;
    }
    const std::vector<ClusterRun> runs = StreamRuns(bounded, true);
    std::uint64_t bytes = 0;
    for (const ClusterRun& r : runs) bytes += std::uint64_t(r.Count) * L.BytesPerCluster;
    out.resize(std::size_t(std::min(bytes, CeilDiv(bounded.Length, L.BytesPerCluster) * L.BytesPerCluster)));
    if (!out.empty() && ReadStream(runs, 0, out.data(), out.size()) == 0)
        Log().Error("Directory at cluster %d not read", s.FirstCluster);
    return out;
}

void CFileSystem_EXFAT::ParseDirectory(const std::vector<std::uint8_t>& buffer, std::uint32_t parentId) {
    if (buffer.empty()) return;
    try {
        ExfatDirStats stats;
        ParseExfatDirectory(
            buffer.data(), buffer.size(),
            [&](const ExfatDirEntry& e) {
                if (!Running()) return false;
                FileEntry(e, parentId);
                return true;
            },
            &stats);
        if (stats.BadChecksums)
            Log().Error("exFAT directory of item %d: %d entry sets fail their checksum and are left out", parentId,
                        std::uint32_t(stats.BadChecksums));
    } catch (...) {
        Log().Error("CFileSystem_EXFAT: directory of item %d not parsed to its end", parentId);
    }
}

void CFileSystem_EXFAT::FileEntry(const ExfatDirEntry& e, std::uint32_t parentId) {
    Stream s;
    s.FirstCluster = e.FirstCluster;
    s.Length = e.DataLength;
    s.ValidLength = std::min(e.ValidDataLength, e.DataLength);
    // A deleted file's FAT entries are freed: only its first cluster and length are left.
    s.Contiguous = e.NoFatChain || e.Deleted;
    FoundItem item;
    {
        std::lock_guard<std::mutex> g(Lock);
        item.Id = std::uint32_t(kExfatRootId + 1) + std::uint32_t(Streams.size());
        Streams.push_back(s);
    }
    item.ParentId = parentId;
    item.FirstCluster = e.FirstCluster;
    if (L.ClusterInRange(e.FirstCluster)) item.DataOffset = L.ClusterSector(e.FirstCluster) * 512;
    item.Name = e.Name.c_str();
    item.Flags = FI_NAMED;
    item.Size = e.DataLength;
    item.CreateTime = e.CreateTime;
    item.WriteTime = e.WriteTime;
    item.AccessTime = e.AccessTime;
    item.Attributes = e.Attributes;
    if (e.Deleted) item.Flags |= FI_DELETED;
    if (e.IsFolder()) {
        item.Flags |= FI_FOLDER;
        if (L.ClusterInRange(e.FirstCluster) && Queued.insert(e.FirstCluster).second)
            Queue.push_back({item.Id, s});
    }
    FileItem(item);
}

void CFileSystem_EXFAT::FileItem(const FoundItem& rec) {
    if (pVolume) pVolume->AddFileSystemItem(rec);
}

bool CFileSystem_EXFAT::StreamOf(const FoundItem& item, Stream& out) {
    const std::uint64_t index = std::uint64_t(item.Id) - std::uint64_t(kExfatRootId + 1);
    std::lock_guard<std::mutex> g(Lock);
    if (item.SignedId() <= kExfatRootId || index >= Streams.size()) return false;
    out = Streams[std::size_t(index)];
    return out.FirstCluster == item.FirstCluster;
}

std::uint32_t CFileSystem_EXFAT::FileRead(const FoundItem& item, void* buffer, std::uint64_t offset,
                                          std::uint32_t length) {
    if (length == 0 || !buffer || !pVolume) return 0;
    try {
        auto* out = static_cast<std::uint8_t*>(buffer);
        if (item.Is(FI_LOST)) return pVolume->FileRead(item, buffer, offset, length);
        Stream s;
        if (!StreamOf(item, s) || !L.ClusterInRange(s.FirstCluster)) {
            Log().Error("CFileSystem_EXFAT.FileRead: Can't read sector at: %I64d", item.DataOffset / 512);
            return 0;
        }
        std::vector<ClusterRun> runs;
        {
            std::lock_guard<std::mutex> g(Lock);
            if (CachedId != item.Id) {
                CachedRuns = StreamRuns(s, false);
                CachedId = item.Id;
            }
            runs = CachedRuns;
        }
        const std::uint64_t got = ReadStream(runs, offset, out, length);
        if (got == 0) return 0;
        // Bytes past the valid data length were never written: they read as zeros.
        if (offset + length > s.ValidLength) {
            const std::uint64_t from = s.ValidLength > offset ? s.ValidLength - offset : 0;
            std::memset(out + from, 0, std::size_t(length - from));
        }
        return length % 512 ? length : std::uint32_t(std::min<std::uint64_t>(got, length));
    } catch (...) {
        return 0;
    }
}

}  // namespace vm
