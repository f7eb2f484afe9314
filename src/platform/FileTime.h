#pragma once
// FILETIME: 100-nanosecond units since 1601-01-01 UTC, the unit every time of the model uses.
#include <cstdint>
#include <ctime>

namespace vm {

constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;  // 1970-01-01 as FILETIME

inline std::uint64_t UnixToFileTime(std::int64_t unixNanoseconds) {
    return std::uint64_t(std::int64_t(kFileTimeUnixEpoch) + unixNanoseconds / 100);
}

// Seconds and nanoseconds since 1970 of a FILETIME (times before 1970 give negative seconds).
inline struct timespec FileTimeToTimespec(std::uint64_t ft) {
    std::int64_t rel = std::int64_t(ft) - std::int64_t(kFileTimeUnixEpoch);
    std::int64_t sec = rel / 10000000;
    std::int64_t rem = rel % 10000000;
    if (rem < 0) {
        rem += 10000000;
        --sec;
    }
    struct timespec ts {};
    ts.tv_sec = time_t(sec);
    ts.tv_nsec = long(rem * 100);
    return ts;
}

}  // namespace vm

#include <string>

namespace vm {
// "YYYY-MM-DD HH:MM:SS" in the machine's local time; empty for 0.
std::string FileTimeToLocalText(std::uint64_t fileTime);
}  // namespace vm
