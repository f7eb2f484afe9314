// PNG: the chunks from the signature to IEND, each with its CRC.
#include <array>
#include <cstring>

#include "signatures/SizeChecks.h"
#include "signatures/size/SizeRead.h"

namespace vm {
namespace {

using sizecheck::Be32;

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint32_t kMaxChunk = 0x7FFFFFFF;

std::array<std::uint32_t, 256> CrcTable() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
    }
    return t;
}

std::uint32_t Crc(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    static const std::array<std::uint32_t, 256> table = CrcTable();
    for (std::size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

bool IsChunkType(const std::uint8_t* t) {
    for (int i = 0; i < 4; ++i)
        if (!((t[i] >= 'A' && t[i] <= 'Z') || (t[i] >= 'a' && t[i] <= 'z'))) return false;
    return true;
}

// Whether the chunk at `at` (type and data of `length` bytes, then the CRC) reads in full with a
// matching CRC.
bool ChunkCrcHolds(CFindReader& reader, std::uint64_t at, std::uint32_t length) {
    std::uint8_t buffer[8192];
    std::uint32_t crc = 0xFFFFFFFFu;
    std::uint64_t left = std::uint64_t(length) + 4;  // type and data
    std::uint64_t pos = at + 4;
    while (left) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(left, sizeof buffer));
        if (!reader.Read(pos, buffer, n)) return false;
        crc = Crc(crc, buffer, n);
        pos += n;
        left -= n;
    }
    std::uint8_t stored[4];
    return reader.Read(pos, stored, 4) && Be32(stored) == (crc ^ 0xFFFFFFFFu);
}

}  // namespace

SizeAnswer PngSize(CFindReader& reader) {
    std::uint8_t head[16];
    if (!reader.Read(0, head, sizeof head) || std::memcmp(head, kSignature, 8) != 0) return SizeAnswer::NotThisFormat();
    if (Be32(head + 8) != 13 || std::memcmp(head + 12, "IHDR", 4) != 0 || !ChunkCrcHolds(reader, 8, 13))
        return SizeAnswer::NotThisFormat();
    std::uint64_t at = 8;
    for (;;) {
        std::uint8_t chunk[8];
        if (!reader.Read(at, chunk, 8)) return SizeAnswer::Unknown();
        const std::uint32_t length = Be32(chunk);
        if (length > kMaxChunk || !IsChunkType(chunk + 4)) return SizeAnswer::Unknown();
        if (!ChunkCrcHolds(reader, at, length)) return SizeAnswer::Unknown();  // cut short or overwritten
        at += 12 + std::uint64_t(length);
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) return SizeAnswer::Exact(at);
    }
}

}  // namespace vm
