// Arbitrary disks to the partition-table reader: MBR, extended chains, GUID tables.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/Log.h"
#include "platform/MemoryReader.h"
#include "volume/LocalComputer.h"
#include "volume/Volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The input is the first sectors of a disk; the disk is 64 MiB so that entries fit.
    static vm::CLocalComputer* computer = [] {
        auto* c = new vm::CLocalComputer();
        return c;
    }();
    std::size_t found = 0;
    computer->FoundVolumeHandler = [&found](vm::CVolume&, const vm::FoundItem&) { ++found; };
    auto reader = std::make_shared<vm::CMemoryReader>(std::vector<std::uint8_t>(data, data + size));
    vm::CVolume disk(vm::VK_PHYSICAL);
    disk.Context = computer->Context();
    disk.DevicePath = "fuzz";
    disk.SetDeviceOpener([reader](const std::string&, int*) { return reader; });
    disk.TotalSectors = 131072;
    disk.ScanPartitionTable(0, 0);
    if (found > 4 * 128 + 1024) __builtin_trap();  // bounded by the table limits
    return 0;
}
