// Volumes found inside other drives, by their partition-table entries or by boot sectors that
// the sector search met, become drives of their own in the drive list.
#include <cstring>

#include "app/Log.h"
#include "platform/ByteOrder.h"
#include "app/Notify.h"
#include "filesystem/ExfatBoot.h"
#include "volume/LocalComputer.h"
#include "volume/Volume.h"

namespace vm {
namespace {


// The analyser code of a found volume by the find's type or partition type byte.
std::uint32_t FoundTypeCode(std::int32_t type) {
    return type < 0 ? FS_NONE : FsFamilyCode(FsType(std::uint32_t(type)).Family);
}

// Largest NTFS sector count taken from a boot sector (beyond it the product would overflow).
constexpr std::uint64_t kMaxNtfsSectors = 1ull << 48;

// Whether a boot sector at byte `at` of a volume, relative to its start, is one of its own
// copies: FAT keeps copies (FAT32 its backup at the sector its BPB names, and more) in its
// reserved sectors, where no other volume can lie; NTFS keeps one in the last sector of its
// partition, which is the sector just past the sectors its boot sector counts (a volume found
// by its boot sector alone has that count as its size, so its copy lies right after it);
// exFAT keeps its backup boot region 12 sectors in.
bool IsCopyOfOwnBootSector(const CVolume& v, std::uint64_t at) {
    const std::uint32_t code = v.pFileSystem ? v.pFileSystem->TypeCode : 0;
    const std::uint32_t bps = Le16(v.BootSector + 11);
    if (IsFatTypeCode(code) && bps >= 512 && bps <= 4096)
        return at > 0 && at < std::uint64_t(Le16(v.BootSector + 14)) * bps;
    if (code == FS_EXFAT) return at != 0 && at == std::uint64_t(kExfatBootRegionSectors) * ExfatSectorSize(v.BootSector);
    if (code != FS_NTFS) return false;
    if (v.TotalSectors > 1 && at == (v.TotalSectors - 1) * kSectorSize) return true;
    const std::uint64_t counted = Le64(v.BootSector + 0x28);
    return bps >= 512 && bps <= 4096 && counted > 0 && counted < kMaxNtfsSectors && at == counted * bps;
}

// The boot sector at `offset` of `v` belongs to `known` (its first sector or a copy of it).
bool IsBootSectorOf(const CVolume& v, const CVolume& known, std::uint64_t offset) {
    if (known.StartOffset < v.StartOffset) return false;
    const std::uint64_t start = known.StartOffset - v.StartOffset;
    return offset == start || (offset > start && IsCopyOfOwnBootSector(known, offset - start));
}

}  // namespace

bool CLocalComputer::IsKnownVolume(CVolume& v, const FoundItem& item) {
    // The drive's own boot sector, or a backup copy of it.
    if (v.VolumeKind == VK_LOGICAL || v.VolumeKind == VK_IMAGE || v.VolumeKind == VK_FOUND) {
        if (item.DataOffset == 0) {
            v.RootItem.Flags |= FI_SIGNATURE_MATCH;
            return true;
        }
        if (IsBootSectorOf(v, v, item.DataOffset)) return true;
    }
    for (const auto& child : Volumes.Snapshot()) {
        if (child.get() == &v || child->GetParent() != &v) continue;
        const bool partitionStart = child->VolumeKind == VK_LOGICAL && child->Layout.PartitionCount &&
                                    child->Layout.PartitionEntry[0].StartingOffset == item.DataOffset;
        if (partitionStart || IsBootSectorOf(v, *child, item.DataOffset)) {
            if (partitionStart || item.DataOffset == child->StartOffset - v.StartOffset)
                child->RootItem.Flags |= FI_SIGNATURE_MATCH;
            return true;
        }
    }
    return false;
}

void CLocalComputer::AddFoundVolume(CVolume& v, const FoundItem& item) {
    if (FoundVolumeHandler) {
        FoundVolumeHandler(v, item);
        return;
    }
    try {
        std::lock_guard<std::recursive_mutex> g(FoundVolumeLock);
        if (IsKnownVolume(v, item)) return;
        auto n = std::make_shared<CVolume>(VK_FOUND);
        n->Context = Ctx;
        n->AttachTo(&v);
        n->StartOffset = v.StartOffset + item.DataOffset;
        n->RootItem.Id = std::uint32_t(NextId());
        n->RootItem.ParentId = v.RootItem.Id;
        const std::uint32_t code = FoundTypeCode(item.FileType);
        n->pFileSystem->TypeCode = code;
        n->pFileSystem->TypeName = code ? CFileSystem::TypeNameOf(code) : "";
        // Its size is its own: the partition entry's length, or what its boot sector says.
        if (item.SizeKnown()) {
            n->TotalBytes = item.Size;
            n->TotalSectors = item.Size / kSectorSize;
        }
        Log().Message(Format(BuiltinString(179), n->pFileSystem->TypeName, item.DataOffset));
        Volumes.Add(n);
        n->ParseBootSector();
        if (n->TotalBytes == 0 && v.TotalBytes > item.DataOffset) {
            // Nothing tells its size: it may reach to the end of the drive it lies on.
            n->TotalBytes = v.TotalBytes - item.DataOffset;
            n->TotalSectors = n->TotalBytes / kSectorSize;
            n->TotalClusters = n->TotalSectors / std::max<std::uint32_t>(1, n->SectorsPerCluster);
        }
        n->State = VS_READY;
        n->Close();
        v.FoundTree.Insert(&n->RootItem, false);
        Notifier().Post(msg::FoundVolumeAdded, reinterpret_cast<std::uintptr_t>(n.get()), 0);
    } catch (...) {
        Log().Error("CLocalComputer::AddFoundVolume except");
    }
}

}  // namespace vm
