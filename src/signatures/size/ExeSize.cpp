// "MZ" executables. A Windows (PE) file ends where its furthest section or its certificate table
// ends; a plain DOS program's header counts its pages. Two bytes of "MZ" are common in any data,
// so a DOS header whose fields do not hold together is no executable.
#include <algorithm>
#include <cstring>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {

constexpr std::uint64_t kMaxPeHeaderAt = 16u << 20;
constexpr unsigned kMaxSections = 96;
constexpr unsigned kCertificateDirectory = 4;

SizeAnswer PeSize(CFindReader& reader, std::uint64_t at) {
    std::uint8_t coff[24];
    if (!reader.Read(at, coff, sizeof coff)) return SizeAnswer::Unknown();
    const unsigned sections = unsigned(LoadLe(coff + 6, 2));
    const std::uint64_t optional = at + 24, optionalSize = LoadLe(coff + 20, 2);
    if (sections == 0 || sections > kMaxSections) return SizeAnswer::Unknown();
    std::uint8_t opt[256] = {};
    const std::size_t optRead = std::size_t(std::min<std::uint64_t>(optionalSize, sizeof opt));
    if (!reader.Read(optional, opt, optRead)) return SizeAnswer::Unknown();
    const unsigned magic = optRead >= 2 ? unsigned(LoadLe(opt, 2)) : 0;
    std::uint64_t end = optional + optionalSize + std::uint64_t(sections) * 40;
    if ((magic == 0x10B || magic == 0x20B) && optRead >= 64) end = std::max(end, LoadLe(opt + 60, 4));  // headers
    // The certificate table is the one data directory that holds a file offset.
    const std::size_t counted = magic == 0x20B ? 108 : 92, directories = counted + 4;
    const std::size_t certificate = directories + kCertificateDirectory * 8;
    if ((magic == 0x10B || magic == 0x20B) && optRead >= certificate + 8 && LoadLe(opt + counted, 4) > kCertificateDirectory)
        if (const std::uint64_t size = LoadLe(opt + certificate + 4, 4)) end = std::max(end, LoadLe(opt + certificate, 4) + size);
    for (unsigned i = 0; i < sections; ++i) {
        std::uint8_t s[40];
        if (!reader.Read(optional + optionalSize + i * 40ull, s, sizeof s)) return SizeAnswer::Unknown();
        if (const std::uint64_t raw = LoadLe(s + 16, 4)) end = std::max(end, LoadLe(s + 20, 4) + raw);
    }
    return sizecheck::Readable(reader, end) ? SizeAnswer::Exact(end) : SizeAnswer::Unknown();
}

}  // namespace

SizeAnswer CheckExeSize(CFindReader& reader) {
    std::uint8_t h[64];
    if (!reader.Read(0, h, sizeof h)) return SizeAnswer::Unknown();
    if (h[0] != 'M' || h[1] != 'Z') return SizeAnswer::NotThisFormat();
    const std::uint64_t lastPage = LoadLe(h + 2, 2), pages = LoadLe(h + 4, 2), relocations = LoadLe(h + 6, 2),
                        headerBytes = LoadLe(h + 8, 2) * 16, relocationsAt = LoadLe(h + 24, 2),
                        peAt = LoadLe(h + 60, 4);
    if (peAt >= sizeof h && peAt < kMaxPeHeaderAt && ReadMatches(reader, peAt, "PE\0\0", 4)) return PeSize(reader, peAt);
    // A DOS program: its size from the page count, and a header and relocation table inside it.
    if (lastPage >= 512 || pages == 0) return SizeAnswer::NotThisFormat();
    const std::uint64_t size = pages * 512 - (lastPage ? 512 - lastPage : 0);
    if (headerBytes < 32 || headerBytes > size) return SizeAnswer::NotThisFormat();
    if (relocations && (relocationsAt < 28 || relocationsAt + relocations * 4 > headerBytes))
        return SizeAnswer::NotThisFormat();
    return sizecheck::Readable(reader, size) ? SizeAnswer::Exact(size) : SizeAnswer::Unknown();
}

}  // namespace vm
