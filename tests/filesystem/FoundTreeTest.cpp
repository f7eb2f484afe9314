#include "filesystem/FoundTree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/Notify.h"
#include "filesystem/CheckMarks.h"
#include "filesystem/ItemPresentation.h"

namespace vm {
namespace {

constexpr std::int32_t kRoot = 5;
constexpr std::int32_t kDrive = -100;
constexpr std::int32_t kPictures = -7;

// A catalogue of two types: JPG (selected, group "Pictures") and EXE (not selected).
class CFakeTypes final : public ITypeLookup {
public:
    CFakeTypes() {
        Types[1] = {1, kPictures, true, "jpg", "jpg"};
        Types[2] = {2, kPictures, false, "exe", "exe"};
        ByExtension["JPG"] = 1;
        ByExtension["EXE"] = 2;
    }
    const TypeInfo* TypeOfItem(FoundItem& item) const override {
        if (item.FileType) return FindType(item.FileType);
        const char* dot = item.Name ? std::strrchr(item.Name, '.') : nullptr;
        if (!dot) return nullptr;
        std::string ext = dot + 1;
        for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
        auto it = ByExtension.find(ext);
        if (it == ByExtension.end()) return nullptr;
        item.FileType = it->second;
        return FindType(it->second);
    }
    const TypeInfo* FindType(std::int16_t typeId) const override {
        auto it = Types.find(typeId);
        return it == Types.end() ? nullptr : &it->second;
    }
    const char* GroupTitle(std::int32_t groupId) const override { return groupId == kPictures ? "Pictures" : nullptr; }

private:
    std::map<std::int16_t, TypeInfo> Types;
    std::map<std::string, std::int16_t> ByExtension;
};

FoundItem Record(std::int32_t id, std::int32_t parent, const char* name, std::uint16_t flags = FI_NAMED,
                 std::uint64_t offset = 0) {
    FoundItem r;
    r.Id = std::uint32_t(id);
    r.ParentId = std::uint32_t(parent);
    r.Name = name;
    r.Flags = flags | (name ? FI_NAMED : 0);
    r.DataOffset = offset;
    r.Size = 100;
    return r;
}

FoundItem Folder(std::int32_t id, std::int32_t parent, const char* name, std::uint16_t flags = 0) {
    return Record(id, parent, name, std::uint16_t(flags | FI_FOLDER));
}

FoundItem* Lost(std::uint64_t offset, std::int16_t type = 0, std::uint64_t size = 777) {
    auto* r = new FoundItem;
    r->Flags = FI_LOST | FI_DELETED;
    r->DataOffset = offset;
    r->Size = size;
    r->FileType = type;
    r->ParentId = std::uint32_t(ID_LOST_FILES);
    return r;
}

class FoundTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        Previous = &Notifier();
        SetNotifier(&Sink);
        Tree.RootId = kRoot;
        Tree.SetDriveRootId(kDrive);
    }
    void TearDown() override { SetNotifier(Previous); }

    std::vector<std::pair<FoundItem*, std::intptr_t>> Posted() const {
        std::vector<std::pair<FoundItem*, std::intptr_t>> out;
        for (const auto& e : Sink.EntriesWithCode(msg::FoundTreeChanged))
            out.emplace_back(reinterpret_cast<FoundItem*>(e.wParam), e.lParam);
        return out;
    }
    std::vector<FoundItem*> Children(std::int32_t parent) const {
        std::vector<FoundItem*> list;
        Tree.GetChildren(parent, list);
        return list;
    }

    CRecordingSink Sink;
    INotifySink* Previous = nullptr;
    CFoundTree Tree;
};

