#include "filesystem/Lznt1.h"

#include <algorithm>
#include <cstring>

namespace vm {
namespace {

constexpr std::size_t kChunkOutput = 4096;

// One compressed chunk of `size` bytes into at most `room` bytes; the bytes produced, or -1
// when a back reference points before the chunk's start.
std::ptrdiff_t DecodeChunk(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t room) {
    std::size_t ip = 0, op = 0;
    while (ip < size && op < room) {
        const std::uint8_t flags = in[ip++];
        for (int bit = 0; bit < 8 && ip < size && op < room; ++bit) {
            if (!(flags & (1u << bit))) {
                out[op++] = in[ip++];
                continue;
            }
            if (ip + 2 > size) return -1;
            const std::uint16_t token = std::uint16_t(in[ip] | (in[ip + 1] << 8));
            ip += 2;
            // The split between displacement and length bits moves as the output grows.
            if (op == 0) return -1;
            unsigned lengthBits = 12;
            for (std::size_t p = op - 1; p >= 0x10 && lengthBits > 4; p >>= 1) --lengthBits;
            const std::size_t displacement = (token >> lengthBits) + 1;
            std::size_t length = (token & ((1u << lengthBits) - 1)) + 3;
            if (displacement > op) return -1;
            length = std::min(length, room - op);
            for (std::size_t i = 0; i < length; ++i, ++op) out[op] = out[op - displacement];
        }
    }
    return std::ptrdiff_t(op);
}

}  // namespace

std::size_t Lznt1Decompress(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize) {
    if (!in || !out) return 0;
    std::size_t ip = 0, op = 0;
    while (ip + 2 <= inSize && op < outSize) {
        const std::uint16_t header = std::uint16_t(in[ip] | (in[ip + 1] << 8));
        if (header == 0) break;
        const std::size_t size = std::size_t(header & 0x0FFF) + 1;
        ip += 2;
        if (ip + size > inSize) break;
        const std::size_t room = std::min(kChunkOutput, outSize - op);
        std::size_t produced;
        if (header & 0x8000) {
            std::ptrdiff_t n = DecodeChunk(in + ip, size, out + op, room);
            if (n < 0) break;
            produced = std::size_t(n);
        } else {
            produced = std::min(size, room);
            std::memcpy(out + op, in + ip, produced);
        }
        ip += size;
        // A short chunk still stands for a whole 4096 bytes, unless it is the last one.
        if (produced < room) std::memset(out + op + produced, 0, room - produced);
        op += room;
    }
    return op;
}

}  // namespace vm
