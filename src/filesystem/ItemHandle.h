#pragma once
// A found item as a window or a job keeps it between two looks: the item and the generation of
// its tree when the handle was taken. A tree starts a new generation whenever it is cleared (a
// new analysis), so a handle kept across that is found stale instead of followed into freed
// memory. Handles are plain values; only the tree that made one can tell whether it still holds.
#include <cstdint>
#include <string>

#include "filesystem/FoundItem.h"

namespace vm {

struct ItemHandle {
    const FoundItem* Item = nullptr;
    std::uint64_t Generation = 0;

    explicit operator bool() const { return Item != nullptr; }
    bool operator==(const ItemHandle&) const = default;
};

// An item's fields copied under its tree's lock: safe to read on any thread at any time later.
struct ItemSnapshot {
    FoundItem Fields;  // Fields.Name is null: the name is `Name`
    std::string Name;

    bool Is(std::uint16_t flag) const { return Fields.Is(flag); }
};

}  // namespace vm
