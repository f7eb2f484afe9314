#pragma once
// The drive list: every disk and partition of the machine, the loaded drive images and the
// volumes found inside other drives, in display order. Entries are shared: the list owns them,
// and a worker or query that uses one keeps it alive after a rescan has dropped it.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SysBlock.h"
#include "volume/Volume.h"
#include "volume/WorkerThread.h"

namespace vm {

class CLocalComputer;

// Device-change events, with their Windows values.
constexpr std::uint32_t DBT_DEVICEARRIVAL = 0x8000;
constexpr std::uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

class CVolumesList {
public:
    using DiskLister = std::function<std::vector<SysDisk>()>;

    explicit CVolumesList(CLocalComputer& owner);
    // Waits for a running enumeration (it ends within its query wait).
    ~CVolumesList();
    CVolumesList(const CVolumesList&) = delete;
    CVolumesList& operator=(const CVolumesList&) = delete;

    std::int32_t GetCount() const;
    // The entry, or null (logged) for a bad index.
    CVolume* GetAt(std::int32_t index) const;
    std::int32_t Add(std::shared_ptr<CVolume> volume);
    // The list's own reference to an entry; null when the volume is not listed.
    std::shared_ptr<CVolume> Share(const CVolume* volume) const;
    bool Contains(const CVolume* volume) const;
    std::vector<std::shared_ptr<CVolume>> Snapshot() const;

    // Rebuilds the list on the enumeration thread and waits for it, at most 15000 ms. With
    // keepShownResults the drive whose found items are shown keeps them (a device arrival must
    // not discard an analysis).
    std::int32_t Rescan(bool keepShownResults = false);
    // true: starts the enumeration thread (1 when started); false: enumerates on the calling
    // thread and returns the number of entries.
    std::int32_t Enumerate(bool inThread, bool keepShownResults = false);
    // A block device came (DBT_DEVICEARRIVAL) or went (DBT_DEVICEREMOVECOMPLETE); `names` are
    // the kernel names of the devices concerned.
    std::int32_t OnDeviceChange(std::uint32_t event, const std::vector<std::string>& names);
    // Returns when no enumeration runs (one always ends within its query wait).
    void WaitForEnumeration();

    // Where disks are found (sysfs unless a test says otherwise) and how new entries open them.
    void SetDiskLister(DiskLister lister);
    void SetDeviceOpener(DeviceOpener opener);
    // How long an enumeration waits for its information queries.
    static constexpr std::chrono::milliseconds kQueryWait{4000};
    static constexpr std::chrono::milliseconds kRescanWait{15000};

private:
    struct Kept;
    std::shared_ptr<CVolume> NewPhysical(std::int32_t number, const SysDisk& disk);
    std::shared_ptr<CVolume> NewLogical(std::int32_t number, const SysDisk& disk, const SysPartition& part);
    void Append(const std::shared_ptr<CVolume>& volume);
    void StartQuery(const std::shared_ptr<CVolume>& volume);
    void WaitForQueries();
    void Reconcile();

    CLocalComputer& Owner;
    mutable std::mutex Lock;  // Items, and the Children and pParent links of the entries
    std::vector<std::shared_ptr<CVolume>> Items;
    std::vector<std::unique_ptr<CWorkerThread>> QueryThreads;
    std::mutex EnumLock;      // one enumeration at a time
    std::mutex RescanLock;
    CWorkerThread hEnumThread;
    DiskLister Lister;
    DeviceOpener Opener;
};

}  // namespace vm
