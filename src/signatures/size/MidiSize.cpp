// A Standard MIDI file is an "MThd" header chunk and the number of "MTrk" chunks it declares;
// every track ends with the end-of-track event.
#include <cstring>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {

constexpr std::uint64_t kMaxHeaderLength = 256;
constexpr unsigned kMaxOtherChunks = 64;

}  // namespace

SizeAnswer CheckMidiSize(CFindReader& reader) {
    std::uint8_t h[14];
    if (!reader.Read(0, h, sizeof h)) return SizeAnswer::Unknown();
    const std::uint64_t length = LoadBe(h + 4, 4), format = LoadBe(h + 8, 2), tracks = LoadBe(h + 10, 2);
    if (std::memcmp(h, "MThd", 4) != 0 || length < 6 || length > kMaxHeaderLength || format > 2 || tracks == 0 ||
        (format == 0 && tracks != 1))
        return SizeAnswer::NotThisFormat();
    std::uint64_t pos = 8 + length;
    unsigned others = 0;
    for (std::uint64_t found = 0; found < tracks;) {
        std::uint8_t c[8], last[3];
        if (!reader.Read(pos, c, sizeof c)) return SizeAnswer::Unknown();
        const std::uint64_t end = pos + 8 + LoadBe(c + 4, 4);
        if (!IsFourCc(c)) return found == 0 ? SizeAnswer::NotThisFormat() : SizeAnswer::Unknown();
        if (end > reader.Limit()) return SizeAnswer::Unknown();
        if (std::memcmp(c, "MTrk", 4) == 0) {
            if (end >= pos + 11 && !reader.Read(end - 3, last, 3)) return SizeAnswer::Unknown();
            if (end < pos + 11 || std::memcmp(last, "\xFF\x2F\x00", 3) != 0)
                return found == 0 ? SizeAnswer::NotThisFormat() : SizeAnswer::Unknown();
            ++found;
        } else if (++others > kMaxOtherChunks) {
            return SizeAnswer::Unknown();
        }
        pos = end;
    }
    return SizeAnswer::Exact(pos);
}

}  // namespace vm
