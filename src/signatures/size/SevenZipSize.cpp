// A 7z archive opens with a 32-byte start header that says where its closing header lies and
// how long it is; that header is the last thing in the file.
#include <zlib.h>

#include <cstring>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {
constexpr std::uint64_t kStartHeader = 32;
constexpr std::uint8_t kHeader = 0x01, kEncodedHeader = 0x17;
}  // namespace

SizeAnswer CheckSevenZipSize(CFindReader& reader) {
    std::uint8_t h[kStartHeader];
    if (!reader.Read(0, h, sizeof h)) return SizeAnswer::Unknown();
    if (std::memcmp(h, "7z\xBC\xAF\x27\x1C", 6) != 0 || h[6] != 0) return SizeAnswer::NotThisFormat();
    if (crc32(0, h + 12, 20) != LoadLe(h + 8, 4)) return SizeAnswer::NotThisFormat();
    const std::uint64_t offset = LoadLe(h + 12, 8), size = LoadLe(h + 20, 8);
    const std::uint32_t headerCrc = std::uint32_t(LoadLe(h + 28, 4));
    if (offset == 0 && size == 0) return SizeAnswer::Exact(kStartHeader);  // an empty archive
    if (size == 0 || offset > reader.Limit() || size > reader.Limit() - offset ||
        kStartHeader + offset + size > reader.Limit())
        return SizeAnswer::Unknown();
    // The closing header must be there, whole, where the start header says.
    std::uint8_t kind = 0;
    std::uint32_t crc = 0;
    if (!reader.Read(kStartHeader + offset, &kind, 1) || !Crc32Of(reader, kStartHeader + offset, size, crc))
        return SizeAnswer::Unknown();
    if ((kind != kHeader && kind != kEncodedHeader) || crc != headerCrc) return SizeAnswer::Unknown();
    return SizeAnswer::Exact(kStartHeader + offset + size);
}

}  // namespace vm
