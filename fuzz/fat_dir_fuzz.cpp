// Directory buffers of any content through the FAT entry parser: every visited entry must come
// from inside the buffer, and its name must be valid UTF-8 of bounded length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "filesystem/FatDirectory.h"

namespace {

bool ValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = s[i];
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (bool fat32 : {false, true}) {
        vm::ParseFatDirectory(data, size, fat32, [&](const vm::FatDirEntry& e) {
            if (e.Index >= size / vm::kFatEntrySize || e.Name.empty() || e.Name.size() > 4 * 4096 || !ValidUtf8(e.Name))
                std::abort();
            vm::FatTimeToFileTime(e.WriteDate, e.WriteTime, e.CreateTenths);
            return true;
        });
    }
    vm::FatLooksLikeDirectoryStart(data, size);
    return 0;
}
