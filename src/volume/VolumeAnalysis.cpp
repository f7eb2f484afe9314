// The analysis driver's side of a drive: the phases of a run, the single-phase starts and the
// filing of what the analysers and the sector search find.
//
// Threads: every run has a worker of its own that holds the drive (shared_ptr), and through it
// the drive's context (progress record, guarded link to the drive list). Stops are cooperative:
// the window clears Running and the worker notices it between units of work. A worker never
// holds a lock while it sends to the window (status texts), and the window waits for a worker
// at most 1000 ms, so a worker blocked in a send while the window waits in StopAnalysis is let
// go instead of deadlocking; it ends once the window has answered its send.
#include <algorithm>
#include <chrono>

#include "app/Log.h"
#include "app/Notify.h"
#include "filesystem/AnalyserFactory.h"
#include "signatures/AppCatalogue.h"
#include "volume/AnalysisSettings.h"
#include "volume/LocalComputer.h"
#include "volume/SectorSearch.h"
#include "volume/Volume.h"

namespace vm {
namespace {

using Clock = std::chrono::steady_clock;

void LogDuration(Clock::time_point start) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    Log().MessageId(135, std::int64_t(ms / 60000), std::int64_t((ms / 1000) % 60));
}

bool IsBootSectorFind(std::int16_t type) { return type > 0 && IsRecognitionCode(std::uint32_t(type)); }

}  // namespace

bool CVolume::StillMyRun() const { return Progress().IsRunning(RunId.load()); }

bool CVolume::WorkersEnded(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (CWorkerThread* t : {&hAnalyseThread, &hFileSystemThread, &hSectorThread}) {
        if (t->IsCurrent()) continue;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (!t->WaitFor(std::max(left, std::chrono::milliseconds(0)))) return false;
    }
    return true;
}

bool CVolume::InUse() const {
    return State.load() == VS_ANALYSING || Users.load() > 0 || hAnalyseThread.Alive() || hFileSystemThread.Alive() ||
           hSectorThread.Alive();
}

std::int32_t CVolume::Analyse() {
    std::int32_t result = 0;
    try {
        Log().MessageId(57111, GetDisplayName());
        if (!OpenDrive()) {
            result = E_FAIL_RESULT;
        } else {
            State = VS_ANALYSING;
            ParseBootSector();
            AnalyseFileSystem();
            if (SectorScanAfterFsSetting() && StillMyRun()) AnalyseSectors();
        }
    } catch (...) {
        Log().Error("Analyse.FatalError");
    }
    // Every way out of a full run ends it, so that the queue goes on.
    EndFullRun();
    return result;
}

void CVolume::EndFullRun() {
    Close();
    bool listed = Context->WithOwner([&](CLocalComputer& c) { c.AnalysisFinished(this); });
    if (!listed) {
        EndMyRun();
        State = VS_READY;
        Notifier().Post(msg::AnalysisEnded, reinterpret_cast<std::uintptr_t>(this), 0);
    }
}

void CVolume::EndMyRun() {
    // A worker that was given up and ends late leaves a later run alone.
    ProgressBlock& p = Progress();
    auto end = [&] {
        if (p.RunId.load() == RunId.load()) p.Running = 0;
    };
    if (!Context->WithOwner([&](CLocalComputer& c) {
            std::lock_guard<std::mutex> g(c.QueueLock);
            end();
        }))
        end();
}

std::int32_t CVolume::AnalyseFileSystem() {
    FsFolders = 0;
    FsFiles = 0;
    const auto start = Clock::now();
    ProgressBlock& progress = Progress();
    progress.Current = 0;
    Context->WithOwner([&](CLocalComputer& c) { progress.pOwner = &c; });
    Log().ShowStatus(57211);
    Log().MessageId(57212);
    FoundTree.Clear();
    FoundTree.SetDriveRootId(RootItem.SignedId());
    FoundTree.SetTypeLookup(&AppCatalogue());
    FoundTree.Insert(&RootItem, false);
    const std::uint32_t code = pFileSystem->TypeCode;
    if (std::unique_ptr<CFileSystem> analyser = CreateAnalyser(code, this)) {
        analyser->CopyTypeFrom(*pFileSystem);
        pFileSystem = std::move(analyser);
        const std::int32_t rootId = AnalyserRootId(code);
        FoundTree.RootId = rootId;
        pFileSystem->RootFolder.Id = std::uint32_t(rootId);
        pFileSystem->RootFolder.ParentId = RootItem.Id;
        FoundTree.Insert(&pFileSystem->RootFolder, false);
        pFileSystem->Analyse();
    }
    Notifier().Post(msg::FileSystemPhaseEnded, 0, 0);
    LogDuration(start);
    Log().MessageId(136, FsFolders.load(), FsFiles.load());
    return 0;
}

