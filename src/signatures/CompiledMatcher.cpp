#include "signatures/CompiledMatcher.h"

#include <algorithm>
#include <map>

namespace vm {
namespace {

// The bytes a variant fixes: offset → value. Conflicting values at one offset leave the first;
// such a variant can never hold, and any of its fixed bytes still rejects what it must.
std::map<std::size_t, std::uint8_t> FixedBytes(const SignatureVariant& variant) {
    std::map<std::size_t, std::uint8_t> fixed;
    for (const SignatureCondition& c : variant.Conditions)
        c.ForEachFixedByte([&](std::size_t offset, std::uint8_t value) { fixed.emplace(offset, value); });
    return fixed;
}

thread_local std::vector<std::uint32_t> tThreadBuffer;
thread_local bool tThreadBufferInUse = false;

}  // namespace

CCompiledMatcher::Scratch::Scratch(std::size_t need) {
    Buffer = &Local[0];
    if (need <= Local.size()) return;
    if (!tThreadBufferInUse) {
        tThreadBufferInUse = HoldsThreadBuffer = true;
        if (tThreadBuffer.size() < need) tThreadBuffer.resize(need);
        Buffer = tThreadBuffer.data();
    } else {
        Own.resize(need);
        Buffer = Own.data();
    }
}

CCompiledMatcher::Scratch::~Scratch() {
    if (HoldsThreadBuffer) tThreadBufferInUse = false;
}

CCompiledMatcher::CCompiledMatcher(std::span<const FileTypeDescriptor* const> types) {
    Compile(types);
}

CCompiledMatcher::CCompiledMatcher(const std::vector<std::unique_ptr<FileTypeDescriptor>>& types) {
    std::vector<const FileTypeDescriptor*> list;
    list.reserve(types.size());
    for (const auto& t : types) list.push_back(t.get());
    Compile(list);
}

void CCompiledMatcher::Compile(std::span<const FileTypeDescriptor* const> types) {
    std::vector<std::map<std::size_t, std::uint8_t>> fixed;
    for (std::size_t t = 0; t < types.size(); ++t) {
        TypeIds.push_back(types[t]->TypeId);
        for (const SignatureVariant& v : types[t]->Signatures) {
            Variants.push_back({std::uint32_t(t), v});
            fixed.push_back(FixedBytes(v));
        }
    }

    // Anchor choice: offset 0 when the variant fixes it, else the offset that most variants
    // without offset 0 fix, so that few tables serve them all.
    std::map<std::size_t, std::size_t> popularity;
    for (const auto& f : fixed)
        if (!f.empty() && !f.count(0))
            for (const auto& [offset, value] : f) ++popularity[offset];
    std::map<std::size_t, std::vector<std::pair<std::uint8_t, std::uint32_t>>> filed;
    for (std::uint32_t g = 0; g < Variants.size(); ++g) {
        const auto& f = fixed[g];
        if (f.empty()) {
            Unanchored.push_back(g);
            continue;
        }
        auto anchor = f.find(0);
        if (anchor == f.end())
            anchor = std::max_element(f.begin(), f.end(), [&](const auto& a, const auto& b) {
                return popularity[a.first] < popularity[b.first];
            });
        filed[anchor->first].push_back({anchor->second, g});
    }

    std::size_t worstBuckets = 0;
    for (auto& [offset, entries] : filed) {
        AnchorTable& table = Tables.emplace_back();
        table.Offset = offset;
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::array<std::size_t, 256> perByte{};
        for (const auto& [byte, g] : entries) {
            table.Entries.push_back(g);
            ++perByte[byte];
        }
        for (std::size_t b = 0; b < 256; ++b)
            table.Start[b + 1] = table.Start[b] + std::uint32_t(perByte[b]);
        worstBuckets += *std::max_element(perByte.begin(), perByte.end());
    }
    MaxCandidates = worstBuckets + Unanchored.size();
}

std::size_t CCompiledMatcher::Gather(std::span<const std::uint8_t> unit, std::uint32_t* out) const {
    std::size_t n = 0;
    for (const AnchorTable& table : Tables) {
        if (table.Offset >= unit.size()) continue;  // every variant filed here reads past the block
        const std::uint8_t b = unit[table.Offset];
        for (std::uint32_t i = table.Start[b]; i < table.Start[b + 1]; ++i) out[n++] = table.Entries[i];
    }
    if (n == 0 && Unanchored.empty()) return 0;
    for (std::uint32_t g : Unanchored) out[n++] = g;
    if (n > 1) std::sort(out, out + n);
    return n;
}

long CCompiledMatcher::FirstMatch(std::span<const std::uint8_t> unit) const {
    long first = -1;
    ForEachMatch(unit, [&](std::size_t index) {
        first = long(index);
        return false;
    });
    return first;
}

void CCompiledMatcher::AllMatches(std::span<const std::uint8_t> unit,
                                  std::vector<std::uint32_t>& out) const {
    out.clear();
    ForEachMatch(unit, [&](std::size_t index) {
        out.push_back(std::uint32_t(index));
        return true;
    });
}

}  // namespace vm
