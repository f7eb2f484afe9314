#include "cli/ItemOutput.h"

#include <algorithm>

#include "platform/FileTime.h"
#include "recovery/TargetNames.h"

namespace vm::cli {

std::string SlashedFolder(std::string folder) {
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return folder;
}

std::string ItemPath(const CVolume& volume, const FoundItem& item) {
    std::string folder;
    volume.GetItemPath(item, folder);
    return SlashedFolder(std::move(folder)) + item.NameOrEmpty();
}

std::vector<FoundItem*> ListedItems(const CVolume& volume) {
    std::vector<FoundItem*> all, out;
    volume.FoundTree.Snapshot(all);
    std::vector<std::pair<std::string, FoundItem*>> keyed;
    for (FoundItem* item : all) {
        const bool root = item->SignedId() == volume.FoundTree.RootId && item->Is(FI_FOLDER) &&
                          std::string(item->NameOrEmpty()) == ".";
        if (item->Is(FI_DRIVE) || root) continue;
        keyed.emplace_back(ItemPath(volume, *item), item);
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& k : keyed) out.push_back(k.second);
    return out;
}

nlohmann::ordered_json ItemJson(const CVolume& volume, const FoundItem& item) {
    nlohmann::ordered_json j;
    j["path"] = ItemPath(volume, item);
    j["folder"] = item.Is(FI_FOLDER);
    j["deleted"] = item.Is(FI_DELETED);
    j["lost"] = item.Is(FI_LOST);
    if (item.SizeKnown()) j["size"] = item.Size; else j["size"] = nullptr;
    j["created"] = FileTimeToLocalText(item.CreateTime);
    j["modified"] = FileTimeToLocalText(item.WriteTime);
    j["accessed"] = FileTimeToLocalText(item.AccessTime);
    j["id"] = item.SignedId();
    j["offset"] = item.DataOffset;
    j["type"] = item.FileType;
    return j;
}

std::string ItemLine(const CVolume& volume, const FoundItem& item) {
    auto orDash = [](std::string s) { return s.empty() ? std::string("-") : s; };
    std::string line = item.Is(FI_DELETED) ? "deleted" : "live";
    line += '\t';
    line += item.Is(FI_FOLDER) ? "folder" : "file";
    line += '\t';
    line += item.Is(FI_FOLDER) ? "-" : item.SizeKnown() ? std::to_string(item.Size) : "unknown";
    line += '\t' + orDash(FileTimeToLocalText(item.CreateTime));
    line += '\t' + orDash(FileTimeToLocalText(item.WriteTime));
    line += '\t' + orDash(FileTimeToLocalText(item.AccessTime));
    line += '\t' + std::to_string(item.SignedId());
    line += '\t' + PrintableName(ItemPath(volume, item));
    return line;
}

}  // namespace vm::cli
