#include "volume/VolumeImage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Log.h"
#include "app/Notify.h"
#include "platform/FileTime.h"
#include "platform/FileWrite.h"
#include "volume/SameDrive.h"
#include "volume/Volume.h"

namespace vm {
namespace {

std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::uint64_t NowFileTime() {
    using namespace std::chrono;
    return UnixToFileTime(duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count());
}

// Creates the image file (or empties one the user chose to replace), refusing anything that is
// not a plain file of its own: a link, a device, a FIFO, or the very file the drive is read from.
int CreateImageFile(const ImageJob& job, const SourceDrive& source, int* error) {
    if (PathOnSourceDrive(job.FileName, source)) {
        Log().Error("Image_Create: the image file '%s' lies on the drive being imaged", job.FileName);
        *error = EXDEV;
        return -1;
    }
    const int replace = job.ReplaceExisting ? 0 : O_EXCL;
    int fd = ::open(job.FileName.c_str(), O_WRONLY | O_CREAT | replace | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        *error = errno;
        if (*error == EEXIST) Log().Error("Image_Create: '%s' exists and is not replaced", job.FileName);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    struct stat st {};
    const bool plainFile = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool sameFile = plainFile && source.IsFile && st.st_dev == source.FileDevice && st.st_ino == source.FileInode;
    if (!plainFile || sameFile) {
        *error = sameFile ? EXDEV : EINVAL;
        Log().Error("Image_Create: '%s' cannot hold a drive image", job.FileName);
        ::close(fd);
        return -1;
    }
    if (::ftruncate(fd, 0) != 0) {
        *error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

void NoteZeroFilled(ImageJob& job, std::uint64_t first, std::uint64_t end) {
    if (!job.ZeroFilled.empty() && job.ZeroFilled.back().second == first)
        job.ZeroFilled.back().second = end;
    else
        job.ZeroFilled.emplace_back(first, end);
}

// Past an unreadable sector the block is read on from the sector after it, so that one bad
// sector costs that sector only; every sector not read is zeros.
void SalvageBlock(ImageJob& job, std::uint8_t* buffer, std::uint64_t position, std::uint64_t count,
                  std::uint32_t got) {
    for (std::uint64_t done = got / kSectorSize; done < count;) {
        std::memset(buffer + done * kSectorSize, 0, kSectorSize);
        NoteZeroFilled(job, position + done, position + done + 1);
        if (++done < count) done += job.pVolume->ReadSectors(buffer + done * kSectorSize, position + done, count - done) /
                                    kSectorSize;
    }
}

// Reads one block into `buffer`. False when the image has to end before this block.
bool ReadImageBlock(ImageJob& job, std::uint8_t* buffer, std::uint64_t position, std::uint64_t count) {
    const std::uint32_t got = job.pVolume->ReadSectors(buffer, position, count);
    if (got == 0) {
        Log().Error(BuiltinString(191), position);
        if (!job.ContinuePastErrors) return false;
    }
    if (got < count * kSectorSize) SalvageBlock(job, buffer, position, count, got);
    return true;
}

void LogZeroFilled(const ImageJob& job) {
    for (const auto& [first, end] : job.ZeroFilled)
        Log().Error("Image_Create: sectors 0x%I64x to 0x%I64x could not be read; the image holds zeros there", first,
                    end - 1);
}

// An image file whose size is not a whole number of sectors ends in a partial sector, which
// sector reads cannot reach: it is copied as it is, so that the image holds every byte.
std::int32_t CopyTail(ImageJob& job, int fd) {
    const std::uint64_t whole = job.Total.load() * kSectorSize;
    const std::uint64_t bytes = job.pVolume->TotalBytes > whole ? job.pVolume->TotalBytes - whole : 0;
    auto device = job.pVolume->Device();
    if (bytes == 0 || bytes >= kSectorSize || !device) return IMG_COMPLETE;
    std::uint8_t tail[kSectorSize] = {};
    const ReadResult r = device->ReadAt(job.pVolume->StartOffset + whole, tail, std::size_t(bytes));
    if (r.Bytes != bytes) {
        Log().Error(BuiltinString(191), job.Total.load());
        if (!job.ContinuePastErrors) return IMG_READ_FAILED;
        std::memset(tail + r.Bytes, 0, std::size_t(bytes - r.Bytes));
        NoteZeroFilled(job, job.Total.load(), job.Total.load() + 1);
    }
    int err = 0;
    if (WriteFully(fd, tail, std::size_t(bytes), &err) != bytes) {
        Log().Error(BuiltinString(192), job.Total.load());
        Log().Error("Image_Create: %s", std::strerror(err));
        return IMG_WRITE_FAILED;
    }
    return IMG_COMPLETE;
}

std::int32_t CopyBlocks(ImageJob& job, int fd) {
    std::vector<std::uint8_t> buffer(std::size_t(kImageBlockSectors * kSectorSize));
    const std::uint64_t total = job.Total.load();
    for (std::uint64_t position = 0; position < total; position += kImageBlockSectors) {
        job.Current = position;
        if (job.StopRequested || job.Running.load() != 1) return IMG_STOPPED;
        const std::uint64_t count = std::min(kImageBlockSectors, total - position);
        if (!ReadImageBlock(job, buffer.data(), position, count)) return IMG_READ_FAILED;
        int err = 0;
        const std::size_t bytes = std::size_t(count * kSectorSize);
        if (WriteFully(fd, buffer.data(), bytes, &err) != bytes) {
            Log().Error(BuiltinString(192), position);
            Log().Error("Image_Create: %s", std::strerror(err));
            return IMG_WRITE_FAILED;
        }
        Notifier().Post(msg::ImageBlockWritten, 0, 0);
    }
    job.Current = total;
    return CopyTail(job, fd);
}

}  // namespace

ImageJob::~ImageJob() {
    Stop();
    Wait();
}

void ImageJob::Wait() {
    if (Thread.joinable() && Thread.get_id() != std::this_thread::get_id()) Thread.join();
}

bool CreateImage(ImageJob& job) {
    if (!job.pVolume || job.Thread.joinable()) return false;
    job.StopRequested = false;
    job.Ended = false;
    job.StartTime = NowFileTime();
    job.StartTickMs = SteadyMs();
    job.Thread = std::thread([&job] { Image_Create(job); });
    return true;
}

void Image_Create(ImageJob& job) {
    job.Outcome = IMG_NOT_STARTED;
    job.ZeroFilled.clear();
    if (!job.pVolume || !job.pVolume->OpenDrive()) {
        job.Outcome = IMG_OPEN_FAILED;
        job.Ended = true;
        return;
    }
    int err = 0;
    int fd = CreateImageFile(job, SourceDriveOf(*job.pVolume), &err);
    job.CreateError = err;
    if (fd < 0) {
        job.Outcome = IMG_CREATE_FAILED;
        job.Ended = true;
        Notifier().Post(msg::ImageCreateFailed, 0, err);
        return;
    }
    job.Total = job.pVolume->TotalSectors;
    job.Running = 1;
    ++job.pVolume->Users;  // a rescan keeps the drive while it is copied
    std::int32_t outcome = CopyBlocks(job, fd);
    if (::close(fd) != 0 && outcome == IMG_COMPLETE) {
        Log().Error(BuiltinString(192), job.Total.load());
        outcome = IMG_WRITE_FAILED;
    }
    --job.pVolume->Users;
    LogZeroFilled(job);
    job.Outcome = outcome;
    job.Running = 0;
    job.Ended = true;
    Notifier().Post(msg::ImageThreadEnded, 0, 0);
}

std::uint32_t ImagePercent(const ImageJob& job) {
    const std::uint64_t total = job.Total.load(), current = job.Current.load();
    if (!job.Running.load() || total == 0) return 0;
    const std::uint64_t percent = total >= 100 ? current / (total / 100) : current * 100 / total;
    return std::uint32_t(std::min<std::uint64_t>(100, percent));
}

std::uint64_t ImageSpeedKBps(std::uint64_t sectorsCopied, std::int64_t elapsedMs) {
    if (elapsedMs <= 0) return 0;
    return sectorsCopied * kSectorSize / 1024 * 1000 / std::uint64_t(elapsedMs);
}

std::string ImageSpeedText(std::uint64_t kbps) {
    std::string digits = Format("%I64d", kbps), grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) grouped += ' ';
        grouped += digits[i];
    }
    return grouped + " KB\\s";
}

std::unique_ptr<CVolume> OpenImage(const std::string& path, std::int32_t rootId) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    const bool usable = ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
    ::close(fd);
    if (!usable) return nullptr;
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    auto volume = std::make_unique<CVolume>(VK_IMAGE);
    volume->RootItem.Id = std::uint32_t(rootId);
    volume->DevicePath = ec ? path : full.lexically_normal().string();
    volume->RootPath = volume->DevicePath;
    if (!volume->OpenDrive()) return nullptr;
    volume->ParseBootSector();
    volume->State = VS_READY;
    volume->Close();  // opened again by the first read
    return volume;
}

std::unique_ptr<CVolume> CreateVirtualDrive(CVolume& parent, std::uint64_t startBytes, std::uint64_t sizeBytes,
                                            std::int32_t rootId) {
    const std::uint64_t parentBytes = parent.TotalBytes ? parent.TotalBytes : parent.TotalSectors * kSectorSize;
    if (startBytes % kSectorSize || sizeBytes < kSectorSize || startBytes >= parentBytes ||
        sizeBytes > parentBytes - startBytes) {
        Log().Error("Create virtual drive: %I64d bytes from %I64d do not fit on %s", sizeBytes, startBytes,
                    parent.GetDisplayName());
        return nullptr;
    }
    auto volume = std::make_unique<CVolume>(VK_VIRTUAL);
    volume->RootItem.Id = std::uint32_t(rootId);
    volume->AttachTo(&parent);
    volume->Context = parent.Context;
    volume->StartOffset = parent.StartOffset + startBytes;
    volume->TotalSectors = sizeBytes / kSectorSize;
    volume->TotalBytes = volume->TotalSectors * kSectorSize;
    volume->GetDevicePath();
    volume->ParseBootSector();
    volume->State = VS_READY;
    return volume;
}

}  // namespace vm
