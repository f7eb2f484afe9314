// What a disk or partition tells about itself: size, geometry, layout, label, free space.
#include <cstring>
#include <sys/statvfs.h>

#include "app/Log.h"
#include "platform/DriveOpen.h"
#include "platform/SysBlock.h"
#include "platform/TextConvert.h"
#include "volume/Volume.h"

namespace vm {
namespace {

// The type byte of the primary partition-table entry that starts at `startBytes`, or 0.
std::uint8_t MbrTypeAt(const std::uint8_t* mbr, std::uint64_t startBytes) {
    if (mbr[510] != 0x55 || mbr[511] != 0xAA) return 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t* e = mbr + 446 + 16 * i;
        std::uint32_t lba = std::uint32_t(e[8]) | (std::uint32_t(e[9]) << 8) | (std::uint32_t(e[10]) << 16) |
                            (std::uint32_t(e[11]) << 24);
        if (e[4] && std::uint64_t(lba) * 512 == startBytes) return e[4];
    }
    return 0;
}

// The state of a drive that could not be opened: one the system lists but this user may not
// read is "no access", anything else "not ready".
std::int32_t UnopenedState(int error, std::uint64_t listedBytes) {
    return IsPermissionError(error) && listedBytes ? VS_NO_ACCESS : VS_NOT_READY;
}

}  // namespace

CVolume& CVolume::QueryInformation() {
    State = VS_QUERYING;
    try {
        if (VolumeKind == VK_PHYSICAL)
            QueryPhysicalDrive();
        else if (VolumeKind == VK_LOGICAL)
            QueryLogicalDrive();
    } catch (...) {
        Log().Error("CVolume::QueryInformation except in drive: %s (%s), code: %d", GetDisplayName(), DevicePath, errno);
    }
    return *this;
}

// What sysfs tells of the disk without opening it: description, size, removable, partitions.
// Returns whether the disk is listed there.
bool CVolume::ApplySysfsDisk() {
    for (const auto& disk : ListDisks()) {
        if (disk.Name != KernelName) continue;
        if (!disk.Model.empty())
            Description = disk.Vendor.empty() ? disk.Model : disk.Vendor + ", " + disk.Model;
        TotalBytes = disk.SizeBytes;
        DriveType = disk.Removable ? 2 : 3;
        Layout = DriveLayout{};
        for (const auto& p : disk.Partitions) {
            if (Layout.PartitionCount >= 4) break;
            PartitionInformation& e = Layout.PartitionEntry[Layout.PartitionCount++];
            e.StartingOffset = p.StartBytes;
            e.PartitionLength = p.SizeBytes;
            e.HiddenSectors = std::uint32_t(p.StartBytes / 512);
            e.PartitionNumber = p.Number;
            e.RecognizedPartition = 1;
        }
        return true;
    }
    return false;
}

void CVolume::QueryPhysicalDrive() {
    if (KernelName.empty()) KernelName = KernelNameOfDevice(DevicePath);
    const bool listed = ApplySysfsDisk();
    if (listed) TotalSectors = TotalBytes / kSectorSize;
    if (!OpenDrive(false)) {
        State = UnopenedState(OpenError.load(), listed ? TotalBytes : 0);
        return;
    }
    auto dev = Device();
    if (listed) {
        // The partition types and the disk signature are in the MBR.
        std::uint8_t mbr[512] = {};
        ReadSectors(mbr, 0, 1);
        for (std::uint32_t i = 0; i < Layout.PartitionCount; ++i)
            Layout.PartitionEntry[i].PartitionType = MbrTypeAt(mbr, Layout.PartitionEntry[i].StartingOffset);
        std::memcpy(&Layout.Signature, mbr + 440, 4);
    }
    if (auto* file = dynamic_cast<CDeviceFile*>(dev.get())) {
        file->Geometry(Geometry);
        BytesPerSector = file->LogicalSectorSize();
    }
    // The size is the device's exact byte length, never cylinders x heads x sectors.
    TotalBytes = dev ? dev->SizeBytes() : 0;
    TotalSectors = TotalBytes / kSectorSize;
    TotalClusters = TotalBytes / BytesPerCluster;
    State = TotalBytes ? VS_READY : VS_NOT_READY;
    Close();
}

void CVolume::QueryLogicalDrive() {
    if (KernelName.empty()) KernelName = KernelNameOfDevice(DevicePath);
    if (!OpenDrive(false)) {
        const auto part = FindPartition(KernelName);
        if (part) {
            TotalBytes = part->SizeBytes;
            TotalSectors = TotalBytes / kSectorSize;
        }
        State = UnopenedState(OpenError.load(), part ? part->SizeBytes : 0);
        return;
    }
    Layout = DriveLayout{};
    Layout.PartitionCount = 1;
    std::string disk;
    if (auto part = FindPartition(KernelName, &disk)) {
        PartitionInformation& e = Layout.PartitionEntry[0];
        e.StartingOffset = part->StartBytes;
        e.PartitionLength = part->SizeBytes;
        e.HiddenSectors = std::uint32_t(part->StartBytes / 512);
        e.PartitionNumber = part->Number;
        e.RecognizedPartition = 1;
        if (DiskName.empty()) DiskName = disk;
        TotalBytes = part->SizeBytes;
    } else {
        Log().Error(BuiltinString(174), GetDisplayName());
    }
    if (auto mount = MountOfKernelName(KernelName)) {
        std::string name = FsNameOfMountType(mount->FsType);
        if (!name.empty()) pFileSystem->TypeName = name;
        struct statvfs sv {};
        if (::statvfs(mount->MountPoint.c_str(), &sv) == 0) {
            if (TotalBytes == 0) TotalBytes = std::uint64_t(sv.f_blocks) * sv.f_frsize;
            FreeBytes = std::uint64_t(sv.f_bavail) * sv.f_frsize;
        }
    }
    if (TotalBytes == 0)
        if (auto dev = Device()) TotalBytes = dev->SizeBytes();
    if (auto* file = dynamic_cast<CDeviceFile*>(Device().get())) BytesPerSector = file->LogicalSectorSize();
    ParseBootSector();
    if (TotalBytes) {
        TotalSectors = TotalBytes / kSectorSize;
        TotalClusters = TotalBytes / BytesPerCluster;
        State = VS_READY;
    } else {
        State = VS_NOT_READY;
    }
    Close();
}

}  // namespace vm
