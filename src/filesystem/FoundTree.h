#pragma once
// Every file and folder found on one drive, reachable by its id, its parent's id and its
// position on the drive, with the synthetic folders for what has no real parent.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "filesystem/FoundItem.h"
#include "filesystem/TypeLookup.h"

namespace vm {

// Change codes posted with msg::FoundTreeChanged.
enum FoundTreeChange : std::intptr_t {
    FT_FILESYSTEM_ITEM = 1,
    FT_LOST_FILE = 2,
    FT_SIGNATURE_MATCH = 4,
    FT_PLACEHOLDER_MADE = 16,
    FT_PLACEHOLDER_REPLACED = 32,
};

class CFoundTree {
public:
    CFoundTree();
    ~CFoundTree();
    CFoundTree(const CFoundTree&) = delete;
    CFoundTree& operator=(const CFoundTree&) = delete;

    void SetTypeLookup(const ITypeLookup* lookup);

    FoundItem* AddFound(const FoundItem& rec, bool notify);
    FoundItem* AddLost(FoundItem* rec, bool notify);  // takes ownership of a heap record (new FoundItem)
    void Insert(FoundItem* item, bool own);

    // Cursor: -1 to start; each call moves it on. Null when no further item has that key.
    FoundItem* FindById(std::int32_t id, std::intptr_t& cursor) const;
    FoundItem* FindById(std::int32_t id) const;  // the first item with that id
    FoundItem* FindByParent(std::int32_t parentId, std::intptr_t& cursor) const;
    void GetChildren(std::int32_t parentId, std::vector<FoundItem*>& list) const;
    FoundItem* FindAtOffset(std::uint64_t offset) const;
    FoundItem* FindNextAfter(std::uint64_t offset) const;
    FoundItem* FindNextSameType(const FoundItem& item) const;
    void EnableOffsetIndex(bool on);
    void MarkDeletedAncestors(FoundItem* item);
    FoundItem* GetLostFoldersItem();
    FoundItem* GetLostFilesItem();
    void Clear();

    std::int32_t RootId = 0;

    std::size_t Count() const;
    std::mutex& Mutex() const { return Lock; }

private:
    struct Impl;
    std::unique_ptr<Impl> P;
    mutable std::mutex Lock;
};

}  // namespace vm
