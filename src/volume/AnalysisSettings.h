#pragma once
// The program settings that the analysis driver reads and the Start and Stop commands set, over
// the settings block.
#include <cstdint>

namespace vm {

// A full analysis goes on with the sector analysis after the file-system analysis.
bool SectorScanAfterFsSetting();
void SetSectorScanAfterFs(bool on);
// Every found file is logged as "Found file: %s".
bool LogFoundFilesSetting();
void SetLogFoundFiles(bool on);
// When a full analysis ends, the next drive waiting in the analysis queue is started.
bool AnalysisQueueSetting();
void SetAnalysisQueue(bool on);
// Number of sector-search workers.
std::uint32_t SearchThreadsSetting();

}  // namespace vm
