// An HA archive: "HA", the number of members, then each member's header (version and method,
// compressed and original sizes, CRC, time, a NUL-terminated path and name, machine-specific
// bytes) followed by its compressed data. The archive ends after the last member.
#include <vector>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {

constexpr std::size_t kMaxName = 1024;
constexpr std::uint8_t kPathSeparator = 0xFF;

bool KnownMethod(std::uint8_t type) {
    const unsigned method = type & 0x0F;
    return method <= 2 || method == 14 || method == 15;  // copy, ASC, HSC, folder, special
}

// A NUL-terminated path or name at `at`: where it ends, or 0 when it is not text.
std::uint64_t TextEnd(CFindReader& reader, std::uint64_t at, bool& cut) {
    std::uint8_t text[kMaxName + 1];
    const std::size_t got = reader.ReadSome(at, text, sizeof text);
    for (std::size_t i = 0; i < got; ++i) {
        if (text[i] == 0) return at + i + 1;
        if (text[i] < 0x20 && text[i] != kPathSeparator) return 0;
    }
    cut = got < sizeof text;
    return 0;
}

}  // namespace

SizeAnswer CheckHaSize(CFindReader& reader) {
    std::uint64_t members = 0;
    if (!ReadMatches(reader, 0, "HA", 2) || !ReadLe(reader, 2, 2, members)) return SizeAnswer::Unknown();
    if (members == 0) return SizeAnswer::NotThisFormat();
    std::uint64_t pos = 4;
    for (std::uint64_t n = 0; n < members; ++n) {
        std::uint8_t fixed[17];
        if (!reader.Read(pos, fixed, sizeof fixed)) return SizeAnswer::Unknown();
        if (!KnownMethod(fixed[0])) return StoppedWalk(false, n > 0);
        const std::uint64_t packed = LoadLe(fixed + 1, 4);
        bool cut = false;
        const std::uint64_t pathEnd = TextEnd(reader, pos + 17, cut);
        const std::uint64_t nameEnd = pathEnd ? TextEnd(reader, pathEnd, cut) : 0;
        if (!nameEnd) return StoppedWalk(cut, n > 0);
        const int machineBytes = sizecheck::ReadByte(reader, nameEnd);
        if (machineBytes < 0) return SizeAnswer::Unknown();
        pos = nameEnd + 1 + std::uint64_t(machineBytes) + packed;
        if (pos > reader.Limit()) return SizeAnswer::Unknown();
    }
    return sizecheck::Readable(reader, pos) ? SizeAnswer::Exact(pos) : SizeAnswer::Unknown();
}

}  // namespace vm