TEST_F(FoundTreeTest, MissingParentGetsPlaceholderThatTheLateFolderTakesOver) {
    FoundItem* file = Tree.AddFound(Record(100, 50, "a.txt"), true);
    ASSERT_NE(file, nullptr);
    FoundItem* placeholder = Tree.FindFolderById(50);
    ASSERT_NE(placeholder, nullptr);
    EXPECT_STREQ(placeholder->Name, "lost_folder_50");
    EXPECT_EQ(placeholder->SignedParentId(), ID_LOST_FOLDERS);
    EXPECT_EQ(placeholder->Flags, FI_DELETED | FI_FOLDER | FI_HAS_DELETED | FI_NAMED);
    EXPECT_EQ(Posted(), (std::vector<std::pair<FoundItem*, std::intptr_t>>{{placeholder, FT_PLACEHOLDER_MADE},
                                                                          {file, FT_FILESYSTEM_ITEM}}));

    // A deleted file that reused the folder's first cluster is not the folder.
    FoundItem* sameCluster = Tree.AddFound(Record(50, kRoot, "old.doc", FI_DELETED), true);
    ASSERT_NE(sameCluster, nullptr);
    EXPECT_NE(sameCluster, placeholder);
    EXPECT_EQ(Children(ID_LOST_FOLDERS), std::vector<FoundItem*>{placeholder});

    Sink.Clear();
    FoundItem* folder = Tree.AddFound(Folder(50, kRoot, "Docs"), true);
    EXPECT_EQ(folder, placeholder);  // same address: whoever holds the pointer sees the real folder
    EXPECT_STREQ(folder->Name, "Docs");
    EXPECT_EQ(folder->SignedParentId(), kRoot);
    EXPECT_FALSE(folder->Is(FI_DELETED));
    EXPECT_TRUE(Children(ID_LOST_FOLDERS).empty());
    EXPECT_THAT(Children(kRoot), testing::UnorderedElementsAre(sameCluster, folder));
    EXPECT_EQ(Children(50), std::vector<FoundItem*>{file});
    EXPECT_EQ(Posted(), (std::vector<std::pair<FoundItem*, std::intptr_t>>{{folder, FT_PLACEHOLDER_REPLACED},
                                                                          {folder, FT_FILESYSTEM_ITEM}}));
    EXPECT_EQ(Tree.Count(), 3u);
}

TEST_F(FoundTreeTest, NoPlaceholderForRootZeroSelfOrSyntheticParents) {
    struct Case {
        std::int32_t id, parent;
    } cases[] = {{10, 0}, {kRoot, 77}, {11, kRoot}, {0, 78}, {12, 12}, {13, ID_LOST_FILES}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " in " << c.parent);
        ASSERT_NE(Tree.AddFound(Folder(c.id, c.parent, "x"), true), nullptr);
    }
    EXPECT_TRUE(Children(ID_LOST_FOLDERS).empty());
    EXPECT_EQ(Sink.EntriesWithCode(msg::FoundTreeChanged).size(), std::size(cases));
}

TEST_F(FoundTreeTest, CursorWalksDuplicatesInFilingOrder) {
    FoundItem* a = Tree.AddFound(Record(9, kRoot, "a", FI_DELETED), false);
    FoundItem* b = Tree.AddFound(Folder(9, kRoot, "b"), false);
    FoundItem* c = Tree.AddFound(Record(9, kRoot, "c"), false);
    std::vector<FoundItem*> seen;
    std::intptr_t cursor = -1;
    while (FoundItem* f = Tree.FindById(9, cursor)) seen.push_back(f);
    EXPECT_EQ(seen, (std::vector<FoundItem*>{a, b, c}));
    EXPECT_EQ(Tree.FindFolderById(9), b);
    EXPECT_EQ(Tree.FindById(1234), nullptr);
    EXPECT_TRUE(Sink.Entries().empty());  // notify false posts nothing
}

TEST_F(FoundTreeTest, LostFileSizeIsDistanceToNextItem) {
    Tree.EnableOffsetIndex(true);
    FoundItem* first = Tree.AddLost(Lost(1000), false);
    FoundItem* last = Tree.AddLost(Lost(5000), false);
    FoundItem* middle = Tree.AddLost(Lost(3000), false);
    ASSERT_TRUE(first && last && middle);
    EXPECT_EQ(first->Size, 2000u);
    EXPECT_EQ(last->Size, 777u);  // the last one keeps what the search gave it
    EXPECT_EQ(middle->Size, 2000u);
    EXPECT_STREQ(first->Name, "lost_file_1000");

    // A file-system item landing in between shrinks the lost file before it.
    Tree.AddFound(Record(40, kRoot, "f.txt", 0, 4000), false);
    EXPECT_EQ(middle->Size, 1000u);
    EXPECT_EQ(Tree.FindNextAfter(3000)->DataOffset, 4000u);
    EXPECT_EQ(Tree.FindNextAfter(3001), nullptr);
}

