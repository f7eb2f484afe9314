// The rows of the item information views: sizes on disk, times and the fields of folders,
// lost files and damaged items.
#include <gtest/gtest.h>

#include "filesystem/ItemInformation.h"
#include "platform/FileTime.h"

namespace vm {
namespace {

ItemSnapshot Item(std::uint16_t flags, std::uint64_t size) {
    ItemSnapshot s;
    s.Fields.Flags = flags;
    s.Fields.Size = size;
    s.Fields.Id = 7;
    s.Fields.ParentId = 5;
    s.Fields.DataOffset = 123456;
    s.Name = "report.doc";
    return s;
}

struct SizeCase {
    std::uint16_t flags;
    std::uint64_t size;
    std::uint32_t cluster;
    const char* size_text;
    const char* on_disk;
};

TEST(ItemInformation, SizesAndSizesOnDisk) {
    const SizeCase cases[] = {
        {FI_FOLDER, SIZE_UNKNOWN, 4096, "0", "0"},
        {FI_LOST, 1000, 4096, "1000", "4096"},
        {FI_LOST, 8192, 4096, "8192", "8192"},
        {0, 0, 4096, "0", "0"},
        {FI_LOST, SIZE_UNKNOWN, 4096, "-1", "unknown"},       // no overflow into a tiny number
        {0, 1000, 0, "1000", "unknown"},                      // no division by a zero cluster size
        {0, SIZE_UNKNOWN - 1, 4096, "-2", "unknown"},         // rounding up would wrap
    };
    for (const SizeCase& c : cases) {
        const ItemInformation rows = DescribeItem(Item(c.flags, c.size), c.cluster);
        EXPECT_EQ(rows.Size, c.size_text) << c.size;
        EXPECT_EQ(rows.SizeOnDisk, c.on_disk) << c.size << " on " << c.cluster;
    }
}

TEST(ItemInformation, FolderFileAndStatusRows) {
    const ItemInformation folder = DescribeItem(Item(FI_FOLDER | FI_DELETED, SIZE_UNKNOWN), 512);
    EXPECT_EQ(folder.Icon, 6);
    EXPECT_EQ(folder.Offset, "0");
    EXPECT_EQ(folder.Status, "Deleted");
    const ItemInformation file = DescribeItem(Item(0, 10), 512);
    EXPECT_EQ(file.Icon, 0);
    EXPECT_EQ(file.Offset, "123456");
    EXPECT_EQ(file.Id, "7");
    EXPECT_EQ(file.ParentId, "5");
    EXPECT_EQ(file.Status, "Live");
    EXPECT_EQ(DescribeItem(Item(FI_FOLDER, 0), 512).Icon, 2);
    EXPECT_EQ(DescribeItem(Item(FI_DELETED, 0), 512).Icon, 1);
    ItemSnapshot odd = Item(0, 0);
    odd.Fields.Id = odd.Fields.ParentId = 0xFFFFFFFF;  // all ones
    odd.Name.clear();
    const ItemInformation rows = DescribeItem(odd, 512);
    EXPECT_EQ(rows.Id, "-1");
    EXPECT_EQ(rows.Name, "");
}

TEST(ItemInformation, ModifiedShowsTheWriteTimeAndAccessedTheAccessTime) {
    ItemSnapshot s = Item(0, 10);
    s.Fields.CreateTime = 0;
    s.Fields.WriteTime = UnixToFileTime(1700000000LL * 1000000000LL);
    s.Fields.AccessTime = 0;
    const ItemInformation rows = DescribeItem(s, 512);
    EXPECT_EQ(rows.Created, "unknown");
    EXPECT_NE(rows.Modified, "unknown");
    EXPECT_FALSE(rows.Modified.empty());
    EXPECT_EQ(rows.Accessed, "unknown");
}

}  // namespace
}  // namespace vm
