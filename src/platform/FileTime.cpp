#include "platform/FileTime.h"

namespace vm {

std::string FileTimeToLocalText(std::uint64_t ft) {
    if (ft == 0) return {};
    struct timespec ts = FileTimeToTimespec(ft);
    std::tm local{};
    time_t t = ts.tv_sec;
    if (!localtime_r(&t, &local)) return {};
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) return {};
    return text;
}

}  // namespace vm
