#include "signatures/Signature.h"

#include "signatures/ByteScan.h"

#include <algorithm>
#include <cstring>


namespace vm {

unsigned ValueWidth(std::uint32_t kind) {
    switch (kind) {
        case SC_BYTE: return 1;
        case SC_WORD: return 2;
        case SC_DWORD: return 4;
        case SC_QWORD: return 8;
        default: return 0;
    }
}

bool IsValueKind(std::uint32_t kind) { return ValueWidth(kind) != 0; }
bool IsMaskedKind(std::uint32_t kind) { return kind == SC_MASKED || kind == SC_MASKED_BITS; }
bool IsSearchKind(std::uint32_t kind) { return kind == SC_SEARCH || kind == SC_SEARCH_NOCASE; }

std::uint16_t DefaultLength(std::uint32_t kind) {
    if (IsValueKind(kind)) return std::uint16_t(ValueWidth(kind));
    if (IsMaskedKind(kind)) return std::uint16_t(kMaskedAreaSize);
    if (kind == SC_BYTE_RANGE) return 2;  // low and high bound
    if (kind == SC_WORD_RANGE) return 4;
    return 0;
}

namespace {

std::uint64_t ReadLE(const std::uint8_t* p, unsigned width) {
    std::uint64_t v = 0;
    for (unsigned i = width; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

// True when `count` bytes starting `start` bytes into the unit lie inside it.
bool Fits(std::span<const std::uint8_t> unit, std::size_t start, std::size_t count) {
    return start <= unit.size() && count <= unit.size() - start;
}

}  // namespace

std::uint64_t SignatureCondition::DataValue(std::size_t offset, unsigned width) const {
    std::uint64_t v = 0;
    for (unsigned i = width; i-- > 0;) v = (v << 8) | DataByte(offset + i);
    return v;
}

std::size_t SignatureCondition::MaskedCount() const {
    return std::min<std::size_t>(Length, Data.size() / 2);
}

bool SignatureCondition::Holds(std::span<const std::uint8_t> unit) const {
    switch (Kind) {
        case SC_BYTE:
        case SC_WORD:
        case SC_DWORD:
        case SC_QWORD: return HoldsValue(unit);
        case SC_BYTE_RANGE:
        case SC_WORD_RANGE: return HoldsRange(unit);
        case SC_BYTES: return HoldsBytes(unit);
        case SC_SEARCH:
        case SC_SEARCH_NOCASE: return HoldsSearch(unit);
        case SC_MASKED: return HoldsMasked(unit);
        default: return true;  // SC_MASKED_BITS and unknown kinds are not evaluated
    }
}

bool SignatureCondition::HoldsValue(std::span<const std::uint8_t> unit) const {
    const unsigned width = ValueWidth(Kind);
    if (!Fits(unit, std::size_t(Offset) + Repeat, width)) return false;
    const std::uint64_t value = DataValue(0, width);
    for (std::size_t k = 0; k <= Repeat; ++k)
        if (ReadLE(unit.data() + Offset + k, width) != value) return false;
    return true;
}

bool SignatureCondition::HoldsRange(std::span<const std::uint8_t> unit) const {
    const unsigned width = Kind == SC_BYTE_RANGE ? 1 : 2;
    if (!Fits(unit, std::size_t(Offset) + Repeat, width)) return false;
    const std::uint64_t low = DataValue(0, width);
    const std::uint64_t high = DataValue(width, width);
    for (std::size_t k = 0; k <= Repeat; ++k) {
        const std::uint64_t v = ReadLE(unit.data() + Offset + k, width);
        if (v < low || v > high) return false;
    }
    return true;
}

bool SignatureCondition::HoldsBytes(std::span<const std::uint8_t> unit) const {
    if (!Fits(unit, Offset, Length)) return false;
    const std::uint8_t* p = unit.data() + Offset;
    if (Data.size() >= Length) return std::memcmp(p, Data.data(), Length) == 0;
    for (std::size_t i = 0; i < Length; ++i)
        if (p[i] != DataByte(i)) return false;
    return true;
}

bool SignatureCondition::HoldsSearch(std::span<const std::uint8_t> unit) const {
    const std::size_t len = Length;
    // Start positions, relative to the unit: Offset .. Offset + 511 - Length, and the string
    // must end inside the block.
    const std::size_t first = Offset;
    if (len > kSearchSpan || first > unit.size() || unit.size() - first < len) return false;
    if (len == 0) return true;
    const std::size_t last = std::min(first + (kSearchSpan - len), unit.size() - len);

    const bool nocase = Kind == SC_SEARCH_NOCASE;
    const std::uint8_t fold = nocase ? 0x20 : 0;
    const std::uint8_t* base = unit.data();
    const auto matchesAt = [&](std::size_t at) {
        for (std::size_t i = 0; i < len; ++i)
            if ((base[at + i] | fold) != (DataByte(i) | fold)) return false;
        return true;
    };
    bytescan::StartBytes start;
    start.Fold = fold;
    start.First = DataByte(0) | fold;
    if (len > 1) start.Seconds[start.SecondCount++] = DataByte(1) | fold;
    return bytescan::ScanCandidates(base, unit.size(), first, last, start, matchesAt);
}

bool SignatureCondition::HoldsMasked(std::span<const std::uint8_t> unit) const {
    const std::size_t n = MaskedCount();
    const std::uint8_t* mask = Mask();
    const std::uint8_t* pattern = Pattern();
    for (std::size_t i = 0; i < n; ++i) {
        if (mask[i] == 0) continue;
        const std::size_t at = std::size_t(Offset) + i;
        if (at >= unit.size() || unit[at] != pattern[i]) return false;
    }
    return true;
}

SignatureCondition& SignatureVariant::AddCondition(std::uint32_t kind,
                                                   std::span<const std::uint8_t> data,
                                                   std::uint32_t offset, std::uint16_t length,
                                                   std::uint16_t repeat) {
    SignatureCondition c;
    c.Kind = kind;
    c.Offset = offset;
    c.Repeat = repeat;
    c.Length = length != 0 ? length : DefaultLength(kind);
    c.Data.assign(IsMaskedKind(kind) ? kMaskedAreaSize : c.Length, 0);
    std::copy_n(data.begin(), std::min(data.size(), c.Data.size()), c.Data.begin());
    Conditions.push_back(std::move(c));
    return Conditions.back();
}

bool SignatureVariant::Holds(std::span<const std::uint8_t> unit) const {
    for (const SignatureCondition& c : Conditions)
        if (!c.Holds(unit)) return false;
    return true;
}

}  // namespace vm
