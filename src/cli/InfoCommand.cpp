#include "cli/Commands.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/Target.h"
#include "platform/TextConvert.h"
#include "recovery/TargetNames.h"

namespace vm::cli {
namespace {

nlohmann::ordered_json InfoJson(CVolume& v) {
    std::string oem = Trim(OemToUtf8(v.OemName, 8));
    nlohmann::ordered_json j;
    j["kind"] = VolumeKindName(v.VolumeKind);
    j["device_path"] = v.GetDevicePath();
    j["display_name"] = v.GetDisplayName();
    j["total_bytes"] = v.TotalBytes;
    j["total_sectors"] = v.TotalSectors;
    j["bytes_per_sector"] = v.BytesPerSector;
    j["sectors_per_cluster"] = v.SectorsPerCluster;
    j["bytes_per_cluster"] = v.BytesPerCluster;
    j["total_clusters"] = v.TotalClusters;
    j["file_system_code"] = v.pFileSystem->TypeCode;
    j["file_system"] = v.GetFileSystemName();
    j["label"] = v.Label;
    j["oem_name"] = oem;
    j["serial_number"] = SerialNumberText(v);
    j["start_offset"] = v.StartOffset;
    return j;
}

void PrintHuman(const nlohmann::ordered_json& j) {
    static const std::pair<const char*, const char*> rows[] = {
        {"kind", "Kind"},
        {"device_path", "Device path"},
        {"display_name", "Name"},
        {"total_bytes", "Total bytes"},
        {"total_sectors", "Total sectors"},
        {"bytes_per_sector", "Bytes per sector"},
        {"sectors_per_cluster", "Sectors per cluster"},
        {"bytes_per_cluster", "Bytes per cluster"},
        {"total_clusters", "Total clusters"},
        {"file_system_code", "File-system code"},
        {"file_system", "File system"},
        {"label", "Label"},
        {"oem_name", "OEM name"},
        {"serial_number", "Serial number"},
        {"start_offset", "Start offset"},
    };
    for (const auto& [key, title] : rows) {
        const auto& value = j[key];
        std::string text = value.is_string() ? PrintableName(value.get<std::string>()) : value.dump();
        std::printf("%-20s %s\n", (std::string(title) + ":").c_str(), text.c_str());
    }
}

}  // namespace

int RunInfo(const CommonOptions& common, const TargetOptions& target) {
    std::string error;
    auto opened = OpenTarget(target, error);
    if (!opened) return Fail(error);
    auto j = InfoJson(*opened->Volume);
    if (common.Json)
        std::printf("%s\n", j.dump(2).c_str());
    else
        PrintHuman(j);
    return 0;
}

}  // namespace vm::cli
