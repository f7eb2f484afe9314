#include "volume/VolumesList.h"

#include <algorithm>
#include <set>

#include "app/Log.h"
#include "app/Notify.h"
#include "volume/LocalComputer.h"

namespace vm {
namespace {

bool SurvivesRescan(const CVolume& v) { return v.VolumeKind == VK_IMAGE || v.VolumeKind == VK_VIRTUAL; }

}  // namespace

// What an enumeration keeps of the previous list: images and virtual drives, which move to the
// end, and entries in use (with the drives they lie on), which take the place of their device
// when it is found again, so that a worker's drive keeps its identity and results.
struct CVolumesList::Kept {
    std::vector<std::shared_ptr<CVolume>> Tail;
    std::vector<std::shared_ptr<CVolume>> InUse;

    std::shared_ptr<CVolume> TakeInUse(std::int32_t kind, const std::string& path) {
        for (auto it = InUse.begin(); it != InUse.end(); ++it)
            if ((*it)->VolumeKind == kind && (*it)->DevicePath == path) {
                auto v = *it;
                InUse.erase(it);
                return v;
            }
        return nullptr;
    }
};

CVolumesList::CVolumesList(CLocalComputer& owner) : Owner(owner) {}

CVolumesList::~CVolumesList() { WaitForEnumeration(); }

void CVolumesList::WaitForEnumeration() {
    while (!hEnumThread.WaitFor(std::chrono::milliseconds(1000))) {
    }
    std::lock_guard<std::mutex> e(EnumLock);
}

std::int32_t CVolumesList::GetCount() const {
    std::lock_guard<std::mutex> g(Lock);
    return std::int32_t(Items.size());
}

CVolume* CVolumesList::GetAt(std::int32_t index) const {
    {
        std::lock_guard<std::mutex> g(Lock);
        if (index >= 0 && std::size_t(index) < Items.size()) return Items[std::size_t(index)].get();
    }
    Log().Error("CVolumesList::GetAt except");
    return nullptr;
}

std::int32_t CVolumesList::Add(std::shared_ptr<CVolume> volume) {
    if (!volume) return GetCount();
    volume->Context = Owner.Context();
    std::lock_guard<std::mutex> g(Lock);
    Items.push_back(std::move(volume));
    return std::int32_t(Items.size());
}

std::shared_ptr<CVolume> CVolumesList::Share(const CVolume* volume) const {
    std::lock_guard<std::mutex> g(Lock);
    for (const auto& v : Items)
        if (v.get() == volume) return v;
    return nullptr;
}

bool CVolumesList::Contains(const CVolume* volume) const { return Share(volume) != nullptr; }

std::vector<std::shared_ptr<CVolume>> CVolumesList::Snapshot() const {
    std::lock_guard<std::mutex> g(Lock);
    return Items;
}

void CVolumesList::SetDiskLister(DiskLister lister) {
    std::lock_guard<std::mutex> e(EnumLock);
    Lister = std::move(lister);
}

void CVolumesList::SetDeviceOpener(DeviceOpener opener) {
    std::lock_guard<std::mutex> e(EnumLock);
    Opener = std::move(opener);
}

std::int32_t CVolumesList::Rescan(bool keepShownResults) {
    std::lock_guard<std::mutex> r(RescanLock);
    Enumerate(true, keepShownResults);
    // After the time-out the enumeration goes on in the background; the caller shows what is there.
    hEnumThread.WaitFor(kRescanWait);
    return 0;
}

std::shared_ptr<CVolume> CVolumesList::NewPhysical(std::int32_t number, const SysDisk& disk) {
    auto v = std::make_shared<CVolume>(VK_PHYSICAL);
    v->Context = Owner.Context();
    if (Opener) v->SetDeviceOpener(Opener);
    v->Letter = number < 10 ? char('0' + number) : 0;
    v->DevicePath = "/dev/" + disk.Name;
    v->RootPath = v->DevicePath;
    v->KernelName = disk.Name;
    v->DiskName = disk.Name;
    v->Description = Format("Drive %d", number);
    if (!disk.Model.empty()) v->Description = disk.Vendor.empty() ? disk.Model : disk.Vendor + ", " + disk.Model;
    v->State = VS_READY;
    v->DeviceNumber = number;
    v->RootItem.Id = std::uint32_t(Owner.NextId());
    return v;
}

std::shared_ptr<CVolume> CVolumesList::NewLogical(std::int32_t number, const SysDisk& disk, const SysPartition& part) {
    auto v = std::make_shared<CVolume>(VK_LOGICAL);
    v->Context = Owner.Context();
    if (Opener) v->SetDeviceOpener(Opener);
    v->DevicePath = "/dev/" + part.Name;
    v->RootPath = v->DevicePath;
    v->KernelName = part.Name;
    v->DiskName = disk.Name;
    v->DriveType = disk.Removable ? 2 : 3;
    v->State = VS_NOT_READY;
    v->DeviceNumber = number;
    v->PartitionNumber = std::int32_t(part.Number);
    v->RootItem.Id = std::uint32_t(Owner.NextId());
    return v;
}

void CVolumesList::Append(const std::shared_ptr<CVolume>& volume) {
    std::lock_guard<std::mutex> g(Lock);
    Items.push_back(volume);
}

void CVolumesList::StartQuery(const std::shared_ptr<CVolume>& volume) {
    auto thread = std::make_unique<CWorkerThread>();
    // The thread holds the drive: a query still running after the wait keeps it alive.
    thread->Start([volume] { volume->QueryInformation(); });
    QueryThreads.push_back(std::move(thread));
}

void CVolumesList::WaitForQueries() {
    const auto deadline = std::chrono::steady_clock::now() + kQueryWait;
    for (auto& thread : QueryThreads) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!thread->WaitFor(std::max(left, std::chrono::milliseconds(0)))) thread->Abandon();
    }
    QueryThreads.clear();
}

