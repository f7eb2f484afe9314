#include "volume/LocalComputer.h"

#include <algorithm>
#include <filesystem>

#include "app/Log.h"
#include "app/Notify.h"
#include "volume/AnalysisSettings.h"
#include "volume/DeviceMonitor.h"

namespace vm {

CLocalComputer::CLocalComputer(std::shared_ptr<ProgressBlock> progress)
    : Block(progress ? std::move(progress) : std::make_shared<ProgressBlock>()),
      Ctx(std::make_shared<CDriveContext>(Block, this)),
      pProgress(Block.get()),
      SelectedVolume(&ComputerNode),
      AnalysingVolume(&ComputerNode),
      DisplayedVolume(&ComputerNode),
      Volumes(*this) {
    ComputerNode.RootItem.Id = std::uint32_t(ID_COMPUTER);
    ComputerNode.RootItem.ParentId = std::uint32_t(ID_COMPUTER);
    RecycleBinNode.RootItem.Id = std::uint32_t(ID_RECYCLE_BIN);
    RecycleBinNode.RootItem.ParentId = std::uint32_t(ID_COMPUTER);
}

CLocalComputer::~CLocalComputer() {
    StopDeviceMonitor();
    if (Block->Running.load()) StopAnalysis(AnalysingVolume.load(), 0);
    Volumes.WaitForEnumeration();
    Ctx->Detach();
}

std::int32_t CLocalComputer::NextId() { return --LastId; }

void CLocalComputer::BeginRun(CVolume* volume) {
    // QueueLock held: a run's start and a late worker's end never interleave.
    Block->Running = 1;
    volume->RunId = ++Block->RunId;
    Block->pVolume = volume;
}

bool CLocalComputer::StartAnalysis(CVolume* volume) {
    if (!volume || volume->State == VS_ANALYSING) return false;
    std::shared_ptr<CVolume> self = volume->weak_from_this().lock();
    bool started = false;
    // A drive whose previous worker was given up is not analysed again until that worker ends:
    // two workers would share one analyser.
    const bool free = self && Block->Running.load() == 0 && volume->WorkersEnded(std::chrono::milliseconds(1000));
    {
        std::lock_guard<std::mutex> g(QueueLock);
        if (free && Block->Running.load() == 0) {
            BeginRun(volume);
            SelectedVolume = volume;
            AnalysingVolume = volume;
            DisplayedVolume = volume;
            volume->hAnalyseThread.Start([self] { self->Analyse(); });
            started = true;
        }
        if (std::find(Queue.begin(), Queue.end(), volume) == Queue.end()) Queue.push_back(volume);
    }
    if (self && !free && Block->Running.load() == 0)
        Log().Error("Analysis of %s cannot start: its previous analysis has not ended yet", volume->GetDisplayName());
    return started;
}

void CLocalComputer::StopAnalysis(CVolume* volume, int /*silent*/) {
    Block->Running = 0;
    {
        std::lock_guard<std::mutex> g(QueueLock);
        Queue.erase(std::remove(Queue.begin(), Queue.end(), volume), Queue.end());
    }
    if (!volume) return;
    volume->State = VS_READY;
    // Hold the drive while waiting: its worker may otherwise drop the last reference meanwhile.
    std::shared_ptr<CVolume> keep = volume->weak_from_this().lock();
    CWorkerThread& worker = volume->hAnalyseThread;
    if (keep && worker.Alive() && !worker.IsCurrent()) {
        if (!worker.WaitFor(std::chrono::milliseconds(1000))) {
            Log().MessageId(57123, volume->GetDisplayName());
            // The worker holds its drive and the drive its context, so it touches nothing that
            // can be freed under it; it ends at its next test of Running, or when its read returns.
            worker.Abandon();
        }
    }
    volume->State = VS_READY;
}

void CLocalComputer::AnalysisFinished(CVolume* volume) {
    {
        std::lock_guard<std::mutex> g(QueueLock);
        // A worker that was given up and ends late leaves a later run alone.
        if (Block->RunId.load() == volume->RunId.load()) Block->Running = 0;
        Queue.erase(std::remove(Queue.begin(), Queue.end(), volume), Queue.end());
    }
    volume->State = VS_READY;
    Notifier().Post(msg::AnalysisEnded, reinterpret_cast<std::uintptr_t>(volume), 0);
}

std::vector<CVolume*> CLocalComputer::AnalysisQueue() const {
    std::lock_guard<std::mutex> g(QueueLock);
    return Queue;
}

bool CLocalComputer::StartCommand(CVolume* volume) {
    if (!volume) return false;
    CVolume* shown = DisplayedVolume.load();
    if (shown && shown->FoundTree.Count()) Log().ShowStatus(57114);
    if (shown) shown->ClearFound();
    SetSectorScanAfterFs(true);
    return StartAnalysis(volume);
}

void CLocalComputer::StopCommand() {
    Log().ShowStatus(57112);
    SetSectorScanAfterFs(false);
    StopAnalysis(AnalysingVolume.load(), 0);
    Log().MessageId(57113);
}

std::shared_ptr<CVolume> CLocalComputer::AddImage(const std::string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    auto volume = std::make_shared<CVolume>(VK_IMAGE);
    volume->DevicePath = ec ? path : full.lexically_normal().string();
    volume->RootPath = volume->DevicePath;
    volume->Context = Ctx;
    if (!volume->OpenDrive()) return nullptr;
    volume->RootItem.Id = std::uint32_t(NextId());
    Volumes.Add(volume);
    volume->ParseBootSector();
    volume->State = VS_READY;
    volume->Close();
    return volume;
}

void CLocalComputer::ForgetDropped() {
    for (std::atomic<CVolume*>* p : {&SelectedVolume, &AnalysingVolume, &DisplayedVolume}) {
        CVolume* v = p->load();
        if (v != &ComputerNode && v != &RecycleBinNode && v && !Volumes.Contains(v)) p->store(&ComputerNode);
    }
    std::lock_guard<std::mutex> g(QueueLock);
    Queue.erase(std::remove_if(Queue.begin(), Queue.end(), [&](CVolume* v) { return !Volumes.Contains(v); }),
                Queue.end());
}

bool CLocalComputer::StartDeviceMonitor() {
    if (Monitor) return true;
    auto monitor = std::make_unique<CDeviceMonitor>(
        [this](const std::vector<std::string>& arrived, const std::vector<std::string>& removed) {
            if (!removed.empty()) Volumes.OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, removed);
            if (!arrived.empty()) Volumes.OnDeviceChange(DBT_DEVICEARRIVAL, arrived);
        });
    if (!monitor->Start()) return false;
    Monitor = std::move(monitor);
    return true;
}

void CLocalComputer::StopDeviceMonitor() { Monitor.reset(); }

}  // namespace vm
