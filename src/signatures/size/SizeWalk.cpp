#include "signatures/size/SizeWalk.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace vm {

namespace {
constexpr std::size_t kChunk = 64 * 1024;
}

std::uint64_t LoadLe(const std::uint8_t* p, std::size_t bytes) {
    std::uint64_t v = 0;
    for (std::size_t i = bytes; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

std::uint64_t LoadBe(const std::uint8_t* p, std::size_t bytes) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < bytes; ++i) v = (v << 8) | p[i];
    return v;
}

bool ReadLe(CFindReader& reader, std::uint64_t offset, std::size_t bytes, std::uint64_t& value) {
    std::uint8_t b[8];
    if (bytes == 0 || bytes > 8 || !reader.Read(offset, b, bytes)) return false;
    value = LoadLe(b, bytes);
    return true;
}

bool ReadBe(CFindReader& reader, std::uint64_t offset, std::size_t bytes, std::uint64_t& value) {
    std::uint8_t b[8];
    if (bytes == 0 || bytes > 8 || !reader.Read(offset, b, bytes)) return false;
    value = LoadBe(b, bytes);
    return true;
}

bool ReadMatches(CFindReader& reader, std::uint64_t offset, const char* text, std::size_t length) {
    std::array<std::uint8_t, 16> b{};
    if (length > b.size() || !reader.Read(offset, b.data(), length)) return false;
    return std::memcmp(b.data(), text, length) == 0;
}

bool IsFourCc(const std::uint8_t* p) {
    return std::all_of(p, p + 4, [](std::uint8_t b) { return b >= 0x20 && b <= 0x7E; });
}

bool Crc32Of(CFindReader& reader, std::uint64_t offset, std::uint64_t length, std::uint32_t& crc) {
    std::vector<std::uint8_t> buf(std::size_t(std::min<std::uint64_t>(length, kChunk)));
    uLong c = crc32(0, nullptr, 0);
    while (length > 0) {
        std::size_t n = std::size_t(std::min<std::uint64_t>(length, buf.size()));
        if (!reader.Read(offset, buf.data(), n)) return false;
        c = crc32(c, buf.data(), uInt(n));
        offset += n;
        length -= n;
    }
    crc = std::uint32_t(c);
    return true;
}

StreamResult InflateToEnd(CFindReader& reader, std::uint64_t offset) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return {};
    std::vector<std::uint8_t> in(kChunk), out(kChunk);
    StreamResult result;
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t at = offset;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z.avail_in == 0) {
            std::size_t got = reader.ReadSome(at, in.data(), in.size());
            if (got == 0) {
                result.How = StreamEnd::Cut;
                break;
            }
            at += got;
            z.next_in = in.data();
            z.avail_in = uInt(got);
        }
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        crc = crc32(crc, out.data(), uInt(out.size() - z.avail_out));
        if (rc == Z_BUF_ERROR) rc = Z_OK;  // no progress possible until more input arrives
    }
    if (rc == Z_STREAM_END) {
        result.How = StreamEnd::Ended;
        result.End = at - z.avail_in;
    } else if (rc != Z_OK) {
        result.How = StreamEnd::Corrupt;
    }
    result.Crc = std::uint32_t(crc);
    result.DecodedSize = z.total_out;
    inflateEnd(&z);
    return result;
}

SizeAnswer StoppedWalk(bool cut, bool anyConfirmed) {
    if (cut || anyConfirmed) return SizeAnswer::Unknown();
    return SizeAnswer::NotThisFormat();
}

}  // namespace vm