void CVolumesList::Reconcile() {
    std::lock_guard<std::mutex> g(Lock);
    std::set<const CVolume*> listed;
    for (const auto& v : Items) listed.insert(v.get());
    for (const auto& v : Items) {
        auto& ch = v->Children;
        ch.erase(std::remove_if(ch.begin(), ch.end(), [&](CVolume* c) { return !listed.count(c); }), ch.end());
        if (v->pParent != v.get() && !listed.count(v->pParent)) v->pParent = v.get();
    }
}

std::int32_t CVolumesList::Enumerate(bool inThread, bool keepShownResults) {
    if (inThread) {
        if (!hEnumThread.Alive()) hEnumThread.Start([this, keepShownResults] { Enumerate(false, keepShownResults); });
        return 1;
    }
    const CVolume* shown = keepShownResults ? Owner.DisplayedVolume.load() : nullptr;
    std::lock_guard<std::mutex> e(EnumLock);
    std::vector<std::shared_ptr<CVolume>> previous;
    {
        std::lock_guard<std::mutex> g(Lock);
        previous.swap(Items);
    }
    Kept kept;
    std::set<CVolume*> inUse;
    {
        std::lock_guard<std::mutex> g(Lock);
        for (const auto& v : previous)
            if (!SurvivesRescan(*v) && (v->InUse() || (v.get() == shown && v->FoundTree.Count() > 0)))
                for (CVolume* p = v.get(); p && !SurvivesRescan(*p) && inUse.insert(p).second; p = p->GetParent()) {
                }
    }
    for (const auto& v : previous) {
        if (SurvivesRescan(*v))
            kept.Tail.push_back(v);
        else if (inUse.count(v.get()))
            kept.InUse.push_back(v);
    }

    // Disks first, each with its query started, then their partitions, attached to their disk.
    const std::vector<SysDisk> disks = Lister ? Lister() : ListDisks();
    std::vector<std::shared_ptr<CVolume>> diskEntries;
    for (std::size_t n = 0; n < disks.size(); ++n) {
        auto disk = kept.TakeInUse(VK_PHYSICAL, "/dev/" + disks[n].Name);
        if (!disk) {
            disk = NewPhysical(std::int32_t(n), disks[n]);
            StartQuery(disk);
        }
        Append(disk);
        diskEntries.push_back(disk);
    }
    for (std::size_t n = 0; n < disks.size(); ++n) {
        for (const SysPartition& p : disks[n].Partitions) {
            auto part = kept.TakeInUse(VK_LOGICAL, "/dev/" + p.Name);
            if (!part) {
                part = NewLogical(std::int32_t(n), disks[n], p);
                {
                    std::lock_guard<std::mutex> g(Lock);
                    part->AttachTo(diskEntries[n].get());
                }
                StartQuery(part);
            }
            Append(part);
        }
    }
    WaitForQueries();
    // Entries in use whose device is gone stay until their worker is done; images follow.
    for (const auto& v : kept.InUse)
        if (v->VolumeKind != VK_FOUND) Append(v);
    for (const auto& v : kept.Tail) Append(v);
    for (const auto& v : kept.InUse)
        if (v->VolumeKind == VK_FOUND) Append(v);
    Reconcile();
    Owner.ForgetDropped();
    previous.clear();
    return GetCount();
}

std::int32_t CVolumesList::OnDeviceChange(std::uint32_t event, const std::vector<std::string>& names) {
    if (names.empty()) return 0;
    if (event == DBT_DEVICEARRIVAL) {
        for (const auto& n : names) Log().MessageId(180, n);
        Rescan(true);
    } else if (event == DBT_DEVICEREMOVECOMPLETE) {
        for (const auto& n : names) Log().MessageId(181, n);
    } else {
        return 0;
    }
    Notifier().Post(msg::DrivesChanged, event, 0);
    return 0;
}

}  // namespace vm
