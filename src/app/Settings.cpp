#include "app/Settings.h"

namespace vm {

std::uint32_t ReadRetriesSetting() { return 10; }
std::uint32_t RetryPauseSetting() { return 0; }

}  // namespace vm
