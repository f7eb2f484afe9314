#pragma once
// Finding the start positions of a string in a unit quickly: 64 positions at a time are compared
// in vector registers (AVX2 where the processor has it, else SSE2), and only the positions whose
// first one or two bytes fit are looked at further.
#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace vm::bytescan {

inline constexpr std::size_t kMaxSeconds = 4;

// What a start position must hold: its byte, OR-ed with Fold, is First, and the next byte,
// OR-ed likewise, is one of Seconds (any when SecondCount is 0).
struct StartBytes {
    std::uint8_t Fold = 0;
    std::uint8_t First = 0;
    std::uint8_t Seconds[kMaxSeconds] = {};
    std::size_t SecondCount = 0;

    bool At(const std::uint8_t* p) const {
        if ((p[0] | Fold) != First) return false;
        if (SecondCount == 0) return true;
        for (std::size_t i = 0; i < SecondCount; ++i)
            if ((p[1] | Fold) == Seconds[i]) return true;
        return false;
    }
};

// Bit b of out[w] is set when position 64w + b of p holds the start bytes. Reads the bytes p[0]
// to p[64 * words].
using StartMaskFn = void (*)(const std::uint8_t* p, std::size_t words, const StartBytes& start,
                             std::uint64_t* out);
StartMaskFn StartMasks();

// Calls test(at) for every start position from `first` to `last` that holds the start bytes,
// in ascending order, until a test answers true; the result is whether one did. Bytes of `base`
// below `size` may be read, and the bytes compared at `last` must lie below size.
template <typename Test>
bool ScanCandidates(const std::uint8_t* base, std::size_t size, std::size_t first, std::size_t last,
                    const StartBytes& startBytes, Test&& test) {
    const StartMaskFn masksOf = StartMasks();
    std::size_t at = first;
    while (at <= last) {
        // Whole words of 64 positions whose 65 bytes lie inside, at most 8 at a time.
        const std::size_t wanted = (last - at) / 64 + 1;
        const std::size_t room = (size - at - 1) / 64;
        const std::size_t words = std::min<std::size_t>({wanted, room, 8});
        if (words == 0) break;
        std::uint64_t masks[8];
        masksOf(base + at, words, startBytes, masks);
        for (std::size_t w = 0; w < words; ++w) {
            std::uint64_t mask = masks[w];
            const std::size_t start = at + 64 * w;
            if (last - start < 63) mask &= (std::uint64_t(2) << (last - start)) - 1;
            for (; mask != 0; mask &= mask - 1)
                if (test(start + std::size_t(__builtin_ctzll(mask)))) return true;
        }
        at += 64 * words;
    }
    for (; at <= last; ++at)
        if (startBytes.At(base + at) && test(at)) return true;
    return false;
}

}  // namespace vm::bytescan
