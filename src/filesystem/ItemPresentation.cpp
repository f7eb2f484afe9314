#include "filesystem/ItemPresentation.h"

#include <algorithm>
#include <ctime>

#include "app/Format.h"
#include "app/StringTable.h"
#include "platform/FileTime.h"

namespace vm {
namespace {
constexpr int kStrFolder = 57118;
constexpr std::int64_t kKB = 1024, kMB = kKB * 1024, kGB = kMB * 1024;
}  // namespace

std::string SizeText(std::uint64_t size) {
    if (size == SIZE_UNKNOWN) return "unknown";
    const auto bytes = std::int64_t(size);
    if (bytes > kGB) return Format("%I64d GB", bytes / kGB);
    if (bytes > kMB) return Format("%I64d MB", bytes / kMB);
    if (bytes > kKB) return Format("%I64d KB", bytes / kKB);
    return Format("%I64d", bytes);
}

std::string SizeText(const FoundItem& item) { return item.Is(FI_FOLDER) ? std::string() : SizeText(item.Size); }

std::string DateText(std::uint64_t fileTime) {
    if (fileTime == 0) return {};
    const time_t seconds = FileTimeToTimespec(fileTime).tv_sec;
    struct tm local {};
    if (!localtime_r(&seconds, &local)) return {};
    char date[64], time[64];
    if (!std::strftime(date, sizeof date, "%x", &local) || !std::strftime(time, sizeof time, "%X", &local)) return {};
    return Format("%s %s", date, time);
}

namespace {
int FolderIcon(const FoundItem& item, std::int32_t rootId) {
    if (item.SignedId() == rootId) return ICON_ROOT_FOLDER;
    if (item.SignedId() == ID_LOST_FOLDERS || item.SignedParentId() == ID_LOST_FOLDERS) return ICON_FOLDER_LOST;
    if (item.SignedParentId() == ID_LOST_FILES || item.Is(FI_DELETED)) return ICON_FOLDER_DELETED;
    if (item.Is(FI_HAS_DELETED)) return ICON_FOLDER_HAS_DELETED;
    return ICON_FOLDER;
}
}  // namespace

int ItemIconOf(const FoundItem& item, std::int32_t rootId, bool expanded) {
    if (item.Is(FI_DRIVE)) return ICON_OF_DRIVE;
    if (!item.Is(FI_FOLDER)) {
        const int icon = item.Is(FI_DELETED) ? ICON_FILE_DELETED : ICON_FILE;
        return item.Is(FI_SIGNATURE_MATCH) ? icon + ICON_FILE_MATCHED : icon;
    }
    const int icon = FolderIcon(item, rootId);
    // The root folder and the group folders under "Lost files" look the same open or closed.
    const bool keeps = icon == ICON_ROOT_FOLDER || item.SignedParentId() == ID_LOST_FILES;
    return expanded && !keeps ? icon + 1 : icon;
}

std::string GetTypeName(const FoundItem& item, const IFileTypeNames* names) {
    if (item.Is(FI_FOLDER)) return GetString(kStrFolder);
    return names ? names->TypeNameOf(item) : std::string();
}

int CompareNames(const char* a, const char* b) {
    auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    for (;; ++a, ++b) {
        const int ca = fold(static_cast<unsigned char>(*a)), cb = fold(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

namespace {
// <0 when a comes first with the direction flag clear.
int CompareBy(SortColumn column, const FoundItem& a, const FoundItem& b) {
    auto descending = [](std::uint64_t x, std::uint64_t y) { return x > y ? -1 : (x < y ? 1 : 0); };
    switch (column) {
        case SortColumn::Size:
            return descending(a.Size, b.Size);
        case SortColumn::Date:
            return descending(a.CreateTime, b.CreateTime);
        case SortColumn::Name:
        case SortColumn::Type:
        case SortColumn::InFolder:
            break;
    }
    return CompareNames(a.NameOrEmpty(), b.NameOrEmpty());
}
}  // namespace

bool CItemOrder::operator()(const FoundItem* a, const FoundItem* b) const {
    const bool folderA = a->Is(FI_FOLDER), folderB = b->Is(FI_FOLDER);
    if (folderA != folderB) return folderA;
    const int c = CompareBy(Column, *a, *b);
    return Reversed ? c > 0 : c < 0;
}

void SortItems(std::vector<FoundItem*>& items, const CItemOrder& order) {
    std::stable_sort(items.begin(), items.end(), order);
}

}  // namespace vm
