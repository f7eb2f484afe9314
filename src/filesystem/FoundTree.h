#pragma once
// Every file and folder found on one drive, reachable by its id, its parent's id and its
// position on the drive, with the synthetic folders for what has no real parent.
//
// Threads: the analysis thread and the sector-search workers add items while the window and the
// find thread read. Every operation takes the tree's lock, and each AddFound, AddLost and
// EnableOffsetIndex is one unit under it. Items stay at their address until Clear. A reader
// that reads fields the tree may still change (Size of lost files, Flags) holds Mutex() while it
// does; the lock is recursive, so tree operations may be called while holding it.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "filesystem/FoundItem.h"
#include "filesystem/ItemHandle.h"
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

    // The catalogue; null (the default) behaves as a catalogue without types.
    void SetTypeLookup(const ITypeLookup* lookup);
    // The Id of the drive root item: the parent of "Lost folders" and "Lost files".
    void SetDriveRootId(std::int32_t id);

    // Files a copy of an analyser's record (its name is copied too). Null when the record's type
    // is not selected or it cannot be filed.
    FoundItem* AddFound(const FoundItem& rec, bool notify);
    // Takes over a heap record of the sector search (new FoundItem) in every case: the record is
    // consumed and must not be used afterwards; the filed item (or the existing item at the same
    // position) is returned, null when the type is not selected. A name the record carries is
    // copied; the caller keeps its buffer.
    FoundItem* AddLost(FoundItem* rec, bool notify);
    // Files an item kept elsewhere (drive and analyser root items). With `own` the item is a
    // heap item (new FoundItem) that the tree deletes at Clear; an FI_DRIVE item never is.
    void Insert(FoundItem* item, bool own);

    // Cursor: -1 to start; each call moves it on. Null when no further item has that key.
    FoundItem* FindById(std::int32_t id, std::intptr_t& cursor) const;
    FoundItem* FindById(std::int32_t id) const;  // the first item with that id
    // The first folder (or drive root item) with that id: the parent of the items below it.
    // A deleted file may carry the id of a live folder (FAT reuses first clusters), so parent
    // lookups go through here.
    FoundItem* FindFolderById(std::int32_t id) const;
    FoundItem* FindByParent(std::int32_t parentId, std::intptr_t& cursor) const;
    void GetChildren(std::int32_t parentId, std::vector<FoundItem*>& list) const;
    // Every item, in id order, taken under the lock: for readers that walk the whole tree while
    // an analysis may still add to it.
    void Snapshot(std::vector<FoundItem*>& out) const;
    // Position index: items whose position on the drive is known (DataOffset not 0) and lost
    // files, while the index is on.
    FoundItem* FindAtOffset(std::uint64_t offset) const;
    // The first item positioned beyond `offset`, when some item lies at `offset`.
    FoundItem* FindNextAfter(std::uint64_t offset) const;
    // The first item positioned beyond item.DataOffset with the same FileType.
    FoundItem* FindNextSameType(const FoundItem& item) const;
    // With `on` turns the position index on (it stays on); rebuilds it from every item.
    void EnableOffsetIndex(bool on);
    bool OffsetIndexEnabled() const;
    void MarkDeletedAncestors(FoundItem* item);
    // MarkDeletedAncestors for every deleted item of the tree: the folders that hold deleted
    // items somewhere below them show so.
    void MarkDeletedFolders();
    FoundItem* GetLostFoldersItem();
    FoundItem* GetLostFilesItem();
    void Clear();

    // Handles for windows and jobs (see ItemHandle.h). The generation changes with every Clear.
    std::uint64_t Generation() const;
    ItemHandle HandleOf(const FoundItem* item) const;
    // The handle was taken in this generation of the tree (its item is still filed).
    bool IsCurrent(const ItemHandle& handle) const;
    // The item's fields, or false when the handle is stale or empty.
    bool Read(const ItemHandle& handle, ItemSnapshot& out) const;
    // Runs f(item) under the tree's lock when the handle is current; false when it is not.
    template <typename F>
    bool WithItem(const ItemHandle& handle, F&& f) const {
        std::lock_guard g(Lock);
        if (!handle.Item || handle.Generation != Gen) return false;
        f(const_cast<FoundItem&>(*handle.Item));
        return true;
    }
    // The handles of the items below that folder id (folders only when asked), in index order.
    std::vector<ItemHandle> ChildHandles(std::int32_t parentId, bool foldersOnly = false) const;
    // Whether some folder has that parent id (a tree node shows an expand button).
    bool HasChildFolders(std::int32_t parentId) const;

    std::int32_t RootId = 0;

    std::size_t Count() const;             // items in the tree
    std::size_t OffsetIndexCount() const;  // entries of the position index
    std::recursive_mutex& Mutex() const { return Lock; }

private:
    struct Impl;
    std::unique_ptr<Impl> P;
    mutable std::recursive_mutex Lock;
    std::uint64_t Gen = 1;  // guarded by Lock
};

}  // namespace vm
