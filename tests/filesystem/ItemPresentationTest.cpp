#include "filesystem/ItemPresentation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/FileTime.h"

namespace vm {
namespace {

TEST(ItemPresentation, SizeTexts) {
    struct Case {
        std::uint64_t size;
        const char* text;
    } cases[] = {
        {0, "0"},
        {1024, "1024"},
        {1025, "1 KB"},
        {1048576, "1024 KB"},
        {1048577, "1 MB"},
        {1073741824, "1024 MB"},
        {1073741825, "1 GB"},
        {5ull << 40, "5120 GB"},
        {SIZE_UNKNOWN, "unknown"},
    };
    for (const Case& c : cases) EXPECT_EQ(SizeText(c.size), c.text) << c.size;

    FoundItem folder;
    folder.Flags = FI_FOLDER;
    folder.Size = 4096;
    EXPECT_EQ(SizeText(folder), "");
}

class LocalTimeIsUtc : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        HadTz = tz != nullptr;
        if (tz) OldTz = tz;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (HadTz)
            setenv("TZ", OldTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    bool HadTz = false;
    std::string OldTz;
};

TEST_F(LocalTimeIsUtc, DateTextShowsShortDateAndTime) {
    EXPECT_EQ(DateText(0), "");
    // 2021-02-03 04:05:06 UTC
    const std::uint64_t ft = UnixToFileTime(std::int64_t(1612325106) * 1000000000);
    EXPECT_EQ(DateText(ft), "02/03/21 04:05:06");
}

TEST(ItemPresentation, Icons) {
    constexpr std::int32_t root = 2;
    struct Case {
        std::uint16_t flags;
        std::int32_t id, parent;
        int closed, open;
    } cases[] = {
        {0, 10, root, ICON_FILE, ICON_FILE},
        {FI_DELETED, 10, root, ICON_FILE_DELETED, ICON_FILE_DELETED},
        {FI_SIGNATURE_MATCH, 10, root, ICON_FILE_MATCHED, ICON_FILE_MATCHED},
        {FI_FOLDER, 11, root, ICON_FOLDER, 3},
        {FI_FOLDER | FI_HAS_DELETED, 11, root, ICON_FOLDER_HAS_DELETED, 5},
        {FI_FOLDER | FI_DELETED, 11, root, ICON_FOLDER_DELETED, 7},
        {FI_FOLDER, root, -100, ICON_ROOT_FOLDER, ICON_ROOT_FOLDER},
        {FI_FOLDER | FI_HAS_DELETED, ID_LOST_FOLDERS, -100, ICON_FOLDER_LOST, 9},
        {FI_FOLDER | FI_DELETED | FI_HAS_DELETED, 50, ID_LOST_FOLDERS, ICON_FOLDER_LOST, 9},  // placeholder
        {FI_FOLDER | FI_HAS_DELETED, -7, ID_LOST_FILES, ICON_FOLDER_DELETED, ICON_FOLDER_DELETED},  // group
        {FI_DRIVE, -100, -12, ICON_OF_DRIVE, ICON_OF_DRIVE},
    };
    for (const Case& c : cases) {
        FoundItem item;
        item.Flags = c.flags;
        item.Id = std::uint32_t(c.id);
        item.ParentId = std::uint32_t(c.parent);
        EXPECT_EQ(ItemIconOf(item, root), c.closed) << c.flags << " " << c.id;
        EXPECT_EQ(ItemIconOf(item, root, true), c.open) << c.flags << " " << c.id;
    }
}

TEST(ItemPresentation, TypeNames) {
    struct Names final : IFileTypeNames {
        std::string TypeNameOf(const FoundItem& item) const override { return std::string("type of ") + item.Name; }
    } names;
    FoundItem folder, file;
    folder.Flags = FI_FOLDER | FI_NAMED;
    folder.Name = "x.jpg";
    file.Flags = FI_NAMED;
    file.Name = "a.jpg";
    EXPECT_EQ(GetTypeName(folder, &names), "Folder");
    EXPECT_EQ(GetTypeName(file, &names), "type of a.jpg");
    EXPECT_EQ(GetTypeName(file), "");
}

TEST(ItemPresentation, SortOrder) {
    auto make = [](const char* name, bool folder, std::uint64_t size, std::uint64_t time) {
        FoundItem f;
        f.Flags = std::uint16_t(FI_NAMED | (folder ? FI_FOLDER : 0));
        f.Name = name;
        f.Size = size;
        f.CreateTime = time;
        return f;
    };
    FoundItem items[] = {make("beta", false, 10, 3), make("Alpha", false, 30, 1), make("zeta", true, 0, 2),
                         make("gamma", false, 20, 2), make("Omega", true, 0, 9)};
    auto names = [&](CItemOrder order) {
        std::vector<FoundItem*> list;
        for (auto& i : items) list.push_back(&i);
        SortItems(list, order);
        std::string out;
        for (auto* i : list) out += std::string(i->Name) + " ";
        return out;
    };
    struct Case {
        SortColumn column;
        bool reversed;
        const char* expected;
    } cases[] = {
        {SortColumn::Name, false, "Omega zeta Alpha beta gamma "},
        {SortColumn::Name, true, "zeta Omega gamma beta Alpha "},
        {SortColumn::Type, false, "Omega zeta Alpha beta gamma "},
        {SortColumn::Size, false, "zeta Omega Alpha gamma beta "},
        {SortColumn::Size, true, "zeta Omega beta gamma Alpha "},
        {SortColumn::Date, false, "Omega zeta beta gamma Alpha "},
        {SortColumn::Date, true, "zeta Omega Alpha gamma beta "},
    };
    for (const Case& c : cases) {
        CItemOrder order;
        order.Column = c.column;
        order.Reversed = c.reversed;
        EXPECT_EQ(names(order), c.expected) << int(c.column) << c.reversed;
    }

    CItemOrder clicked;
    clicked.Click(SortColumn::Size);
    EXPECT_EQ(clicked.Column, SortColumn::Size);
    EXPECT_TRUE(clicked.Reversed);
}

}  // namespace
}  // namespace vm
