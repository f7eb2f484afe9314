// vellumark-cli drives: the drive tree of this machine.
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/Session.h"
#include "recovery/TargetNames.h"

namespace vm::cli {
namespace {

const char* StateText(std::int32_t state) {
    switch (state) {
        case VS_QUERYING: return "querying";
        case VS_READY: return "ready";
        case VS_ANALYSING: return "analysing";
        case VS_NO_ACCESS: return "no access";
        default: return "not ready";
    }
}

}  // namespace

int RunDrives(const CommonOptions& common) {
    CSession session;
    session.Computer().Volumes.Rescan();
    std::map<std::int32_t, int> depth;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const DriveTreeNode& node : session.Computer().BuildDriveTree(RecycleBinPlacement::None)) {
        CVolume* v = node.Volume;
        if (!v || v->VolumeKind == VK_COMPUTER) continue;
        const int level = depth.count(node.ParentId) ? depth[node.ParentId] + 1 : 0;
        depth[node.Id] = level;
        if (common.Json) {
            nlohmann::ordered_json j;
            j["id"] = node.Id;
            j["parent"] = node.ParentId;
            j["kind"] = VolumeKindName(v->VolumeKind);
            j["name"] = v->GetDisplayName();
            j["device"] = v->GetDevicePath();
            j["size"] = v->TotalBytes;
            j["state"] = StateText(v->State);
            j["file_system"] = v->GetFileSystemName();
            list.push_back(j);
            continue;
        }
        std::printf("%*s%-16s %-14s %14llu  %-9s %s\n", 2 * level, "", PrintableName(v->GetDisplayName()).c_str(),
                    VolumeKindName(v->VolumeKind), (unsigned long long)v->TotalBytes, StateText(v->State),
                    v->GetFileSystemName().c_str());
    }
    if (common.Json) std::printf("%s\n", list.dump(2).c_str());
    return 0;
}

}  // namespace vm::cli
