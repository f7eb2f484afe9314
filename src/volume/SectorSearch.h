#pragma once
// Where the sector analysis finds its searcher. The searcher reads the whole drive, reports each
// find through CVolume::AddSectorItem and returns when the drive is done or the run was stopped.
#include <functional>

namespace vm {

class CVolume;

using SectorSearchRun = std::function<void(CVolume& volume)>;

// Installs a searcher in place of the engine's own (an empty function restores it). Returns the
// one it replaces.
SectorSearchRun SetSectorSearch(SectorSearchRun run);
SectorSearchRun CurrentSectorSearch();

}  // namespace vm
