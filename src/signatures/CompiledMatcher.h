#pragma once
// The catalogue's signatures compiled for the sector search. Each variant is filed under one
// byte that it fixes (its anchor: a byte at a fixed offset that every unit it matches must
// hold), in a 256-way table per anchor offset; variants that fix no byte (searches, ranges,
// empty variants) are tried on every unit. A unit is tested by looking up its byte at each
// anchor offset, so a unit that matches nothing costs a few table lookups, and only the
// variants filed under the bytes it holds are evaluated in full. Variants that fix no byte but
// search for a string are grouped by the string's first byte: one vector scan per group finds
// where their strings may start.
//
// The result is exactly that of testing every type's Matches in list order: the same types,
// reported in the same order. The matcher holds its own copy of the signatures and never
// changes after construction, so any number of threads may use one matcher at once.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "signatures/ByteScan.h"
#include "signatures/FileTypeDescriptor.h"

namespace vm {

class CCompiledMatcher {
public:
    explicit CCompiledMatcher(std::span<const FileTypeDescriptor* const> types);
    explicit CCompiledMatcher(const std::vector<std::unique_ptr<FileTypeDescriptor>>& types);

    std::size_t TypeCount() const { return TypeIds.size(); }
    // The TypeId of the type at that position of the list compiled.
    std::int32_t TypeId(std::size_t index) const { return TypeIds[index]; }

    // Calls onMatch(index) for every type that matches the unit, in list order, while it
    // returns true. `unit` runs from the unit's start to the end of its block.
    template <typename F>
    void ForEachMatch(std::span<const std::uint8_t> unit, F&& onMatch) const;
    // Position of the first type that matches, or -1.
    long FirstMatch(std::span<const std::uint8_t> unit) const;
    // The positions of every matching type, in list order (out is cleared first).
    void AllMatches(std::span<const std::uint8_t> unit, std::vector<std::uint32_t>& out) const;

    // For the benchmark and tests: how many anchor tables and unanchored variants there are.
    std::size_t AnchorTableCount() const { return Tables.size(); }
    std::size_t UnanchoredCount() const { return Unanchored.size(); }
    std::size_t SearchGroupCount() const { return Searches.size(); }

private:
    struct Variant {
        std::uint32_t TypeIndex;
        SignatureVariant Test;
    };
    // A variant filed under its anchor byte, with a second byte it fixes, tested before the
    // variant is taken as a candidate (the anchor itself when it fixes no other).
    struct Entry {
        std::uint32_t Variant;
        std::size_t CheckOffset;
        std::uint8_t CheckValue;
    };
    struct AnchorTable {
        std::size_t Offset = 0;
        std::array<std::uint32_t, 257> Start{};  // entries of byte b: Entries[Start[b], Start[b+1])
        std::vector<Entry> Entries;              // ascending variant positions within a byte
    };
    // Search conditions whose strings start with the same byte at the same offset, compared the
    // same way; each stands for its variant.
    struct SearchTest {
        std::uint32_t Variant;
        std::uint32_t Condition;  // its position in the variant
    };
    struct SearchGroup {
        std::size_t Offset = 0;
        bytescan::StartBytes Start;  // the strings' first byte and their second bytes, folded
        std::size_t MinLength = 0;
        std::vector<SearchTest> Tests;  // at most 64
    };
    // Room for the candidates of one unit: on the stack for ordinary catalogues, else a
    // per-thread buffer (a fresh one when a callback tests another unit on the same thread).
    class Scratch {
    public:
        explicit Scratch(std::size_t need);
        ~Scratch();
        Scratch(const Scratch&) = delete;
        Scratch& operator=(const Scratch&) = delete;
        std::uint32_t* Data() { return Buffer; }

    private:
        std::array<std::uint32_t, 64> Local;
        std::vector<std::uint32_t> Own;
        std::uint32_t* Buffer;
        bool HoldsThreadBuffer = false;
    };

    void Compile(std::span<const FileTypeDescriptor* const> types);
    // Files an unanchored variant under a search group; false when it has no search to key on.
    bool FileUnderSearch(std::uint32_t variant);
    std::size_t GatherSearches(std::span<const std::uint8_t> unit, std::uint32_t* out) const;
    // The candidate variants for the unit, ascending, into `out` (room for MaxCandidates).
    std::size_t Gather(std::span<const std::uint8_t> unit, std::uint32_t* out) const;

    std::vector<std::int32_t> TypeIds;
    std::vector<Variant> Variants;           // in list order of types, then of their variants
    std::vector<AnchorTable> Tables;
    std::vector<SearchGroup> Searches;
    std::vector<std::uint32_t> Unanchored;   // ascending; tried on every unit
    std::size_t MaxCandidates = 0;
};

template <typename F>
void CCompiledMatcher::ForEachMatch(std::span<const std::uint8_t> unit, F&& onMatch) const {
    Scratch scratch(MaxCandidates);
    std::uint32_t* candidates = scratch.Data();
    const std::size_t n = Gather(unit, candidates);
    std::uint32_t matchedType = UINT32_MAX;
    for (std::size_t i = 0; i < n; ++i) {
        const Variant& v = Variants[candidates[i]];
        if (v.TypeIndex == matchedType) continue;  // the type already matched by an earlier variant
        if (!v.Test.Holds(unit)) continue;
        matchedType = v.TypeIndex;
        if (!onMatch(std::size_t(v.TypeIndex))) return;
    }
}

}  // namespace vm
