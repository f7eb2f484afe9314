// Feeds arbitrary first sectors to the boot-sector parser of every kind of volume.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/Log.h"
#include "platform/MemoryReader.h"
#include "volume/Volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool quiet = (vm::Log().SetTimeStamps(false), true);
    (void)quiet;
    std::vector<std::uint8_t> bytes(data, data + size);
    auto reader = std::make_shared<vm::CMemoryReader>(bytes);
    for (std::int32_t kind : {vm::VK_IMAGE, vm::VK_FOUND}) {
        vm::CVolume parent(vm::VK_IMAGE);
        parent.DevicePath = "fuzz.dsk";
        parent.SetDeviceOpener([reader](const std::string&, int*) { return reader; });
        vm::CVolume found(vm::VK_FOUND);
        found.AttachTo(&parent);
        vm::CVolume& v = kind == vm::VK_IMAGE ? parent : found;
        v.ParseBootSector();
        (void)v.GetFileSystemName();
        (void)vm::SerialNumberText(v);
        if (v.BytesPerCluster == 0 || v.SectorsPerCluster == 0) __builtin_trap();
    }
    return 0;
}
