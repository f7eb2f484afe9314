// MFT records of any content through the record reader: fix-ups, the attribute walk, FillItem,
// the attribute-list merge (extension records come from the same input) and data reads over
// the input as a volume; and the run-list and LZNT1 decoders on the raw bytes. Every result
// must stay within what was asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/Log.h"
#include "filesystem/Lznt1.h"
#include "filesystem/MftRecord.h"

namespace {

// The input is the volume: record n of the MFT lies at n × record size, cluster c at c × 512.
class InputVolume : public vm::IMftOwner {
public:
    InputVolume(const std::uint8_t* data, std::size_t size, std::uint32_t recordSize)
        : Data(data), Size(size), Record(recordSize) {}
    std::uint32_t GetRecordSize() const override { return Record; }
    std::uint32_t GetBytesPerCluster() const override { return 512; }
    std::uint32_t ReadVolumeSectors(void* buffer, std::uint64_t first, std::uint32_t count) const override {
        std::memset(buffer, 0, std::size_t(count) * 512);
        if (first >= Size / 512) return 0;
        const std::size_t n = std::min<std::uint64_t>(std::uint64_t(count) * 512, Size - first * 512);
        std::memcpy(buffer, Data + first * 512, n);
        return std::uint32_t(n);
    }
    std::uint32_t ReadMftRecord(std::uint32_t n, std::uint8_t* buffer) const override {
        const std::uint64_t at = std::uint64_t(n) * Record;
        if (at + Record > Size) return 0;
        std::memcpy(buffer, Data + at, Record);
        return Record;
    }

private:
    const std::uint8_t* Data;
    std::size_t Size;
    std::uint32_t Record;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vm::CLog log;  // a log per input: damaged records log, and a log keeps its lines
    vm::SetGlobalLog(&log);
    std::vector<vm::DataRun> runs;
    vm::DecodeRunList(data, size, 0, runs);
    if (runs.size() > vm::kMaxRuns) std::abort();

    std::vector<std::uint8_t> out(16384);
    if (vm::Lznt1Decompress(data, size, out.data(), out.size()) > out.size()) std::abort();

    for (std::uint32_t recordSize : {1024u, 4096u}) {
        if (size < recordSize) continue;
        InputVolume volume(data, size, recordSize);
        vm::CMftRecord record(&volume, data);
        vm::FoundItem item;
        record.LoadAttributeList();
        record.FillItem(item);
        if (item.Name && std::strlen(item.Name) > 255 * 3) std::abort();
        for (std::uint64_t offset : {std::uint64_t(0), std::uint64_t(4096), record.DataSize / 2}) {
            if (record.ReadData(offset, std::uint32_t(out.size()), out.data()) > out.size()) std::abort();
        }
        record.VcnToLcn(7);
    }
    vm::SetGlobalLog(nullptr);
    return 0;
}
