// Arbitrary compound-document headers and directories: the header bound, the directory read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/MemoryReader.h"
#include "signatures/CompoundDocument.h"
#include "volume/Volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 512) return 0;
    std::vector<std::uint8_t> bytes(data, data + size);
    auto reader = std::make_shared<vm::CMemoryReader>(bytes);
    vm::CVolume volume(vm::VK_IMAGE);
    volume.DevicePath = "fuzz";
    volume.SetDeviceOpener([reader](const std::string&, int*) { return reader; });
    volume.TotalSectors = (size + 511) / 512;
    vm::FoundItem item;
    vm::AnalyseCompound(volume, std::span<const std::uint8_t>(bytes.data(), 512), item);
    (void)vm::ClassifyCompoundDirectory(std::span<const std::uint8_t>(bytes.data(), size));
    return 0;
}
