// vellumark-cli scan, lost and types: the sector search, the lost-drive search, the catalogue.
#include <algorithm>
#include <cstdio>

#include "app/SettingsBlock.h"
#include "cli/CommandOptions.h"
#include "cli/ItemOutput.h"
#include "cli/Session.h"
#include "signatures/AppCatalogue.h"
#include "recovery/TargetNames.h"

namespace vm::cli {
namespace {

std::string TypeText(std::int16_t typeId) {
    if (const FileTypeDescriptor* d = AppCatalogue().FindDescriptor(typeId))
        return d->Description.empty() ? d->Title : d->Description;
    return "type " + std::to_string(typeId);
}

nlohmann::ordered_json FoundVolumeJson(CVolume& v) {
    nlohmann::ordered_json j;
    j["name"] = v.GetDisplayName();
    j["offset"] = v.StartOffset;
    j["file_system"] = v.GetFileSystemName();
    j["size"] = v.TotalBytes;
    return j;
}

std::vector<std::shared_ptr<CVolume>> FoundVolumesOf(CSession& session, const CVolume& on) {
    std::vector<std::shared_ptr<CVolume>> out;
    for (const auto& v : session.Computer().Volumes.Snapshot())
        if (v->VolumeKind == VK_FOUND && v->GetParent() == &on) out.push_back(v);
    return out;
}

void PrintFoundVolumes(CSession& session, const CVolume& on, nlohmann::ordered_json* json) {
    for (const auto& v : FoundVolumesOf(session, on)) {
        if (json) {
            json->push_back(FoundVolumeJson(*v));
            continue;
        }
        std::printf("volume\t%llu\t%s\t%llu\t%s\n", (unsigned long long)v->StartOffset, v->GetFileSystemName().c_str(),
                    (unsigned long long)v->TotalBytes, PrintableName(v->GetDisplayName()).c_str());
    }
}

// The lost files in the order they lie on the drive.
std::vector<FoundItem*> LostFilesByOffset(const CVolume& volume) {
    std::vector<FoundItem*> lost;
    for (FoundItem* item : ListedItems(volume))
        if (item->Is(FI_LOST) && !item->Is(FI_FOLDER)) lost.push_back(item);
    std::stable_sort(lost.begin(), lost.end(),
                     [](const FoundItem* a, const FoundItem* b) { return a->DataOffset < b->DataOffset; });
    return lost;
}

}  // namespace

int RunScan(const CommonOptions& common, const TargetOptions& target, const ScanOptions& o) {
    std::string error;
    if (!o.Types.empty() && !MarkTypes(o.Types, &FileTypeDescriptor::Checked, error)) return Fail(error);
    CFilter filter;
    if (!MakeFilter(o.Filter, filter, error)) return Fail(error);
    if (o.Threads) AppSettings().SetSearchThreads(*o.Threads);
    if (o.BlockSize) AppSettings().SetSearchBlockSize(*o.BlockSize);
    CSession session;
    CVolume* volume = session.Open(target, error);
    if (!volume) return Fail(error);
    session.Run(*volume, o.SectorsOnly ? Phase::Sectors : Phase::Full, true);
    nlohmann::ordered_json files = nlohmann::ordered_json::array(), volumes = nlohmann::ordered_json::array();
    for (const FoundItem* item : LostFilesByOffset(*volume)) {
        if (filter.Rejects(*item)) continue;
        if (common.Json) {
            auto j = ItemJson(*volume, *item);
            j["type_name"] = TypeText(item->FileType);
            files.push_back(j);
        } else {
            std::printf("file\t%llu\t%s\t%s\t%s\n", (unsigned long long)item->DataOffset, TypeText(item->FileType).c_str(),
                        item->SizeKnown() ? std::to_string(item->Size).c_str() : "unknown",
                        PrintableName(item->NameOrEmpty()).c_str());
        }
    }
    PrintFoundVolumes(session, *volume, common.Json ? &volumes : nullptr);
    if (common.Json) {
        nlohmann::ordered_json j;
        j["lost_files"] = files;
        j["found_volumes"] = volumes;
        std::printf("%s\n", j.dump(2).c_str());
    }
    return 0;
}

int RunLost(const CommonOptions& common, const TargetOptions& target) {
    CSession session;
    std::string error;
    CVolume* volume = session.Open(target, error);
    if (!volume) return Fail(error);
    session.Run(*volume, Phase::LostDrives, true);
    nlohmann::ordered_json volumes = nlohmann::ordered_json::array();
    PrintFoundVolumes(session, *volume, common.Json ? &volumes : nullptr);
    if (common.Json) std::printf("%s\n", volumes.dump(2).c_str());
    return 0;
}

int RunTypes(const CommonOptions& common) {
    FileTypeCatalogue& catalogue = AppCatalogue();
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& type : catalogue.Types()) {
        const FileTypeDescriptor* group = catalogue.FindGroup(type->GroupId);
        const std::string groupTitle = group ? group->Title : "";
        if (common.Json) {
            nlohmann::ordered_json j;
            j["id"] = type->TypeId;
            j["group"] = groupTitle;
            j["description"] = type->Description.empty() ? type->Title : type->Description;
            j["extensions"] = type->Extensions;
            j["checked"] = type->Checked != 0;
            list.push_back(j);
        } else {
            std::printf("%d\t%s\t%s\t%s\t%s\n", type->TypeId, PrintableName(groupTitle).c_str(),
                        PrintableName(type->Description.empty() ? type->Title : type->Description).c_str(),
                        PrintableName(type->Extensions).c_str(), type->Checked ? "checked" : "-");
        }
    }
    if (common.Json) std::printf("%s\n", list.dump(2).c_str());
    return 0;
}

}  // namespace vm::cli
