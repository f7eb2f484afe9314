// A ZIP (or JAR) file is a run of local entries, the central directory and the end record
// (with its ZIP64 forms); the file ends after the end record's comment.
#include <cstring>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {

constexpr std::uint32_t kLocal = 0x04034B50, kCentral = 0x02014B50, kEnd = 0x06054B50;
constexpr std::uint32_t kEnd64 = 0x06064B50, kLocator64 = 0x07064B50, kDescriptor = 0x08074B50;
constexpr std::uint32_t kSpanMarker = 0x30304B50;
constexpr std::uint64_t kMaxRecords = 1u << 20;
constexpr std::uint64_t kMaxEnd64Record = 1u << 20;
constexpr std::uint32_t kZip64Mark = 0xFFFFFFFF;
constexpr unsigned kDeflate = 8, kFlagEncrypted = 0x1, kFlagDescriptor = 0x8;
enum class Step { Next, End, Cut, Bad };

struct LocalSizes {
    std::uint64_t Compressed = 0;
    bool Zip64 = false;
};

// The sizes of an entry, from its header or from the ZIP64 field among its extra data.
bool ReadSizes(CFindReader& reader, const std::uint8_t* h, std::uint64_t extraAt, std::uint64_t extraLength,
               LocalSizes& sizes) {
    sizes.Compressed = LoadLe(h + 18, 4);
    const bool bigUnpacked = LoadLe(h + 22, 4) == kZip64Mark;
    if (sizes.Compressed != kZip64Mark && !bigUnpacked) return true;
    for (std::uint64_t at = 0; at + 4 <= extraLength;) {
        std::uint64_t id, length;
        if (!ReadLe(reader, extraAt + at, 2, id) || !ReadLe(reader, extraAt + at + 2, 2, length)) return false;
        if (id == 1) {
            std::uint64_t field = extraAt + at + 4 + (bigUnpacked ? 8 : 0);
            sizes.Zip64 = true;
            return sizes.Compressed != kZip64Mark || ReadLe(reader, field, 8, sizes.Compressed);
        }
        at += 4 + length;
    }
    return false;
}

// The data descriptor after an entry's data at `at`: signature (optional), CRC, sizes.
Step SkipDescriptor(CFindReader& reader, std::uint64_t& at, std::uint64_t compressed, bool zip64) {
    std::uint64_t sig, size;
    if (!ReadLe(reader, at, 4, sig)) return Step::Cut;
    if (sig == kDescriptor) at += 4;
    const std::size_t width = zip64 ? 8 : 4;
    if (!ReadLe(reader, at + 4, width, size)) return Step::Cut;
    if (size != (zip64 ? compressed : compressed & 0xFFFFFFFFu)) return Step::Bad;
    at += 4 + 2 * width;
    return Step::Next;
}

Step LocalEntry(CFindReader& reader, std::uint64_t& pos) {
    std::uint8_t h[30];
    if (!reader.Read(pos, h, sizeof h)) return Step::Cut;
    const unsigned version = unsigned(LoadLe(h + 4, 2)), flags = unsigned(LoadLe(h + 6, 2));
    const unsigned method = unsigned(LoadLe(h + 8, 2));
    if (version > 100 || (method > 20 && method < 93) || method > 99) return Step::Bad;
    const std::uint64_t extraAt = pos + 30 + LoadLe(h + 26, 2), extraLength = LoadLe(h + 28, 2);
    const std::uint64_t data = extraAt + extraLength;
    LocalSizes sizes;
    if (!ReadSizes(reader, h, extraAt, extraLength, sizes)) return Step::Bad;
    if (sizes.Compressed > reader.Limit()) return Step::Cut;  // larger than the check may read
    if (!(flags & kFlagDescriptor)) {
        pos = data + sizes.Compressed;
        return Step::Next;
    }
    // The sizes follow the data: only decoding a deflate stream tells where it ends.
    if (method != kDeflate || (flags & kFlagEncrypted)) {
        if (sizes.Compressed == 0) return Step::Cut;
    } else {
        StreamResult stream = InflateToEnd(reader, data);
        if (stream.How != StreamEnd::Ended) return stream.How == StreamEnd::Cut ? Step::Cut : Step::Bad;
        sizes.Compressed = stream.End - data;
    }
    pos = data + sizes.Compressed;
    return SkipDescriptor(reader, pos, sizes.Compressed, sizes.Zip64);
}

struct Walk {
    std::uint64_t Pos = 0;
    std::uint64_t CentralAt = 0;
    bool SawCentral = false;
};

Step EndRecord(CFindReader& reader, Walk& walk) {
    std::uint8_t e[22];
    if (!reader.Read(walk.Pos, e, sizeof e)) return Step::Cut;
    const std::uint64_t directoryAt = LoadLe(e + 16, 4);
    if (!walk.SawCentral || (directoryAt != kZip64Mark && directoryAt != walk.CentralAt)) return Step::Bad;
    walk.Pos += sizeof e + LoadLe(e + 20, 2);
    return sizecheck::Readable(reader, walk.Pos) ? Step::End : Step::Cut;
}

Step NextRecord(CFindReader& reader, Walk& walk) {
    std::uint64_t sig, value;
    if (!ReadLe(reader, walk.Pos, 4, sig)) return Step::Cut;
    switch (sig) {
    case kLocal:
        return walk.SawCentral ? Step::Bad : LocalEntry(reader, walk.Pos);
    case kCentral: {
        std::uint8_t c[46];
        if (!reader.Read(walk.Pos, c, sizeof c)) return Step::Cut;
        if (!walk.SawCentral) walk.CentralAt = walk.Pos;
        walk.SawCentral = true;
        walk.Pos += sizeof c + LoadLe(c + 28, 2) + LoadLe(c + 30, 2) + LoadLe(c + 32, 2);
        return Step::Next;
    }
    case kEnd64:
        if (!walk.SawCentral || !ReadLe(reader, walk.Pos + 4, 8, value)) return walk.SawCentral ? Step::Cut : Step::Bad;
        if (value > kMaxEnd64Record) return Step::Bad;
        walk.Pos += 12 + value;
        return Step::Next;
    case kLocator64:
        walk.Pos += 20;
        return walk.SawCentral ? Step::Next : Step::Bad;
    case kEnd:
        return EndRecord(reader, walk);
    default:
        return Step::Bad;
    }
}

}  // namespace

SizeAnswer CheckZipSize(CFindReader& reader) {
    Walk walk;
    std::uint64_t first;
    if (!ReadLe(reader, 0, 4, first)) return SizeAnswer::Unknown();
    if (first == kSpanMarker || first == kDescriptor) walk.Pos = 4;  // a split archive's marker
    for (std::uint64_t records = 0; records < kMaxRecords; ++records) {
        if (records == 0 && !ReadLe(reader, walk.Pos, 4, first)) return SizeAnswer::Unknown();
        if (records == 0 && first != kLocal) return SizeAnswer::NotThisFormat();
        Step step = walk.Pos < reader.Limit() ? NextRecord(reader, walk) : Step::Cut;
        if (step == Step::End) return SizeAnswer::Exact(walk.Pos);
        if (step != Step::Next) return StoppedWalk(step == Step::Cut, records > 0);
    }
    return SizeAnswer::Unknown();
}

}  // namespace vm
