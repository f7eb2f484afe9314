#include "signatures/CompiledMatcher.h"

#include <algorithm>
#include <map>

#include "signatures/ByteScan.h"

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
    std::map<std::size_t, std::vector<std::pair<std::uint8_t, Entry>>> filed;
    for (std::uint32_t g = 0; g < Variants.size(); ++g) {
        const auto& f = fixed[g];
        if (f.empty()) {
            if (!FileUnderSearch(g)) Unanchored.push_back(g);
            continue;
        }
        auto anchor = f.find(0);
        if (anchor == f.end())
            anchor = std::max_element(f.begin(), f.end(), [&](const auto& a, const auto& b) {
                return popularity[a.first] < popularity[b.first];
            });
        // The second byte: preferably one that is neither 00 nor FF, the commonest bytes on a drive.
        auto check = anchor;
        for (auto it = f.begin(); it != f.end(); ++it) {
            if (it == anchor) continue;
            const bool plain = it->second != 0x00 && it->second != 0xFF;
            if (check == anchor || (plain && (check->second == 0x00 || check->second == 0xFF))) check = it;
        }
        filed[anchor->first].push_back({anchor->second, {g, check->first, check->second}});
    }

    std::size_t worstBuckets = 0;
    for (auto& [offset, entries] : filed) {
        AnchorTable& table = Tables.emplace_back();
        table.Offset = offset;
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::array<std::size_t, 256> perByte{};
        for (const auto& [byte, entry] : entries) {
            table.Entries.push_back(entry);
            ++perByte[byte];
        }
        for (std::size_t b = 0; b < 256; ++b)
            table.Start[b + 1] = table.Start[b] + std::uint32_t(perByte[b]);
        worstBuckets += *std::max_element(perByte.begin(), perByte.end());
    }
    std::size_t searchers = 0;
    for (const SearchGroup& group : Searches) searchers += group.Tests.size();
    MaxCandidates = worstBuckets + searchers + Unanchored.size();
}

bool CCompiledMatcher::FileUnderSearch(std::uint32_t variant) {
    const std::vector<SignatureCondition>& conditions = Variants[variant].Test.Conditions;
    for (std::uint32_t i = 0; i < conditions.size(); ++i) {
        const SignatureCondition& c = conditions[i];
        // An empty string is always found; one longer than the span never is.
        if (!IsSearchKind(c.Kind) || c.Length == 0 || c.Length > kSearchSpan) continue;
        const std::uint8_t fold = c.Kind == SC_SEARCH_NOCASE ? 0x20 : 0;
        const std::uint8_t first = c.DataByte(0) | fold;
        const std::uint8_t second = c.DataByte(1) | fold;
        // Does the group's start test let this string's starts through?
        const auto admits = [&](const bytescan::StartBytes& s) {
            if (s.SecondCount == 0 || c.Length == 1) return true;
            return std::find(s.Seconds, s.Seconds + s.SecondCount, second) != s.Seconds + s.SecondCount ||
                   s.SecondCount < bytescan::kMaxSeconds;
        };
        auto group = std::find_if(Searches.begin(), Searches.end(), [&](const SearchGroup& s) {
            return s.Offset == c.Offset && s.Start.Fold == fold && s.Start.First == first &&
                   s.Tests.size() < 64 && admits(s.Start);
        });
        if (group == Searches.end()) {
            group = Searches.emplace(Searches.end());
            group->Offset = c.Offset;
            group->Start.Fold = fold;
            group->Start.First = first;
            group->MinLength = c.Length;
            if (c.Length > 1) group->Start.Seconds[group->Start.SecondCount++] = second;
        } else if (c.Length == 1) {
            group->Start.SecondCount = 0;  // a one-byte string: any next byte
        } else if (group->Start.SecondCount != 0 &&
                   std::find(group->Start.Seconds, group->Start.Seconds + group->Start.SecondCount, second) ==
                       group->Start.Seconds + group->Start.SecondCount) {
            group->Start.Seconds[group->Start.SecondCount++] = second;
        }
        group->MinLength = std::min<std::size_t>(group->MinLength, c.Length);
        group->Tests.push_back({variant, i});
        return true;
    }
    return false;
}

std::size_t CCompiledMatcher::GatherSearches(std::span<const std::uint8_t> unit,
                                             std::uint32_t* out) const {
    std::size_t n = 0;
    const std::uint8_t* base = unit.data();
    for (const SearchGroup& group : Searches) {
        const std::size_t first = group.Offset;
        if (first > unit.size() || unit.size() - first < group.MinLength) continue;
        const std::size_t last = std::min(first + (kSearchSpan - group.MinLength), unit.size() - group.MinLength);
        std::uint64_t pending = group.Tests.size() == 64 ? ~std::uint64_t(0)
                                                         : (std::uint64_t(1) << group.Tests.size()) - 1;
        bytescan::ScanCandidates(base, unit.size(), first, last, group.Start, [&](std::size_t at) {
            for (std::uint64_t open = pending; open != 0; open &= open - 1) {
                const unsigned t = unsigned(__builtin_ctzll(open));
                const SearchTest& test = group.Tests[t];
                const SignatureCondition& c = Variants[test.Variant].Test.Conditions[test.Condition];
                const std::size_t len = c.Length;
                if (at > first + (kSearchSpan - len) || unit.size() - at < len) continue;
                std::size_t i = 1;
                while (i < len && (base[at + i] | group.Start.Fold) == (c.DataByte(i) | group.Start.Fold)) ++i;
                if (i < len) continue;
                out[n++] = test.Variant;
                pending &= ~(std::uint64_t(1) << t);
            }
            return pending == 0;
        });
    }
    return n;
}

std::size_t CCompiledMatcher::Gather(std::span<const std::uint8_t> unit, std::uint32_t* out) const {
    std::size_t n = 0;
    for (const AnchorTable& table : Tables) {
        if (table.Offset >= unit.size()) continue;  // every variant filed here reads past the block
        const std::uint8_t b = unit[table.Offset];
        for (std::uint32_t i = table.Start[b]; i < table.Start[b + 1]; ++i) {
            const Entry& e = table.Entries[i];
            // A second byte outside the block also rules the variant out: it must be read.
            if (e.CheckOffset < unit.size() && unit[e.CheckOffset] == e.CheckValue) out[n++] = e.Variant;
        }
    }
    n += GatherSearches(unit, out + n);
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
