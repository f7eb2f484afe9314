// Arbitrary disks to the partition-table reader: MBR, extended chains, GUID tables.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/Log.h"
#include "platform/MemoryReader.h"
#include "volume/FoundVolumes.h"
#include "volume/Volume.h"

namespace {
struct CountingTarget : vm::IFoundVolumeTarget {
    std::size_t Count = 0;
    void AddFoundVolume(const vm::FoundItem&) override { ++Count; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The input is the first sectors of a disk; the disk is 64 MiB so that entries fit.
    std::vector<std::uint8_t> bytes(data, data + size);
    auto reader = std::make_shared<vm::CMemoryReader>(bytes);
    CountingTarget target;
    vm::SetFoundVolumeTarget(&target);
    vm::CVolume disk(vm::VK_PHYSICAL);
    disk.DevicePath = "fuzz";
    disk.SetDeviceOpener([reader](const std::string&, int*) { return reader; });
    disk.TotalSectors = 131072;
    disk.ScanPartitionTable(0, 0);
    vm::SetFoundVolumeTarget(nullptr);
    if (target.Count > 4 * 128 + 1024) __builtin_trap();  // bounded by the table limits
    return 0;
}
