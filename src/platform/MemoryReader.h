#pragma once
// Bytes in memory served as a drive: for fuzzing parsers and for volumes built in tests.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/DeviceReader.h"

namespace vm {

class CMemoryReader final : public IDeviceReader {
public:
    explicit CMemoryReader(std::vector<std::uint8_t> bytes) : Bytes(std::move(bytes)) {}
    ReadResult ReadAt(std::uint64_t pos, void* buffer, std::size_t len) override {
        ReadResult r;
        if (pos >= Bytes.size()) {
            r.AtEnd = true;
            return r;
        }
        r.Bytes = std::min<std::size_t>(len, Bytes.size() - std::size_t(pos));
        std::memcpy(buffer, Bytes.data() + pos, r.Bytes);
        r.AtEnd = r.Bytes < len;
        return r;
    }
    std::uint64_t SizeBytes() const override { return Bytes.size(); }
    bool CanHang() const override { return false; }

private:
    std::vector<std::uint8_t> Bytes;
};

}  // namespace vm
