#include "filesystem/FoundTree.h"

#include <algorithm>
#include <array>
#include <exception>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "app/Format.h"
#include "app/Log.h"
#include "app/Notify.h"
#include "app/StringTable.h"
#include "filesystem/FoundStore.h"
#include "filesystem/SortedIndex.h"

namespace vm {
namespace {

constexpr int kStrLostFolders = 4352;
constexpr int kStrLostFile = 4865;
constexpr int kStrLostFilesFolder = 5120;
constexpr int kStrLostFolderN = 5376;

// Every item gets a filing number when filed, the same in all three indices: items of equal
// key keep their filing order, and the number serves as the cursor of the lookups.
using IdIndex = CSortedIndex<std::int32_t>;
using OffsetIndex = CSortedIndex<std::uint64_t>;

constexpr std::uint32_t kLastSeq = std::numeric_limits<std::uint32_t>::max();

template <typename K>
typename CSortedIndex<K>::Entry First(K key) {
    return {key, 0, nullptr};
}
template <typename K>
typename CSortedIndex<K>::Entry Beyond(K key) {
    return {key, kLastSeq, nullptr};
}

// Whether the item has a place in the position index: its data position is known, or it is a
// lost file, whose position is where its signature matched (possibly 0).
bool Positioned(const FoundItem& item) { return item.DataOffset != 0 || item.Is(FI_LOST); }

bool IsContainer(const FoundItem& item) { return item.Is(FI_FOLDER) || item.Is(FI_DRIVE); }

// The notifications of one operation, posted once the tree's lock is released.
class CPostQueue {
public:
    explicit CPostQueue(bool notify) : On(notify) {}
    CPostQueue(const CPostQueue&) = delete;
    CPostQueue& operator=(const CPostQueue&) = delete;
    ~CPostQueue() {
        for (std::size_t i = 0; i < Count; ++i)
            Notifier().Post(msg::FoundTreeChanged, reinterpret_cast<std::uintptr_t>(Items[i].first), Items[i].second);
    }
    void Add(FoundItem* item, FoundTreeChange code) {
        if (On && Count < Items.size()) Items[Count++] = {item, code};
    }

private:
    bool On;
    std::array<std::pair<FoundItem*, std::intptr_t>, 4> Items{};
    std::size_t Count = 0;
};

}  // namespace

struct CFoundTree::Impl {
    IdIndex ById;
    IdIndex ByParent;
    OffsetIndex ByOffset;
    bool OffsetIndexOn = false;
    std::uint32_t NextSeq = 0;
    CItemSlabs Items;
    CNameStore Names;
    std::vector<std::unique_ptr<FoundItem>> Adopted;  // heap items filed with ownership
    FoundItem* LostFolders = nullptr;
    FoundItem* LostFiles = nullptr;
    const ITypeLookup* Types = nullptr;
    std::int32_t DriveRootId = 0;

    const TypeInfo* TypeOf(FoundItem& item) const { return Types ? Types->TypeOfItem(item) : nullptr; }

    template <typename K>
    static FoundItem* Next(const CSortedIndex<K>& index, K key, std::intptr_t& cursor) {
        if (cursor >= std::intptr_t(kLastSeq)) return nullptr;
        const std::uint32_t from = cursor < 0 ? 0 : std::uint32_t(cursor) + 1;
        const auto p = index.LowerBound({key, from, nullptr});
        if (p == index.End() || index.At(p).Key != key) return nullptr;
        cursor = index.At(p).Seq;
        return index.At(p).Item;
    }

    // Calls f for each entry of that key in filing order until f answers true; that entry.
    template <typename F>
    IdIndex::Entry FindWithId(std::int32_t id, F&& f) const {
        for (auto p = ById.LowerBound(First(id)); p != ById.End() && ById.At(p).Key == id; p = ById.Next(p))
            if (f(*ById.At(p).Item)) return ById.At(p);
        return {id, 0, nullptr};
    }

    FoundItem* FindFolder(std::int32_t id) const {
        return FindWithId(id, [](const FoundItem& f) { return IsContainer(f); }).Item;
    }

    IdIndex::Entry FindPlaceholder(std::int32_t id) const {
        return FindWithId(id, [](const FoundItem& f) {
            return f.SignedParentId() == ID_LOST_FOLDERS && f.Is(FI_FOLDER);
        });
    }

