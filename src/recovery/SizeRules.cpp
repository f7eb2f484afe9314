#include "recovery/SizeRules.h"

#include <cstdint>

#include "filesystem/FoundTree.h"
#include "signatures/FileTypeCatalogue.h"

namespace vm {

void CTypeSizeTable::LoadFrom(const FileTypeCatalogue& catalogue) {
    std::lock_guard<std::mutex> g(Lock);
    for (const auto& type : catalogue.Types()) {
        if (!type || type->IsGroup || type->TypeId < INT16_MIN || type->TypeId > INT16_MAX) continue;
        Entry& e = Types[std::int16_t(type->TypeId)];
        if (e.Rule != SR_NONE) continue;  // remembered during this run of the program
        e.DefaultKB = type->DefaultSizeKB > 0 ? std::uint32_t(type->DefaultSizeKB) : 0;
        const bool known = type->SizeRule >= std::int32_t(SR_DEFAULT_SIZE) && type->SizeRule <= std::int32_t(SR_CUSTOM);
        e.Rule = known ? std::uint32_t(type->SizeRule) : SR_NONE;
    }
}

void CTypeSizeTable::SetDefaultSizeKB(std::int16_t typeId, std::uint32_t kb) {
    std::lock_guard<std::mutex> g(Lock);
    Types[typeId].DefaultKB = kb;
}

std::uint32_t CTypeSizeTable::DefaultSizeKB(std::int16_t typeId) const {
    std::lock_guard<std::mutex> g(Lock);
    auto it = Types.find(typeId);
    return it == Types.end() ? 0 : it->second.DefaultKB;
}

std::uint32_t CTypeSizeTable::RememberedRule(std::int16_t typeId) const {
    std::lock_guard<std::mutex> g(Lock);
    auto it = Types.find(typeId);
    return it == Types.end() ? SR_NONE : it->second.Rule;
}

void CTypeSizeTable::RememberRule(std::int16_t typeId, std::uint32_t rule, std::uint32_t customSizeKB) {
    std::lock_guard<std::mutex> g(Lock);
    Entry& e = Types[typeId];
    e.Rule = rule;
    if (rule == SR_CUSTOM) e.DefaultKB = customSizeKB;
}

namespace {

// The distance from the item to the one behind it; 0 when none lies behind it (an item at the
// same position gives no distance either).
std::uint64_t DistanceTo(const FoundItem& item, const FoundItem* next) {
    return next && next->DataOffset > item.DataOffset ? next->DataOffset - item.DataOffset : 0;
}

}  // namespace

std::uint64_t SizeByRule(std::uint32_t rule, const FoundItem& item, const CFoundTree& tree, const ITypeSizes& types,
                         std::uint64_t customBytes) {
    const std::uint64_t byDefault = std::uint64_t(types.DefaultSizeKB(item.FileType)) * 1024;
    std::uint64_t distance = 0;
    switch (rule) {
        case SR_DEFAULT_SIZE:
            return byDefault;
        case SR_NEXT_ANY_TYPE:
            distance = DistanceTo(item, tree.FindNextAfter(item.DataOffset));
            return distance ? distance : byDefault;
        case SR_NEXT_SAME_TYPE:
            distance = DistanceTo(item, tree.FindNextSameType(item));
            return distance ? distance : byDefault;
        case SR_CUSTOM:
            return customBytes;
        default:
            return SIZE_UNKNOWN;
    }
}

}  // namespace vm
