// BMP: the file header's size field, held against the pixel data that the info header describes.
#include "signatures/SizeChecks.h"
#include "signatures/size/SizeRead.h"

namespace vm {
namespace {

using sizecheck::Le16;
using sizecheck::Le32;

constexpr std::uint32_t kRgb = 0, kBitfields = 3, kAlphaBitfields = 6;
constexpr std::uint32_t kMaxDimension = 1u << 16;

bool KnownInfoSize(std::uint32_t n) {
    return n == 12 || n == 16 || n == 40 || n == 52 || n == 56 || n == 64 || n == 108 || n == 124;
}

bool KnownDepth(std::uint16_t bpp) {
    return bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
}

struct Layout {
    std::uint64_t PixelsAt = 0;
    std::uint64_t PixelBytes = 0;  // 0 when compressed data has no stated size
    bool Compressed = false;
    std::uint64_t ProfileEnd = 0;  // an embedded colour profile (version 5 headers) ends here
};

bool ReadLayout(const std::uint8_t* h, Layout& out) {
    const std::uint32_t infoSize = Le32(h + 14);
    if (!KnownInfoSize(infoSize)) return false;
    std::uint64_t width, height;
    std::uint16_t planes, bpp;
    std::uint32_t compression = kRgb;
    if (infoSize == 12) {
        width = Le16(h + 18), height = Le16(h + 20), planes = Le16(h + 22), bpp = Le16(h + 24);
    } else {
        const std::int32_t w = std::int32_t(Le32(h + 18)), hgt = std::int32_t(Le32(h + 22));
        if (w <= 0 || hgt == 0 || hgt == INT32_MIN) return false;
        width = std::uint64_t(w), height = std::uint64_t(hgt < 0 ? -std::int64_t(hgt) : hgt);
        planes = Le16(h + 26), bpp = Le16(h + 28);
        if (infoSize >= 20) compression = Le32(h + 30);
    }
    if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) return false;
    if (planes != 1 || !KnownDepth(bpp) || compression > kAlphaBitfields) return false;
    out.PixelsAt = Le32(h + 10);
    if (out.PixelsAt < 14 + infoSize) return false;
    out.Compressed = compression != kRgb && compression != kBitfields && compression != kAlphaBitfields;
    const std::uint64_t row = (width * bpp + 31) / 32 * 4;
    out.PixelBytes = out.Compressed ? (infoSize >= 40 ? Le32(h + 34) : 0) : row * height;
    if (infoSize == 124) {
        const std::uint64_t profileAt = 14 + std::uint64_t(Le32(h + 14 + 112)), profileSize = Le32(h + 14 + 116);
        if (profileSize && Le32(h + 14 + 56) == 0x4D424544) out.ProfileEnd = profileAt + profileSize;  // "MBED"
    }
    return true;
}

}  // namespace

SizeAnswer BmpSize(CFindReader& reader) {
    std::uint8_t h[14 + 124] = {};
    const std::size_t got = reader.ReadSome(0, h, sizeof h);
    if (got < 26) return SizeAnswer::Unknown();
    if (h[0] != 'B' || h[1] != 'M') return SizeAnswer::NotThisFormat();
    Layout l;
    if (got < 14 + std::size_t(std::min<std::uint32_t>(Le32(h + 14), 124))) return SizeAnswer::Unknown();
    if (!ReadLayout(h, l)) return SizeAnswer::NotThisFormat();
    const std::uint64_t stated = Le32(h + 2);
    const std::uint64_t pixelsEnd = l.PixelsAt + l.PixelBytes;
    std::uint64_t size;
    if (l.Compressed) {
        // Only the stated size tells the end of compressed pixels; it must at least hold them.
        if (stated <= l.PixelsAt || stated < pixelsEnd) return SizeAnswer::Unknown();
        size = stated;
    } else {
        // Writers round the stated size up by a few bytes or get it wrong: the pixels decide.
        const std::uint64_t end = std::max(pixelsEnd, l.ProfileEnd);
        size = stated >= end && stated - end < 4 ? stated : end;
    }
    return sizecheck::Readable(reader, size) ? SizeAnswer::Exact(size) : SizeAnswer::Unknown();
}

}  // namespace vm
