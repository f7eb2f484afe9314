#pragma once
// One drive of any kind (whole disk, partition, image file, found volume, virtual drive): the
// one object through which the program reads it, with what is known about it, its file-system
// analyser, its cluster map and its found items. Reads are always in 512-byte sectors counted
// from the volume's own first byte; nothing is ever written to a drive.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "filesystem/BitArray.h"
#include "filesystem/FileSystem.h"
#include "filesystem/FoundItem.h"
#include "filesystem/FoundTree.h"
#include "platform/DeviceReader.h"
#include "volume/DriveContext.h"
#include "volume/WorkerThread.h"

namespace vm {

enum VolumeKind : std::int32_t {
    VK_PHYSICAL = 1,
    VK_LOGICAL = 2,
    VK_VIRTUAL = 4,
    VK_IMAGE = 8,
    VK_FOUND = 16,
    VK_COMPUTER = 32,
    VK_RECYCLE_BIN = 64,
};

// VS_NO_ACCESS: the drive is there (the system lists it) but this user may not read it.
enum VolumeState : std::int32_t { VS_QUERYING = -1, VS_NOT_READY = 0, VS_READY = 1, VS_ANALYSING = 2, VS_NO_ACCESS = 3 };

constexpr std::int32_t ID_COMPUTER = -12;
constexpr std::uint32_t kSectorSize = 512;
constexpr std::int32_t E_FAIL_RESULT = std::int32_t(0x80004005);

struct PartitionInformation {
    std::uint64_t StartingOffset = 0;
    std::uint64_t PartitionLength = 0;
    std::uint32_t HiddenSectors = 0;
    std::uint32_t PartitionNumber = 0;
    std::uint8_t PartitionType = 0;
    std::uint8_t BootIndicator = 0;
    std::uint8_t RecognizedPartition = 0;
    std::uint8_t RewritePartition = 0;
};

struct DriveLayout {
    std::uint32_t PartitionCount = 0;
    std::uint32_t Signature = 0;
    PartitionInformation PartitionEntry[4];
};

// Opens a device path read-only; null with errno in *error on failure. Tests put a fault
// injector here.
using DeviceOpener = std::function<std::shared_ptr<IDeviceReader>(const std::string& path, int* error)>;
// Opens the device itself, or, when the system refuses and `askUDisks` allows, through UDisks2
// (which may ask the user for a password); why it failed goes to the log.
DeviceOpener DefaultDeviceOpener(bool askUDisks = true);

// Drives in a drive list are owned through std::shared_ptr: an analysis worker and an
// information query hold their drive, so neither a rescan nor a stop destroys a drive in use.
class CVolume : public std::enable_shared_from_this<CVolume> {
public:
    explicit CVolume(std::int32_t kind);
    virtual ~CVolume();
    CVolume(const CVolume&) = delete;
    CVolume& operator=(const CVolume&) = delete;

    // Reads count sectors from `first` into buffer (count * 512 bytes). Returns the bytes read;
    // a short read leaves the unread rest of the buffer zero-filled.
    virtual std::uint32_t ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count);
    // The same into a buffer of at least count * 512 bytes whose storage the read may exchange
    // for its own (no copy): for large sequential reads. Its size stays the same.
    std::uint32_t ReadSectorsInto(std::vector<std::uint8_t>& buffer, std::uint64_t first, std::uint64_t count);
    std::uint32_t FileRead(const FoundItem& item, void* buffer, std::uint64_t offset, std::uint32_t length);
    std::uint32_t ReadItem(const FoundItem& item, void* buffer, std::uint64_t offset, std::uint32_t length);
    // How many bytes of the item, from its start, the drive holds for ReadItem: the analyser's
    // bound for the items it reads (a FAT file's chain, an NTFS file's runs), and for every
    // other item what lies between its start and the volume's end. A size past it is damage.
    // CFileSystem::kNoBound when nothing bounds it (a volume of unknown size).
    std::uint64_t ItemHeldBytes(const FoundItem& item);

    // Opens the device; `mayAsk` false never lets the opener ask the user (drive-list queries).
    bool OpenDrive(bool mayAsk = true);
    void Close();
    bool IsOpen() const;
    const std::string& GetDevicePath();
    // Fills size, geometry, layout, label and state of a disk or partition.
    CVolume& QueryInformation();
    bool ReadBootSector();
    std::int32_t ParseBootSector();
    const std::string& GetDisplayName();
    CVolume* GetParent() const { return pParent == this ? nullptr : pParent; }
    // The folder that holds the item, in the system's form ("\" or "X:\", backslashes, ending
    // with one); its length is returned.
    std::size_t GetItemPath(const FoundItem& item, std::string& out) const;
    int GetFileSystemFamily() const;
    const std::string& GetFileSystemName();

    // Reads the partition table at `tableSector` (and the tables it chains to) and hands every
    // data partition that no child covers to the drive list as a found volume.
    void ScanPartitionTable(std::uint64_t tableSector, std::uint64_t extendedStart);

    // Analysis (see VolumeAnalysis.cpp). Full run, on its worker: initialise, file system,
    // sectors; 0, or E_FAIL_RESULT when the drive cannot be opened.
    std::int32_t Analyse();
    std::int32_t AnalyseFileSystem();
    std::int32_t AnalyseSectors();
    // Single-phase runs, started by the window: the run stays active after its phase has ended
    // until the starter calls StopAnalysis on the phase-end notification. False when the drive
    // is not owned by a shared_ptr or its previous worker has not ended.
    bool StartFileSystemAnalysis();
    bool StartSectorAnalysis(bool lostDrivesOnly);
    // Files one item that a file-system analyser decoded; the filed item or null.
    FoundItem* AddFileSystemItem(const FoundItem& item);
    // Takes one find of the sector search.
    void AddSectorItem(std::unique_ptr<FoundItem> item);
    // Discards the found items; refused (false) while a worker of this drive still runs.
    bool ClearFound();

