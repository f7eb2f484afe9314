// Directory buffers and boot regions of any content through the exFAT parsers: every visited
// set must come from inside the buffer, its name must be valid UTF-8 of at most 255 characters,
// and a layout read from a boot sector must describe clusters inside what it claims.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filesystem/ExfatBoot.h"
#include "filesystem/ExfatDirectory.h"
#include "platform/Utf16.h"

namespace {

std::size_t Utf8Characters(const std::string& s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++n) {
        char32_t cp;
        const std::size_t len = vm::DecodeUtf8(s, i, &cp);
        if (len == 0) std::abort();
        i += len;
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vm::ParseExfatDirectory(data, size, [&](const vm::ExfatDirEntry& e) {
        if (e.Index >= size / vm::kExfatEntrySize || e.Name.empty() || Utf8Characters(e.Name) > vm::kExfatMaxNameUnits)
            std::abort();
        return true;
    });
    std::string label;
    vm::ExfatVolumeLabel(data, size, label);

    std::vector<std::uint8_t> boot(512, 0);
    std::memcpy(boot.data(), data, std::min<std::size_t>(size, boot.size()));
    vm::ExfatLayout l;
    std::string why;
    if (vm::ReadExfatLayout(boot.data(), 0, l, why) &&
        (!l.ClusterInRange(l.RootCluster) || l.SectorsPerCluster == 0 || l.HeapSector < l.FatSector))
        std::abort();
    const auto read = [&](void* out, std::uint64_t offset, std::uint32_t bytes) {
        if (offset > size || bytes > size - offset) return false;
        std::memcpy(out, data + offset, bytes);
        return true;
    };
    std::uint8_t chosen[512];
    vm::SelectExfatBootRegion(read, chosen);
    return 0;
}
