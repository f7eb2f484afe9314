#pragma once
// Drive images (".dsk": the drive's 512-byte sectors one after the other, no header) and
// virtual drives (a range of another drive read as a drive of its own).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vm {

class CVolume;

constexpr std::uint64_t kImageBlockSectors = 4096;  // 2 MiB per read and write

enum ImageOutcome : std::int32_t {
    IMG_NOT_STARTED = 0,
    IMG_COMPLETE = 1,        // every byte of the drive is in the file
    IMG_STOPPED = 2,         // Stop() ended the copy; the partial file stays
    IMG_READ_FAILED = 3,     // the image ends before the unreadable block
    IMG_WRITE_FAILED = 4,
    IMG_OPEN_FAILED = 5,     // the drive could not be opened
    IMG_CREATE_FAILED = 6,   // the image file could not be created (or lies on the drive)
};

// One image copy: filled in by the caller, then shared between its thread and whoever shows
// the progress. The job must outlive its thread: the destructor stops and joins it.
struct ImageJob {
    ImageJob() = default;
    ~ImageJob();
    ImageJob(const ImageJob&) = delete;
    ImageJob& operator=(const ImageJob&) = delete;

    CVolume* pVolume = nullptr;
    std::string FileName;
    // Go on past unreadable blocks, writing zeros in their place; the ranges are logged.
    bool ContinuePastErrors = false;
    // An existing file is replaced only when the user said so (a save dialog that asked, or
    // --force); otherwise the job ends with IMG_CREATE_FAILED and CreateError = EEXIST.
    bool ReplaceExisting = false;
    int CreateError = 0;  // errno of a failed creation

    std::atomic<std::int32_t> Running{0};  // 1 while the thread copies
    std::atomic<std::uint64_t> Total{0};   // sectors to copy
    std::atomic<std::uint64_t> Current{0}; // first sector of the block being copied
    std::atomic<std::int32_t> Outcome{IMG_NOT_STARTED};
    std::uint64_t StartTime = 0;           // FILETIME when the thread started
    std::int64_t StartTickMs = 0;          // steady clock, milliseconds
    // Sector ranges [first, end) that could not be read and hold zeros (complete after the end).
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ZeroFilled;

    // Asks the thread to stop after the block it is copying.
    void Stop() { StopRequested = true; }
    void Wait();
    bool Finished() const { return Ended.load(); }

    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Ended{false};
    std::thread Thread;
};

// Starts the image thread for the job. False when there is no drive or a thread already runs.
bool CreateImage(ImageJob& job);
// The thread's work; runs on the calling thread when called directly.
void Image_Create(ImageJob& job);

// Progress in per cent (0 when nothing is known yet).
std::uint32_t ImagePercent(const ImageJob& job);
// Kilobytes per second over the elapsed time; 0 before any time has passed.
std::uint64_t ImageSpeedKBps(std::uint64_t sectorsCopied, std::int64_t elapsedMs);
// "2 048 KB\s": the speed grouped in threes with a blank.
std::string ImageSpeedText(std::uint64_t kbps);

// Loads an image file as a drive of kind 8 with the root id given by the drive list; null when
// the file cannot be opened (nothing is logged).
std::unique_ptr<CVolume> OpenImage(const std::string& path, std::int32_t rootId);

// A drive of kind 4: `sizeBytes` bytes of `parent` from `startBytes` on, read through the
// parent. Null (and a log line) when the range is not sector-aligned or leaves the parent.
std::unique_ptr<CVolume> CreateVirtualDrive(CVolume& parent, std::uint64_t startBytes, std::uint64_t sizeBytes,
                                            std::int32_t rootId);

}  // namespace vm
