#pragma once
// The signature language: a condition tests the bytes of one 512-byte unit of a drive, a
// variant is a list of conditions that must all hold. Evaluation reads only the bytes handed in
// (the unit's start up to the end of the block that holds it) and allocates nothing.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vm {

enum SignatureKind : std::uint32_t {
    SC_BYTE = 1,
    SC_WORD = 2,
    SC_DWORD = 4,
    SC_QWORD = 8,
    SC_BYTE_RANGE = 16,
    SC_WORD_RANGE = 32,
    SC_BYTES = 256,
    SC_SEARCH = 0x1000,
    SC_SEARCH_NOCASE = 0x2000,
    SC_MASKED = 0x10000,
    SC_MASKED_BITS = 0x20000,
};

// Width in bytes of a value kind (SC_BYTE .. SC_QWORD), else 0.
unsigned ValueWidth(std::uint32_t kind);
bool IsValueKind(std::uint32_t kind);
bool IsMaskedKind(std::uint32_t kind);
bool IsSearchKind(std::uint32_t kind);
// The `Length` a condition of that kind gets when it is created with length 0: the width of a
// value kind, two bounds for a range kind, the whole area of a masked kind, else 0.
std::uint16_t DefaultLength(std::uint32_t kind);

// Positions tested by the search kinds: p + i for i from 0 to kSearchSpan - Length.
inline constexpr std::size_t kSearchSpan = 511;
inline constexpr std::size_t kMaskedAreaSize = 1024;

struct SignatureCondition {
    std::uint32_t Kind = 0;
    std::uint32_t Offset = 0;   // from the start of the unit
    std::uint16_t Repeat = 0;   // further one-byte steps at which the test is repeated
    std::uint16_t Length = 0;   // data bytes used
    std::vector<std::uint8_t> Data;  // the stored data area, as it is stored

    // Does the condition hold at the unit? `unit` runs from the unit's start to the end of its
    // block; a test that would read past it fails.
    bool Holds(std::span<const std::uint8_t> unit) const;

    // The value a value or range kind compares with: data byte i, 0 past the data area.
    std::uint8_t DataByte(std::size_t i) const { return i < Data.size() ? Data[i] : 0; }
    std::uint64_t DataValue(std::size_t offset, unsigned width) const;
    // Pattern and mask of the masked kinds, and how many leading bytes are compared.
    const std::uint8_t* Pattern() const { return Data.data(); }
    const std::uint8_t* Mask() const { return Data.data() + Data.size() / 2; }
    std::size_t MaskedCount() const;

    // Every byte of the unit this condition fixes, as (offset from the unit, value): a unit
    // lacking one of them cannot satisfy the condition.
    template <typename F>
    void ForEachFixedByte(F&& f) const;

private:
    bool HoldsValue(std::span<const std::uint8_t> unit) const;
    bool HoldsRange(std::span<const std::uint8_t> unit) const;
    bool HoldsBytes(std::span<const std::uint8_t> unit) const;
    bool HoldsSearch(std::span<const std::uint8_t> unit) const;
    bool HoldsMasked(std::span<const std::uint8_t> unit) const;
};

class SignatureVariant {
public:
    // Appends a condition. With `length` 0 the length follows the kind; the data area holds
    // `length` bytes (1024 for the masked kinds: a 512-byte pattern, then a 512-byte mask),
    // copied from `data` and padded with zeros.
    SignatureCondition& AddCondition(std::uint32_t kind, std::span<const std::uint8_t> data,
                                     std::uint32_t offset, std::uint16_t length,
                                     std::uint16_t repeat);

    // Every condition in order; the first that fails ends the test. No condition: holds.
    bool Holds(std::span<const std::uint8_t> unit) const;

    std::vector<SignatureCondition> Conditions;
};

template <typename F>
void SignatureCondition::ForEachFixedByte(F&& f) const {
    if (IsValueKind(Kind)) {
        // Repeated steps all start inside the first value, so the first value's bytes are fixed.
        const unsigned width = ValueWidth(Kind);
        for (unsigned i = 0; i < width; ++i) f(std::size_t(Offset) + i, DataByte(i));
    } else if (Kind == SC_BYTES) {
        for (std::size_t i = 0; i < Length; ++i) f(std::size_t(Offset) + i, DataByte(i));
    } else if (Kind == SC_MASKED) {
        const std::size_t n = MaskedCount();
        for (std::size_t i = 0; i < n; ++i)
            if (Mask()[i] != 0) f(std::size_t(Offset) + i, Pattern()[i]);
    }
}

}  // namespace vm