    const char* CopyName(const FoundItem& item) {
        if (item.Is(FI_DRIVE) || !item.Name) return nullptr;
        return Names.Copy(item.Name);
    }

    // A lost file whose size its neighbours decide: not one whose own structure told its size.
    static bool SizedByNeighbours(const FoundItem& item) { return item.Is(FI_LOST) && !item.Is(FI_EXACT_SIZE); }

    // Enters an item in the position index. A lost file's size becomes the distance to the next
    // positioned item, and a lost file just before it shrinks to end where it begins. Items that
    // share a position are not each other's neighbours. Exact sizes stay as they are.
    void EnterOffsetIndex(FoundItem* item, std::uint32_t seq) {
        const std::uint64_t at = item->DataOffset;
        ByOffset.Insert({at, seq, item});
        if (SizedByNeighbours(*item)) {
            const auto next = ByOffset.LowerBound(Beyond(at));
            if (next != ByOffset.End()) item->Size = ByOffset.At(next).Key - at;
        }
        const auto first = ByOffset.LowerBound(First(at));
        if (first == ByOffset.Begin()) return;
        const std::uint64_t before = ByOffset.At(ByOffset.Prev(first)).Key;
        for (auto p = ByOffset.LowerBound(First(before)); p != first; p = ByOffset.Next(p))
            if (SizedByNeighbours(*ByOffset.At(p).Item)) ByOffset.At(p).Item->Size = at - before;
    }

    // Files the item in every index; on failure nothing of it stays filed.
    void File(FoundItem* item) {
        if (NextSeq == kLastSeq) throw std::length_error("too many items");
        const std::uint32_t seq = NextSeq++;
        ById.Insert({item->SignedId(), seq, item});
        try {
            ByParent.Insert({item->SignedParentId(), seq, item});
            try {
                if (OffsetIndexOn && Positioned(*item)) EnterOffsetIndex(item, seq);
            } catch (...) {
                ByParent.Erase(item->SignedParentId(), seq);
                throw;
            }
        } catch (...) {
            ById.Erase(item->SignedId(), seq);
            throw;
        }
    }

    FoundItem* NewFolder(std::uint16_t flags, std::int32_t id, std::int32_t parentId, const std::string& name) {
        FoundItem rec;
        rec.Flags = flags;
        rec.Id = std::uint32_t(id);
        rec.ParentId = std::uint32_t(parentId);
        if (!name.empty()) {
            rec.Name = Names.Copy(name);
            rec.Flags |= FI_NAMED;
        }
        FoundItem* item = Items.New(rec);
        File(item);
        return item;
    }

    // A placeholder folder for a parent that has not been seen (yet).
    void MakePlaceholder(std::int32_t parentId, CPostQueue& posts) {
        FoundItem* item = NewFolder(FI_DELETED | FI_FOLDER | FI_HAS_DELETED, parentId, ID_LOST_FOLDERS,
                                    Format(GetString(kStrLostFolderN), parentId));
        posts.Add(item, FT_PLACEHOLDER_MADE);
    }

    bool NeedsPlaceholder(const FoundItem& item, std::int32_t rootId) const {
        const std::int32_t id = item.SignedId(), parent = item.SignedParentId();
        // Negative ids are the synthetic folders'; an item that names itself as parent is a
        // damaged record that must not get a folder of its own id beside it.
        if (parent <= 0 || id == 0 || id == rootId || parent == rootId || parent == id) return false;
        return FindFolder(parent) == nullptr;
    }

    // The placeholder becomes the real folder: same address, same id, now under its parent.
    FoundItem* Replace(const IdIndex::Entry& placeholder, const FoundItem& real, CPostQueue& posts) {
        FoundItem* item = placeholder.Item;
        const std::uint32_t seq = placeholder.Seq;
        ByParent.Erase(item->SignedParentId(), seq);
        ByOffset.Erase(item->DataOffset, seq);
        posts.Add(item, FT_PLACEHOLDER_REPLACED);
        *item = real;
        ByParent.Insert({item->SignedParentId(), seq, item});
        if (OffsetIndexOn && Positioned(*item)) EnterOffsetIndex(item, seq);
        return item;
    }

