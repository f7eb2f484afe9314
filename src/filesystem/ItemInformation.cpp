#include "filesystem/ItemInformation.h"

#include "app/Format.h"
#include "app/StringTable.h"
#include "filesystem/ItemPresentation.h"

namespace vm {
namespace {
constexpr int kStrUnknown = 57116;
}  // namespace

std::string SizeOnDiskText(const FoundItem& item, std::uint32_t bytesPerCluster) {
    if (item.Is(FI_FOLDER)) return "0";
    if (!item.SizeKnown() || bytesPerCluster == 0 || item.Size > SIZE_UNKNOWN - bytesPerCluster)
        return GetString(kStrUnknown);
    const std::uint64_t clusters = (item.Size + bytesPerCluster - 1) / bytesPerCluster;
    return Format("%I64d", std::int64_t(clusters * bytesPerCluster));
}

std::string ItemTimeText(std::uint64_t fileTime) {
    const std::string text = fileTime ? DateText(fileTime) : std::string();
    return text.empty() ? GetString(kStrUnknown) : text;
}

ItemInformation DescribeItem(const ItemSnapshot& item, std::uint32_t bytesPerCluster) {
    const FoundItem& f = item.Fields;
    const bool folder = f.Is(FI_FOLDER), deleted = f.Is(FI_DELETED);
    ItemInformation rows;
    rows.Icon = folder ? (deleted ? ICON_FOLDER_DELETED : ICON_FOLDER) : (deleted ? ICON_FILE_DELETED : ICON_FILE);
    rows.Name = item.Name;
    rows.Id = Format("%d", f.SignedId());
    rows.ParentId = Format("%d", f.SignedParentId());
    rows.Offset = folder ? "0" : Format("%I64d", std::int64_t(f.DataOffset));
    rows.Size = folder ? "0" : Format("%I64d", std::int64_t(f.Size));
    rows.SizeOnDisk = SizeOnDiskText(f, bytesPerCluster);
    rows.Status = deleted ? "Deleted" : "Live";
    rows.Created = ItemTimeText(f.CreateTime);
    rows.Modified = ItemTimeText(f.WriteTime);
    rows.Accessed = ItemTimeText(f.AccessTime);
    return rows;
}

}  // namespace vm
