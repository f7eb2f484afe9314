#include "volume/SameDrive.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/SysBlock.h"
#include "volume/Volume.h"

namespace fs = std::filesystem;

namespace vm {
namespace {

// Devices stacked on devices (crypt on LVM on a partition) are followed this deep at most.
constexpr int kMaxHolderDepth = 8;

bool ReadDevNumber(const fs::path& devFile, dev_t& out) {
    std::ifstream f(devFile);
    std::string s;
    if (!std::getline(f, s)) return false;
    unsigned ma = 0, mi = 0;
    if (std::sscanf(s.c_str(), "%u:%u", &ma, &mi) != 2) return false;
    out = makedev(ma, mi);
    return true;
}

// The block device of that kernel name and every device that holds it, recursively.
void AddWithHolders(const fs::path& classBlock, const std::string& name, std::set<dev_t>& out, int depth) {
    dev_t d = 0;
    if (depth > kMaxHolderDepth || !ReadDevNumber(classBlock / name / "dev", d)) return;
    if (!out.insert(d).second && depth > 0) return;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(classBlock / name / "holders", ec))
        AddWithHolders(classBlock, e.path().filename().string(), out, depth + 1);
}

// A disk with all its partitions.
void AddDisk(const fs::path& classBlock, const std::string& disk, std::set<dev_t>& out) {
    AddWithHolders(classBlock, disk, out, 0);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(classBlock / disk, ec)) {
        const std::string n = e.path().filename().string();
        if (n.rfind(disk, 0) == 0 && fs::exists(e.path() / "partition", ec)) AddWithHolders(classBlock, n, out, 0);
    }
}

std::string DiskOfKernelName(const std::string& name, const std::string& sysRoot) {
    std::string disk;
    return FindPartition(name, &disk, sysRoot) ? disk : name;
}

// Loop devices that read the image file: writing into their mounts would change the image.
void AddLoopsBackedBy(const struct stat& image, const std::string& sysRoot, std::set<dev_t>& out) {
    const fs::path classBlock = fs::path(sysRoot) / "class" / "block";
    for (const auto& disk : ListDisks(sysRoot)) {
        struct stat st {};
        if (disk.BackingFile.empty() || ::stat(disk.BackingFile.c_str(), &st) != 0) continue;
        if (st.st_dev == image.st_dev && st.st_ino == image.st_ino) AddDisk(classBlock, disk.Name, out);
    }
}

std::string NearestExisting(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path), ec);
    if (ec) p = fs::path(path);
    for (int guard = 0; guard < 4096 && !p.empty(); ++guard) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0) return p.string();
        if (!p.has_parent_path() || p.parent_path() == p) break;
        p = p.parent_path();
    }
    return "/";
}

}  // namespace

SourceDrive SourceDriveOfPath(const std::string& devicePath, const std::string& sysRoot) {
    SourceDrive drive;
    struct stat st {};
    if (devicePath.empty() || ::stat(devicePath.c_str(), &st) != 0) return drive;
    if (S_ISREG(st.st_mode)) {
        drive.IsFile = true;
        drive.FileDevice = st.st_dev;
        drive.FileInode = st.st_ino;
        AddLoopsBackedBy(st, sysRoot, drive.Blocks);
        return drive;
    }
    if (!S_ISBLK(st.st_mode)) return drive;
    drive.Blocks.insert(st.st_rdev);
    const std::string name = KernelNameOfDevice(devicePath);
    if (!name.empty()) AddDisk(fs::path(sysRoot) / "class" / "block", DiskOfKernelName(name, sysRoot), drive.Blocks);
    return drive;
}

SourceDrive SourceDriveOf(CVolume& volume, const std::string& sysRoot) {
    // Virtual drives and found volumes read through their parent's device path.
    return SourceDriveOfPath(volume.GetDevicePath(), sysRoot);
}

bool PathOnSourceDrive(const std::string& path, const SourceDrive& drive, const std::string& mountInfo) {
    if (drive.IsFile) {
        struct stat self {};
        if (::stat(path.c_str(), &self) == 0 && self.st_dev == drive.FileDevice && self.st_ino == drive.FileInode)
            return true;
    }
    if (drive.Blocks.empty()) return false;
    struct stat st {};
    if (::stat(NearestExisting(path).c_str(), &st) != 0) return false;
    if (drive.Blocks.count(st.st_dev)) return true;
    // File systems such as btrfs and FUSE (ntfs-3g) give their files an anonymous device
    // number; the mount table names the block device behind it.
    for (const auto& m : ReadMounts(mountInfo)) {
        if (m.Device != st.st_dev) continue;
        struct stat src {};
        if (::stat(m.Source.c_str(), &src) == 0 && S_ISBLK(src.st_mode) && drive.Blocks.count(src.st_rdev)) return true;
    }
    return false;
}

bool PathOnVolumeDrive(const std::string& path, CVolume& volume) {
    return PathOnSourceDrive(path, SourceDriveOf(volume));
}

}  // namespace vm
