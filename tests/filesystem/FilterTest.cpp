// The filter and the find among found items, over a small tree of a few folders and files.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "app/Log.h"
#include "app/RegistryStore.h"
#include "filesystem/FindInFound.h"
#include "filesystem/Filter.h"
#include "filesystem/Wildcard.h"
#include "signatures/FileTypeCatalogue.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

namespace vm {
namespace {

constexpr std::int32_t kRoot = 5;
constexpr std::uint64_t kHour = 3600ULL * 10000000;
constexpr std::uint64_t kDay = 24 * kHour;
constexpr std::uint64_t kNow = 133500000000000000ULL;  // a fixed "now" for the date modes
constexpr std::uint64_t kLastWeek = kNow - 1 * kDay;
constexpr std::uint64_t kLastMonth = kNow - 10 * kDay;
constexpr std::uint64_t kLongAgo = kNow - 400 * kDay;

// JPG is chosen for the custom type list, DOC is not; everything else is unknown.
class CTwoTypes final : public ITypeLookup {
public:
    CTwoTypes() {
        Jpg.TypeId = 1;
        Jpg.FilterChecked = true;
        Doc.TypeId = 2;
    }
    const TypeInfo* TypeOfItem(FoundItem& item) const override {
        std::string name = item.NameOrEmpty();
        for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
        if (name.ends_with(".JPG")) return &Jpg;
        if (name.ends_with(".DOC")) return &Doc;
        return nullptr;
    }
    const TypeInfo* FindType(std::int16_t id) const override { return id == 1 ? &Jpg : id == 2 ? &Doc : nullptr; }
    const char* GroupTitle(std::int32_t) const override { return nullptr; }

private:
    TypeInfo Jpg, Doc;
};

struct Entry {
    std::int32_t id, parent;
    const char* name;
    std::uint16_t flags;
    std::uint64_t created, size;
};

// \                     (root, id 5)
//   Docs\               live folder, a deleted file two levels down
//     Sub\              live folder, created long ago
//       old.doc         deleted
//     Report.DOC
//   a.doc
//   Empty\              live folder without deleted files
//     photo.jpg         no creation time
//   lost.bin            a lost file of unknown type and size, in "Lost files"
const Entry kFixture[] = {
    {kRoot, kRoot, ".", FI_FOLDER, 0, SIZE_UNKNOWN},
    {10, kRoot, "Docs", FI_FOLDER, kLastMonth, SIZE_UNKNOWN},
    {11, 10, "Sub", FI_FOLDER, kLongAgo, SIZE_UNKNOWN},
    {20, 11, "old.doc", FI_DELETED, kLongAgo, 5119},
    {21, 10, "Report.DOC", 0, kLastMonth, 5120},
    {22, kRoot, "a.doc", 0, kLastWeek, 2 << 20},
    {12, kRoot, "Empty", FI_FOLDER, 0, SIZE_UNKNOWN},
    {23, 12, "photo.jpg", 0, 0, 1 << 20},
    {30, ID_LOST_FILES, "lost.bin", FI_DELETED | FI_LOST, 0, SIZE_UNKNOWN},
};

class FilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        Volume.FoundTree.RootId = kRoot;
        ASSERT_NE(Volume.FoundTree.GetLostFilesItem(), nullptr);  // a synthetic folder, never hidden
        for (const Entry& e : kFixture) {
            FoundItem r;
            r.Id = std::uint32_t(e.id);
            r.ParentId = std::uint32_t(e.parent);
            r.Name = e.name;
            r.Flags = std::uint16_t(e.flags | FI_NAMED);
            r.CreateTime = e.created;
            r.Size = e.size;
            FoundItem* item = Volume.FoundTree.AddFound(r, false);
            ASSERT_NE(item, nullptr) << e.name;
            if (item->Is(FI_DELETED)) Volume.FoundTree.MarkDeletedAncestors(item);
        }
        Filter.SetTypeLookup(&Types);
    }

    // The names of the items the filter shows; the synthetic folders under "<...>".
    std::set<std::string> Shown() const {
        std::vector<FoundItem*> all;
        Volume.FoundTree.Snapshot(all);
        std::set<std::string> out;
        for (const FoundItem* item : all)
            if (item->SignedId() != kRoot && !Filter.Rejects(*item))
                out.insert(item->SignedId() < 0 ? "<synthetic>" : item->NameOrEmpty());
        return out;
    }

