#include "volume/Volume.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <strings.h>
#include <thread>
#include <sys/statvfs.h>

#include "app/Log.h"
#include "app/Settings.h"
#include "filesystem/ExfatBoot.h"
#include "filesystem/VolumeLabel.h"
#include "platform/DriveOpen.h"
#include "platform/SysBlock.h"
#include "platform/TextConvert.h"
#include "platform/UnalignedRead.h"

namespace vm {
namespace {


// Largest read in one call: the byte count must fit the 32-bit result.
constexpr std::uint64_t kMaxSectorsPerRead = (0xFFFFFFFFull / kSectorSize);

bool ValidFsSectorSize(std::uint32_t v) { return v >= 512 && v <= 4096 && (v & (v - 1)) == 0; }

std::string SystemErrorText(int err) { return std::strerror(err); }

// An exFAT volume whose main boot region is damaged is read through its backup: the chosen boot
// sector takes the main one's place. True when the boot sector is exFAT's.
bool ChooseExfatBootRegion(CVolume& v) {
    std::uint8_t chosen[512];
    const auto read = [&v](void* buffer, std::uint64_t offset, std::uint32_t bytes) {
        return v.ReadSectors(buffer, offset / kSectorSize, bytes / kSectorSize) == bytes;
    };
    switch (SelectExfatBootRegion(read, chosen)) {
        case ExfatRegion::None:
            return false;
        case ExfatRegion::Main:
            return true;
        case ExfatRegion::Backup:
            Log().Error("Volume %s: the exFAT boot region is damaged; its backup is used", v.GetDisplayName());
            break;
        case ExfatRegion::MainUnchecked:
            Log().Error("Volume %s: the exFAT boot region and its backup fail their checksums", v.GetDisplayName());
            break;
    }
    std::memcpy(v.BootSector, chosen, sizeof chosen);
    return true;
}

const DeviceOpener& QuietOpener() {
    static const DeviceOpener opener = DefaultDeviceOpener(false);
    return opener;
}

}  // namespace

DeviceOpener DefaultDeviceOpener(bool askUDisks) {
    return [askUDisks](const std::string& path, int* error) -> std::shared_ptr<IDeviceReader> {
        DriveOpenOptions options;
        options.AskUDisks = askUDisks;
        OpenedDrive opened = OpenDriveReadOnly(path, options);
        if (error) *error = opened.Error;
        if (!opened.File && !opened.Text.empty() && askUDisks) Log().Error("%s", opened.Text);
        return opened.File;
    };
}

CVolume::CVolume(std::int32_t kind)
    : pFileSystem(std::make_unique<CFileSystem>(this)),
      pParent(this),
      VolumeKind(kind),
      Context(StandaloneDriveContext()),
      Opener(DefaultDeviceOpener()) {
    RootItem.Flags = FI_DRIVE;
    RootItem.ParentId = std::uint32_t(ID_COMPUTER);
    RootItem.Name = reinterpret_cast<const char*>(this);
    RootItem.Size = 0;
    if (kind == VK_PHYSICAL) DriveType = 3;
    if (kind == VK_IMAGE) DriveType = 7;
}

CVolume::~CVolume() {
    Close();
    FoundTree.Clear();
}

void CVolume::AttachTo(CVolume* parent) {
    if (!parent || parent == this) return;
    pParent = parent;
    if (std::find(parent->Children.begin(), parent->Children.end(), this) == parent->Children.end())
        parent->Children.push_back(this);
    RootItem.ParentId = parent->VolumeKind == VK_PHYSICAL ? RootItem.ParentId : parent->RootItem.Id;
    Opener = parent->Opener;
    OpenerIsDefault = parent->OpenerIsDefault;
}

const std::string& CVolume::GetDevicePath() {
    if (VolumeKind == VK_VIRTUAL || VolumeKind == VK_FOUND) {
        if (CVolume* p = GetParent()) DevicePath = p->GetDevicePath();
    }
    if (VolumeKind == VK_PHYSICAL) RootPath = DevicePath;
    return DevicePath;
}

bool CVolume::OpenDrive(bool mayAsk) {
    try {
        std::lock_guard<std::mutex> g(ReadLock);
        if (hDevice) return true;
        std::string path;
        if (VolumeKind == VK_VIRTUAL || VolumeKind == VK_FOUND) {
            CVolume* p = GetParent();
            if (!p) return false;
            path = p->GetDevicePath();
        } else {
            path = GetDevicePath();
        }
        int err = 0;
        const DeviceOpener& opener = !mayAsk && OpenerIsDefault ? QuietOpener() : Opener;
        std::shared_ptr<IDeviceReader> dev = opener ? opener(path, &err) : nullptr;
        if (!dev) {
            OpenError = err ? err : ENODEV;
            Log().Error("Can't open volume '%s', System Error: %s", path, SystemErrorText(OpenError.load()));
            return false;
        }
        hDevice = std::make_unique<CTimedReader>(std::move(dev));
        OpenError = 0;
        return true;
    } catch (...) {
        Log().Error("OpenDrive except");
        return IsOpen();
    }
}

void CVolume::Close() {
    try {
        FlushReadFailures();
        std::lock_guard<std::mutex> g(ReadLock);
        hDevice.reset();
    } catch (...) {
        Log().Notice("CVolume::Close except");
    }
}

bool CVolume::IsOpen() const {
    std::lock_guard<std::mutex> g(ReadLock);
    return hDevice != nullptr;
}

std::shared_ptr<IDeviceReader> CVolume::Device() const {
    std::lock_guard<std::mutex> g(ReadLock);
    return hDevice ? hDevice->SharedDevice() : nullptr;
}

void CVolume::NoteFailedRead(std::uint64_t position, std::uint64_t bytes, std::uint32_t attempt) {
    // A failing disk fails run after run of neighbouring reads: the first failure of a run is
    // logged at once, the rest are counted and reported as one line when the run ends.
    if (Failures.Reads && position >= Failures.First && position <= Failures.End) {
        Failures.End = std::max(Failures.End, position + bytes);
        ++Failures.Reads;
        return;
    }
    FlushReadFailures();
    Log().Error(BuiltinString(172), GetDisplayName(), position, attempt);
    Failures = {position, position + bytes, 1};
}

void CVolume::NoteGoodRead() {
    if (Failures.Reads) FlushReadFailures();
}

void CVolume::FlushReadFailures() {
    if (Failures.Reads > 1)
        Log().Error("Volume %s: positions %I64d to %I64d not read (%d failed reads)", GetDisplayName(), Failures.First,
                    Failures.End - 1, Failures.Reads);
    Failures = {};
}

std::uint32_t CVolume::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) {
    if (count == 0 || !buffer) return 0;
    return TimedRead(static_cast<std::uint8_t*>(buffer), nullptr, first, count);
}

