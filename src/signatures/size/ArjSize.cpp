// An ARJ archive is a chain of headers, each "60 EA", a basic header of at most 2600 bytes guarded
// by a CRC-32 and extended headers, then the member's compressed data; a header of size 0 ends it.
// The first header is the archive's own (it has no data); every later one is a member.
#include <vector>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {

constexpr std::uint64_t kMaxBasicHeader = 2600;
constexpr unsigned kMaxHeaders = 1u << 20;
constexpr unsigned kMaxExtendedHeaders = 64;
constexpr std::size_t kCompressedSizeAt = 12;  // in a member's basic header

}  // namespace

SizeAnswer CheckArjSize(CFindReader& reader) {
    std::uint64_t pos = 0;
    for (unsigned n = 0; n < kMaxHeaders; ++n) {
        std::uint8_t id[4];
        if (!reader.Read(pos, id, sizeof id)) return SizeAnswer::Unknown();
        const std::uint64_t size = LoadLe(id + 2, 2);
        if (id[0] != 0x60 || id[1] != 0xEA || size > kMaxBasicHeader || (n == 0 && size < kCompressedSizeAt + 4))
            return StoppedWalk(false, n > 0);
        if (size == 0) return SizeAnswer::Exact(pos + 4);  // the end of the archive
        std::vector<std::uint8_t> basic(size);
        std::uint64_t crc = 0;
        std::uint32_t actual = 0;
        if (!reader.Read(pos + 4, basic.data(), basic.size()) || !ReadLe(reader, pos + 4 + size, 4, crc) ||
            !Crc32Of(reader, pos + 4, size, actual))
            return SizeAnswer::Unknown();
        if (crc != actual) return StoppedWalk(false, n > 0);
        pos += 4 + size + 4;
        // Extended headers: a size, that many bytes and their CRC, until a size of 0.
        for (unsigned e = 0;; ++e) {
            std::uint64_t extended = 0;
            if (!ReadLe(reader, pos, 2, extended)) return SizeAnswer::Unknown();
            pos += 2;
            if (extended == 0) break;
            if (e == kMaxExtendedHeaders) return StoppedWalk(false, n > 0);
            pos += extended + 4;
        }
        if (n > 0) {
            if (size < kCompressedSizeAt + 4) return StoppedWalk(false, true);
            pos += LoadLe(&basic[kCompressedSizeAt], 4);
        }
        if (pos > reader.Limit()) return SizeAnswer::Unknown();
    }
    return SizeAnswer::Unknown();
}

}  // namespace vm