    std::set<std::string> Matched(const CFindInFound& find) const {
        std::vector<FoundItem*> all;
        Volume.FoundTree.Snapshot(all);
        std::set<std::string> out;
        for (const FoundItem* item : all)
            if (item->SignedId() != kRoot && find.IsMatch(*item)) out.insert(item->NameOrEmpty());
        return out;
    }

    CVolume Volume{VK_IMAGE};
    CTwoTypes Types;
    CFilter Filter;
};

using Names = std::set<std::string>;

TEST(Wildcard, StarsQuestionMarksAndCase) {
    struct Case {
        const char* pattern;
        const char* name;
        bool exact, caseless;
    } cases[] = {
        {"*", "", true, true},
        {"", "", true, true},
        {"", "a", false, false},
        {"*.doc", "a.doc", true, true},
        {"*.DOC", "a.doc", false, true},
        {"*.txt", "a.txt.bak", false, false},
        {"a?c", "abc", true, true},
        {"a?c", "ac", false, false},
        {"?", "é", true, true},               // one character, two bytes
        {"a*b*c", "axxbyybzc", true, true},
        {"*ab", "aaab", true, true},          // the star gives back characters it took
        {"a*a", "a", false, false},
        {"**x", "x", true, true},
        {"a*", "A", false, true},
        {"[1]", "{1}", false, false},         // punctuation never folds
        {"ÄRGER*", "ärger.txt", false, true},
        {"ПРИВЕТ", "привет", false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WildcardMatch(c.pattern, c.name, WildcardCase::Exact), c.exact) << c.pattern << " / " << c.name;
        EXPECT_EQ(WildcardMatch(c.pattern, c.name, WildcardCase::Caseless), c.caseless) << c.pattern << " / " << c.name;
    }
}

TEST_F(FilterTest, ConditionsHideWhatTheyShould) {
    const Names all = {"Docs", "Sub", "old.doc", "Report.DOC", "a.doc", "Empty", "photo.jpg", "lost.bin", "<synthetic>"};
    struct Case {
        const char* what;
        std::function<void(CFilter&)> set;
        Names shown;
    } cases[] = {
        {"defaults", [](CFilter&) {}, all},
        {"deleted only: the folders on the way to a deleted file stay",
         [](CFilter& f) { f.DeletedOnly = 1; }, {"Docs", "Sub", "old.doc", "lost.bin", "<synthetic>"}},
        {"mask compares exactly and passes folders", [](CFilter& f) { f.MaskOn = 1; f.Mask = "*.DOC"; },
         {"Docs", "Sub", "Report.DOC", "Empty", "<synthetic>"}},
        {"mask with ?", [](CFilter& f) { f.MaskOn = 1; f.Mask = "?.doc"; }, {"Docs", "Sub", "a.doc", "Empty", "<synthetic>"}},
        {"mask off ignores the pattern", [](CFilter& f) { f.Mask = "nothing"; }, all},
        {"dates: both bounds, no time passes",
         [](CFilter& f) { f.DateOn = 1; f.DateFrom = kLastMonth; f.DateTo = kLastMonth; },
         {"Docs", "Report.DOC", "Empty", "photo.jpg", "lost.bin", "<synthetic>"}},
        {"dates: a lower bound alone", [](CFilter& f) { f.DateOn = 1; f.DateFrom = kLastMonth; },
         {"Docs", "Report.DOC", "a.doc", "Empty", "photo.jpg", "lost.bin", "<synthetic>"}},
        {"known types only", [](CFilter& f) { f.TypeMode = FILTER_KNOWN_TYPES; },
         {"Docs", "Sub", "old.doc", "Report.DOC", "a.doc", "Empty", "photo.jpg", "<synthetic>"}},
        {"custom types keep unknown ones", [](CFilter& f) { f.TypeMode = FILTER_CUSTOM_TYPES; },
         {"Docs", "Sub", "Empty", "photo.jpg", "lost.bin", "<synthetic>"}},
        {"deleted only with a mask", [](CFilter& f) { f.DeletedOnly = 1; f.MaskOn = 1; f.Mask = "*.doc"; },
         {"Docs", "Sub", "old.doc", "<synthetic>"}},
    };
    for (const auto& c : cases) {
        Filter.Reset();
        c.set(Filter);
        EXPECT_EQ(Shown(), c.shown) << c.what;
    }
}

