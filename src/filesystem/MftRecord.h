#pragma once
// One NTFS MFT record in memory: its fix-ups, its attributes, the run list of its unnamed $DATA
// (merged over extension records through the attribute list), and reads of that data. The
// record is drive data and so hostile: every offset and length is checked against the record
// and against the attribute that holds it.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "filesystem/FoundItem.h"

namespace vm {

struct DataRun {
    std::int64_t Lcn = 0;       // first logical cluster
    std::uint64_t Length = 0;   // clusters
    std::uint32_t Sparse = 0;   // 1 when the run has no clusters on the drive (reads as zeros)
    std::uint64_t StartVcn = 0;
    std::uint64_t EndVcn = 0;   // StartVcn + Length - 1
};

// What a record reader needs from the file system it belongs to.
class IMftOwner {
public:
    virtual ~IMftOwner() = default;
    virtual std::uint32_t GetRecordSize() const = 0;
    virtual std::uint32_t GetBytesPerCluster() const = 0;
    // Reads `count` 512-byte sectors from sector `first` of the volume; bytes read, 0 on failure.
    virtual std::uint32_t ReadVolumeSectors(void* buffer, std::uint64_t first, std::uint32_t count) const = 0;
    // Reads record n of the volume's MFT (GetRecordSize() bytes); bytes read, 0 on failure.
    virtual std::uint32_t ReadMftRecord(std::uint32_t n, std::uint8_t* buffer) const = 0;
};

constexpr std::uint32_t kMftSignature = 0x454C4946;  // "FILE"
constexpr std::uint32_t kMinRecordSize = 512;
constexpr std::uint32_t kMaxRecordSize = 65536;
// Bounds on what one file's run list may grow to, whatever its records claim.
constexpr std::size_t kMaxRuns = 1u << 20;
constexpr std::size_t kMaxExtensionRecords = 4096;

enum AttributeType : std::uint32_t {
    AT_STANDARD_INFORMATION = 0x10,
    AT_ATTRIBUTE_LIST = 0x20,
    AT_FILE_NAME = 0x30,
    AT_DATA = 0x80,
    AT_END = 0xFFFFFFFF,
};

enum RunListEnd {
    RL_COMPLETE,   // ended with its zero header
    RL_TRUNCATED,  // ran out of bytes before the zero header
    RL_INVALID,    // a header or a run that no volume can hold
};

// Decodes the run list at data[0, size) whose first run starts at `startVcn`, appending the runs
// to `runs` (never beyond kMaxRuns in all). Offsets are signed steps from the previous run's
// first cluster; a run without offset bytes is sparse.
RunListEnd DecodeRunList(const std::uint8_t* data, std::size_t size, std::uint64_t startVcn,
                         std::vector<DataRun>& runs);

// Applies the update-sequence fix-ups to every 512-byte stride of a record of `size` bytes, as
// far as the update-sequence array reaches. Returns the strides mended, kFixupsOutside when the
// array lies outside the record, or kFixupsTorn when a stride does not end with the update
// sequence number (the record was torn: only part of it reached the drive); the record is
// unchanged then.
constexpr int kFixupsOutside = -1;
constexpr int kFixupsTorn = -2;
int ApplyFixups(std::uint8_t* record, std::uint32_t size);

class CMftRecord {
public:
    // An empty record of the owner's record size; with `source`, that record loaded and parsed.
    explicit CMftRecord(const IMftOwner* owner, const std::uint8_t* source = nullptr);
    ~CMftRecord();
    CMftRecord(const CMftRecord&) = delete;
    CMftRecord& operator=(const CMftRecord&) = delete;

    bool LoadRecord(const std::uint8_t* source);  // copies Size() bytes and parses them
    bool Parse();

    bool IsFile() const;
    bool InUse() const;
    bool IsDirectory() const;
    std::uint16_t SequenceNumber() const;
    std::uint32_t RecordNumber() const;  // the record's own number at 0x2C
    std::uint32_t AllocatedSize() const;
    bool HasAttributeList() const { return FindAttribute(AT_ATTRIBUTE_LIST) != 0; }

    // Offset of the first attribute of that type within the record (after `after`, when given),
    // or 0 when there is none.
    std::uint32_t FindAttribute(std::uint32_t type) const;
    std::uint32_t NextAttribute(std::uint32_t after, std::uint32_t type) const;

    // Times, parent, name and size of the file. The name lives in this reader until its next load.
    bool FillItem(FoundItem& item);
    // Merges the unnamed $DATA extents that the attribute list places in extension records.
    void LoadAttributeList();

    // Copies data bytes [offset, offset + length) into buffer, stopping at the data's end, an
    // unmapped cluster or a failed read; returns the bytes copied. Safe to call from several
    // threads at once.
    std::uint32_t ReadData(std::uint64_t offset, std::uint32_t length, void* buffer) const;
    std::int64_t VcnToLcn(std::uint64_t vcn) const;
    // Bytes of the data, from its start, that ReadData can deliver: the data size, cut where the
    // runs stop mapping clusters from the first on (a gap, or a run that leaves a volume of
    // `volumeClusters` clusters; 0 when its size is not known). Sparse runs map zeros.
    std::uint64_t HeldBytes(std::uint64_t volumeClusters) const;

    const std::uint8_t* Buffer() const { return pBuffer.data(); }
    std::uint32_t Size() const { return std::uint32_t(pBuffer.size()); }
    bool HasData() const { return DataFound; }
    bool IsCompressed() const { return (DataFlags & 0x00FF) != 0; }
    bool IsEncrypted() const { return (DataFlags & 0x4000) != 0; }

    std::vector<DataRun> Runs;
    std::uint64_t DataSize = 0;
    std::uint64_t InitializedSize = 0;  // bytes past it read as zeros
    std::uint8_t NonResident = 0;
    std::uint32_t ResidentOffset = 0;
    std::uint32_t DataStreams = 0;
    std::uint16_t ParentSequence = 0;  // sequence number in the first $FILE_NAME's parent reference

private:
    struct Attr;
    bool AttributeAt(std::uint32_t offset, Attr& out) const;
    bool ResidentValue(std::uint32_t offset, std::uint32_t& valueAt, std::uint32_t& valueLength) const;
    void ReadUnnamedData();
    bool TakeDataExtent(const CMftRecord& source, const Attr& a);
    void NormalizeRuns();
    bool ReadAttributeListValue(const Attr& a, std::vector<std::uint8_t>& value) const;
    void MergeExtension(const CMftRecord& ext);
    bool TakeTimes(const CMftRecord& source, FoundItem& item) const;
    bool TakeNames(const CMftRecord& source, FoundItem& item, bool& first);

    const IMftOwner* pOwner;
    std::map<std::uint64_t, std::unique_ptr<CMftRecord>> ExtRecords;
    std::vector<std::uint8_t> pBuffer;
    std::string NameBuffer;
    bool DataFound = false;
    std::uint16_t DataFlags = 0;
    std::uint8_t CompressionUnit = 0;
};

// Reads `length` bytes at `offset` of the data that `runs` map (clusters of `bytesPerCluster`),
// `dataSize` bytes long with bytes from `initializedSize` on reading as zeros; `compressionUnit`
// (log2 of clusters) is non-zero for LZNT1-compressed data. Returns the bytes copied.
std::uint32_t ReadRunData(const IMftOwner& owner, const std::vector<DataRun>& runs, std::uint64_t dataSize,
                          std::uint64_t initializedSize, std::uint8_t compressionUnit, std::uint64_t offset,
                          std::uint32_t length, std::uint8_t* buffer);

}  // namespace vm
