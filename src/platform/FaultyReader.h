#pragma once
// A reader that passes reads to another one and injects the faults of a failing disk: sectors
// that cannot be read (the read delivers the bytes before them, as pread does, and then fails),
// reads that come back short, and reads that hang. Used by tests and by fault drills.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/DeviceReader.h"

namespace vm {

class CFaultyReader final : public IDeviceReader {
public:
    explicit CFaultyReader(std::shared_ptr<IDeviceReader> inner) : Inner(std::move(inner)) {}

    // Byte ranges [first, first + length) of the underlying device.
    void AddBadRange(std::uint64_t first, std::uint64_t length);
    void AddHangRange(std::uint64_t first, std::uint64_t length, unsigned milliseconds);
    // The next `count` reads deliver only `bytes` bytes each (no error).
    void ShortReads(unsigned count, std::size_t bytes);

    ReadResult ReadAt(std::uint64_t pos, void* buffer, std::size_t len) override;
    std::uint64_t SizeBytes() const override { return Inner->SizeBytes(); }

    unsigned ReadCount() const { return Reads.load(); }

private:
    struct Range {
        std::uint64_t First, End;
        unsigned HangMs;
    };
    std::shared_ptr<IDeviceReader> Inner;
    std::mutex M;
    std::vector<Range> Bad, Hang;
    unsigned ShortLeft = 0;
    std::size_t ShortBytes = 0;
    std::atomic<unsigned> Reads{0};
};

}  // namespace vm