    FoundItem* AddFound(const FoundItem& rec, std::int32_t rootId, CPostQueue& posts) {
        FoundItem copy = rec;
        copy.Flags &= std::uint16_t(~FI_DRIVE);
        // Folders are not files of a type: an unselected type never hides a folder.
        if (!copy.Is(FI_FOLDER)) {
            if (const TypeInfo* type = TypeOf(copy)) {
                copy.FileType = type->TypeId;
                if (!type->Checked) return nullptr;
            }
        }
        const IdIndex::Entry placeholder =
            copy.Is(FI_FOLDER) && copy.SignedId() != 0 ? FindPlaceholder(copy.SignedId()) : IdIndex::Entry{};
        if (NeedsPlaceholder(copy, rootId)) MakePlaceholder(copy.SignedParentId(), posts);
        copy.Name = CopyName(rec);
        FoundItem* item;
        if (placeholder.Item) {
            item = Replace(placeholder, copy, posts);
        } else {
            item = Items.New(copy);
            File(item);
        }
        posts.Add(item, FT_FILESYSTEM_ITEM);
        return item;
    }

    std::string LostFileName(const FoundItem& rec, const TypeInfo* type) const {
        if (type) return Format("%s_%I64d.%s", type->NamePrefix, rec.DataOffset, type->FirstExtension);
        return Format(GetString(kStrLostFile), rec.DataOffset);
    }

    void MakeGroupFolder(const TypeInfo& type) {
        if (type.GroupId == 0 || FindFolder(type.GroupId)) return;
        // The title is copied: the catalogue may be reloaded while the tree lives.
        const char* title = Types ? Types->GroupTitle(type.GroupId) : nullptr;
        NewFolder(FI_FOLDER | FI_HAS_DELETED, type.GroupId, ID_LOST_FILES, title ? title : "");
    }

    FoundItem* AddLost(const FoundItem& rec, CPostQueue& posts) {
        if (OffsetIndexOn) {
            if (FoundItem* existing = FindAt(rec.DataOffset)) {
                // A second search over the same drive finds its own lost files again: nothing new.
                if (!existing->Is(FI_LOST)) {
                    existing->Flags |= FI_SIGNATURE_MATCH;
                    posts.Add(existing, FT_SIGNATURE_MATCH);
                }
                return existing;
            }
        }
        FoundItem copy = rec;
        copy.Flags = std::uint16_t((copy.Flags & ~FI_DRIVE) | FI_LOST | FI_DELETED);
        const TypeInfo* type = TypeOf(copy);
        if (type) {
            copy.ParentId = std::uint32_t(type->GroupId);
            if (!type->Checked) return nullptr;
        }
        if (copy.Is(FI_NAMED) && copy.Name) {
            copy.Name = Names.Copy(copy.Name);
        } else {
            copy.Name = Names.Copy(LostFileName(copy, type));
            copy.Flags |= FI_NAMED;
        }
        FoundItem* item = Items.New(copy);
        File(item);
        if (type) MakeGroupFolder(*type);
        posts.Add(item, FT_LOST_FILE);
        return item;
    }

    FoundItem* FindAt(std::uint64_t offset) const {
        const auto p = ByOffset.LowerBound(First(offset));
        return p != ByOffset.End() && ByOffset.At(p).Key == offset ? ByOffset.At(p).Item : nullptr;
    }

    // The first entry beyond `offset`, when some item lies at `offset`.
    OffsetIndex::Pos PastItemsAt(std::uint64_t offset) const {
        if (!FindAt(offset)) return ByOffset.End();
        return ByOffset.LowerBound(Beyond(offset));
    }

    void RebuildOffsetIndex() {
        ByOffset.Clear();
        if (!OffsetIndexOn) return;
        std::vector<OffsetIndex::Entry> entries;
        entries.reserve(ById.Size());
        ById.ForEach([&](const IdIndex::Entry& e) {
            if (Positioned(*e.Item)) entries.push_back({e.Item->DataOffset, e.Seq, e.Item});
        });
        std::sort(entries.begin(), entries.end(), OffsetIndex::Less);
        for (const auto& e : entries) ByOffset.Insert(e);  // in order: every block fills up
    }

