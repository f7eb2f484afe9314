// A gzip file is one or more members: header, deflate stream, CRC-32 and length of the data.
#include <array>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {

constexpr int kMaxMembers = 4096;
constexpr std::uint64_t kMaxHeaderText = 64 * 1024;  // a stored name or comment
enum class Parse { Ok, Cut, Bad };

bool StartsMember(CFindReader& reader, std::uint64_t at) {
    return ReadMatches(reader, at, "\x1F\x8B\x08", 3);
}

// Steps over a zero-terminated text at `pos`.
Parse SkipText(CFindReader& reader, std::uint64_t& pos) {
    std::array<std::uint8_t, 256> b;
    for (std::uint64_t done = 0; done < kMaxHeaderText;) {
        std::size_t got = reader.ReadSome(pos + done, b.data(), b.size());
        if (got == 0) return Parse::Cut;
        for (std::size_t i = 0; i < got; ++i)
            if (b[i] == 0) {
                pos += done + i + 1;
                return Parse::Ok;
            }
        done += got;
    }
    return Parse::Bad;
}

// The header of the member at `at`; `data` becomes the offset of its deflate stream.
Parse ParseHeader(CFindReader& reader, std::uint64_t at, std::uint64_t& data) {
    std::uint8_t h[10];
    if (!reader.Read(at, h, sizeof h)) return Parse::Cut;
    const std::uint8_t flags = h[3];
    if (h[0] != 0x1F || h[1] != 0x8B || h[2] != 8 || (flags & 0xE0) != 0) return Parse::Bad;
    std::uint64_t pos = at + sizeof h;
    if (flags & 0x04) {  // extra field
        std::uint64_t length;
        if (!ReadLe(reader, pos, 2, length)) return Parse::Cut;
        pos += 2 + length;
    }
    for (std::uint8_t textFlag : {std::uint8_t(0x08), std::uint8_t(0x10)})  // name, comment
        if (flags & textFlag) {
            Parse p = SkipText(reader, pos);
            if (p != Parse::Ok) return p;
        }
    if (flags & 0x02) pos += 2;  // header CRC
    data = pos;
    return Parse::Ok;
}

// One whole member at `at`, its decoded data checked against the trailer; `end` follows it.
Parse ParseMember(CFindReader& reader, std::uint64_t at, std::uint64_t& end) {
    std::uint64_t data = 0;
    Parse p = ParseHeader(reader, at, data);
    if (p != Parse::Ok) return p;
    StreamResult stream = InflateToEnd(reader, data);
    if (stream.How == StreamEnd::Cut) return Parse::Cut;
    if (stream.How == StreamEnd::Corrupt) return Parse::Bad;
    std::uint8_t trailer[8];
    if (!reader.Read(stream.End, trailer, sizeof trailer)) return Parse::Cut;
    if (LoadLe(trailer, 4) != stream.Crc || LoadLe(trailer + 4, 4) != (stream.DecodedSize & 0xFFFFFFFFu))
        return Parse::Bad;
    end = stream.End + sizeof trailer;
    return Parse::Ok;
}

}  // namespace

SizeAnswer CheckGzipSize(CFindReader& reader) {
    std::uint64_t end = 0;
    Parse first = ParseMember(reader, 0, end);
    if (first == Parse::Cut) return SizeAnswer::Unknown();
    if (first == Parse::Bad) return SizeAnswer::NotThisFormat();
    // Members that follow directly belong to the same file; anything else is the next file.
    for (int members = 1; StartsMember(reader, end); ++members) {
        std::uint64_t next = end;
        Parse p = members < kMaxMembers ? ParseMember(reader, end, next) : Parse::Cut;
        if (p == Parse::Cut) return SizeAnswer::Unknown();
        if (p == Parse::Bad) break;
        end = next;
    }
    return SizeAnswer::Exact(end);
}

}  // namespace vm
