#include "cli/Session.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Log.h"
#include "platform/DriveOpen.h"
#include "volume/AnalysisSettings.h"
#include "volume/ProgressBlock.h"

namespace vm::cli {

void CCliSink::Post(std::uint32_t code, std::uintptr_t, std::intptr_t) {
    if (code != msg::FileSystemPhaseEnded && code != msg::SectorPhaseEnded && code != msg::AnalysisEnded) return;
    std::lock_guard<std::mutex> g(M);
    Seen.push_back(code);
    Cv.notify_all();
}

std::intptr_t CCliSink::Send(std::uint32_t, std::uintptr_t, std::intptr_t) { return 0; }

void CCliSink::Reset() {
    std::lock_guard<std::mutex> g(M);
    Seen.clear();
}

CSession::CSession() {
    SetNotifier(&Sink);
    Drives = std::make_unique<CLocalComputer>();
}

CSession::~CSession() {
    Drives.reset();
    SetNotifier(nullptr);
}

std::shared_ptr<CVolume> CSession::FindListed(const std::string& nameOrPath) {
    if (!Rescanned) {
        Drives->Volumes.Rescan();
        Rescanned = true;
    }
    for (const auto& v : Drives->Volumes.Snapshot())
        if (v->KernelName == nameOrPath || v->DevicePath == nameOrPath || v->GetDisplayName() == nameOrPath) return v;
    return nullptr;
}

CVolume* CSession::Open(const TargetOptions& target, std::string& error) {
    struct stat st {};
    std::shared_ptr<CVolume> volume;
    if (::stat(target.Path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        std::string why;
        if (!OpenTarget({target.Path, std::nullopt, std::nullopt}, why)) {  // says why it cannot be used
            error = why;
            return nullptr;
        }
        volume = Drives->AddImage(target.Path);
    } else {
        volume = FindListed(target.Path);
        if (!volume) {
            std::string why;
            OpenTarget({target.Path, std::nullopt, std::nullopt}, why);
            error = why.empty() ? "'" + target.Path + "' is no drive of this machine" : why;
            return nullptr;
        }
        const OpenedDrive opened = OpenDriveReadOnly(volume->GetDevicePath());
        if (!opened.File) {
            std::string why;
            if (IsPermissionError(opened.Error) && !opened.Text.empty())
                why = opened.Text;  // asked once: not again for the message
            else
                OpenTarget({volume->GetDevicePath(), std::nullopt, std::nullopt}, why);
            error = why;
            return nullptr;
        }
    }
    if (!volume) {
        error = "cannot open '" + target.Path + "'";
        return nullptr;
    }
    if (!target.Start && !target.Size) return volume.get();
    std::uint64_t start = 0, size = 0;
    if (!RangeOfTarget(target, volume->TotalBytes, start, size, error)) return nullptr;
    auto range = std::make_shared<CVolume>(VK_VIRTUAL);
    range->Context = Drives->Context();
    range->AttachTo(volume.get());
    range->StartOffset = volume->StartOffset + start;
    range->TotalBytes = size;
    range->TotalSectors = range->TotalBytes / kSectorSize;
    range->RootItem.Id = std::uint32_t(Drives->NextId());
    range->RootItem.ParentId = volume->RootItem.Id;
    Drives->Volumes.Add(range);
    range->ParseBootSector();
    range->State = VS_READY;
    range->Close();
    return range.get();
}

void CSession::ShowProgress(const char* what, std::chrono::steady_clock::time_point start) {
    ProgressBlock& p = Drives->Progress();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int percent = p.Percent();
    std::string left = "";
    if (percent > 0 && seconds > 0.5) left = ", " + std::to_string(int(seconds * (100 - percent) / percent)) + " s left";
    std::fprintf(stderr, "\r%s: %3d%% (%.0f s%s)   ", what, percent, seconds, left.c_str());
    std::fflush(stderr);
}

void CSession::Run(CVolume& volume, Phase phase, bool showProgress) {
    Sink.Reset();
    const bool terminal = showProgress && ::isatty(STDERR_FILENO);
    const auto start = std::chrono::steady_clock::now();
    std::uint32_t end = msg::FileSystemPhaseEnded;
    const char* what = "file-system analysis";
    bool started = false;
    switch (phase) {
        case Phase::FileSystem:
            started = volume.StartFileSystemAnalysis();
            break;
        case Phase::Sectors:
        case Phase::LostDrives:
            end = msg::SectorPhaseEnded;
            what = phase == Phase::Sectors ? "sector analysis" : "lost-drive search";
            started = volume.StartSectorAnalysis(phase == Phase::LostDrives);
            break;
        case Phase::Full:
            end = msg::AnalysisEnded;
            what = "analysis";
            SetSectorScanAfterFs(true);
            started = Drives->StartAnalysis(&volume);
            break;
    }
    if (!started) return;
    Sink.WaitFor(end, [&] {
        if (terminal) ShowProgress(what, start);
    });
    if (terminal) std::fprintf(stderr, "\r%s: done%40s\n", what, "");
    // A single-phase run ends when its starter says so, as the desktop's wizard does.
    if (phase != Phase::Full) Drives->StopAnalysis(&volume, 0);
    // The worker still logs the phase's duration after announcing its end: let it finish, so
    // that nothing writes to the log while the process exits.
    if (!volume.WorkersEnded(std::chrono::seconds(30))) Log().Error("CSession::Run: the analysis did not end");
}

}  // namespace vm::cli
