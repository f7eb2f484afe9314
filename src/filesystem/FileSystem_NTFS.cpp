#include "filesystem/FileSystem_NTFS.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <cstring>

#include "app/Log.h"
#include "volume/ProgressBlock.h"
#include "volume/Volume.h"

namespace vm {
namespace {


constexpr std::uint32_t kRootRecord = 5;
constexpr std::uint32_t kBitmapRecord = 6;
constexpr std::uint32_t kExtendRecord = 11;       // the folder of the later system files
constexpr std::uint32_t kFirstUserRecord = 16;    // records below it are the volume's own
constexpr int kMaxFolderDepth = 1024;
constexpr std::uint32_t kMirroredRecords = 4;
constexpr std::size_t kWalkBlock = 1u << 20;             // MFT bytes read at once by the walk
constexpr std::uint32_t kBitmapChunk = 1u << 24;
constexpr std::uint64_t kMaxBitmapBytes = 0x1FFFFFFF;    // the cluster map counts bits in 32 bits
constexpr int kRecordsPerFind = 10;

// The sequence number a record gets when it is freed: one more, skipping 0.
std::uint16_t NextSequence(std::uint16_t s) { return s == 0xFFFF ? 1 : std::uint16_t(s + 1); }

}  // namespace

std::uint32_t NtfsRecordBytes(std::uint8_t raw, std::uint32_t bytesPerCluster) {
    const std::int8_t v = std::int8_t(raw);
    if (v < 0) {
        const int shift = -v;
        return shift >= 9 && shift <= 16 ? 1u << shift : 0;
    }
    const std::uint64_t bytes = std::uint64_t(v) * bytesPerCluster;
    return bytes >= kMinRecordSize && bytes <= kMaxRecordSize ? std::uint32_t(bytes) : 0;
}

CFileSystem_NTFS::CFileSystem_NTFS(CVolume* volume) : CFileSystem(volume) {}

CFileSystem_NTFS::~CFileSystem_NTFS() = default;

std::uint32_t CFileSystem_NTFS::GetBytesPerCluster() const { return pVolume ? pVolume->BytesPerCluster : 0; }

std::uint32_t CFileSystem_NTFS::ReadVolumeSectors(void* buffer, std::uint64_t first, std::uint32_t count) const {
    return pVolume ? pVolume->ReadSectors(buffer, first, count) : 0;
}

std::uint32_t CFileSystem_NTFS::ReadCluster(std::uint64_t lcn, std::uint8_t* buffer) const {
    if (!pVolume || lcn >= (1ull << 48)) return 0;
    return pVolume->ReadSectors(buffer, lcn * pVolume->SectorsPerCluster, pVolume->SectorsPerCluster);
}

std::uint32_t CFileSystem_NTFS::ReadMftRecord(std::uint32_t n, std::uint8_t* buffer) const {
    try {
        if (!pMftReader || !buffer) return 0;
        const std::uint64_t offset = std::uint64_t(n) * RecordSize;
        if (pMftReader->ReadData(offset, RecordSize, buffer) < RecordSize) return 0;
        if (Le32(buffer + 0x2C) == n || Le32(buffer) == kMftSignature) return RecordSize;
    } catch (...) {
    }
    return 0;
}

bool CFileSystem_NTFS::InsideMft(std::uint64_t position) const {
    const std::uint64_t bpc = GetBytesPerCluster();
    if (!pMftReader || bpc == 0) return false;
    const std::uint64_t mirror = MftMirrLcn < (1ull << 48) ? MftMirrLcn * bpc : 0;
    if (mirror && position >= mirror && position < mirror + std::uint64_t(kMirroredRecords) * RecordSize) return true;
    for (const DataRun& r : pMftReader->Runs) {
        if (r.Sparse) continue;
        const std::uint64_t first = std::uint64_t(r.Lcn) * bpc;
        if (position >= first && position - first < r.Length * bpc) return true;
    }
    return false;
}

int CFileSystem_NTFS::Analyse() {
    if (!pVolume) return 0;
    try {
        pVolume->OpenDrive();
        pVolume->ParseBootSector();
        ReadBootFields();
        if (!LoadMft()) {
            Log().Error("CFileSystem_NTFS: Load MFT failed.");
            return 0;
        }
        LoadClusterBitmap();
        Log().Message(GetString(178));
        WalkMft();
    } catch (...) {
        Log().Error("CFileSystem_NTFS::Analyse except");
    }
    return 0;
}

void CFileSystem_NTFS::ReadBootFields() {
    const std::uint8_t* bs = pVolume->BootSector;
    VolumeSectors = Le64(bs + 0x28);
    MftLcn = Le64(bs + 0x30);
    MftMirrLcn = Le64(bs + 0x38);
    VolumeSerial = Le64(bs + 0x48);
    RecordSize = NtfsRecordBytes(bs[0x40], GetBytesPerCluster());
    if (RecordSize == 0) {
        Log().Error("CFileSystem_NTFS: boot sector gives no usable MFT record size (0x%02X); 1024 bytes assumed",
                    bs[0x40]);
        RecordSize = 1024;
    }
    IndexRecordSize = NtfsRecordBytes(bs[0x44], GetBytesPerCluster());
}

bool CFileSystem_NTFS::ReadFirstMftRecord(std::vector<std::uint8_t>& record) {
    const std::uint64_t spc = pVolume->SectorsPerCluster;
    if (MftLcn >= (1ull << 48) / std::max<std::uint64_t>(spc, 1)) return false;
    for (int pass = 0; pass < 2; ++pass) {
        record.assign(RecordSize, 0);
        if (pVolume->ReadSectors(record.data(), MftLcn * spc, RecordSize / 512) < RecordSize) return false;
        if (Le32(record.data()) != kMftSignature) return false;
        // From here on the record's own allocated size is the record size.
        const std::uint32_t allocated = Le32(record.data() + 0x1C);
        if (allocated == RecordSize) return true;
        if (allocated < kMinRecordSize || allocated > kMaxRecordSize || allocated % 512) {
            Log().Error("CFileSystem_NTFS: $MFT record gives a record size of %d bytes; %d bytes used", allocated,
                        RecordSize);
            return true;
        }
        const bool grow = allocated > RecordSize;
        RecordSize = allocated;
        if (!grow) {
            record.resize(RecordSize);
            return true;
        }
    }
    return true;
}

bool CFileSystem_NTFS::LoadMft() {
    std::vector<std::uint8_t> record;
    if (!ReadFirstMftRecord(record)) return false;
    pMftReader = std::make_unique<CMftRecord>(this, record.data());
    if (!pMftReader->IsFile()) return false;
    if (pMftReader->HasAttributeList()) pMftReader->LoadAttributeList();
    if (!pMftReader->HasData() || !pMftReader->NonResident) {
        Log().Error("CFileSystem_NTFS: $MFT record has no data runs");
        return false;
    }
    CapRecordCount();
    return RecordCount > 0;
}

void CFileSystem_NTFS::CapRecordCount() {
    // The record count comes from the $MFT's size, which a damaged record may overstate: never
    // walk more than its runs map and the volume holds.
    const std::uint64_t claimed = pMftReader->DataSize / RecordSize;
    std::uint64_t mapped = 0;
    const std::uint64_t bpc = GetBytesPerCluster();
    for (const DataRun& r : pMftReader->Runs)
        if (!r.Sparse) mapped = std::min<std::uint64_t>(mapped + r.Length, 1ull << 48);
    const std::uint64_t mappedBytes = bpc && mapped > UINT64_MAX / bpc ? UINT64_MAX : mapped * bpc;
    std::uint64_t bytes = std::min(pMftReader->DataSize, mappedBytes);
    if (pVolume->TotalBytes) bytes = std::min(bytes, pVolume->TotalBytes);
    RecordCount = std::min<std::uint64_t>(bytes / RecordSize, 0xFFFFFFFFull);
    if (RecordCount < claimed)
        Log().Error("CFileSystem_NTFS: the MFT claims %I64d records; %I64d lie on the volume and are read", claimed,
                    RecordCount);
}

void CFileSystem_NTFS::LoadClusterBitmap() {
    Log().Message("Loading clusters bitmap start");
    std::vector<std::uint8_t> record(RecordSize);
    if (ReadMftRecord(kBitmapRecord, record.data()) == 0 || Le32(record.data()) != kMftSignature) return;
    CMftRecord bitmap(this, record.data());
    if (bitmap.HasAttributeList()) bitmap.LoadAttributeList();
    std::uint64_t bytes = bitmap.DataSize;
    const std::uint64_t needed = (pVolume->TotalClusters + 7) / 8;
    // The bitmap is kept in 8-byte units: a few bytes past the last cluster are normal.
    const std::uint64_t limit = std::min(needed ? needed + 8 : kMaxBitmapBytes, kMaxBitmapBytes);
    if (bytes > limit) {
        Log().Error("CFileSystem_NTFS: $Bitmap claims %I64d bytes; %I64d read", bytes, limit);
        bytes = limit;
    }
    if (bytes == 0 || !pVolume->ClusterMap.Create(nullptr, std::uint32_t(bytes * 8), false)) return;
    std::uint8_t* map = pVolume->ClusterMap.GetBuffer();
    for (std::uint64_t at = 0; at < bytes; at += kBitmapChunk) {
        const std::uint32_t n = std::uint32_t(std::min<std::uint64_t>(kBitmapChunk, bytes - at));
        if (bitmap.ReadData(at, n, map + at) < n) {
            Log().Error("CFileSystem_NTFS: $Bitmap not read from byte %I64d", at);
            break;
        }
    }
    Log().Message("Loading clusters bitmap complete");
}

void CFileSystem_NTFS::WalkMft() {
    ProgressBlock& progress = pVolume->Progress();
    progress.Total = std::int64_t(RecordCount) - 1;
    progress.Current = 0;
    Walked.clear();
    const std::uint64_t perBlock = std::max<std::uint64_t>(1, kWalkBlock / RecordSize);
    std::vector<std::uint8_t> block(std::size_t(perBlock * RecordSize));
    CMftRecord reader(this);
    bool running = Running();
    for (std::uint64_t first = 0; first < RecordCount && running; first += perBlock) {
        const std::uint64_t count = std::min(perBlock, RecordCount - first);
        const std::uint32_t bytes = std::uint32_t(count * RecordSize);
        const std::uint32_t got = pMftReader->ReadData(first * RecordSize, bytes, block.data());
        std::uint32_t unread = 0;
        for (std::uint64_t i = 0; i < count && running; ++i) {
            std::uint8_t* data = block.data() + i * RecordSize;
            const std::uint32_t n = std::uint32_t(first + i);
            // Past a failed read, the records are tried one by one.
            if ((i + 1) * RecordSize > got && ReadMftRecord(n, data) == 0) {
                std::memset(data, 0, RecordSize);
                ++unread;
            }
            WalkRecord(reader, data, n);
            progress.Current = n;
            running = Running();
        }
        if (unread)
            Log().Error("CFileSystem_NTFS: %d MFT record(s) from record %I64d could not be read", unread, first);
    }
}

void CFileSystem_NTFS::WalkRecord(CMftRecord& reader, const std::uint8_t* data, std::uint32_t n) {
    try {
        FoundItem item;
        RecordState state;
        bool ok = Le32(data) == kMftSignature && reader.LoadRecord(data);
        // An extension record carries attributes of its base record's file, not a file of its own.
        const bool extension = ok && (Le64(data + 0x20) & 0xFFFFFFFFFFFFull) != 0;
        if (ok) {
            state = {reader.SequenceNumber(), true, reader.InUse(), reader.IsDirectory()};
            item.Id = n;
            ok = !extension && MakeItem(reader, item, true);
        }
        if (Walked.size() == n) Walked.push_back(state);
        if (ok && n != kRootRecord && item.ParentId != 0) {
            SettleParent(item, reader.ParentSequence);
            FileItem(item);
        }
    } catch (...) {
        // One damaged record ends nothing: the walk goes on with the next.
        Log().Error("CFileSystem_NTFS::Analyse.except in MFT parse circle");
        Log().Error("CFileSystem_NTFS: record %d skipped", n);
    }
}

bool CFileSystem_NTFS::MakeItem(CMftRecord& reader, FoundItem& item, bool mergeList) const {
    if (!reader.InUse()) item.Flags |= FI_DELETED;
    if (reader.IsDirectory()) item.Flags |= FI_FOLDER;
    if (mergeList && reader.HasAttributeList()) reader.LoadAttributeList();
    if (!reader.FillItem(item)) return false;
    if (!reader.Runs.empty() && !reader.Runs.front().Sparse) {
        item.FirstCluster = std::uint64_t(reader.Runs.front().Lcn);
        item.DataOffset = item.FirstCluster * GetBytesPerCluster();
    }
    return true;
}

CFileSystem_NTFS::RecordState CFileSystem_NTFS::StateOf(std::uint32_t n) const {
    if (n < Walked.size()) return Walked[n];
    RecordState state;
    std::vector<std::uint8_t> record(RecordSize);
    if (ReadMftRecord(n, record.data()) && Le32(record.data()) == kMftSignature) {
        const std::uint16_t flags = Le16(record.data() + 0x16);
        state = {Le16(record.data() + 0x10), true, (flags & 1) != 0, (flags & 2) != 0};
    }
    return state;
}

void CFileSystem_NTFS::SettleParent(FoundItem& item, std::uint16_t parentSequence) {
    // Only a deleted file can point at a folder record that has since been freed and reused;
    // a reference without sequence number is taken as it is.
    if (!(item.Flags & FI_DELETED) || parentSequence == 0) return;
    const RecordState parent = StateOf(item.ParentId);
    if (!parent.File || !parent.Folder) return;  // no folder of that number: the tree makes the placeholder
    const bool same = parent.Sequence == parentSequence ||
                      (!parent.InUse && parent.Sequence == NextSequence(parentSequence));
    if (!same) item.ParentId = LostFolderFor(item.ParentId, parentSequence);
}

std::uint32_t CFileSystem_NTFS::LostFolderFor(std::uint32_t parent, std::uint16_t sequence) {
    std::lock_guard<std::mutex> g(LostLock);
    auto it = LostFolders.find({parent, sequence});
    if (it != LostFolders.end()) return it->second;
    // The lost folder stands apart from the folder that now holds the record number; its id
    // comes from the top of the range, far above any record number.
    const std::uint32_t id = NextLostFolderId--;
    LostFolders.emplace(std::make_pair(parent, sequence), id);
    const std::string name = Format(GetString(5376), parent);
    FoundItem folder;
    folder.Flags = FI_DELETED | FI_FOLDER | FI_HAS_DELETED | FI_NAMED;
    folder.Id = id;
    folder.ParentId = std::uint32_t(ID_LOST_FOLDERS);
    folder.Size = 0;
    folder.Name = name.c_str();
    // Filed under "Lost folders" (made first), and not counted as a found folder.
    pVolume->FoundTree.GetLostFoldersItem();
    pVolume->FoundTree.AddFound(folder, true);
    return id;
}

void CFileSystem_NTFS::FileItem(const FoundItem& rec) {
    if (pVolume) pVolume->AddFileSystemItem(rec);
}

void CFileSystem_NTFS::ExamineFoundRecord(const FoundItem& find) {
    if (!pVolume) return;
    try {
        const std::uint32_t per = RecordSize / 512;
        std::vector<std::uint8_t> record(RecordSize);
        std::uint64_t s = find.DataOffset / 512;
        for (int i = 0; i < kRecordsPerFind && s < pVolume->TotalSectors; ++i, s += per) {
            if (InsideMft(s * 512)) continue;  // filed by the walk already
            if (pVolume->ReadSectors(record.data(), s, per) < RecordSize) continue;
            if (Le32(record.data()) == kMftSignature) ParseRecord(record.data(), s * 512);
        }
    } catch (...) {
        Log().Error("CFileSystem_NTFS::ExamineFoundRecord except at %I64d", find.DataOffset);
    }
}

void CFileSystem_NTFS::ParseRecord(const std::uint8_t* record, std::uint64_t position) {
    if (!record || Le32(record) != kMftSignature || (Le64(record + 0x20) & 0xFFFFFFFFFFFFull) != 0) return;
    CMftRecord reader(this);
    if (!reader.LoadRecord(record)) return;
    FoundItem item;
    item.Id = reader.RecordNumber();
    // The copy's extension records, if any, are not the live MFT's: its own runs are used.
    if (!MakeItem(reader, item, false)) return;
    item.FileType = kFileTypeMftRecord;
    item.DataOffset = position;
    if (item.Id == kRootRecord || item.ParentId == 0) return;
    SettleParent(item, reader.ParentSequence);
    FileItem(item);
}

std::shared_ptr<const CMftRecord> CFileSystem_NTFS::RecordOf(const FoundItem& item) {
    const bool copy = item.FileType == kFileTypeMftRecord && item.DataOffset != 0;
    const ItemKey key{item.Id, copy ? item.DataOffset : 0};
    {
        std::lock_guard<std::mutex> g(RecordLock);
        if (LastRecord && LastKey == key) return LastRecord;
    }
    std::vector<std::uint8_t> record(RecordSize);
    if (copy) {
        if (pVolume->ReadSectors(record.data(), item.DataOffset / 512, RecordSize / 512) < RecordSize) {
            Log().Error("CFileSystem_NTFS.FileRead: Can't read record at %I64d", item.DataOffset);
            return nullptr;
        }
    } else if (ReadMftRecord(item.Id, record.data()) == 0) {
        Log().Error("CFileSystem_NTFS.FileRead: Can't read record %d", item.Id);
        return nullptr;
    }
    auto reader = std::make_shared<CMftRecord>(this);
    if (!reader->LoadRecord(record.data())) {
        Log().Error("CFileSystem_NTFS.FileRead: Can't read record %d", item.Id);
        return nullptr;
    }
    reader->LoadAttributeList();
    std::lock_guard<std::mutex> g(RecordLock);
    LastKey = key;
    LastRecord = reader;
    return reader;
}

std::uint64_t CFileSystem_NTFS::HeldBytes(const FoundItem& item) {
    if (!pVolume || (item.Flags & FI_LOST)) return kNoBound;
    try {
        const std::shared_ptr<const CMftRecord> reader = RecordOf(item);
        return reader ? reader->HeldBytes(pVolume->TotalClusters) : 0;
    } catch (...) {
        return 0;
    }
}

std::uint32_t CFileSystem_NTFS::FileRead(const FoundItem& item, void* buffer, std::uint64_t offset,
                                         std::uint32_t length) {
    if (length == 0 || !buffer || !pVolume) return 0;
    try {
        if (item.Flags & FI_LOST) {
            std::uint32_t got = pVolume->FileRead(item, buffer, offset, length);
            if (got == 0) Log().Error("CFileSystem_NTFS.FileRead: Can't read record at %I64d", item.DataOffset + offset);
            return got;
        }
        const std::shared_ptr<const CMftRecord> reader = RecordOf(item);
        if (!reader) return 0;
        if (reader->IsEncrypted() && offset == 0)
            Log().Message(Format("CFileSystem_NTFS.FileRead: %s is encrypted; its data is copied as stored",
                                 item.NameOrEmpty()));
        return reader->ReadData(offset, length, buffer);
    } catch (...) {
        return 0;
    }
}

bool IsNtfsSystemItem(const CFoundTree& tree, const FoundItem& item) {
    if (item.Is(FI_LOST) || item.SignedId() < 0) return false;
    if (item.Id < kFirstUserRecord) return item.Id != kRootRecord;
    std::uint32_t parent = item.ParentId;
    for (int depth = 0; depth < kMaxFolderDepth && std::int32_t(parent) > 0 && parent != kRootRecord; ++depth) {
        if (parent == kExtendRecord) return true;
        const FoundItem* folder = tree.FindFolderById(std::int32_t(parent));
        if (!folder || folder->ParentId == parent) return false;
        parent = folder->ParentId;
    }
    return false;
}

}  // namespace vm