TEST_F(FoundTreeTest, LostFileAtAFileSystemItemMarksThatItem) {
    Tree.EnableOffsetIndex(true);
    FoundItem* file = Tree.AddFound(Record(40, kRoot, "photo.bin", FI_DELETED, 8192), true);
    Sink.Clear();
    EXPECT_EQ(Tree.AddLost(Lost(8192), true), file);
    EXPECT_TRUE(file->Is(FI_SIGNATURE_MATCH));
    EXPECT_EQ(ItemIconOf(*file, kRoot), ICON_FILE_DELETED_MATCHED);
    EXPECT_EQ(Posted(), (std::vector<std::pair<FoundItem*, std::intptr_t>>{{file, FT_SIGNATURE_MATCH}}));
    EXPECT_EQ(Tree.Count(), 1u);

    // The same search run again finds its own lost files: they stay as they are, once.
    FoundItem* lost = Tree.AddLost(Lost(20000), false);
    EXPECT_EQ(Tree.AddLost(Lost(20000), false), lost);
    EXPECT_FALSE(lost->Is(FI_SIGNATURE_MATCH));
    EXPECT_EQ(Tree.Count(), 2u);

    // Items whose position is unknown (0) are not at the drive's first byte.
    FoundItem* lostFiles = Tree.GetLostFilesItem();
    FoundItem* atStart = Tree.AddLost(Lost(0), false);
    ASSERT_NE(atStart, nullptr);
    EXPECT_NE(atStart, lostFiles);
    EXPECT_FALSE(lostFiles->Is(FI_SIGNATURE_MATCH));
    EXPECT_EQ(atStart->Size, 8192u);
}

TEST_F(FoundTreeTest, ItemsSharingAPositionAreNotEachOthersNeighbours) {
    Tree.EnableOffsetIndex(true);
    // A deleted file and the live folder that reused its first cluster.
    FoundItem* deleted = Tree.AddFound(Record(60, kRoot, "gone.txt", FI_DELETED, 8192), false);
    FoundItem* folder = Tree.AddFound(Record(60, kRoot, "Live", FI_FOLDER, 8192), false);
    FoundItem* beyond = Tree.AddFound(Record(61, kRoot, "next.txt", 0, 16384), false);
    FoundItem* lost = Tree.AddLost(Lost(4096, 1), false);
    ASSERT_TRUE(deleted && folder && beyond && lost);
    EXPECT_EQ(lost->Size, 4096u);
    EXPECT_EQ(Tree.FindAtOffset(8192), deleted);
    EXPECT_EQ(Tree.FindNextAfter(8192), beyond);
    FoundItem* sameType = Tree.AddLost(Lost(32768, 1), false);
    EXPECT_EQ(Tree.FindNextSameType(*lost), sameType);
    EXPECT_EQ(lost->Size, 4096u);
    EXPECT_EQ(Tree.FindNextSameType(*sameType), nullptr);
}

TEST_F(FoundTreeTest, UnselectedTypesAreLeftOut) {
    CFakeTypes types;
    Tree.SetTypeLookup(&types);
    Tree.EnableOffsetIndex(true);
    EXPECT_EQ(Tree.AddFound(Record(20, kRoot, "setup.exe"), true), nullptr);
    FoundItem* unknown = Tree.AddFound(Record(21, kRoot, "notes.xyz"), true);
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(unknown->FileType, 0);
    FoundItem* photo = Tree.AddFound(Record(22, kRoot, "Holiday.JPG"), true);
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(photo->FileType, 1);
    // A folder named like a file of an unselected type is still a folder.
    EXPECT_NE(Tree.AddFound(Folder(23, kRoot, "tools.exe"), true), nullptr);

    EXPECT_EQ(Tree.AddLost(Lost(100000, 2), true), nullptr);
    EXPECT_EQ(Tree.FindAtOffset(100000), nullptr);
    EXPECT_EQ(Tree.Count(), 3u);
}

