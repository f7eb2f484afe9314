// Interim: the lookups the drive needs until the full tree lands.
#include "filesystem/FoundTree.h"

#include <cstring>

namespace vm {

struct CFoundTree::Impl {
    std::multimap<std::int32_t, FoundItem*> ById;
    std::vector<std::unique_ptr<FoundItem>> Owned;
    std::vector<std::unique_ptr<char[]>> OwnedNames;
};

CFoundTree::CFoundTree() : P(std::make_unique<Impl>()) {}
CFoundTree::~CFoundTree() = default;

void CFoundTree::Insert(FoundItem* item, bool own) {
    std::lock_guard<std::mutex> g(Lock);
    P->ById.emplace(item->SignedId(), item);
    if (own) P->Owned.emplace_back(item);
}

FoundItem* CFoundTree::AddFound(const FoundItem& rec, bool) {
    try {
        auto item = std::make_unique<FoundItem>(rec);
        if (rec.Name && !rec.Is(FI_DRIVE)) {
            const std::size_t n = std::strlen(rec.Name);
            auto name = std::make_unique<char[]>(n + 1);
            std::memcpy(name.get(), rec.Name, n + 1);
            item->Name = name.get();
            std::lock_guard<std::mutex> g(Lock);
            P->OwnedNames.push_back(std::move(name));
        }
        FoundItem* filed = item.release();
        Insert(filed, true);
        return filed;
    } catch (...) {
        return nullptr;
    }
}

FoundItem* CFoundTree::AddLost(FoundItem* rec, bool) {
    if (!rec) return nullptr;
    try {
        Insert(rec, true);
        return rec;
    } catch (...) {
        delete rec;
        return nullptr;
    }
}

void CFoundTree::EnableOffsetIndex(bool) {}

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
    P->OwnedNames.clear();
}

std::size_t CFoundTree::Count() const {
    std::lock_guard<std::mutex> g(Lock);
    return P->ById.size();
}

}  // namespace vm