    ProgressBlock& Progress() const { return Context->Progress(); }
    // Waits up to `limit` for every worker of this drive to end; true when none runs.
    bool WorkersEnded(std::chrono::milliseconds limit);
    // A worker, a job or a run uses the drive: a rescan keeps it.
    bool InUse() const;

    // The volume lies on `parent` (a found volume on the searched drive, a partition on its disk).
    void AttachTo(CVolume* parent);
    void SetDeviceOpener(DeviceOpener opener) {
        Opener = std::move(opener);
        OpenerIsDefault = false;
    }
    const DeviceOpener& GetDeviceOpener() const { return Opener; }
    // The reader of the open device, or null.
    std::shared_ptr<IDeviceReader> Device() const;
    // Reports runs of unreadable positions that are still open (also done by Close).
    void FlushReadFailures();

    // What is known about the volume.
    std::uint8_t BootSector[1024] = {};
    std::string DevicePath;
    std::string RootPath;
    std::unique_ptr<CFileSystem> pFileSystem;
    CFoundTree FoundTree;
    CBitArray ClusterMap;
    FoundItem RootItem;
    CVolume* pParent;
    std::vector<CVolume*> Children;
    std::int32_t DriveType = 0;
    std::int32_t VolumeKind;
    std::uint64_t TotalBytes = 0;
    std::uint64_t FreeBytes = 0;
    std::atomic<std::int32_t> State{VS_NOT_READY};
    char Letter = 0;
    std::string Description;
    std::string DisplayName;
    std::string Label;
    std::uint8_t OemName[16] = {};
    std::uint32_t SerialNumber[2] = {0, 0};  // low, high (NTFS only)
    std::uint32_t SectorsPerCluster = 1;     // in 512-byte units
    std::uint32_t BytesPerSector = 512;      // as the device or file system reports it; for display
    std::uint32_t BytesPerCluster = 512;
    std::uint64_t TotalSectors = 0;          // in 512-byte units
    std::uint64_t TotalClusters = 0;
    std::uint64_t StartOffset = 0;
    DeviceGeometry Geometry;
    DriveLayout Layout;
    std::int32_t DeviceType = -1, DeviceNumber = -1, PartitionNumber = -1;
    std::atomic<std::int32_t> FsFolders{0}, FsFiles{0};
    // The sector search's workers file finds concurrently.
    std::atomic<std::int32_t> SectorFolders{0}, SectorFiles{0};
    std::int32_t LostDrivesOnly = 0;
    // Linux names of a block device: "sda", "sda1", and the disk's name for a partition.
    std::string KernelName;
    std::string DiskName;

    // The drive list this drive belongs to, with the progress record of its runs.
    std::shared_ptr<CDriveContext> Context;
    // The workers of a full run and of the two single-phase runs.
    CWorkerThread hAnalyseThread, hFileSystemThread, hSectorThread;
    // Number of the run (ProgressBlock::RunId) that this drive's worker serves.
    std::atomic<std::uint64_t> RunId{0};
    // Jobs other than analyses that read the drive now (image creation, recovery).
    std::atomic<std::int32_t> Users{0};
    // errno of the last OpenDrive that failed; 0 after one that succeeded. The drive list tells
    // "no access" by it, and a window tells the user why a run ended at once.
    std::atomic<int> OpenError{0};

private:
    bool StillMyRun() const;
    void EndFullRun();
    void EndMyRun();
    void EndUnopenedPhase(std::uint32_t phaseEnd);
    std::uint64_t BeginSinglePhase();

    struct FailureRun {
        std::uint64_t First = 0, End = 0;  // byte range of the reads that failed
        std::uint32_t Reads = 0;
    };
    void NoteFailedRead(std::uint64_t position, std::uint64_t bytes, std::uint32_t attempt);
    void NoteGoodRead();
    std::uint32_t TimedRead(std::uint8_t* out, std::vector<std::uint8_t>* swap, std::uint64_t first, std::uint64_t count);
    void QueryPhysicalDrive();
    bool ApplySysfsDisk();
    void QueryLogicalDrive();
    void ApplyFatBootSector(std::uint32_t serialAt);
    void ApplyExfatBootSector();
    void ApplyClusterGeometry();
    void ScanPartitionTable(std::uint64_t tableSector, std::uint64_t extendedStart, std::vector<std::uint64_t>& tables);
    void ScanGuidPartitionTable();
    bool PartitionKnown(std::uint64_t firstSector) const;
    void ReportPartition(std::uint64_t firstSector, std::uint64_t sectors, std::uint8_t type);

    mutable std::mutex ReadLock;  // one reader of the volume at a time
    std::unique_ptr<CTimedReader> hDevice;
    DeviceOpener Opener;
    bool OpenerIsDefault = true;
    FailureRun Failures;
    std::uint32_t FsBytesPerSector = 512;
};

}  // namespace vm

namespace vm {
// The serial number as the drive's properties and `vellumark-cli info` show it: the high half in
// hexadecimal followed by the low half in eight digits when the high half is set, else the low
// half; empty when both halves are 0.
std::string SerialNumberText(const CVolume& volume);
// "physical drive", "logical drive", "virtual drive", "image file", "found volume".
const char* VolumeKindName(std::int32_t kind);
}  // namespace vm
