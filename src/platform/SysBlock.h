#pragma once
// What Linux tells about block devices: the disks and partitions under /sys/block, their sizes,
// positions and names, and the mounts that hold them.
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vm {

struct SysPartition {
    std::string Name;           // "sda1", "nvme0n1p2", "loop0p1"
    std::uint32_t Number = 0;   // the kernel's partition number
    std::uint64_t StartBytes = 0;
    std::uint64_t SizeBytes = 0;
};

struct SysDisk {
    std::string Name;           // "sda", "nvme0n1", "vda", "mmcblk0", "loop3"
    std::uint64_t SizeBytes = 0;
    std::string Vendor, Model;  // trimmed; empty when the device reports none
    std::string BackingFile;    // loop devices
    bool Removable = false;
    std::vector<SysPartition> Partitions;  // in the kernel's order
};

// The whole disks of the machine in name order (loop devices only when they have a backing
// file). `sysRoot` is /sys unless a test points elsewhere.
std::vector<SysDisk> ListDisks(const std::string& sysRoot = "/sys");

// The partition of that kernel name, found on its disk; nothing when it is no partition.
std::optional<SysPartition> FindPartition(const std::string& name, std::string* diskName = nullptr,
                                          const std::string& sysRoot = "/sys");

// The kernel name ("sda1") of a /dev path, resolving links; empty when it is no block device.
std::string KernelNameOfDevice(const std::string& devPath);

struct MountEntry {
    dev_t Device = 0;
    std::string MountPoint;
    std::string FsType;   // "vfat", "ntfs3", "fuseblk", ...
    std::string Source;   // "/dev/sda1"
};

std::vector<MountEntry> ReadMounts(const std::string& mountInfo = "/proc/self/mountinfo");
// The mount of the block device with that kernel name, if mounted.
std::optional<MountEntry> MountOfKernelName(const std::string& name);

// File-system name that the program shows for a kernel file-system type, or "" when unknown.
std::string FsNameOfMountType(const std::string& fsType);

}  // namespace vm
