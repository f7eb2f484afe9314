#pragma once
// Whether a path where the program means to write lies on the drive that a volume reads: the
// same block device, one of its partitions, the disk that holds it, or a device stacked on any
// of those (device mapper); for a volume read from an image file, the image file itself or a
// loop device backed by it. Recovered files and drive images are never written there.
#include <set>
#include <string>
#include <sys/types.h>

namespace vm {

class CVolume;

struct SourceDrive {
    std::set<dev_t> Blocks;       // device numbers of every block device that shares the drive
    bool IsFile = false;          // the volume reads a regular file (an image)
    dev_t FileDevice = 0;
    ino_t FileInode = 0;
};

// What the volume reads, resolved to device numbers. `sysRoot` is /sys unless a test says else.
SourceDrive SourceDriveOf(CVolume& volume, const std::string& sysRoot = "/sys");
SourceDrive SourceDriveOfPath(const std::string& devicePath, const std::string& sysRoot = "/sys");

// True when writing at `path` (an existing or future file or folder) would write to the drive.
// A path that does not exist yet is judged by its nearest existing ancestor.
bool PathOnSourceDrive(const std::string& path, const SourceDrive& drive,
                       const std::string& mountInfo = "/proc/self/mountinfo");

// Both steps for a volume.
bool PathOnVolumeDrive(const std::string& path, CVolume& volume);

}  // namespace vm