TEST_F(FoundTreeTest, LostFilesAreNamedAndFiledUnderTheirGroupFolder) {
    CFakeTypes types;
    Tree.SetTypeLookup(&types);
    Tree.EnableOffsetIndex(true);
    FoundItem* a = Tree.AddLost(Lost(4096, 1), true);
    FoundItem* b = Tree.AddLost(Lost(9216, 1), true);
    FoundItem* untyped = Tree.AddLost(Lost(70000), true);
    ASSERT_TRUE(a && b && untyped);
    EXPECT_STREQ(a->Name, "jpg_4096.jpg");
    EXPECT_TRUE(a->Is(FI_NAMED | FI_LOST));
    EXPECT_EQ(a->SignedParentId(), kPictures);
    EXPECT_STREQ(untyped->Name, "lost_file_70000");
    EXPECT_EQ(untyped->SignedParentId(), ID_LOST_FILES);

    std::vector<FoundItem*> groups = Children(ID_LOST_FILES);
    groups.erase(std::remove(groups.begin(), groups.end(), untyped), groups.end());
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_STREQ(groups[0]->Name, "Pictures");
    EXPECT_EQ(groups[0]->SignedId(), kPictures);
    EXPECT_EQ(groups[0]->Flags, FI_FOLDER | FI_HAS_DELETED | FI_NAMED);
    EXPECT_EQ(Children(kPictures), (std::vector<FoundItem*>{a, b}));
    EXPECT_EQ(Posted(), (std::vector<std::pair<FoundItem*, std::intptr_t>>{
                            {a, FT_LOST_FILE}, {b, FT_LOST_FILE}, {untyped, FT_LOST_FILE}}));
}

TEST_F(FoundTreeTest, SyntheticFoldersAreMadeOnceUnderTheDrive) {
    FoundItem* folders = Tree.GetLostFoldersItem();
    FoundItem* files = Tree.GetLostFilesItem();
    ASSERT_TRUE(folders && files);
    EXPECT_EQ(Tree.GetLostFoldersItem(), folders);
    EXPECT_STREQ(folders->Name, "Lost folders");
    EXPECT_STREQ(files->Name, "Lost files");
    EXPECT_EQ(folders->Flags, FI_FOLDER | FI_HAS_DELETED | FI_NAMED);
    EXPECT_EQ(files->Flags, FI_DELETED | FI_FOLDER | FI_HAS_DELETED | FI_NAMED);
    EXPECT_EQ(Children(kDrive), (std::vector<FoundItem*>{folders, files}));

    FoundItem drive;
    drive.Flags = FI_DRIVE;
    drive.Id = std::uint32_t(kDrive);
    Tree.Insert(&drive, true);  // a drive root item is never freed by the tree
    Tree.Insert(new FoundItem(Folder(kRoot, kDrive, ".")), true);  // freed by Clear
    EXPECT_EQ(Tree.FindFolderById(kRoot)->SignedParentId(), kDrive);
    Tree.Clear();
    EXPECT_EQ(Tree.Count(), 0u);
    EXPECT_NE(Tree.GetLostFilesItem(), nullptr);  // made afresh after Clear
    EXPECT_EQ(Tree.Count(), 1u);
    EXPECT_EQ(drive.Flags, FI_DRIVE);
}

TEST_F(FoundTreeTest, MarkingDeletedAncestorsEndsOnACycle) {
    // A and B name each other as parent, as a damaged directory can.
    FoundItem* a = Tree.AddFound(Folder(30, 31, "A"), false);
    FoundItem* b = Tree.AddFound(Folder(31, 30, "B"), false);
    FoundItem* file = Tree.AddFound(Record(32, 30, "x", FI_DELETED), false);
    ASSERT_TRUE(a && b && file);
    Tree.MarkDeletedAncestors(file);
    EXPECT_TRUE(a->Is(FI_HAS_DELETED));
    EXPECT_TRUE(b->Is(FI_HAS_DELETED));
    Tree.MarkDeletedAncestors(file);  // every ancestor has the bit already: must end as well
}

