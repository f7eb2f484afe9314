// MP4, QuickTime and 3GP files are a run of top-level boxes (32- or 64-bit size, type); the file
// ends where the boxes stop.
#include <algorithm>
#include <cstring>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {

constexpr unsigned kMaxBoxes = 1u << 16;
constexpr std::uint64_t kMaxTypeBox = 4096;  // "ftyp" holds a handful of brands
constexpr const char* kTopLevel[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot", "uuid", "meta",
                                     "moof", "mfra", "styp", "sidx", "ssix", "prft", "emsg", "pdin", "junk",
                                     "PICT", "udta", "beam"};

bool IsTopLevel(const std::uint8_t* type) {
    return std::any_of(std::begin(kTopLevel), std::end(kTopLevel),
                       [type](const char* t) { return std::memcmp(type, t, 4) == 0; });
}

bool IsType(const std::uint8_t* type, const char* t) { return std::memcmp(type, t, 4) == 0; }

}  // namespace

SizeAnswer CheckMp4Size(CFindReader& reader) {
    std::uint64_t pos = 0;
    bool sawMovie = false;
    unsigned boxes = 0;
    for (; boxes < kMaxBoxes; ++boxes) {
        std::uint8_t b[16];
        if (!reader.Read(pos, b, 8) || !IsFourCc(b + 4)) break;  // the first non-box
        const bool known = IsTopLevel(b + 4);
        std::uint64_t size = LoadBe(b, 4), header = 8;
        if (size == 1) {
            if (!reader.Read(pos + 8, b + 8, 8)) return known ? SizeAnswer::Unknown() : SizeAnswer::NotThisFormat();
            size = LoadBe(b + 8, 8);
            header = 16;
        }
        if (boxes == 0 && (!known || (IsType(b + 4, "ftyp") && (size < 16 || size > kMaxTypeBox))))
            return SizeAnswer::NotThisFormat();
        if (size == 0 && known) return SizeAnswer::Unknown();  // the box runs to the end of the file
        if (size < header) break;
        // A known box must be whole on the drive; an unknown one that does not fit is not ours.
        const bool fits =
            size <= reader.Limit() - std::min(pos, reader.Limit()) && sizecheck::Readable(reader, pos + size);
        if (!fits) {
            if (known) return SizeAnswer::Unknown();
            break;
        }
        sawMovie = sawMovie || IsType(b + 4, "moov") || IsType(b + 4, "moof");
        pos += size;
    }
    if (boxes == kMaxBoxes) return SizeAnswer::Unknown();
    // No movie box: a lone type box is a header that only looked right; more boxes are a damaged file.
    if (!sawMovie) return boxes <= 1 ? SizeAnswer::NotThisFormat() : SizeAnswer::Unknown();
    return SizeAnswer::Exact(pos);
}

}  // namespace vm
