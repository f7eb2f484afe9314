// Interim: the lookups the drive needs until the full tree lands.
#include "filesystem/FoundTree.h"

namespace vm {

struct CFoundTree::Impl {
    std::multimap<std::int32_t, FoundItem*> ById;
    std::vector<std::unique_ptr<FoundItem>> Owned;
};

CFoundTree::CFoundTree() : P(std::make_unique<Impl>()) {}
CFoundTree::~CFoundTree() = default;

void CFoundTree::Insert(FoundItem* item, bool own) {
    std::lock_guard<std::mutex> g(Lock);
    P->ById.emplace(item->SignedId(), item);
    if (own) P->Owned.emplace_back(item);
}

FoundItem* CFoundTree::FindById(std::int32_t id, std::intptr_t& cursor) const {
    std::lock_guard<std::mutex> g(Lock);
    auto range = P->ById.equal_range(id);
    std::intptr_t i = 0;
    for (auto it = range.first; it != range.second; ++it, ++i)
        if (i > cursor) {
            cursor = i;
            return it->second;
        }
    return nullptr;
}

FoundItem* CFoundTree::FindById(std::int32_t id) const {
    std::intptr_t c = -1;
    return FindById(id, c);
}

void CFoundTree::Clear() {
    std::lock_guard<std::mutex> g(Lock);
    P->ById.clear();
    P->Owned.clear();
}

std::size_t CFoundTree::Count() const {
    std::lock_guard<std::mutex> g(Lock);
    return P->ById.size();
}

}  // namespace vm
