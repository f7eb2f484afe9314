// vellumark-cli scan, lost and types: the sector search, the lost-drive search, the catalogue.
#include <algorithm>
#include <cstdio>
#include <sstream>
#include <strings.h>

#include "app/SettingsBlock.h"
#include "cli/Commands.h"
#include "cli/ItemOutput.h"
#include "cli/Session.h"
#include "signatures/AppCatalogue.h"

namespace vm::cli {
namespace {

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ','))
        if (!part.empty()) out.push_back(part);
    return out;
}

bool NamedBy(const FileTypeDescriptor& type, const std::string& name) {
    if (strcasecmp(type.Title.c_str(), name.c_str()) == 0 || strcasecmp(type.Description.c_str(), name.c_str()) == 0)
        return true;
    std::string extensions = type.Extensions;
    std::replace(extensions.begin(), extensions.end(), ';', ',');
    for (const auto& e : SplitList(extensions))
        if (strcasecmp(e.c_str(), name.c_str()) == 0) return true;
    return false;
}

// Keeps only the types named (by description, extension or group title) checked.
bool ChooseTypes(const std::string& names, std::string& error) {
    FileTypeCatalogue& catalogue = AppCatalogue();
    const auto wanted = SplitList(names);
    std::vector<bool> used(wanted.size(), false);
    for (const auto& type : catalogue.Types()) {
        const FileTypeDescriptor* group = catalogue.FindGroup(type->GroupId);
        bool chosen = false;
        for (std::size_t i = 0; i < wanted.size(); ++i)
            if (NamedBy(*type, wanted[i]) || (group && strcasecmp(group->Title.c_str(), wanted[i].c_str()) == 0))
                chosen = used[i] = true;
        type->Checked = chosen ? 1 : 0;
    }
    catalogue.PublishLookups();
    for (std::size_t i = 0; i < wanted.size(); ++i)
        if (!used[i]) {
            error = "no file type or group is called '" + wanted[i] + "' (see vellumark-cli types)";
            return false;
        }
    return true;
}

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
                    (unsigned long long)v->TotalBytes, v->GetDisplayName().c_str());
    }
}

}  // namespace

int RunScan(const CommonOptions& common, const TargetOptions& target, const ScanOptions& o) {
    std::string error;
    if (!o.Types.empty() && !ChooseTypes(o.Types, error)) return Fail(error);
    if (o.Threads) AppSettings().SetSearchThreads(*o.Threads);
    if (o.BlockSize) AppSettings().SetSearchBlockSize(*o.BlockSize);
    CSession session;
    CVolume* volume = session.Open(target, error);
    if (!volume) return Fail(error);
    session.Run(*volume, o.SectorsOnly ? Phase::Sectors : Phase::Full, true);
    nlohmann::ordered_json files = nlohmann::ordered_json::array(), volumes = nlohmann::ordered_json::array();
    for (const FoundItem* item : ListedItems(*volume)) {
        if (!item->Is(FI_LOST) || item->Is(FI_FOLDER)) continue;
        if (common.Json) {
            auto j = ItemJson(*volume, *item);
            j["type_name"] = TypeText(item->FileType);
            files.push_back(j);
        } else {
            std::printf("file\t%llu\t%s\t%s\t%s\n", (unsigned long long)item->DataOffset, TypeText(item->FileType).c_str(),
                        item->SizeKnown() ? std::to_string(item->Size).c_str() : "unknown", item->NameOrEmpty());
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
            std::printf("%d\t%s\t%s\t%s\t%s\n", type->TypeId, groupTitle.c_str(),
                        (type->Description.empty() ? type->Title : type->Description).c_str(),
                        type->Extensions.c_str(), type->Checked ? "checked" : "-");
        }
    }
    if (common.Json) std::printf("%s\n", list.dump(2).c_str());
    return 0;
}

}  // namespace vm::cli
