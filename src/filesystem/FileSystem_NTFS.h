#pragma once
// The NTFS analyser: finds the MFT from the boot sector, loads the cluster bitmap into the
// drive's cluster map, walks every MFT record (in use or not) and files each file record as a
// found item; parses MFT records that the sector search finds outside the MFT; reads files by
// their data runs for recovery.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "filesystem/FileSystem.h"
#include "filesystem/MftRecord.h"

namespace vm {

// The catalogue's type of an MFT record found by its "FILE" signature.
constexpr std::int16_t kFileTypeMftRecord = 24;

class CFoundTree;

// True for the volume's own files: the reserved records in the root ($MFT, $LogFile, $Bitmap,
// $BadClus, ...) and everything below $Extend ($ObjId, $Quota, $UsnJrnl, ...). `item` is an item
// of an NTFS volume's tree, whose ids are MFT record numbers.
bool IsNtfsSystemItem(const CFoundTree& tree, const FoundItem& item);

class CFileSystem_NTFS : public CFileSystem, public IMftOwner {
public:
    explicit CFileSystem_NTFS(CVolume* volume);
    ~CFileSystem_NTFS() override;

    int Analyse() override;
    // Parses up to 10 records at a position where the sector search matched "FILE"; records
    // that lie in the live MFT were filed by the walk already and are left alone.
    void ExamineFoundRecord(const FoundItem& find) override;
    std::uint32_t FileRead(const FoundItem& item, void* buffer, std::uint64_t offset, std::uint32_t length) override;
    // A file's data ends where its runs stop mapping clusters of the volume.
    std::uint64_t HeldBytes(const FoundItem& item) override;
    // Files the record found at byte `position` of the drive (outside the MFT). The item keeps
    // that position (with the record's file type), so that reading it reads this copy.
    virtual void ParseRecord(const std::uint8_t* record, std::uint64_t position);

    std::uint32_t ReadMftRecord(std::uint32_t n, std::uint8_t* buffer) const override;
    std::uint32_t ReadCluster(std::uint64_t lcn, std::uint8_t* buffer) const;
    // True when byte `position` of the drive lies in a cluster of the live MFT.
    bool InsideMft(std::uint64_t position) const;

    std::uint32_t GetRecordSize() const override { return RecordSize; }
    std::uint32_t GetBytesPerCluster() const override;
    std::uint32_t ReadVolumeSectors(void* buffer, std::uint64_t first, std::uint32_t count) const override;

    // The walk goes on while this answers true (the analysis run flag); always when not set. The
    // walk reports its progress in the drive's progress record: Total is the last record's
    // number, Current the record being walked.
    void SetRunCheck(std::function<bool()> running) { RunCheck = std::move(running); }

    std::uint64_t VolumeSectors = 0;
    std::uint64_t MftLcn = 0;
    std::uint64_t MftMirrLcn = 0;
    std::uint64_t VolumeSerial = 0;
    std::uint32_t IndexRecordSize = 0;
    std::unique_ptr<CMftRecord> pMftReader;
    std::uint32_t RecordSize = 1024;
    std::uint64_t RecordCount = 0;

protected:
    // Hands one decoded item to the drive, which files it in its found tree and counts it.
    virtual void FileItem(const FoundItem& rec);

private:
    struct RecordState {
        std::uint16_t Sequence = 0;
        bool File = false, InUse = false, Folder = false;
    };
    void ReadBootFields();
    bool LoadMft();
    bool ReadFirstMftRecord(std::vector<std::uint8_t>& record);
    void CapRecordCount();
    void LoadClusterBitmap();
    void WalkMft();
    void WalkRecord(CMftRecord& reader, const std::uint8_t* data, std::uint32_t n);
    // Id, flags, times, name, size and data position of a loaded record; false when unusable.
    bool MakeItem(CMftRecord& reader, FoundItem& item, bool mergeList) const;
    RecordState StateOf(std::uint32_t n) const;
    // A deleted item whose parent record now holds another file goes under a placeholder.
    void SettleParent(FoundItem& item, std::uint16_t parentSequence);
    std::uint32_t LostFolderFor(std::uint32_t parent, std::uint16_t sequence);
    bool Running() const { return !RunCheck || RunCheck(); }
    // The record of an item with its attribute list merged, loaded once for the item last asked
    // for (recovery reads a file chunk by chunk); null when it cannot be read.
    std::shared_ptr<const CMftRecord> RecordOf(const FoundItem& item);

    std::function<bool()> RunCheck;
    using ItemKey = std::pair<std::uint32_t, std::uint64_t>;  // record number, copy's position
    std::mutex RecordLock;
    ItemKey LastKey;
    std::shared_ptr<const CMftRecord> LastRecord;
    std::vector<RecordState> Walked;  // the records walked so far, by number
    std::mutex LostLock;
    std::map<std::pair<std::uint32_t, std::uint16_t>, std::uint32_t> LostFolders;
    std::uint32_t NextLostFolderId = 0x7FFFFFFF;
};

// Record size from the boot sector's byte at 0x40 (or 0x44 for index records): a signed value;
// a negative one -n means 2^n bytes, a positive one that many clusters. 0 when unusable.
std::uint32_t NtfsRecordBytes(std::uint8_t raw, std::uint32_t bytesPerCluster);

}  // namespace vm
