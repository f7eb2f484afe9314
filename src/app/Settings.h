#pragma once
// Accessors of the program settings that the engine reads on its hot paths.
#include <cstdint>

namespace vm {

// "Retry attempts:" of the Drive Access settings: how many times a short sector read is issued
// again. Read on every attempt, so a change applies to the next read.
std::uint32_t ReadRetriesSetting();
// "Pause between retry attempts:" in milliseconds.
std::uint32_t RetryPauseSetting();

}  // namespace vm