std::int32_t CVolume::AnalyseSectors() {
    // Running is set by whoever started the run: setting it here would undo a stop that came
    // before this phase began.
    SectorFolders = 0;
    SectorFiles = 0;
    Context->WithOwner([&](CLocalComputer& c) {
        Progress().pOwner = &c;
        c.AnalysingVolume = this;
    });
    Log().ShowStatus(57311);
    Log().MessageId(57313);
    const auto start = Clock::now();
    FoundTree.SetDriveRootId(RootItem.SignedId());
    FoundTree.SetTypeLookup(&AppCatalogue());
    FoundTree.EnableOffsetIndex(true);
    if (SectorSearchRun search = CurrentSectorSearch()) search(*this);
    Notifier().Post(msg::SectorPhaseEnded, 0, 0);
    Log().MessageId(136, SectorFolders.load(), SectorFiles.load());
    LogDuration(start);
    Close();
    return 0;
}

std::uint64_t CVolume::BeginSinglePhase() {
    std::uint64_t id = 0;
    auto begin = [&](CLocalComputer* c) {
        ProgressBlock& p = Progress();
        p.Running = 1;
        id = ++p.RunId;
        RunId = id;
        p.pVolume = this;
        p.Current = 0;
        p.Total = std::int64_t(TotalClusters);
        if (c) c->AnalysingVolume = this;
    };
    bool listed = Context->WithOwner([&](CLocalComputer& c) {
        std::lock_guard<std::mutex> g(c.QueueLock);
        begin(&c);
    });
    if (!listed) begin(nullptr);
    return id;
}

void CVolume::EndUnopenedPhase(std::uint32_t phaseEnd) {
    // Nothing can be read: the run ends here, and the starter still hears that its phase ended.
    EndMyRun();
    State = VS_READY;
    Notifier().Post(phaseEnd, 0, 0);
}

bool CVolume::StartFileSystemAnalysis() {
    std::shared_ptr<CVolume> self = weak_from_this().lock();
    if (!self) return false;
    if (!WorkersEnded(std::chrono::milliseconds(1000))) {
        Log().Error("Analysis of %s cannot start: its previous analysis has not ended yet", GetDisplayName());
        return false;
    }
    Context->WithOwner([&](CLocalComputer& c) { c.DisplayedVolume = this; });
    BeginSinglePhase();
    hFileSystemThread.Start([self] {
        self->State = VS_ANALYSING;
        if (!self->OpenDrive()) return self->EndUnopenedPhase(msg::FileSystemPhaseEnded);
        try {
            self->AnalyseFileSystem();
        } catch (...) {
            Log().Error("AnalyseFileSystem.FatalError");
            Notifier().Post(msg::FileSystemPhaseEnded, 0, 0);
        }
        self->Close();
    });
    return true;
}

bool CVolume::StartSectorAnalysis(bool lostDrivesOnly) {
    std::shared_ptr<CVolume> self = weak_from_this().lock();
    if (!self) return false;
    if (!WorkersEnded(std::chrono::milliseconds(1000))) {
        Log().Error("Analysis of %s cannot start: its previous analysis has not ended yet", GetDisplayName());
        return false;
    }
    LostDrivesOnly = lostDrivesOnly ? 1 : 0;
    BeginSinglePhase();
    hSectorThread.Start([self] {
        self->State = VS_ANALYSING;
        if (!self->OpenDrive()) return self->EndUnopenedPhase(msg::SectorPhaseEnded);
        try {
            self->AnalyseSectors();
        } catch (...) {
            Log().Error("AnalyseSectors.FatalError");
            Notifier().Post(msg::SectorPhaseEnded, 0, 0);
        }
    });
    return true;
}

FoundItem* CVolume::AddFileSystemItem(const FoundItem& item) {
    try {
        FoundItem* filed = FoundTree.AddFound(item, true);
        if (!filed) return nullptr;
        if (item.Is(FI_FOLDER)) {
            ++FsFolders;
        } else {
            ++FsFiles;
            if (LogFoundFilesSetting()) Log().MessageId(134, filed->NameOrEmpty());
        }
        return filed;
    } catch (...) {
        return nullptr;
    }
}

void CVolume::AddSectorItem(std::unique_ptr<FoundItem> item) {
    if (!item) return;
    try {
        const std::int16_t type = item->FileType;
        if (IsBootSectorFind(type)) {
            item->ParentId = RootItem.Id;
            Context->WithOwner([&](CLocalComputer& c) { c.AddFoundVolume(*this, *item); });
            return;
        }
        if (LostDrivesOnly) return;
        if (type == 24 || type == 25) {
            if (pFileSystem) pFileSystem->ExamineFoundRecord(*item);
            return;
        }
        if (type < 30) return;
        FoundItem* filed = FoundTree.AddLost(item.release(), true);
        if (!filed) return;
        if (filed->Is(FI_FOLDER)) {
            ++SectorFolders;
            return;
        }
        if (!filed->Is(FI_SIGNATURE_MATCH)) ++SectorFiles;
        if (LogFoundFilesSetting()) Log().MessageId(134, filed->NameOrEmpty());
    } catch (...) {
    }
}

bool CVolume::ClearFound() {
    if (hAnalyseThread.Alive() || hFileSystemThread.Alive() || hSectorThread.Alive()) return false;
    FoundTree.Clear();
    return true;
}

}  // namespace vm