std::uint32_t CVolume::ReadSectorsInto(std::vector<std::uint8_t>& buffer, std::uint64_t first, std::uint64_t count) {
    count = std::min<std::uint64_t>(count, buffer.size() / kSectorSize);
    if (count == 0) return 0;
    return TimedRead(nullptr, &buffer, first, count);
}

std::uint32_t CVolume::TimedRead(std::uint8_t* out, std::vector<std::uint8_t>* swap, std::uint64_t first,
                                 std::uint64_t count) {
    if (!IsOpen() && !OpenDrive()) return 0;
    std::lock_guard<std::mutex> g(ReadLock);
    if (!hDevice) return 0;
    const std::uint64_t asked = std::min(count, kMaxSectorsPerRead);
    std::uint64_t n = asked;
    if (TotalSectors) {
        // Never read past the volume's end (a found volume reads through its parent).
        n = first >= TotalSectors ? 0 : std::min(n, TotalSectors - first);
    }
    const std::size_t want = std::size_t(n * kSectorSize);
    const std::uint64_t position = first * kSectorSize + StartOffset;
    std::size_t got = 0;
    bool failed = n == 0, atEnd = false;
    std::uint32_t failedAttempt = 0;
    const auto timeout = std::chrono::milliseconds(n * kSectorSize);
    for (std::uint32_t attempt = 0; !failed && attempt <= ReadRetriesSetting(); ++attempt) {
        if (attempt > 0 && RetryPauseSetting())
            std::this_thread::sleep_for(std::chrono::milliseconds(RetryPauseSetting()));
        ReadResult r = swap ? hDevice->ReadSwap(position, *swap, want, timeout)
                            : hDevice->Read(position, out, want, timeout);
        if (r.TimedOut) Log().Error("Read Timeout!");
        if (r.TimedOut || (r.Bytes == 0 && r.Error)) {
            got = 0;
            failed = true;
            failedAttempt = attempt;
            break;
        }
        got = r.Bytes;
        atEnd = r.AtEnd;
        if (got == want || atEnd) break;
    }
    if (swap) out = swap->data();
    std::memset(out + got, 0, std::size_t(asked * kSectorSize) - got);
    if (failed || got == 0) {
        if (n) NoteFailedRead(position, want, failedAttempt);
        return 0;
    }
    NoteGoodRead();
    if (got < want && !atEnd)
        Log().Error("Volume %s: bytes %I64d to %I64d not read, filled with zeros", GetDisplayName(), position + got,
                    position + want - 1);
    return std::uint32_t(got);
}

