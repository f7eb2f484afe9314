#include "signatures/ByteScan.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace vm::bytescan {
namespace {

[[maybe_unused]] void StartMasksScalar(const std::uint8_t* p, std::size_t words, const StartBytes& start,
                                       std::uint64_t* out) {
    for (std::size_t w = 0; w < words; ++w) {
        std::uint64_t mask = 0;
        for (std::size_t b = 0; b < 64; ++b)
            if (start.At(p + 64 * w + b)) mask |= std::uint64_t(1) << b;
        out[w] = mask;
    }
}

#if defined(__x86_64__) || defined(__i386__)
template <std::size_t N>
void StartMasksSse2N(const std::uint8_t* p, std::size_t words, const StartBytes& start, std::uint64_t* out) {
    const __m128i fold = _mm_set1_epi8(char(start.Fold));
    const __m128i first = _mm_set1_epi8(char(start.First));
    __m128i seconds[N > 0 ? N : 1];
    for (std::size_t i = 0; i < N; ++i) seconds[i] = _mm_set1_epi8(char(start.Seconds[i]));
    for (std::size_t w = 0; w < words; ++w) {
        std::uint64_t mask = 0;
        for (int j = 0; j < 4; ++j) {
            const std::uint8_t* q = p + 64 * w + 16 * j;
            __m128i hit = _mm_cmpeq_epi8(_mm_or_si128(_mm_loadu_si128((const __m128i*)q), fold), first);
            if constexpr (N > 0) {
                const __m128i next = _mm_or_si128(_mm_loadu_si128((const __m128i*)(q + 1)), fold);
                __m128i any = _mm_cmpeq_epi8(next, seconds[0]);
                for (std::size_t i = 1; i < N; ++i) any = _mm_or_si128(any, _mm_cmpeq_epi8(next, seconds[i]));
                hit = _mm_and_si128(hit, any);
            }
            mask |= std::uint64_t(std::uint32_t(_mm_movemask_epi8(hit))) << (16 * j);
        }
        out[w] = mask;
    }
}

template <std::size_t N>
__attribute__((target("avx2"))) void StartMasksAvx2N(const std::uint8_t* p, std::size_t words,
                                                     const StartBytes& start, std::uint64_t* out) {
    const __m256i fold = _mm256_set1_epi8(char(start.Fold));
    const __m256i first = _mm256_set1_epi8(char(start.First));
    __m256i seconds[N > 0 ? N : 1];
    for (std::size_t i = 0; i < N; ++i) seconds[i] = _mm256_set1_epi8(char(start.Seconds[i]));
    for (std::size_t w = 0; w < words; ++w) {
        const std::uint8_t* q = p + 64 * w;
        __m256i lo = _mm256_cmpeq_epi8(_mm256_or_si256(_mm256_loadu_si256((const __m256i*)q), fold), first);
        __m256i hi = _mm256_cmpeq_epi8(_mm256_or_si256(_mm256_loadu_si256((const __m256i*)(q + 32)), fold), first);
        if constexpr (N > 0) {
            const __m256i nextLo = _mm256_or_si256(_mm256_loadu_si256((const __m256i*)(q + 1)), fold);
            const __m256i nextHi = _mm256_or_si256(_mm256_loadu_si256((const __m256i*)(q + 33)), fold);
            __m256i anyLo = _mm256_cmpeq_epi8(nextLo, seconds[0]);
            __m256i anyHi = _mm256_cmpeq_epi8(nextHi, seconds[0]);
            for (std::size_t i = 1; i < N; ++i) {
                anyLo = _mm256_or_si256(anyLo, _mm256_cmpeq_epi8(nextLo, seconds[i]));
                anyHi = _mm256_or_si256(anyHi, _mm256_cmpeq_epi8(nextHi, seconds[i]));
            }
            lo = _mm256_and_si256(lo, anyLo);
            hi = _mm256_and_si256(hi, anyHi);
        }
        out[w] = std::uint64_t(std::uint32_t(_mm256_movemask_epi8(lo))) |
                 std::uint64_t(std::uint32_t(_mm256_movemask_epi8(hi))) << 32;
    }
}

template <template <std::size_t> class Width>
void ByCount(const std::uint8_t* p, std::size_t words, const StartBytes& start, std::uint64_t* out) {
    switch (start.SecondCount) {
        case 0: return Width<0>::Run(p, words, start, out);
        case 1: return Width<1>::Run(p, words, start, out);
        case 2: return Width<2>::Run(p, words, start, out);
        case 3: return Width<3>::Run(p, words, start, out);
        default: return Width<4>::Run(p, words, start, out);
    }
}

template <std::size_t N>
struct Sse2 {
    static void Run(const std::uint8_t* p, std::size_t w, const StartBytes& s, std::uint64_t* o) { StartMasksSse2N<N>(p, w, s, o); }
};
template <std::size_t N>
struct Avx2 {
    static void Run(const std::uint8_t* p, std::size_t w, const StartBytes& s, std::uint64_t* o) { StartMasksAvx2N<N>(p, w, s, o); }
};

StartMaskFn ChooseStartMasks() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? ByCount<Avx2> : ByCount<Sse2>;
}
#else
StartMaskFn ChooseStartMasks() { return StartMasksScalar; }
#endif

}  // namespace

StartMaskFn StartMasks() {
    static const StartMaskFn chosen = ChooseStartMasks();
    return chosen;
}

}  // namespace vm::bytescan
