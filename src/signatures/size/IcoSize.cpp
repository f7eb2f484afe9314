// Windows icons and cursors: a directory of images, each stated by its offset and length; every
// image is a bitmap (an info header of 40 bytes) or a PNG. The file ends where its furthest
// image ends.
#include <algorithm>
#include <cstring>

#include "signatures/SizeChecks.h"
#include "signatures/size/SizeRead.h"

namespace vm {

SizeAnswer IcoSize(CFindReader& reader) {
    std::uint8_t head[6];
    if (!reader.Read(0, head, sizeof head)) return SizeAnswer::Unknown();
    const unsigned kind = sizecheck::Le16(head + 2), count = sizecheck::Le16(head + 4);
    if (sizecheck::Le16(head) != 0 || (kind != 1 && kind != 2) || count == 0) return SizeAnswer::NotThisFormat();
    const std::uint64_t directoryEnd = 6 + 16ull * count;
    std::uint64_t end = directoryEnd;
    for (unsigned i = 0; i < count; ++i) {
        std::uint8_t e[16];
        if (!reader.Read(6 + 16ull * i, e, sizeof e)) return SizeAnswer::Unknown();
        const std::uint64_t bytes = sizecheck::Le32(e + 8), at = sizecheck::Le32(e + 12);
        if (e[3] != 0 && e[3] != 0xFF) return SizeAnswer::NotThisFormat();  // the reserved byte
        if (at < directoryEnd || bytes < 8) return SizeAnswer::NotThisFormat();
        std::uint8_t image[8];
        if (!reader.Read(at, image, sizeof image)) return SizeAnswer::Unknown();
        const bool bitmap = sizecheck::Le32(image) == 40, png = std::memcmp(image, "\x89PNG\r\n\x1a\n", 8) == 0;
        if (!bitmap && !png) return SizeAnswer::NotThisFormat();
        end = std::max(end, at + bytes);
    }
    return sizecheck::Readable(reader, end) ? SizeAnswer::Exact(end) : SizeAnswer::Unknown();
}

}  // namespace vm
