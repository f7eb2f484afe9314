#pragma once
// The process-wide model object: the drive list, the analysis queue and the drive that is
// selected, analysed and shown, and the analysis driver's start and stop.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "volume/DriveContext.h"
#include "volume/ProgressBlock.h"
#include "volume/Volume.h"
#include "volume/VolumesList.h"

namespace vm {

class CDeviceMonitor;

constexpr std::int32_t ID_RECYCLE_BIN = -17;

// Where the drive tree puts the recycle-bin node.
enum class RecycleBinPlacement { TopLevel, UnderEachLogicalDrive, None };

// One node of the drive tree, in display order. `Hold` keeps a listed drive alive while a view
// shows the node, so a rescan on another thread (a device change) never frees a drive under it;
// it is empty for the computer and recycle-bin nodes, which live as long as the drive list.
struct DriveTreeNode {
    std::shared_ptr<CVolume> Hold;
    CVolume* Volume;
    std::int32_t Id;
    std::int32_t ParentId;
    int Image;  // entry of the drive tree's image list
};

class CLocalComputer {
public:
    explicit CLocalComputer(std::shared_ptr<ProgressBlock> progress = std::make_shared<ProgressBlock>());
    // Stops the device monitor and any run (waiting for its worker as a stop does), waits for
    // a running enumeration and cuts the drives' way back to this object.
    ~CLocalComputer();
    CLocalComputer(const CLocalComputer&) = delete;
    CLocalComputer& operator=(const CLocalComputer&) = delete;

    std::int32_t NextId();

    // Starts a full run of the volume unless a run is active, and queues the volume. True when
    // a run was started.
    bool StartAnalysis(CVolume* volume);
    void StopAnalysis(CVolume* volume, int silent);
    // The end of a full run, on its worker.
    void AnalysisFinished(CVolume* volume);
    // The analysis queue, first waiting drive first.
    std::vector<CVolume*> AnalysisQueue() const;
    // The Start and Stop commands of the drive view, without their window parts.
    bool StartCommand(CVolume* volume);
    void StopCommand();

    // Loads a drive image file as a drive; null when the file cannot be opened.
    std::shared_ptr<CVolume> AddImage(const std::string& path);
    // A volume found on `volume`: a boot sector the sector search met, or a partition-table
    // entry (DataOffset is its position on `volume`, Size its length when known). Adds it to the
    // list as a found volume unless it is a volume already known.
    void AddFoundVolume(CVolume& volume, const FoundItem& request);
    // Replaces what AddFoundVolume does (tests).
    std::function<void(CVolume&, const FoundItem&)> FoundVolumeHandler;

    // The drive tree in display order; logical drives take the node of their disk as parent.
    std::vector<DriveTreeNode> BuildDriveTree(RecycleBinPlacement recycleBin = RecycleBinPlacement::TopLevel);
    static int DriveImage(const CVolume& volume);

    // Watches the kernel's device events; arrivals rescan and post msg::DrivesChanged.
    bool StartDeviceMonitor();
    void StopDeviceMonitor();

    // After a rescan: pointers and the queue no longer refer to dropped entries.
    void ForgetDropped();

    const std::shared_ptr<CDriveContext>& Context() const { return Ctx; }
    ProgressBlock& Progress() const { return *Block; }

private:
    void BeginRun(CVolume* volume);
    bool IsKnownVolume(CVolume& volume, const FoundItem& request);
    std::recursive_mutex FoundVolumeLock;  // one found volume at a time: the known check and the add

    std::shared_ptr<ProgressBlock> Block;
    std::shared_ptr<CDriveContext> Ctx;

public:
    CVolume ComputerNode{VK_COMPUTER};
    CVolume RecycleBinNode{VK_RECYCLE_BIN};
    ProgressBlock* pProgress;
    std::atomic<CVolume*> SelectedVolume, AnalysingVolume, DisplayedVolume;
    CVolumesList Volumes;

private:
    friend class CVolume;
    mutable std::mutex QueueLock;  // the queue, and the start and end of runs
    std::vector<CVolume*> Queue;
    std::atomic<std::int32_t> LastId{-30};
    std::unique_ptr<CDeviceMonitor> Monitor;
};

}  // namespace vm
