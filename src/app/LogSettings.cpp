#include "app/LogSettings.h"

#include <filesystem>

#include "app/Log.h"
#include "app/RegistryStore.h"
#include "app/SettingsBlock.h"

namespace vm {

void ApplyLogSettings(const CSettingsBlock& s, CLog& log) {
    std::string name = s.LogFileName();
    if (!s.SaveLogToFile() || name.empty()) {
        log.SetFileOutput(false, {}, false);
        return;
    }
    std::filesystem::path path(name);
    if (path.is_relative()) path = std::filesystem::path(CRegistryStore::DefaultPath()).parent_path() / path;
    log.SetFileOutput(true, path.string(), s.LogClearOnStart() != 0, s.LogMaxSizeKB());
    if (!log.WritesToFile()) log.Error("The log file '%s' cannot be written; the log is kept in memory only", path.string());
}

}  // namespace vm
