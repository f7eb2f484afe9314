#include "platform/DeviceReader.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <algorithm>
#include <vector>

namespace vm {

std::shared_ptr<CDeviceFile> CDeviceFile::Open(const std::string& path, int* error) {
    // Without O_NONBLOCK opening a FIFO would wait for a writer for ever; it is refused below.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (error) *error = errno;
        return nullptr;
    }
    return FromDescriptor(fd, error);
}

std::shared_ptr<CDeviceFile> CDeviceFile::FromDescriptor(int fd, int* error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        int e = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        ::close(fd);
        if (error) *error = e;
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::shared_ptr<CDeviceFile> dev(new CDeviceFile());
    dev->Fd = fd;
    dev->BlockDevice = S_ISBLK(st.st_mode);
    if (dev->BlockDevice) {
        std::uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) dev->Size = bytes;
        int ssz = 0;
        if (::ioctl(fd, BLKSSZGET, &ssz) == 0 && ssz >= 512 && ssz <= 65536) dev->SectorSize = std::uint32_t(ssz);
    } else {
        dev->Size = std::uint64_t(st.st_size);
    }
    return dev;
}

CDeviceFile::~CDeviceFile() {
    if (Fd >= 0) ::close(Fd);
}

ReadResult CDeviceFile::ReadAt(std::uint64_t pos, void* buffer, std::size_t len) {
    ReadResult r;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (r.Bytes < len) {
        ssize_t n = ::pread(Fd, out + r.Bytes, len - r.Bytes, off_t(pos + r.Bytes));
        if (n < 0) {
            if (errno == EINTR) continue;
            r.Error = errno;
            break;
        }
        if (n == 0) {
            r.AtEnd = true;
            break;
        }
        r.Bytes += std::size_t(n);
    }
    return r;
}

std::size_t CDeviceFile::ReadIfCached(std::uint64_t pos, void* buffer, std::size_t len) {
    // Image files only: a disk that may be failing is always read on the timed reader's thread,
    // since even a read that finds its pages cached may start read-ahead on the device.
    // Which pages the cache holds is asked of a mapping that is never touched, so asking reads
    // nothing; RWF_NOWAIT then refuses to wait should a page have left the cache meanwhile.
    static const std::uint64_t page = std::uint64_t(::sysconf(_SC_PAGESIZE));
    constexpr std::size_t kMaxPages = 1024;
    if (BlockDevice || len == 0 || pos >= Size || page == 0) return 0;
    len = std::size_t(std::min<std::uint64_t>(len, Size - pos));
    const std::uint64_t start = pos / page * page;
    const std::uint64_t span = pos + len - start;
    const std::size_t pages = std::size_t((span + page - 1) / page);
    if (pages > kMaxPages) return 0;
    void* map = ::mmap(nullptr, std::size_t(span), PROT_READ, MAP_SHARED, Fd, off_t(start));
    if (map == MAP_FAILED) return 0;
    unsigned char resident[kMaxPages];
    const int rc = ::mincore(map, std::size_t(span), resident);
    ::munmap(map, std::size_t(span));
    if (rc != 0) return 0;
    for (std::size_t i = 0; i < pages; ++i)
        if (!(resident[i] & 1)) return 0;
    iovec part{buffer, len};
    const ssize_t n = ::preadv2(Fd, &part, 1, off_t(pos), RWF_NOWAIT);
    return n > 0 ? std::size_t(n) : 0;
}

bool CDeviceFile::Geometry(DeviceGeometry& out) const {
    if (!BlockDevice) return false;
    struct hd_geometry g {};
    if (::ioctl(Fd, HDIO_GETGEO, &g) != 0 || g.heads == 0 || g.sectors == 0) return false;
    out.TracksPerCylinder = g.heads;
    out.SectorsPerTrack = g.sectors;
    out.BytesPerSector = SectorSize;
    out.MediaType = 12;  // fixed media
    std::uint64_t perCylinder = std::uint64_t(g.heads) * g.sectors * SectorSize;
    out.Cylinders = std::int64_t(Size / perCylinder);
    return true;
}

