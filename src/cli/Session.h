#pragma once
// One run of the command line: the drive list, the target drive, and analyses run through the
// same driver the desktop uses, with this process as the window that the workers notify.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/Notify.h"
#include "cli/Target.h"
#include "volume/LocalComputer.h"

namespace vm::cli {

// Receives the workers' notifications. Phase ends wake the waiting command; everything else a
// window would show is left to the command's own output.
class CCliSink final : public INotifySink {
public:
    void Post(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam) override;
    std::intptr_t Send(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam) override;
    // Waits until a notification with that code came; calls tick about every 200 ms meanwhile.
    template <typename Tick>
    void WaitFor(std::uint32_t code, Tick&& tick);
    void Reset();

private:
    std::mutex M;
    std::condition_variable Cv;
    std::vector<std::uint32_t> Seen;
};

enum class Phase { FileSystem, Sectors, LostDrives, Full };

class CSession {
public:
    CSession();
    ~CSession();

    // The drive to work on: an image file, a block device, a drive of the drive list by name
    // ("sda1") or a byte range of one of them. Null with `error` set when there is none.
    CVolume* Open(const TargetOptions& target, std::string& error);
    // Runs the phase on the driver's worker and waits for its end, showing progress on stderr
    // when it is a terminal. The drive's found items are then complete.
    void Run(CVolume& volume, Phase phase, bool showProgress);

    CLocalComputer& Computer() { return *Drives; }

private:
    std::shared_ptr<CVolume> FindListed(const std::string& nameOrPath);
    void ShowProgress(const char* what, std::chrono::steady_clock::time_point start);

    CCliSink Sink;
    std::unique_ptr<CLocalComputer> Drives;
    bool Rescanned = false;
};

template <typename Tick>
void CCliSink::WaitFor(std::uint32_t code, Tick&& tick) {
    std::unique_lock<std::mutex> lk(M);
    while (std::find(Seen.begin(), Seen.end(), code) == Seen.end()) {
        if (Cv.wait_for(lk, std::chrono::milliseconds(200)) == std::cv_status::timeout) {
            lk.unlock();
            tick();
            lk.lock();
        }
    }
}

}  // namespace vm::cli
