// A Unix compress (.Z) stream: 1F 9D, a byte with the largest code width (9 to 16 bits) and the
// block-mode flag, then LZW codes packed from the low bit up, 9 bits wide at first. The stream
// has no end marker, so its size is never known; what the check can tell is whether the codes
// after the header are a stream at all: each code may name at most the next table entry. Random
// bytes break that rule within a few codes. Pure function of the reader; no state.
#include <cstddef>
#include <cstdint>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeRead.h"

namespace vm {

namespace {

constexpr std::size_t kHeaderBytes = 3;
constexpr unsigned kFirstWidth = 9;
constexpr std::uint32_t kClearCode = 256;
// The 9-bit codes before the width first grows: 255 of them fill 289 bytes after the header.
constexpr std::size_t kCheckedBytes = (255 * kFirstWidth + 7) / 8;

}  // namespace

SizeAnswer CheckCompressSize(CFindReader& reader) {
    std::uint8_t data[kHeaderBytes + kCheckedBytes];
    const std::size_t got = reader.ReadSome(0, data, sizeof data);
    if (got < kHeaderBytes || data[0] != 0x1F || data[1] != 0x9D) return SizeAnswer::Unknown();
    const unsigned maxBits = data[2] & 0x1F;
    const bool blockMode = (data[2] & 0x80) != 0;
    if (maxBits < kFirstWidth || maxBits > 16 || (data[2] & 0x60) != 0) return SizeAnswer::NotThisFormat();
    std::uint32_t nextFree = blockMode ? kClearCode + 1 : kClearCode;
    const std::size_t bits = (got - kHeaderBytes) * 8;
    for (std::size_t at = 0, n = 0; at + kFirstWidth <= bits && nextFree < (1u << kFirstWidth); at += kFirstWidth, ++n) {
        const std::uint8_t* p = data + kHeaderBytes + at / 8;
        const std::size_t left = got - std::size_t(p - data);
        std::uint32_t word = p[0] | (left > 1 ? std::uint32_t(p[1]) << 8 : 0);
        const std::uint32_t code = (word >> (at % 8)) & ((1u << kFirstWidth) - 1);
        // The first code is a literal; later ones name an entry made already or the one being made.
        // compress clears its table only once it is full, never while the codes are 9 bits wide.
        const bool clear = blockMode && code == kClearCode;
        if (clear || (n == 0 ? code >= kClearCode : code > nextFree)) return SizeAnswer::NotThisFormat();
        if (n > 0) ++nextFree;
    }
    return SizeAnswer::Unknown();
}

}  // namespace vm
