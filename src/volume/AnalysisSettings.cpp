#include "volume/AnalysisSettings.h"

#include "app/SettingsBlock.h"

namespace vm {

bool SectorScanAfterFsSetting() { return AppSettings().SectorScanAfterFs() != 0; }
void SetSectorScanAfterFs(bool on) { AppSettings().SetSectorScanAfterFs(on ? 1 : 0); }
bool LogFoundFilesSetting() { return AppSettings().LogFoundFiles() != 0; }
void SetLogFoundFiles(bool on) { AppSettings().SetLogFoundFiles(on ? 1 : 0); }
bool AnalysisQueueSetting() { return AppSettings().AnalysisQueueOption() != 0; }
void SetAnalysisQueue(bool on) { AppSettings().SetAnalysisQueueOption(on ? 1 : 0); }
std::uint32_t SearchThreadsSetting() { return AppSettings().SearchThreads(); }

}  // namespace vm