TEST_F(FilterTest, TimeOfDayComparesTheCreationTimeInLocalTime) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "XYZ-3", 1);  // three hours east of UTC
    ::tzset();
    Filter.DateOn = 1;
    Filter.DateFrom = Filter.DateTo = kLastMonth + 3 * kHour;
    const Names utc = Shown();
    Filter.TimeOfDay = 1;
    const Names local = Shown();
    if (old) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(utc.count("Report.DOC"), 0u);
    EXPECT_EQ(local.count("Report.DOC"), 1u);
    EXPECT_EQ(local.count("a.doc"), 0u);
}

TEST(FilterTypes, TheCatalogueMarksChooseTheTypesShown) {
    FileTypeCatalogue catalogue;
    catalogue.BuildDefaultGroups();
    catalogue.BuildDefaultTypes();
    catalogue.BuildExtensionMap();
    catalogue.PublishLookups();
    FileTypeDescriptor* jpg = catalogue.DescriptorOfExtension("JPG");
    ASSERT_NE(jpg, nullptr);
    CFilter filter;
    filter.SetTypeLookup(&catalogue);
    filter.TypeMode = FILTER_CUSTOM_TYPES;
    auto shown = [&](const char* name) {
        FoundItem item;
        item.Id = 40;
        item.Name = name;
        return !filter.Rejects(item);
    };
    EXPECT_FALSE(shown("a.jpg"));  // a new type is not chosen
    jpg->FilterChecked = 1;
    EXPECT_FALSE(shown("a.jpg"));  // not until the change is published
    catalogue.PublishLookups();
    EXPECT_TRUE(shown("a.jpg"));
    EXPECT_FALSE(shown("b.pdf"));
    EXPECT_TRUE(shown("notes.unknownext"));
}

TEST(FilterStore, DefaultsAreStoredOnceAndAFilterSurvivesTheRoundTrip) {
    vmtest::TempDir dir;
    CRegistryStore store(dir.File("registry.db"));
    const std::string key = std::string(kProgramKey) + "\\Filter";
    CFilter filter;
    filter.DeletedOnly = 1;
    EXPECT_EQ(filter.LoadOrCreate(store), 0);
    EXPECT_EQ(filter.DeletedOnly, 0);  // reset first
    auto value = store.GetValue(key, "");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->Type, REG_BINARY);
    ASSERT_EQ(value->Data.size(), 728u);
    // The layout of the stored defaults, field by field.
    std::vector<std::uint8_t> defaults(728, 0);
    auto put = [&](std::size_t at, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) defaults[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    put(8, 1, 4);
    put(48, 1, 4);
    put(120, '*', 2);
    put(640, ~0ULL, 8);
    put(656, ~0ULL, 8);
    put(672, ~0ULL, 8);
    EXPECT_EQ(value->Data, defaults);

    CFilter changed;
    changed.DeletedOnly = changed.MaskOn = changed.DateOn = changed.TimeOfDay = changed.SizeOn = 1;
    changed.TypeMode = FILTER_CUSTOM_TYPES;
    changed.Mask = "Bericht ä*.doc";
    changed.DateFrom = kLongAgo;
    changed.DateTo = kNow;
    value->Data[700] = 0x5A;  // a reserved byte someone else set
    ASSERT_TRUE(store.SetValue(key, "", REG_BINARY, value->Data));
    CFilter keeper;
    ASSERT_EQ(keeper.LoadOrCreate(store), 1);
    keeper.DeletedOnly = changed.DeletedOnly; keeper.MaskOn = changed.MaskOn; keeper.DateOn = changed.DateOn;
    keeper.TimeOfDay = changed.TimeOfDay; keeper.SizeOn = changed.SizeOn; keeper.TypeMode = changed.TypeMode;
    keeper.Mask = changed.Mask; keeper.DateFrom = changed.DateFrom; keeper.DateTo = changed.DateTo;
    ASSERT_EQ(keeper.Save(store), 1);

    CFilter loaded;
    ASSERT_EQ(loaded.LoadOrCreate(store), 1);
    EXPECT_EQ(loaded.StoredForm(), keeper.StoredForm());
    EXPECT_EQ(loaded.StoredForm()[700], 0x5A);
    EXPECT_EQ(loaded.Mask, "Bericht ä*.doc");
    EXPECT_EQ(loaded.TypeMode, FILTER_CUSTOM_TYPES);
    EXPECT_EQ(loaded.DateFrom, kLongAgo);
    EXPECT_EQ(loaded.DateTo, kNow);
    EXPECT_EQ(loaded.DeletedOnly + loaded.MaskOn + loaded.DateOn + loaded.TimeOfDay + loaded.SizeOn, 5);

    // A pattern longer than its room keeps 255 units.
    loaded.Mask = std::string(300, 'x');
    std::string why;
    CFilter shortened;
    ASSERT_TRUE(shortened.FromStoredForm(loaded.StoredForm(), why)) << why;
    EXPECT_EQ(shortened.Mask, std::string(255, 'x'));
}

