#pragma once
// How the command line shows found items: as lines of tab-separated columns or as JSON.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "volume/Volume.h"

namespace vm::cli {

// A folder path of the drive ("\folder\") as the command line writes paths ("/folder/").
std::string SlashedFolder(std::string folder);
// The item's full path as the command line writes it ("/folder/name").
std::string ItemPath(const CVolume& volume, const FoundItem& item);
// Every item of the drive's tree but its root nodes, sorted by path.
std::vector<FoundItem*> ListedItems(const CVolume& volume);
nlohmann::ordered_json ItemJson(const CVolume& volume, const FoundItem& item);
// state, kind, size, created, modified, accessed, id, path
std::string ItemLine(const CVolume& volume, const FoundItem& item);

}  // namespace vm::cli
