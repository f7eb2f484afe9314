// vellumark-cli image: a drive copied once into an image file, to work from the copy.
#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "cli/Commands.h"
#include "cli/Session.h"
#include "volume/VolumeImage.h"

namespace vm::cli {

int RunImage(const CommonOptions&, const TargetOptions& target, const ImageOptions& o) {
    CSession session;
    std::string error;
    CVolume* volume = session.Open(target, error);
    if (!volume) return Fail(error);
    ImageJob job;
    job.pVolume = volume;
    job.FileName = o.Out;
    job.ContinuePastErrors = o.ContinueOnErrors;
    job.ReplaceExisting = o.Force;
    if (!CreateImage(job)) return Fail("the image could not be started");
    const bool terminal = ::isatty(STDERR_FILENO);
    while (!job.Finished()) {
        if (terminal) {
            const auto elapsed = std::chrono::steady_clock::now().time_since_epoch() / std::chrono::milliseconds(1) -
                                 job.StartTickMs;
            const std::uint64_t kbps = ImageSpeedKBps(job.Current.load(), elapsed);
            const std::uint32_t percent = ImagePercent(job);
            const std::uint64_t left =
                kbps ? (job.Total.load() - std::min(job.Current.load(), job.Total.load())) / 2 / kbps : 0;
            std::fprintf(stderr, "\rimage: %3u%%  %s  %llu s left   ", percent, ImageSpeedText(kbps).c_str(),
                         (unsigned long long)left);
        }
        usleep(200000);
    }
    job.Wait();
    if (terminal) std::fprintf(stderr, "\n");
    switch (job.Outcome.load()) {
        case IMG_COMPLETE:
            std::printf("Image written: %s (%llu sectors", o.Out.c_str(), (unsigned long long)job.Total.load());
            if (!job.ZeroFilled.empty())
                std::printf(", %zu unreadable range(s) written as zeros, listed in the log", job.ZeroFilled.size());
            std::printf(")\n");
            return job.ZeroFilled.empty() ? 0 : 2;
        case IMG_READ_FAILED:
            return Fail("the drive could not be read at sector " + std::to_string(job.Current.load()) +
                        "; the image ends there (use --continue-on-errors to go on past unreadable blocks)");
        case IMG_WRITE_FAILED: return Fail("the image file could not be written (disk full?)");
        case IMG_CREATE_FAILED:
            if (job.CreateError == EEXIST)
                return Fail("'" + o.Out + "' exists; it is not replaced (use --force to replace it)");
            return Fail("the image file '" + o.Out + "' could not be created (it must not lie on the drive itself)");
        case IMG_OPEN_FAILED: return Fail("the drive could not be opened");
        default: return Fail("the image was stopped");
    }
}

}  // namespace vm::cli