std::uint32_t CVolume::FileRead(const FoundItem& item, void* buffer, std::uint64_t offset, std::uint32_t length) {
    if (length == 0 || !buffer) return 0;
    const std::uint64_t position = item.DataOffset + offset;
    const std::uint64_t first = position / kSectorSize;
    try {
        // The item's bytes from `position` on, wherever in its sector that lies.
        const std::uint32_t got = ReadFromInsideUnit(
            std::uint32_t(position % kSectorSize), buffer, length, [&](void* out, std::uint32_t bytes) {
                return ReadSectors(out, first, (std::uint64_t(bytes) + kSectorSize - 1) / kSectorSize);
            });
        if (got == 0) {
            Log().Error("CVolume::FileRead: Can't read sector at: %I64d", first);
            return 0;
        }
        return got;
    } catch (...) {
        Log().Error("CVolume::FileRead.Except read sector at: %I64d", first);
        return 0;
    }
}

std::uint32_t CVolume::ReadItem(const FoundItem& item, void* buffer, std::uint64_t offset, std::uint32_t length) {
    try {
        if (pFileSystem && AnalyserReadsItems(pFileSystem->TypeCode))
            return pFileSystem->FileRead(item, buffer, offset, length);
        return FileRead(item, buffer, offset, length);
    } catch (...) {
        return 0;
    }
}

std::uint64_t CVolume::ItemHeldBytes(const FoundItem& item) {
    try {
        if (!item.Is(FI_LOST) && pFileSystem && AnalyserReadsItems(pFileSystem->TypeCode))
            return pFileSystem->HeldBytes(item);
        const std::uint64_t end = TotalBytes ? TotalBytes : TotalSectors * kSectorSize;
        if (end == 0) return CFileSystem::kNoBound;
        return item.DataOffset < end ? end - item.DataOffset : 0;
    } catch (...) {
        return 0;
    }
}

bool CVolume::ReadBootSector() {
    try {
        if (ReadSectors(BootSector, 0, 2) != 0) return true;
    } catch (...) {
    }
    Log().Error(BuiltinString(173), GetDisplayName());
    return false;
}

void CVolume::ApplyFatBootSector(std::uint32_t serialAt) {
    std::uint32_t serial = Le32(BootSector + serialAt);
    if (serial) SerialNumber[0] = serial;
    if (TotalSectors == 0) {
        std::uint64_t total = Le32(BootSector + 32);
        if (total == 0) total = Le16(BootSector + 19);
        if (total == 0)
            Log().Error("boot_fat16->BPB.Large_Sectors == 0 && boot_fat16->BPB.Small_Sectors == 0");
        TotalSectors = total * (FsBytesPerSector / kSectorSize);
    }
}