TEST_F(FoundTreeTest, MarkingDeletedAncestorsClimbsFoldersOnly) {
    FoundItem root = Folder(kRoot, kDrive, ".");
    Tree.Insert(&root, false);
    FoundItem* docs = Tree.AddFound(Folder(40, kRoot, "Docs"), false);
    // A deleted file carrying the id of Docs must not take its place in the walk.
    FoundItem* impostor = Tree.AddFound(Record(40, kRoot, "old", FI_DELETED), false);
    FoundItem* sub = Tree.AddFound(Folder(41, 40, "Sub"), false);
    FoundItem* file = Tree.AddFound(Record(42, 41, "x", FI_DELETED), false);
    Tree.MarkDeletedAncestors(file);
    EXPECT_TRUE(sub->Is(FI_HAS_DELETED));
    EXPECT_TRUE(docs->Is(FI_HAS_DELETED));
    EXPECT_TRUE(root.Is(FI_HAS_DELETED));
    EXPECT_FALSE(impostor->Is(FI_HAS_DELETED));
    Tree.Clear();
}

TEST_F(FoundTreeTest, RebuildingThePositionIndexKeepsEveryItemOnce) {
    Tree.AddFound(Record(70, kRoot, "a", 0, 4096), false);
    Tree.AddFound(Record(71, kRoot, "b", 0, 4096), false);
    Tree.AddFound(Folder(72, kRoot, "no position"), false);
    EXPECT_EQ(Tree.OffsetIndexCount(), 0u);  // off until a sector search starts
    Tree.EnableOffsetIndex(true);
    Tree.AddLost(Lost(12288), false);
    EXPECT_EQ(Tree.OffsetIndexCount(), 3u);
    Tree.EnableOffsetIndex(true);
    Tree.EnableOffsetIndex(false);  // the index stays on once a search has used it
    EXPECT_TRUE(Tree.OffsetIndexEnabled());
    EXPECT_EQ(Tree.OffsetIndexCount(), 3u);
    EXPECT_EQ(Tree.FindAtOffset(4096)->SignedId(), 70);
    EXPECT_EQ(Tree.FindNextAfter(4096)->DataOffset, 12288u);
}

TEST_F(FoundTreeTest, ConcurrentLostFilesEachLandOnce) {
    Tree.EnableOffsetIndex(true);
    constexpr int kThreads = 4, kPerThread = 2000;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([this, t] {
            for (int i = 0; i < kPerThread; ++i) {
                // Every thread also hits the positions of the others (overlapping search blocks).
                const std::uint64_t offset = 512ull * std::uint64_t(i * kThreads + (i % 2 ? t : 0));
                Tree.AddLost(Lost(offset), true);
            }
        });
    for (auto& w : workers) w.join();

    std::set<std::uint64_t> offsets;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kPerThread; ++i) offsets.insert(512ull * std::uint64_t(i * kThreads + (i % 2 ? t : 0)));
    ASSERT_EQ(Tree.Count(), offsets.size());
    EXPECT_EQ(Tree.OffsetIndexCount(), offsets.size());
    EXPECT_EQ(Sink.EntriesWithCode(msg::FoundTreeChanged).size(), offsets.size());
    for (auto it = offsets.begin(); it != offsets.end(); ++it) {
        FoundItem* item = Tree.FindAtOffset(*it);
        ASSERT_NE(item, nullptr);
        auto next = std::next(it);
        EXPECT_EQ(item->Size, next == offsets.end() ? 777u : *next - *it) << *it;
    }
}

