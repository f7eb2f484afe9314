#include "platform/FaultyReader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace vm {

void CFaultyReader::AddBadRange(std::uint64_t first, std::uint64_t length) {
    std::lock_guard<std::mutex> g(M);
    Bad.push_back({first, first + length, 0});
}

void CFaultyReader::AddHangRange(std::uint64_t first, std::uint64_t length, unsigned ms) {
    std::lock_guard<std::mutex> g(M);
    Hang.push_back({first, first + length, ms});
}

void CFaultyReader::ShortReads(unsigned count, std::size_t bytes) {
    std::lock_guard<std::mutex> g(M);
    ShortLeft = count;
    ShortBytes = bytes;
}

ReadResult CFaultyReader::ReadAt(std::uint64_t pos, void* buffer, std::size_t len) {
    ++Reads;
    const std::uint64_t end = pos + len;
    unsigned hangMs = 0;
    std::uint64_t firstBad = end;
    std::size_t limit = len;
    {
        std::lock_guard<std::mutex> g(M);
        for (const auto& r : Hang)
            if (r.First < end && pos < r.End) hangMs = std::max(hangMs, r.HangMs);
        for (const auto& r : Bad)
            if (r.First < end && pos < r.End) firstBad = std::min(firstBad, std::max(r.First, pos));
        if (ShortLeft) {
            --ShortLeft;
            limit = std::min(len, ShortBytes);
        }
    }
    if (hangMs) std::this_thread::sleep_for(std::chrono::milliseconds(hangMs));
    std::size_t good = std::min<std::size_t>(limit, std::size_t(firstBad - pos));
    ReadResult r = Inner->ReadAt(pos, buffer, good);
    if (firstBad < end && r.Bytes == good) r.Error = EIO;
    return r;
}

}  // namespace vm