TEST(FilterStore, ADamagedStoredFilterGivesTheDefaultsAndALogLine) {
    vmtest::TempDir dir;
    CRegistryStore store(dir.File("registry.db"));
    const std::string key = std::string(kProgramKey) + "\\Filter";
    CFilter good;
    good.DeletedOnly = 1;
    const std::vector<std::uint8_t> form = good.StoredForm();
    auto without = [&](std::function<void(std::vector<std::uint8_t>&)> damage) {
        auto bytes = form;
        damage(bytes);
        return bytes;
    };
    struct Case {
        const char* what;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
        const char* logged;
    } cases[] = {
        {"short", REG_BINARY, std::vector<std::uint8_t>(form.begin(), form.begin() + 100), "it has 100 bytes, not 728"},
        {"long", REG_BINARY, without([](auto& b) { b.push_back(0); }), "it has 729 bytes"},
        {"not binary", REG_SZ, form, "it is not binary"},
        {"endless pattern", REG_BINARY, without([](auto& b) { std::fill(b.begin() + 120, b.begin() + 632, 'x'); }), "its pattern has no end"},
        {"type choice", REG_BINARY, without([](auto& b) { b[80] = 7; }), "its type choice 7"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(store.SetValue(key, "", c.type, c.data));
        CFilter filter;
        filter.MaskOn = 1;
        EXPECT_EQ(filter.LoadOrCreate(store), 0) << c.what;
        EXPECT_EQ(filter.StoredForm(), CFilter().StoredForm()) << c.what;
        EXPECT_TRUE(Log().Contains(std::string("stored filter is damaged (") + c.logged)) << c.what;
        EXPECT_EQ(store.GetValue(key, "")->Data, c.data) << c.what;  // left for the user to see
    }
}

TEST_F(FilterTest, FindMatchesByNameDateSizeAndDeletedState) {
    struct Case {
        const char* what;
        std::function<void(FindCriteria&)> set;
        Names found;
    } cases[] = {
        {"pattern without case", [](FindCriteria& c) { c.Pattern = "*.DOC"; c.DeletedOnly = 0; }, {"old.doc", "Report.DOC", "a.doc"}},
        {"empty pattern, deleted files", [](FindCriteria& c) { c.Pattern = ""; }, {"old.doc", "lost.bin"}},
        {"folders when asked", [](FindCriteria& c) { c.Pattern = "doc*"; c.DeletedOnly = 0; c.IgnoreFolders = 0; }, {"Docs"}},
        {"past week", [](FindCriteria& c) { c.DeletedOnly = 0; c.SetDateMode(FIND_PAST_WEEK, kNow); }, {"a.doc"}},
        {"past month", [](FindCriteria& c) { c.DeletedOnly = 0; c.SetDateMode(FIND_PAST_MONTH, kNow); }, {"a.doc", "Report.DOC"}},
        {"given dates", [](FindCriteria& c) { c.DeletedOnly = 0; c.IgnoreFolders = 0; c.FindFrom = kLongAgo; c.FindTo = kLastMonth; c.SetDateMode(FIND_DATES, kNow); },
         {"Docs", "Sub", "old.doc", "Report.DOC"}},
        {"small", [](FindCriteria& c) { c.DeletedOnly = 0; c.SetSizeMode(FIND_SMALL); }, {"old.doc", "Report.DOC", "lost.bin"}},
        {"medium forces folders out", [](FindCriteria& c) { c.DeletedOnly = 0; c.IgnoreFolders = 0; c.SetSizeMode(FIND_MEDIUM); },
         {"old.doc", "Report.DOC", "lost.bin"}},
        {"large", [](FindCriteria& c) { c.DeletedOnly = 0; c.SetSizeMode(FIND_LARGE); }, {"a.doc", "lost.bin"}},
        {"below 5 KB", [](FindCriteria& c) { c.DeletedOnly = 0; c.SetCustomSize(5, 1024, -1); }, {"old.doc", "lost.bin"}},
        {"exactly 5 KB", [](FindCriteria& c) { c.DeletedOnly = 0; c.SetCustomSize(5, 1024, 0); }, {"Report.DOC", "lost.bin"}},
        {"above 1 MB", [](FindCriteria& c) { c.DeletedOnly = 0; c.SetCustomSize(1, 1 << 20, 1); }, {"a.doc", "lost.bin"}},
    };
    for (const auto& c : cases) {
        CFindInFound find;
        c.set(find.Criteria);
        EXPECT_EQ(Matched(find), c.found) << c.what;
    }
}

TEST_F(FilterTest, FindListsMatchesThroughTheFilterWithTheirFolders) {
    CFindInFound find;
    find.Criteria.Pattern = "*.doc";
    find.Criteria.DeletedOnly = 0;
    CFilter filter;
    filter.MaskOn = 1;
    filter.Mask = "*.doc";  // exact: Report.DOC is hidden
    std::atomic<std::size_t> reported{999};
    find.Start(Volume, filter, [&](std::size_t n) { reported = n; });
    find.Wait();
    std::map<std::string, std::string> folderOf;
    for (const FindResult& r : find.Results()) folderOf[r.Item->NameOrEmpty()] = r.Folder;
    EXPECT_EQ(folderOf, (std::map<std::string, std::string>{{"old.doc", "\\Docs\\Sub\\"}, {"a.doc", "\\"}}));
    EXPECT_EQ(reported, 2u);
    EXPECT_FALSE(find.Running());

    find.Criteria.Pattern = "nothing*";
    find.Start(Volume, filter, [&](std::size_t n) { reported = n; });
    find.Wait();
    EXPECT_TRUE(find.Results().empty());
    EXPECT_EQ(reported, 0u);
}

TEST_F(FilterTest, FindRunsWhileTheAnalysisAddsItems) {
    constexpr int kAdded = 20000;
    std::vector<std::string> names;
    for (int i = 0; i < kAdded; ++i) names.push_back("file" + std::to_string(i) + (i % 2 ? ".doc" : ".txt"));
    std::atomic<bool> done{false};
    std::thread analysis([&] {
        for (int i = 0; i < kAdded; ++i) {
            FoundItem r;
            r.Id = std::uint32_t(1000 + i);
            r.ParentId = std::uint32_t(i % 3 ? 10 : 1000 + i - 1);  // some under a folder filed just before
            r.Name = names[std::size_t(i)].c_str();
            r.Flags = std::uint16_t(FI_NAMED | (i % 3 ? FI_DELETED : FI_FOLDER));
            r.Size = std::uint64_t(i);
            if (FoundItem* item = Volume.FoundTree.AddFound(r, false); item && item->Is(FI_DELETED))
                Volume.FoundTree.MarkDeletedAncestors(item);
        }
        done = true;
    });
    CFindInFound find;
    find.Criteria.Pattern = "*.DOC";
    CFilter filter;
    std::size_t runs = 0;
    while (!done || runs < 3) {
        find.Start(Volume, filter);
        if (runs % 2) find.Stop();  // a stop while the walk is under way
        find.Wait();
        for (const FindResult& r : find.Results()) {
            ASSERT_TRUE(r.Item->Is(FI_DELETED));
            ASSERT_TRUE(WildcardMatch("*.doc", r.Item->NameOrEmpty(), WildcardCase::Exact));
        }
        ++runs;
    }
    analysis.join();
    find.Start(Volume, filter);
    find.Wait();
    // Every deleted .doc: the odd i that are not multiples of 3, and old.doc.
    std::size_t want = 1;
    for (int i = 1; i < kAdded; i += 2) want += i % 3 ? 1 : 0;
    EXPECT_EQ(find.Results().size(), want);
}

}  // namespace
}  // namespace vm