void CVolume::ApplyExfatBootSector() {
    ExfatLayout l;
    std::string why;
    if (!ReadExfatLayout(BootSector, 0, l, why)) {
        Log().Error("Volume %s: exFAT boot sector: %s", GetDisplayName(), why);
        return;
    }
    FsBytesPerSector = BytesPerSector = l.FsSectorSize;
    SectorsPerCluster = l.SectorsPerCluster;
    if (l.Serial) SerialNumber[0] = l.Serial;
    if (TotalSectors == 0) TotalSectors = l.VolumeSectors;
}

void CVolume::ApplyClusterGeometry() {
    // Cluster sizes come from the file system's own sector size (a 4096-byte-sector volume has
    // 4096-byte clusters even when read from an image); every count stays in 512-byte units.
    const std::uint8_t raw = BootSector[13];
    std::uint64_t bytesPerCluster = 0;
    const FsBootLayout boot = FsType(pFileSystem->TypeCode).Boot;
    if (boot == FsBootLayout::None || raw == 0) return;
    if (boot == FsBootLayout::Ntfs && raw >= 0x80) {
        unsigned shift = 256u - raw;
        if (shift <= 12) bytesPerCluster = std::uint64_t(FsBytesPerSector) << shift;
    } else if ((raw & (raw - 1)) == 0) {
        bytesPerCluster = std::uint64_t(FsBytesPerSector) * raw;
    }
    if (bytesPerCluster == 0 || bytesPerCluster > 2 * 1024 * 1024) {
        Log().Error("Volume %s: boot sector gives an invalid cluster size (%d sectors per cluster)", GetDisplayName(),
                    raw);
        return;
    }
    SectorsPerCluster = std::uint32_t(bytesPerCluster / kSectorSize);
}

std::int32_t CVolume::ParseBootSector() {
    if (!ReadBootSector()) return E_FAIL_RESULT;
    try {
        std::memcpy(OemName, BootSector + 3, 8);
        std::uint32_t detected = CFileSystem::DetectType(BootSector);
        if ((detected == FS_NONE || detected == FS_EXFAT) && ChooseExfatBootRegion(*this)) detected = FS_EXFAT;
        if (detected) pFileSystem->TypeCode = detected;
        const std::uint32_t code = pFileSystem->TypeCode;
        std::uint32_t bps = Le16(BootSector + 11);
        FsBytesPerSector = ValidFsSectorSize(bps) ? bps : kSectorSize;
        if (code != 0 && bps != 0 && !ValidFsSectorSize(bps))
            Log().Error("Volume %s: boot sector gives an invalid sector size (%d bytes)", GetDisplayName(), bps);
        const FsBootLayout boot = FsType(code).Boot;
        // An exFAT boot sector keeps no BIOS parameter block; ApplyExfatBootSector reads its own.
        if (boot != FsBootLayout::None && boot != FsBootLayout::Exfat) {
            ApplyClusterGeometry();
            if (ValidFsSectorSize(bps)) BytesPerSector = bps;
        }
        if (VolumeKind == VK_IMAGE) {
            if (auto dev = Device()) {
                TotalBytes = dev->SizeBytes();
                if (TotalBytes) TotalSectors = TotalBytes / kSectorSize;
            }
        }
        if (code == FS_NONE) ScanPartitionTable(0, 0);
        switch (boot) {
            case FsBootLayout::Fat16:
                ApplyFatBootSector(39);
                break;
            case FsBootLayout::Fat32:
                ApplyFatBootSector(67);
                break;
            case FsBootLayout::Ntfs:
                if (Le32(BootSector + 76)) {
                    SerialNumber[0] = Le32(BootSector + 72);
                    SerialNumber[1] = Le32(BootSector + 76);
                }
                if (TotalSectors == 0) {
                    std::uint64_t total = Le64(BootSector + 0x28);
                    if (total < (1ull << 48)) TotalSectors = total * (FsBytesPerSector / kSectorSize);
                }
                break;
            case FsBootLayout::Exfat:
                ApplyExfatBootSector();
                break;
            case FsBootLayout::None:
                break;
        }
        if (Label.empty())
            Label = ReadVolumeLabel(code, BootSector, TotalSectors, [this](void* buffer, std::uint64_t first, std::uint64_t count) {
                return ReadSectors(buffer, first, count);
            });
        if (TotalBytes == 0 && TotalSectors != 0) TotalBytes = TotalSectors * kSectorSize;
        BytesPerCluster = SectorsPerCluster * kSectorSize;
        if (TotalSectors != 0 && SectorsPerCluster != 0) TotalClusters = TotalSectors / SectorsPerCluster;
    } catch (...) {
    }
    return 1;
}

