#pragma once
// Reads of bytes that start inside a 512-byte unit, through a reader of whole units: the units
// are read aside and the bytes asked for copied out. Pure function of its arguments; any thread.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace vm {

// Copies into `buffer` the `length` bytes that start `skip` bytes into a read of whole units.
// `read(out, bytes)` fills `out` (room for `bytes` rounded up to whole units) with the bytes
// from the unit boundary on and answers how many it delivered. The answer is the bytes delivered
// from the start asked for, at most `length`; the rest of `buffer` is what `read` left there.
template <class Read>
std::uint32_t ReadFromInsideUnit(std::uint32_t skip, void* buffer, std::uint32_t length, Read&& read) {
    constexpr std::uint32_t kUnit = 512;
    if (skip == 0 && length % kUnit == 0) return std::min<std::uint32_t>(read(buffer, length), length);
    length = std::min(length, std::numeric_limits<std::uint32_t>::max() - kUnit - skip);
    const std::uint32_t span = skip + length;
    std::vector<std::uint8_t> whole((std::size_t(span) + kUnit - 1) / kUnit * kUnit);
    const std::uint64_t got = read(whole.data(), span);
    std::memcpy(buffer, whole.data() + skip, length);
    return got > skip ? std::uint32_t(std::min<std::uint64_t>(got - skip, length)) : 0;
}

}  // namespace vm
