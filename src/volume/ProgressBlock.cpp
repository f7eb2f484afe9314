#include "volume/ProgressBlock.h"

#include <algorithm>

namespace vm {

int ProgressBlock::Percent() const {
    const std::int64_t total = Total.load();
    if (total <= 0) return 0;
    const std::int64_t current = std::clamp<std::int64_t>(Current.load(), 0, total);
    // Small totals are scaled up; large ones are divided first so that nothing overflows.
    const std::int64_t percent = total < 100 ? current * 100 / total : current / (total / 100);
    return int(std::min<std::int64_t>(percent, 100));
}

}  // namespace vm
