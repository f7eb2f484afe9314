#include "app/Settings.h"

#include "app/SettingsBlock.h"

namespace vm {

std::uint32_t ReadRetriesSetting() { return AppSettings().ReadRetries(); }
std::uint32_t RetryPauseSetting() { return AppSettings().RetryPauseMs(); }

}  // namespace vm
