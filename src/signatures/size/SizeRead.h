#pragma once
// Small helpers the size checks share: fixed-width fields of either byte order read through a
// find reader.
#include <cstdint>

#include "platform/ByteOrder.h"
#include "signatures/SizeCheck.h"

namespace vm::sizecheck {

using vm::Le16;
using vm::Le32;
inline std::uint16_t Be16(const std::uint8_t* p) { return std::uint16_t((p[0] << 8) | p[1]); }
inline std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

// A byte at `offset`, or -1 when it cannot be read.
inline int ReadByte(CFindReader& reader, std::uint64_t offset) {
    std::uint8_t b = 0;
    return reader.Read(offset, &b, 1) ? b : -1;
}

// Whether the whole file of `size` bytes lies readable within the reader's bound.
inline bool Readable(CFindReader& reader, std::uint64_t size) {
    std::uint8_t b = 0;
    return size > 0 && reader.Read(size - 1, &b, 1);
}

}  // namespace vm::sizecheck
