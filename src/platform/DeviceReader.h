#pragma once
// Read-only positional access to a drive or image file, and the time-out around it.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vm {

struct ReadResult {
    std::size_t Bytes = 0;  // bytes delivered into the buffer, from its start
    int Error = 0;          // errno of the failure that ended the read, 0 when none
    bool TimedOut = false;
    bool AtEnd = false;     // the read stopped at the end of the device, not at a fault
};

// A source of bytes by position. Implementations never write to what they read.
class IDeviceReader {
public:
    virtual ~IDeviceReader() = default;
    // Reads up to len bytes at pos. A read that meets a fault after some bytes delivers those
    // bytes and reports the fault; a read at or past the end delivers what there is.
    virtual ReadResult ReadAt(std::uint64_t pos, void* buffer, std::size_t len) = 0;
    virtual std::uint64_t SizeBytes() const = 0;
    // False for sources that always answer at once (memory): they are read without a time-out.
    virtual bool CanHang() const { return true; }
    // Reads the range only when the page cache holds all of it, without ever waiting for the
    // device, so that no time-out is needed; the bytes read, 0 when it would have to wait.
    virtual std::size_t ReadIfCached(std::uint64_t /*pos*/, void* /*buffer*/, std::size_t /*len*/) { return 0; }
};

struct DeviceGeometry {
    std::int64_t Cylinders = 0;
    std::uint32_t MediaType = 0;
    std::uint32_t TracksPerCylinder = 0;
    std::uint32_t SectorsPerTrack = 0;
    std::uint32_t BytesPerSector = 0;
};

// A file or block device opened with O_RDONLY. Nothing in the program opens a drive otherwise.
class CDeviceFile final : public IDeviceReader {
public:
    // Null on failure, with errno in *error.
    static std::shared_ptr<CDeviceFile> Open(const std::string& path, int* error);
    // The same over a descriptor opened elsewhere (read-only), which it takes over: closed on
    // failure too.
    static std::shared_ptr<CDeviceFile> FromDescriptor(int fd, int* error);
    ~CDeviceFile() override;

    ReadResult ReadAt(std::uint64_t pos, void* buffer, std::size_t len) override;
    std::uint64_t SizeBytes() const override { return Size; }
    std::size_t ReadIfCached(std::uint64_t pos, void* buffer, std::size_t len) override;

    bool IsBlockDevice() const { return BlockDevice; }
    std::uint32_t LogicalSectorSize() const { return SectorSize; }
    // The displayed geometry (HDIO_GETGEO); false when the device has none (loop devices, files).
    bool Geometry(DeviceGeometry& out) const;
    int Descriptor() const { return Fd; }

private:
    CDeviceFile() = default;
    int Fd = -1;
    bool BlockDevice = false;
    std::uint64_t Size = 0;
    std::uint32_t SectorSize = 512;
};

// Runs reads on a thread of its own so that a read that hangs can be given up. Linux cannot
// cancel a block read, so each read lands in the reader's own bounce buffer and is copied out
// only when it finished in time; a reader thread left stuck keeps its buffer and device alive.
class CTimedReader {
public:
    explicit CTimedReader(std::shared_ptr<IDeviceReader> device);
    ~CTimedReader();
    CTimedReader(const CTimedReader&) = delete;
    CTimedReader& operator=(const CTimedReader&) = delete;

    ReadResult Read(std::uint64_t pos, void* buffer, std::size_t len, std::chrono::milliseconds timeout);
    // The same into `buffer` (at least len bytes) without a copy: on success the reader's own
    // buffer, which holds the bytes, is swapped with it.
    ReadResult ReadSwap(std::uint64_t pos, std::vector<std::uint8_t>& buffer, std::size_t len,
                        std::chrono::milliseconds timeout);
    IDeviceReader& Device() const { return *Source; }
    const std::shared_ptr<IDeviceReader>& SharedDevice() const { return Source; }

private:
    struct Worker;
    // A read served from the page cache, so not run on the reader thread; false when the cache
    // does not hold the whole range.
    bool ReadCached(std::uint64_t pos, void* buffer, std::size_t len, ReadResult& result);
    ReadResult Run(std::uint64_t pos, void* buffer, std::vector<std::uint8_t>* swap, std::size_t len,
                   std::chrono::milliseconds timeout);
    std::shared_ptr<IDeviceReader> Source;
    std::shared_ptr<Worker> Current;
    bool Faulted = false;  // a read failed or hung: from then on every read runs on the thread
};

}  // namespace vm
