#pragma once
// The rows that the item information pane and the "File Information" dialog show for one found
// item: plain texts made from a snapshot of its fields and its drive's cluster size. The type,
// signature and location rows come from the catalogue, the desktop and the drive, and are added
// by the caller. Plain functions, usable on any thread.
#include <cstdint>
#include <string>

#include "filesystem/ItemHandle.h"

namespace vm {

struct ItemInformation {
    int Icon = 0;  // 0 live file, 1 deleted file, 2 live folder, 6 deleted folder
    std::string Name, Id, ParentId, Offset, Size, SizeOnDisk, Status;
    std::string Created, Modified, Accessed;
};

// "Size on disk:": the size rounded up to whole clusters; "0" for a folder; "unknown" when the
// size or the cluster size is unknown, or the rounding would overflow.
std::string SizeOnDiskText(const FoundItem& item, std::uint32_t bytesPerCluster);
// A time row: the local short date and time, "unknown" for 0.
std::string ItemTimeText(std::uint64_t fileTime);

ItemInformation DescribeItem(const ItemSnapshot& item, std::uint32_t bytesPerCluster);

}  // namespace vm
