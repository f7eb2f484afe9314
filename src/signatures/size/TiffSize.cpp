// TIFF and the camera raw formats that share its header: the chain of IFDs with the IFDs they
// point to (sub-IFDs, Exif), and the furthest byte any IFD, tag value, strip or tile reaches.
#include <algorithm>
#include <cstring>
#include <vector>

#include "signatures/SizeChecks.h"
#include "signatures/size/SizeRead.h"

namespace vm {
namespace {

constexpr std::size_t kMaxIfds = 256;            // IFDs visited per file
constexpr std::uint32_t kMaxEntries = 4096;      // entries of one IFD
constexpr std::uint32_t kMaxValues = 1u << 20;   // strip, tile and IFD offsets read per file

constexpr std::uint16_t kStripOffsets = 273, kStripByteCounts = 279, kTileOffsets = 324, kTileByteCounts = 325,
                        kSubIfds = 330, kJpegOffset = 513, kJpegLength = 514, kExifIfd = 34665, kGpsIfd = 34853;

struct Entry {
    std::uint16_t Tag = 0, Type = 0;
    std::uint32_t Count = 0;
    std::uint64_t ValueAt = 0;  // where the value lies (in the entry when it fits in 4 bytes)
    std::uint64_t Bytes = 0;
};

class CTiffWalk {
public:
    CTiffWalk(CFindReader& reader, bool bigEndian) : Reader(reader), BigEndian(bigEndian) {}

    // False when an IFD cannot be read or does not hold together.
    bool Walk(std::uint64_t firstIfd) {
        Pending.push_back(firstIfd);
        while (!Pending.empty()) {
            const std::uint64_t at = Pending.back();
            Pending.pop_back();
            if (std::find(Visited.begin(), Visited.end(), at) != Visited.end()) continue;  // a loop
            if (Visited.size() == kMaxIfds || !WalkIfd(at)) return false;
            Visited.push_back(at);
        }
        return true;
    }
    std::uint64_t End() const { return Furthest; }
    // The first IFD is no IFD at all (a count or a field type no TIFF writer uses).
    bool FirstIfdMalformed() const { return Visited.empty() && Malformed; }

private:
    std::uint32_t U16(const std::uint8_t* p) const { return BigEndian ? sizecheck::Be16(p) : sizecheck::Le16(p); }
    std::uint32_t U32(const std::uint8_t* p) const { return BigEndian ? sizecheck::Be32(p) : sizecheck::Le32(p); }

    static unsigned TypeSize(std::uint16_t type) {
        static const unsigned kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
        return type < std::size(kSizes) ? kSizes[type] : 0;
    }

    void Reach(std::uint64_t end) { Furthest = std::max(Furthest, end); }

    // The values of an entry as numbers (SHORT or LONG); false past the budget of the walk.
    bool Values(const Entry& e, std::vector<std::uint64_t>& out) {
        out.clear();
        if (e.Type != 3 && e.Type != 4 && e.Type != 13) return e.Count == 0;
        if (e.Count > ValuesLeft) return false;
        ValuesLeft -= e.Count;
        std::vector<std::uint8_t> raw(std::size_t(e.Bytes));
        if (!Reader.Read(e.ValueAt, raw.data(), raw.size())) return false;
        const unsigned size = TypeSize(e.Type);
        for (std::uint32_t i = 0; i < e.Count; ++i)
            out.push_back(size == 2 ? U16(&raw[i * 2]) : U32(&raw[i * 4]));
        return true;
    }

    // Every offset with its length reaches offset + length.
    bool ReachPairs(const Entry* offsets, const Entry* lengths) {
        if (!offsets || !lengths) return true;
        std::vector<std::uint64_t> at, len;
        if (!Values(*offsets, at) || !Values(*lengths, len) || at.size() != len.size()) return false;
        for (std::size_t i = 0; i < at.size(); ++i) Reach(at[i] + len[i]);
        return true;
    }

    bool WalkIfd(std::uint64_t at) {
        std::uint8_t countBytes[2];
        if (at < 8 || !Reader.Read(at, countBytes, 2)) return false;
        const std::uint32_t count = U16(countBytes);
        if (count == 0 || count > kMaxEntries) return !(Malformed = true);
        std::vector<std::uint8_t> ifd(std::size_t(count) * 12 + 4);
        if (!Reader.Read(at + 2, ifd.data(), ifd.size())) return false;
        Reach(at + 2 + ifd.size());
        std::vector<Entry> entries(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* p = &ifd[i * 12];
            Entry& e = entries[i];
            e.Tag = std::uint16_t(U16(p)), e.Type = std::uint16_t(U16(p + 2)), e.Count = U32(p + 4);
            if (TypeSize(e.Type) == 0) return !(Malformed = true);
            e.Bytes = std::uint64_t(TypeSize(e.Type)) * e.Count;
            e.ValueAt = e.Bytes <= 4 ? at + 2 + i * 12 + 8 : U32(p + 8);
            Reach(e.ValueAt + e.Bytes);
        }
        auto find = [&](std::uint16_t tag) -> const Entry* {
            for (const Entry& e : entries)
                if (e.Tag == tag) return &e;
            return nullptr;
        };
        if (!ReachPairs(find(kStripOffsets), find(kStripByteCounts)) ||
            !ReachPairs(find(kTileOffsets), find(kTileByteCounts)) || !ReachPairs(find(kJpegOffset), find(kJpegLength)))
            return false;
        std::vector<std::uint64_t> children;
        for (std::uint16_t tag : {kSubIfds, kExifIfd, kGpsIfd})
            if (const Entry* e = find(tag); e && Values(*e, children))
                Pending.insert(Pending.end(), children.begin(), children.end());
        if (const std::uint32_t next = U32(&ifd[count * 12])) Pending.push_back(next);
        return true;
    }

    CFindReader& Reader;
    bool BigEndian;
    std::vector<std::uint64_t> Pending, Visited;
    std::uint64_t Furthest = 8;
    bool Malformed = false;
    std::uint32_t ValuesLeft = kMaxValues;
};

}  // namespace

SizeAnswer TiffSize(CFindReader& reader) {
    std::uint8_t head[8];
    if (!reader.Read(0, head, sizeof head)) return SizeAnswer::Unknown();
    const bool big = std::memcmp(head, "MM\0*", 4) == 0;
    if (!big && std::memcmp(head, "II*\0", 4) != 0) return SizeAnswer::NotThisFormat();
    const std::uint32_t first = big ? sizecheck::Be32(head + 4) : sizecheck::Le32(head + 4);
    if (first < 8) return SizeAnswer::NotThisFormat();
    std::uint8_t probe;
    if (!reader.Read(first, &probe, 1)) return SizeAnswer::Unknown();  // the first IFD lies beyond the bound
    CTiffWalk walk(reader, big);
    if (!walk.Walk(first)) return walk.FirstIfdMalformed() ? SizeAnswer::NotThisFormat() : SizeAnswer::Unknown();
    return sizecheck::Readable(reader, walk.End()) ? SizeAnswer::Exact(walk.End()) : SizeAnswer::Unknown();
}

}  // namespace vm