    void MarkDeletedAncestors(FoundItem* item, std::int32_t rootId) {
        if (item->Is(FI_FOLDER)) item->Flags |= FI_HAS_DELETED;
        std::unordered_set<const FoundItem*> visited{item};
        std::int32_t next = item->SignedParentId();
        while (FoundItem* parent = FindFolder(next)) {
            if (!parent->Is(FI_FOLDER) || !visited.insert(parent).second) break;
            if (parent->Is(FI_HAS_DELETED)) {
                if (parent->SignedId() == rootId) break;
            } else {
                parent->Flags |= FI_HAS_DELETED;
            }
            next = parent->SignedParentId();
        }
    }

    void Clear() {
        ById.Clear();
        ByParent.Clear();
        ByOffset.Clear();
        Items.Release();
        Names.Release();
        Adopted.clear();
        Adopted.shrink_to_fit();
        LostFolders = LostFiles = nullptr;
        NextSeq = 0;
    }
};

namespace {
void LogFailure(const char* where) {
    try {
        throw;
    } catch (const std::exception& e) {
        Log().Error("CFoundTree::%s: %s", where, e.what());
    } catch (...) {
        Log().Error("CFoundTree::%s: unknown failure", where);
    }
}
}  // namespace

CFoundTree::CFoundTree() : P(std::make_unique<Impl>()) {}
CFoundTree::~CFoundTree() { P->Clear(); }

void CFoundTree::SetTypeLookup(const ITypeLookup* lookup) {
    std::lock_guard g(Lock);
    P->Types = lookup;
}

void CFoundTree::SetDriveRootId(std::int32_t id) {
    std::lock_guard g(Lock);
    P->DriveRootId = id;
}

FoundItem* CFoundTree::AddFound(const FoundItem& rec, bool notify) {
    CPostQueue posts(notify);
    std::lock_guard g(Lock);
    try {
        return P->AddFound(rec, RootId, posts);
    } catch (...) {
        LogFailure("AddFound");
        return nullptr;
    }
}

FoundItem* CFoundTree::AddLost(FoundItem* rec, bool notify) {
    std::unique_ptr<FoundItem> taken(rec);
    if (!taken) return nullptr;
    CPostQueue posts(notify);
    std::lock_guard g(Lock);
    try {
        return P->AddLost(*taken, posts);
    } catch (...) {
        LogFailure("AddLost");
        return nullptr;
    }
}

void CFoundTree::Insert(FoundItem* item, bool own) {
    if (!item) return;
    std::lock_guard g(Lock);
    try {
        if (own && !item->Is(FI_DRIVE)) {
            try {
                P->Adopted.emplace_back(item);
            } catch (...) {
                delete item;
                throw;
            }
        }
        P->File(item);
    } catch (...) {
        LogFailure("Insert");
    }
}

FoundItem* CFoundTree::FindById(std::int32_t id, std::intptr_t& cursor) const {
    std::lock_guard g(Lock);
    return Impl::Next(P->ById, id, cursor);
}

FoundItem* CFoundTree::FindById(std::int32_t id) const {
    std::intptr_t cursor = -1;
    return FindById(id, cursor);
}

FoundItem* CFoundTree::FindFolderById(std::int32_t id) const {
    std::lock_guard g(Lock);
    return P->FindFolder(id);
}

FoundItem* CFoundTree::FindByParent(std::int32_t parentId, std::intptr_t& cursor) const {
    std::lock_guard g(Lock);
    return Impl::Next(P->ByParent, parentId, cursor);
}

void CFoundTree::GetChildren(std::int32_t parentId, std::vector<FoundItem*>& list) const {
    std::lock_guard g(Lock);
    const auto& index = P->ByParent;
    for (auto p = index.LowerBound(First(parentId)); p != index.End() && index.At(p).Key == parentId; p = index.Next(p))
        list.push_back(index.At(p).Item);
}

FoundItem* CFoundTree::FindAtOffset(std::uint64_t offset) const {
    std::lock_guard g(Lock);
    return P->FindAt(offset);
}

FoundItem* CFoundTree::FindNextAfter(std::uint64_t offset) const {
    std::lock_guard g(Lock);
    const auto p = P->PastItemsAt(offset);
    return p != P->ByOffset.End() ? P->ByOffset.At(p).Item : nullptr;
}

FoundItem* CFoundTree::FindNextSameType(const FoundItem& item) const {
    std::lock_guard g(Lock);
    const auto& index = P->ByOffset;
    for (auto p = P->PastItemsAt(item.DataOffset); p != index.End(); p = index.Next(p))
        if (index.At(p).Item->FileType == item.FileType) return index.At(p).Item;
    return nullptr;
}

void CFoundTree::EnableOffsetIndex(bool on) {
    std::lock_guard g(Lock);
    if (on) P->OffsetIndexOn = true;
    try {
        P->RebuildOffsetIndex();
    } catch (...) {
        LogFailure("EnableOffsetIndex");
    }
}

bool CFoundTree::OffsetIndexEnabled() const {
    std::lock_guard g(Lock);
    return P->OffsetIndexOn;
}

void CFoundTree::MarkDeletedAncestors(FoundItem* item) {
    if (!item) return;
    std::lock_guard g(Lock);
    try {
        P->MarkDeletedAncestors(item, RootId);
    } catch (...) {
        LogFailure("MarkDeletedAncestors");
    }
}

FoundItem* CFoundTree::GetLostFoldersItem() {
    std::lock_guard g(Lock);
    try {
        if (!P->LostFolders)
            P->LostFolders = P->NewFolder(FI_FOLDER | FI_HAS_DELETED, ID_LOST_FOLDERS, P->DriveRootId,
                                          GetString(kStrLostFolders));
    } catch (...) {
        LogFailure("GetLostFoldersItem");
    }
    return P->LostFolders;
}

FoundItem* CFoundTree::GetLostFilesItem() {
    std::lock_guard g(Lock);
    try {
        if (!P->LostFiles)
            P->LostFiles = P->NewFolder(FI_DELETED | FI_FOLDER | FI_HAS_DELETED, ID_LOST_FILES, P->DriveRootId,
                                        GetString(kStrLostFilesFolder));
    } catch (...) {
        LogFailure("GetLostFilesItem");
    }
    return P->LostFiles;
}

void CFoundTree::Clear() {
    std::lock_guard g(Lock);
    P->Clear();
    ++Gen;
}

void CFoundTree::MarkDeletedFolders() {
    std::lock_guard g(Lock);
    std::vector<FoundItem*> items;
    Snapshot(items);
    for (FoundItem* item : items)
        if (item->Is(FI_DELETED) && item->SignedId() >= 0) MarkDeletedAncestors(item);
}

std::uint64_t CFoundTree::Generation() const {
    std::lock_guard g(Lock);
    return Gen;
}

ItemHandle CFoundTree::HandleOf(const FoundItem* item) const {
    std::lock_guard g(Lock);
    return {item, Gen};
}

bool CFoundTree::IsCurrent(const ItemHandle& handle) const {
    std::lock_guard g(Lock);
    return handle.Item && handle.Generation == Gen;
}

bool CFoundTree::Read(const ItemHandle& handle, ItemSnapshot& out) const {
    return WithItem(handle, [&](const FoundItem& item) {
        out.Fields = item;
        out.Fields.Name = nullptr;
        out.Name = item.NameOrEmpty();
    });
}

std::vector<ItemHandle> CFoundTree::ChildHandles(std::int32_t parentId, bool foldersOnly) const {
    std::lock_guard g(Lock);
    std::vector<ItemHandle> out;
    const auto& index = P->ByParent;
    for (auto p = index.LowerBound(First(parentId)); p != index.End() && index.At(p).Key == parentId; p = index.Next(p)) {
        const FoundItem* item = index.At(p).Item;
        if (!foldersOnly || item->Is(FI_FOLDER)) out.push_back({item, Gen});
    }
    return out;
}

bool CFoundTree::HasChildFolders(std::int32_t parentId) const {
    std::lock_guard g(Lock);
    const auto& index = P->ByParent;
    for (auto p = index.LowerBound(First(parentId)); p != index.End() && index.At(p).Key == parentId; p = index.Next(p))
        if (index.At(p).Item->Is(FI_FOLDER)) return true;
    return false;
}

std::size_t CFoundTree::Count() const {
    std::lock_guard g(Lock);
    return P->ById.Size();
}

std::size_t CFoundTree::OffsetIndexCount() const {
    std::lock_guard g(Lock);
    return P->ByOffset.Size();
}

}  // namespace vm

namespace vm {

void CFoundTree::Snapshot(std::vector<FoundItem*>& out) const {
    std::lock_guard<std::recursive_mutex> g(Lock);
    out.clear();
    out.reserve(P->ById.Size());
    P->ById.ForEach([&](const IdIndex::Entry& e) { out.push_back(e.Item); });
}

}  // namespace vm
