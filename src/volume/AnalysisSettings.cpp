#include "volume/AnalysisSettings.h"

#include <atomic>

namespace vm {
namespace {
std::atomic<bool> g_sectorScanAfterFs{false};
std::atomic<bool> g_logFoundFiles{false};
std::atomic<bool> g_analysisQueue{true};
}  // namespace

bool SectorScanAfterFsSetting() { return g_sectorScanAfterFs.load(); }
void SetSectorScanAfterFs(bool on) { g_sectorScanAfterFs.store(on); }
bool LogFoundFilesSetting() { return g_logFoundFiles.load(); }
void SetLogFoundFiles(bool on) { g_logFoundFiles.store(on); }
bool AnalysisQueueSetting() { return g_analysisQueue.load(); }
void SetAnalysisQueue(bool on) { g_analysisQueue.store(on); }
std::uint32_t SearchThreadsSetting() { return 1; }

}  // namespace vm