const std::string& CVolume::GetDisplayName() {
    switch (VolumeKind) {
        case VK_PHYSICAL:
            DisplayName = Description;
            break;
        case VK_LOGICAL: {
            std::string name = Letter ? std::string(1, Letter) + ":" : KernelName;
            std::string label = Trim(Label);
            DisplayName = label.empty() ? name : name + " (" + label + ")";
            break;
        }
        case VK_VIRTUAL:
        case VK_FOUND:
            DisplayName = Format("Volume at: %I64d", StartOffset);
            break;
        case VK_IMAGE: {
            std::size_t slash = DevicePath.find_last_of('/');
            DisplayName = slash == std::string::npos ? DevicePath : DevicePath.substr(slash + 1);
            break;
        }
        default:
            break;
    }
    return DisplayName;
}

std::size_t CVolume::GetItemPath(const FoundItem& item, std::string& out) const {
    const std::string prefix = Letter ? std::string(1, Letter) + ":\\" : "\\";
    const std::int32_t rootId = FoundTree.RootId;
    if (item.SignedId() == rootId) {
        out = prefix;
        return out.size();
    }
    std::string path;
    std::set<const FoundItem*> visited;
    std::int32_t next = item.SignedParentId();
    for (;;) {
        // A parent is a folder: a deleted file may carry the id (first cluster) of a live folder.
        const FoundItem* node = nullptr;
        std::intptr_t cursor = -1;
        while (FoundItem* f = FoundTree.FindById(next, cursor))
            if (f->Is(FI_FOLDER) || f->Is(FI_DRIVE)) {
                node = f;
                break;
            }
        if (!node || !visited.insert(node).second) break;
        if (node->SignedId() == rootId || node->Id == node->ParentId || node->Is(FI_DRIVE)) {
            path = prefix + path;
            break;
        }
        path = std::string(node->NameOrEmpty()) + "\\" + path;
        if (node->SignedId() < 0) break;
        next = node->SignedParentId();
    }
    out = path;
    return out.size();
}

int CVolume::GetFileSystemFamily() const {
    const FsFamily family = FsType(pFileSystem ? pFileSystem->TypeCode : 0).Family;
    if (IsFatFamily(family)) return 0;
    return family == FsFamily::Ntfs ? 1 : 2;
}

const std::string& CVolume::GetFileSystemName() {
    if (strcasecmp(pFileSystem->TypeName.c_str(), "Unknown") == 0) {
        std::uint32_t code = pFileSystem->TypeCode ? pFileSystem->TypeCode : CFileSystem::DetectType(BootSector);
        pFileSystem->SetTypeName(code);
    }
    return pFileSystem->TypeName;
}

}  // namespace vm

namespace vm {

std::string SerialNumberText(const CVolume& v) {
    // The low half keeps its leading zeros: "%X%X" would drop digits from the middle; a serial
    // whose low half is 0 is still a serial.
    if (v.SerialNumber[1]) return Format("%X%08X", v.SerialNumber[1], v.SerialNumber[0]);
    if (v.SerialNumber[0] == 0) return {};
    return Format("%X", v.SerialNumber[0]);
}

const char* VolumeKindName(std::int32_t kind) {
    switch (kind) {
        case VK_PHYSICAL: return "physical drive";
        case VK_LOGICAL: return "logical drive";
        case VK_VIRTUAL: return "virtual drive";
        case VK_IMAGE: return "image file";
        case VK_FOUND: return "found volume";
        default: return "unknown";
    }
}

}  // namespace vm