TEST_F(FoundTreeTest, HandlesKeptAcrossAClearAreStale) {
    FoundItem* docs = Tree.AddFound(Folder(40, kRoot, "Docs"), false);
    Tree.AddFound(Record(41, 40, "a.txt", 0, 4096), false);
    const ItemHandle handle = Tree.HandleOf(docs);
    ItemSnapshot snap;
    ASSERT_TRUE(Tree.Read(handle, snap));
    EXPECT_EQ(snap.Name, "Docs");
    EXPECT_EQ(snap.Fields.Name, nullptr);
    ASSERT_EQ(Tree.ChildHandles(40).size(), 1u);
    EXPECT_TRUE(Tree.ChildHandles(40, true).empty());
    EXPECT_TRUE(Tree.HasChildFolders(kRoot));
    EXPECT_FALSE(Tree.HasChildFolders(40));

    Tree.Clear();
    EXPECT_FALSE(Tree.IsCurrent(handle));
    EXPECT_FALSE(Tree.Read(handle, snap));
    EXPECT_FALSE(Tree.WithItem(handle, [](FoundItem&) { FAIL() << "a stale handle was followed"; }));
    EXPECT_FALSE(Tree.Read(ItemHandle{}, snap));
}

// Folders: . (5) > A (40) > B (41) > C (42), and B2 (43) beside B.
TEST_F(FoundTreeTest, CheckMarksKeepTheCountsOfCheckedFoldersBelow) {
    FoundItem root = Folder(kRoot, kDrive, ".");
    Tree.Insert(&root, false);
    FoundItem* a = Tree.AddFound(Folder(40, kRoot, "A"), false);
    FoundItem* b = Tree.AddFound(Folder(41, 40, "B"), false);
    FoundItem* c = Tree.AddFound(Folder(42, 41, "C"), false);
    FoundItem* b2 = Tree.AddFound(Folder(43, 40, "B2"), false);
    auto toggle = [&](FoundItem* f) { ASSERT_TRUE(ToggleFolderCheck(Tree, Tree.HandleOf(f))); };
    auto states = [&] {
        return std::vector<int>{CheckStateOf(root), CheckStateOf(*a), CheckStateOf(*b), CheckStateOf(*c), CheckStateOf(*b2)};
    };

    toggle(b);  // B and its child C checked; A and . partly
    EXPECT_EQ(states(), (std::vector<int>{CS_PARTLY, CS_PARTLY, CS_CHECKED, CS_CHECKED, CS_UNCHECKED}));
    EXPECT_EQ(a->CheckedCount, 2u);
    EXPECT_EQ(root.CheckedCount, 2u);

    toggle(a);  // A, B and B2 checked (B was already): . counts A, B, C, B2
    EXPECT_EQ(states(), (std::vector<int>{CS_PARTLY, CS_CHECKED, CS_CHECKED, CS_CHECKED, CS_CHECKED}));
    EXPECT_EQ(root.CheckedCount, 4u);

    toggle(c);  // C unchecked takes B's mark with it; A keeps its own
    EXPECT_EQ(states(), (std::vector<int>{CS_PARTLY, CS_CHECKED, CS_UNCHECKED, CS_UNCHECKED, CS_CHECKED}));
    EXPECT_EQ(a->CheckedCount, 1u);
    EXPECT_EQ(root.CheckedCount, 2u);

    toggle(a);  // A and its children cleared: nothing checked anywhere
    EXPECT_EQ(states(), (std::vector<int>{CS_UNCHECKED, CS_UNCHECKED, CS_UNCHECKED, CS_UNCHECKED, CS_UNCHECKED}));
    EXPECT_EQ(root.CheckedCount, 0u);
    EXPECT_EQ(a->CheckedCount, 0u);
}

TEST_F(FoundTreeTest, CheckMarksEndOnACyclicParentChain) {
    FoundItem* a = Tree.AddFound(Folder(30, 31, "A"), false);
    FoundItem* b = Tree.AddFound(Folder(31, 30, "B"), false);
    ASSERT_TRUE(ToggleFolderCheck(Tree, Tree.HandleOf(a)));
    EXPECT_EQ(CheckStateOf(*a), CS_CHECKED);
    EXPECT_EQ(CheckStateOf(*b), CS_CHECKED);
}

}  // namespace
}  // namespace vm
