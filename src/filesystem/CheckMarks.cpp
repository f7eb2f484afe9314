#include "filesystem/CheckMarks.h"

#include <unordered_set>
#include <vector>

namespace vm {
namespace {

void Adjust(FoundItem& item, int delta) {
    const long long count = (long long)item.CheckedCount + delta;
    item.CheckedCount = count < 0 ? 0 : std::uint32_t(count);
}

// The folders above `item`, nearest first; a damaged parent chain that loops ends the walk.
std::vector<FoundItem*> Ancestors(const CFoundTree& tree, const FoundItem& item) {
    std::vector<FoundItem*> out;
    std::unordered_set<const FoundItem*> seen{&item};
    std::int32_t next = item.SignedParentId();
    while (FoundItem* parent = tree.FindFolderById(next)) {
        if (!seen.insert(parent).second) break;
        out.push_back(parent);
        if (parent->Is(FI_DRIVE)) break;
        next = parent->SignedParentId();
    }
    return out;
}

// Sets or clears the mark; the change in the number of checked folders (-1, 0, +1).
int Mark(FoundItem& item, bool checked) {
    if (item.Is(FI_CHECKED) == checked) return 0;
    item.Flags = std::uint16_t(checked ? item.Flags | FI_CHECKED : item.Flags & ~FI_CHECKED);
    return checked ? 1 : -1;
}

}  // namespace

bool ToggleFolderCheck(CFoundTree& tree, const ItemHandle& handle) {
    std::lock_guard g(tree.Mutex());
    return tree.WithItem(handle, [&](FoundItem& folder) {
        const bool check = !folder.Is(FI_CHECKED);
        int below = 0;
        for (const ItemHandle& child : tree.ChildHandles(folder.SignedId(), true)) {
            auto* c = const_cast<FoundItem*>(child.Item);
            if (c != &folder) below += Mark(*c, check);
        }
        Adjust(folder, below);
        int change = Mark(folder, check) + below;
        const std::vector<FoundItem*> up = Ancestors(tree, folder);
        if (!check && !up.empty() && up.front()->Is(FI_CHECKED)) {
            // The parent's mark goes with its child's: it stays partly checked by what is left.
            Mark(*up.front(), false);
            for (std::size_t i = 1; i < up.size(); ++i) Adjust(*up[i], -1);
        }
        for (FoundItem* ancestor : up) Adjust(*ancestor, change);
    });
}

CheckState CheckStateOf(const FoundItem& item) {
    if (item.Is(FI_CHECKED)) return CS_CHECKED;
    return item.CheckedCount > 0 ? CS_PARTLY : CS_UNCHECKED;
}

}  // namespace vm