// One reader thread with one request slot.
struct CTimedReader::Worker {
    std::mutex M;
    std::condition_variable Cv;
    std::shared_ptr<IDeviceReader> Device;
    std::vector<std::uint8_t> Bounce;
    std::uint64_t Pos = 0;
    std::size_t Len = 0;
    std::size_t BufferSize = 0;
    bool Pending = false;  // a request waits or runs
    bool Done = false;     // its result is ready
    bool Retired = false;  // end the thread after the current request
    ReadResult Result;

    void Run() {
        std::unique_lock<std::mutex> lk(M);
        for (;;) {
            Cv.wait(lk, [&] { return (Pending && !Done) || Retired; });
            if (Pending && !Done) {
                if (Bounce.size() != BufferSize) Bounce.resize(BufferSize);
                std::uint64_t pos = Pos;
                std::size_t len = Len;
                lk.unlock();
                ReadResult r = Device->ReadAt(pos, Bounce.data(), len);
                lk.lock();
                Result = r;
                Done = true;
                Cv.notify_all();
                continue;
            }
            if (Retired) return;
        }
    }
};

CTimedReader::CTimedReader(std::shared_ptr<IDeviceReader> device) : Source(std::move(device)) {}

CTimedReader::~CTimedReader() {
    if (Current) {
        std::lock_guard<std::mutex> g(Current->M);
        Current->Retired = true;
        Current->Cv.notify_all();
    }
}

bool CTimedReader::ReadCached(std::uint64_t pos, void* buffer, std::size_t len, ReadResult& result) {
    if (Faulted) return false;
    const std::size_t got = Source->ReadIfCached(pos, buffer, len);
    const std::uint64_t size = Source->SizeBytes();
    const std::size_t there = pos >= size ? 0 : std::size_t(std::min<std::uint64_t>(len, size - pos));
    if (got == 0 || got != there) return false;
    result = ReadResult{};
    result.Bytes = got;
    result.AtEnd = got < len;
    return true;
}

ReadResult CTimedReader::Read(std::uint64_t pos, void* buffer, std::size_t len, std::chrono::milliseconds timeout) {
    if (!Source->CanHang()) return Source->ReadAt(pos, buffer, len);
    if (ReadResult r; ReadCached(pos, buffer, len, r)) return r;
    return Run(pos, buffer, nullptr, len, timeout);
}

ReadResult CTimedReader::ReadSwap(std::uint64_t pos, std::vector<std::uint8_t>& buffer, std::size_t len,
                                  std::chrono::milliseconds timeout) {
    len = std::min(len, buffer.size());
    if (!Source->CanHang()) return Source->ReadAt(pos, buffer.data(), len);
    if (ReadResult r; ReadCached(pos, buffer.data(), len, r)) return r;
    return Run(pos, nullptr, &buffer, len, timeout);
}

ReadResult CTimedReader::Run(std::uint64_t pos, void* buffer, std::vector<std::uint8_t>* swap, std::size_t len,
                             std::chrono::milliseconds timeout) {
    if (!Current) {
        Current = std::make_shared<Worker>();
        Current->Device = Source;
        std::thread([w = Current] { w->Run(); }).detach();
    }
    std::shared_ptr<Worker> w = Current;
    std::unique_lock<std::mutex> lk(w->M);
    w->Pos = pos;
    w->Len = len;
    w->BufferSize = swap ? swap->size() : std::max(len, w->Bounce.size());
    w->Pending = true;
    w->Done = false;
    w->Cv.notify_all();
    if (!w->Cv.wait_for(lk, timeout, [&] { return w->Done; })) {
        // Give the stuck thread up: it ends once its read returns, and a new one serves the next.
        w->Retired = true;
        Current.reset();
        Faulted = true;
        ReadResult r;
        r.TimedOut = true;
        r.Error = ETIMEDOUT;
        return r;
    }
    w->Pending = false;
    ReadResult r = w->Result;
    if (r.Error) Faulted = true;
    if (swap)
        std::swap(*swap, w->Bounce);
    else if (r.Bytes)
        std::memcpy(buffer, w->Bounce.data(), r.Bytes);
    return r;
}

}  // namespace vm
