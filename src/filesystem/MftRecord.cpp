#include "filesystem/MftRecord.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <cstring>

#include "app/Log.h"
#include "filesystem/Lznt1.h"
#include "platform/TextConvert.h"
#include "platform/UnalignedRead.h"

namespace vm {
namespace {

std::uint64_t LeN(const std::uint8_t* p, unsigned n) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i) v |= std::uint64_t(p[i]) << (8 * i);
    return v;
}

constexpr std::uint32_t kFixupStride = 512;
// No volume holds more clusters than this; larger numbers are damage.
constexpr std::uint64_t kMaxClusterNumber = 1ull << 48;
constexpr std::uint32_t kMaxPiece = 1u << 20;             // bytes read from the drive at once
constexpr std::uint64_t kMaxCompressionUnitBytes = 4u << 20;
constexpr std::uint32_t kMaxAttributeListBytes = 1u << 20;
constexpr std::size_t kMaxExtensionBytes = 16u << 20;  // extension records kept for one file

// Byte position of a cluster, false when no volume reaches it.
bool ClusterPosition(std::uint64_t lcn, std::uint32_t bpc, std::uint64_t inner, std::uint64_t& position) {
    if (lcn >= (1ull << 62) / bpc) return false;
    position = lcn * bpc + inner;
    return true;
}

// Reads `n` bytes at volume byte `position` into out; false when they could not all be read.
bool ReadVolumeBytes(const IMftOwner& owner, std::uint64_t position, std::uint32_t n, std::uint8_t* out) {
    const std::uint64_t first = position / 512;
    return ReadFromInsideUnit(std::uint32_t(position % 512), out, n, [&](void* whole, std::uint32_t bytes) {
               return owner.ReadVolumeSectors(whole, first, (bytes + 511) / 512);
           }) >= n;
}

// The run that maps `vcn` in a list sorted by StartVcn, or null.
const DataRun* FindRun(const std::vector<DataRun>& runs, std::uint64_t vcn) {
    auto it = std::upper_bound(runs.begin(), runs.end(), vcn,
                               [](std::uint64_t v, const DataRun& r) { return v < r.StartVcn; });
    if (it == runs.begin()) return nullptr;
    --it;
    return vcn <= it->EndVcn ? &*it : nullptr;
}

// Reads clusters [vcn, vcn + count) of the runs into out (count × bpc bytes); sparse clusters
// become zeros. False at an unmapped cluster or a failed read.
bool ReadClusters(const IMftOwner& owner, const std::vector<DataRun>& runs, std::uint64_t vcn, std::uint64_t count,
                  std::uint32_t bpc, std::uint8_t* out) {
    while (count) {
        const DataRun* r = FindRun(runs, vcn);
        if (!r) return false;
        const std::uint64_t n = std::min({count, r->EndVcn - vcn + 1, std::uint64_t(kMaxPiece / bpc)});
        const std::uint32_t bytes = std::uint32_t(n * bpc);
        if (r->Sparse) {
            std::memset(out, 0, bytes);
        } else {
            const std::uint64_t lcn = std::uint64_t(r->Lcn) + (vcn - r->StartVcn);
            std::uint64_t position = 0;
            if (!ClusterPosition(lcn, bpc, 0, position) || !ReadVolumeBytes(owner, position, bytes, out)) return false;
        }
        out += bytes;
        vcn += n;
        count -= n;
    }
    return true;
}

// One compression unit of `unitClusters` clusters from `firstVcn` into out (the unit's size):
// all clusters sparse reads as zeros, none sparse as stored data, otherwise the allocated
// clusters hold LZNT1 data.
bool ReadCompressionUnit(const IMftOwner& owner, const std::vector<DataRun>& runs, std::uint64_t firstVcn,
                         std::uint32_t unitClusters, std::uint32_t bpc, std::uint8_t* out) {
    const std::size_t unitBytes = std::size_t(unitClusters) * bpc;
    std::uint32_t stored = 0;
    bool mapped = false;
    for (std::uint32_t i = 0; i < unitClusters; ++i) {
        const DataRun* r = FindRun(runs, firstVcn + i);
        if (!r) continue;
        mapped = true;
        if (!r->Sparse) ++stored;
        else break;  // the stored clusters of a unit come first
    }
    if (!mapped) return false;
    if (stored == 0) {
        std::memset(out, 0, unitBytes);
        return true;
    }
    if (stored == unitClusters) return ReadClusters(owner, runs, firstVcn, unitClusters, bpc, out);
    std::vector<std::uint8_t> packed(std::size_t(stored) * bpc);
    if (!ReadClusters(owner, runs, firstVcn, stored, bpc, packed.data())) return false;
    const std::size_t produced = Lznt1Decompress(packed.data(), packed.size(), out, unitBytes);
    if (produced < unitBytes) std::memset(out + produced, 0, unitBytes - produced);
    return true;
}

std::uint32_t ReadCompressed(const IMftOwner& owner, const std::vector<DataRun>& runs, std::uint64_t offset,
                             std::uint64_t end, std::uint32_t unitClusters, std::uint8_t* buffer) {
    const std::uint32_t bpc = owner.GetBytesPerCluster();
    const std::uint64_t unitBytes = std::uint64_t(unitClusters) * bpc;
    std::vector<std::uint8_t> unit(static_cast<std::size_t>(unitBytes));
    std::uint64_t pos = offset;
    while (pos < end) {
        const std::uint64_t index = pos / unitBytes;
        if (!ReadCompressionUnit(owner, runs, index * unitClusters, unitClusters, bpc, unit.data())) break;
        const std::uint64_t inner = pos % unitBytes;
        const std::uint64_t n = std::min(end - pos, unitBytes - inner);
        std::memcpy(buffer + (pos - offset), unit.data() + inner, std::size_t(n));
        pos += n;
    }
    return std::uint32_t(pos - offset);
}

}  // namespace

RunListEnd DecodeRunList(const std::uint8_t* data, std::size_t size, std::uint64_t startVcn,
                         std::vector<DataRun>& runs) {
    std::uint64_t vcn = startVcn;
    std::int64_t lcn = 0;
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t h = data[i];
        if (h == 0) return RL_COMPLETE;
        const unsigned n = h & 0x0F, m = h >> 4;
        if (n == 0 || n > 8 || m > 8) return RL_INVALID;
        if (i + 1 + n + m > size) return RL_TRUNCATED;
        const std::uint64_t length = LeN(data + i + 1, n);
        if (length == 0 || length > kMaxClusterNumber || vcn > kMaxClusterNumber - length) return RL_INVALID;
        if (runs.size() >= kMaxRuns) return RL_INVALID;
        DataRun r;
        if (m == 0) {
            r.Sparse = 1;
        } else {
            const std::uint64_t u = LeN(data + i + 1 + n, m);
            std::int64_t step = std::int64_t(u);
            if (m < 8 && (data[i + n + m] & 0x80)) step = std::int64_t(u) - (std::int64_t(1) << (8 * m));
            std::int64_t next;
            if (__builtin_add_overflow(lcn, step, &next) || next < 0 || std::uint64_t(next) >= kMaxClusterNumber)
                return RL_INVALID;
            lcn = next;
        }
        r.Lcn = lcn;
        r.Length = length;
        r.StartVcn = vcn;
        r.EndVcn = vcn + length - 1;
        runs.push_back(r);
        vcn += length;
        i += 1 + n + m;
    }
    return RL_TRUNCATED;
}

int ApplyFixups(std::uint8_t* record, std::uint32_t size) {
    const std::uint32_t at = Le16(record + 4), count = Le16(record + 6);
    if (count == 0) return 0;
    if (at < 8 || std::uint64_t(at) + 2ull * count > size) return kFixupsOutside;
    const std::uint32_t strides = std::min(count - 1, size / kFixupStride);
    for (std::uint32_t i = 1; i <= strides; ++i)
        if (std::memcmp(record + i * kFixupStride - 2, record + at, 2) != 0) return kFixupsTorn;
    for (std::uint32_t i = 1; i <= strides; ++i) std::memcpy(record + i * kFixupStride - 2, record + at + 2 * i, 2);
    return int(strides);
}

std::uint32_t ReadRunData(const IMftOwner& owner, const std::vector<DataRun>& runs, std::uint64_t dataSize,
                          std::uint64_t initializedSize, std::uint8_t compressionUnit, std::uint64_t offset,
                          std::uint32_t length, std::uint8_t* buffer) {
    const std::uint32_t bpc = owner.GetBytesPerCluster();
    if (bpc == 0 || bpc % 512 || offset >= dataSize || length == 0) return 0;
    const std::uint64_t end = std::min(dataSize, offset + length);
    std::uint32_t copied;
    if (compressionUnit && compressionUnit <= 16 && (std::uint64_t(bpc) << compressionUnit) <= kMaxCompressionUnitBytes) {
        copied = ReadCompressed(owner, runs, offset, end, 1u << compressionUnit, buffer);
    } else {
        std::uint64_t pos = offset;
        while (pos < end) {
            const std::uint64_t vcn = pos / bpc, inner = pos % bpc;
            const DataRun* r = FindRun(runs, vcn);
            if (!r) break;
            const std::uint64_t clusters = std::min(r->EndVcn - vcn + 1, (end - pos) / bpc + 2);
            std::uint32_t n = std::uint32_t(std::min({clusters * bpc - inner, end - pos, std::uint64_t(kMaxPiece)}));
            std::uint8_t* out = buffer + (pos - offset);
            if (pos < initializedSize && pos + n > initializedSize) n = std::uint32_t(initializedSize - pos);
            if (r->Sparse || pos >= initializedSize) {
                std::memset(out, 0, n);
            } else {
                const std::uint64_t lcn = std::uint64_t(r->Lcn) + (vcn - r->StartVcn);
                std::uint64_t position = 0;
                if (!ClusterPosition(lcn, bpc, inner, position) || !ReadVolumeBytes(owner, position, n, out)) break;
            }
            pos += n;
        }
        copied = std::uint32_t(pos - offset);
    }
    // Bytes past the initialized size were never written: they read as zeros.
    if (initializedSize < offset + copied) {
        const std::uint64_t from = std::max(initializedSize, offset);
        std::memset(buffer + (from - offset), 0, std::size_t(offset + copied - from));
    }
    return copied;
}

struct CMftRecord::Attr {
    std::uint32_t Offset = 0, Type = 0, Length = 0;
    std::uint8_t NonResident = 0, NameLength = 0;
    std::uint16_t Flags = 0;
};

CMftRecord::CMftRecord(const IMftOwner* owner, const std::uint8_t* source) : pOwner(owner) {
    std::uint32_t size = owner ? owner->GetRecordSize() : 1024;
    if (size < kMinRecordSize || size > kMaxRecordSize) size = 1024;
    pBuffer.assign(size, 0);
    if (source) LoadRecord(source);
}

CMftRecord::~CMftRecord() = default;

bool CMftRecord::LoadRecord(const std::uint8_t* source) {
    if (!source) return false;
    std::memcpy(pBuffer.data(), source, pBuffer.size());
    ExtRecords.clear();
    return Parse();
}

bool CMftRecord::IsFile() const { return Le32(Buffer()) == kMftSignature; }
bool CMftRecord::InUse() const { return (Le16(Buffer() + 0x16) & 0x0001) != 0; }
bool CMftRecord::IsDirectory() const { return (Le16(Buffer() + 0x16) & 0x0002) != 0; }
std::uint16_t CMftRecord::SequenceNumber() const { return Le16(Buffer() + 0x10); }
std::uint32_t CMftRecord::RecordNumber() const { return Le32(Buffer() + 0x2C); }
std::uint32_t CMftRecord::AllocatedSize() const { return Le32(Buffer() + 0x1C); }

bool CMftRecord::AttributeAt(std::uint32_t offset, Attr& out) const {
    const std::uint32_t size = Size();
    if (offset < 0x18 || std::uint64_t(offset) + 8 > size) return false;
    const std::uint8_t* p = Buffer() + offset;
    out.Offset = offset;
    out.Type = Le32(p);
    if (out.Type == AT_END) return false;
    out.Length = Le32(p + 4);
    if (out.Length < 24 || std::uint64_t(offset) + out.Length > size) return false;
    out.NonResident = p[8];
    out.NameLength = p[9];
    out.Flags = Le16(p + 0x0C);
    if (out.NonResident && out.Length < 0x40) return false;
    return true;
}

std::uint32_t CMftRecord::NextAttribute(std::uint32_t after, std::uint32_t type) const {
    Attr a;
    std::uint32_t offset = after ? after : Le16(Buffer() + 0x14);
    if (after) {
        if (!AttributeAt(after, a)) return 0;
        offset = after + a.Length;
    }
    while (AttributeAt(offset, a)) {
        if (a.Type == type) return offset;
        offset += a.Length;
    }
    return 0;
}

std::uint32_t CMftRecord::FindAttribute(std::uint32_t type) const { return NextAttribute(0, type); }

bool CMftRecord::ResidentValue(std::uint32_t offset, std::uint32_t& valueAt, std::uint32_t& valueLength) const {
    Attr a;
    if (!AttributeAt(offset, a) || a.NonResident) return false;
    const std::uint8_t* p = Buffer() + offset;
    valueLength = Le32(p + 0x10);
    const std::uint32_t rel = Le16(p + 0x14);
    if (rel < 0x18 || std::uint64_t(rel) + valueLength > a.Length) return false;
    valueAt = offset + rel;
    return true;
}

bool CMftRecord::Parse() {
    Runs.clear();
    DataSize = InitializedSize = 0;
    NonResident = 0;
    ResidentOffset = 0;
    DataFound = false;
    DataFlags = 0;
    CompressionUnit = 0;
    ParentSequence = 0;
    if (!IsFile()) return false;
    switch (ApplyFixups(pBuffer.data(), Size())) {
        case kFixupsOutside:
            Log().Error("CMftRecord: update sequence of record %d lies outside the record", RecordNumber());
            return false;
        case kFixupsTorn:
            Log().Error("CMftRecord: record %d is torn (a sector lacks its update sequence number); skipped",
                        RecordNumber());
            return false;
        default:
            break;
    }
    // The attribute chain must end with its end mark inside the record.
    Attr a;
    std::uint32_t offset = Le16(Buffer() + 0x14);
    while (AttributeAt(offset, a)) offset += a.Length;
    if (std::uint64_t(offset) + 4 > Size() || Le32(Buffer() + offset) != AT_END)
        Log().Error("CMftRecord: attributes of record %d run past the record at offset %d", RecordNumber(), offset);
    ReadUnnamedData();
    return true;
}

void CMftRecord::ReadUnnamedData() {
    for (std::uint32_t at = FindAttribute(AT_DATA); at; at = NextAttribute(at, AT_DATA)) {
        Attr a;
        AttributeAt(at, a);
        if (a.NameLength != 0) continue;  // a named stream, not the file's data
        if (!a.NonResident) {
            if (!DataFound) {
                std::uint32_t valueAt = 0, valueLength = 0;
                if (!ResidentValue(at, valueAt, valueLength)) {
                    Log().Error("CMftRecord: resident data of record %d lies outside the record", RecordNumber());
                    return;
                }
                DataFound = true;
                DataSize = InitializedSize = valueLength;
                ResidentOffset = valueAt;
            }
            return;
        }
        TakeDataExtent(*this, a);
    }
    NormalizeRuns();
}

void CMftRecord::NormalizeRuns() {
    // Extents arrive in record and list order; a run met twice (the base record's own extent
    // named again, or a list that names a record twice) is kept once.
    std::stable_sort(Runs.begin(), Runs.end(), [](const DataRun& x, const DataRun& y) { return x.StartVcn < y.StartVcn; });
    std::vector<DataRun> kept;
    kept.reserve(Runs.size());
    for (const DataRun& r : Runs)
        if (kept.empty() || r.StartVcn > kept.back().EndVcn) kept.push_back(r);
    Runs.swap(kept);
}

bool CMftRecord::TakeDataExtent(const CMftRecord& source, const Attr& a) {
    if (DataFound && !NonResident) return false;  // resident data has no extents
    const std::uint8_t* p = source.Buffer() + a.Offset;
    const std::uint64_t startVcn = Le64(p + 0x10);
    if (startVcn == 0 && !(DataFound && NonResident)) {
        DataFound = true;
        NonResident = 1;
        DataSize = Le64(p + 0x30);
        InitializedSize = std::min(Le64(p + 0x38), DataSize);
        DataFlags = a.Flags;
        CompressionUnit = (a.Flags & 0x00FF) ? p[0x22] : 0;
        if (CompressionUnit > 16) {
            Log().Error("CMftRecord: record %d has a compression unit of 2^%d clusters; its data is read as stored",
                        RecordNumber(), CompressionUnit);
            CompressionUnit = 0;
        }
    }
    const std::uint32_t runsAt = Le16(p + 0x20);
    if (runsAt < 0x40 || runsAt >= a.Length) {
        Log().Error("CMftRecord: run list of record %d lies outside its attribute", RecordNumber());
        return false;
    }
    std::vector<DataRun> extent;
    const RunListEnd end = DecodeRunList(p + runsAt, a.Length - runsAt, startVcn, extent);
    if (end != RL_COMPLETE)
        Log().Error("CMftRecord: run list of record %d is damaged; %d run(s) kept", RecordNumber(), extent.size());
    for (const DataRun& r : extent) {
        if (Runs.size() >= kMaxRuns) break;
        Runs.push_back(r);
    }
    return true;
}

bool CMftRecord::TakeTimes(const CMftRecord& source, FoundItem& item) const {
    std::uint32_t valueAt = 0, valueLength = 0;
    const std::uint32_t si = source.FindAttribute(AT_STANDARD_INFORMATION);
    if (!si || !source.ResidentValue(si, valueAt, valueLength) || valueLength < 32) return false;
    const std::uint8_t* v = source.Buffer() + valueAt;
    item.CreateTime = Le64(v);
    item.WriteTime = Le64(v + 8);
    item.AccessTime = Le64(v + 24);
    return true;
}

bool CMftRecord::TakeNames(const CMftRecord& source, FoundItem& item, bool& first) {
    bool any = false;
    for (std::uint32_t fn = source.FindAttribute(AT_FILE_NAME); fn; fn = source.NextAttribute(fn, AT_FILE_NAME)) {
        std::uint32_t valueAt = 0, valueLength = 0;
        if (!source.ResidentValue(fn, valueAt, valueLength) || valueLength < 0x42) continue;
        any = true;
        const std::uint8_t* v = source.Buffer() + valueAt;
        if (first) {
            const std::uint64_t parent = Le64(v);
            item.ParentId = std::uint32_t(parent);
            ParentSequence = std::uint16_t(parent >> 48);
            item.Size = Le64(v + 0x30);
            first = false;
        }
        const std::uint32_t length = v[0x40], space = v[0x41];
        if (length == 0 || 0x42 + 2 * length > valueLength) continue;
        if (space != 1 && (item.Flags & FI_NAMED)) continue;
        NameBuffer = Utf16LeToUtf8(v + 0x42, length);
        item.Name = NameBuffer.c_str();
        item.Flags |= FI_NAMED;
    }
    return any;
}

bool CMftRecord::FillItem(FoundItem& item) {
    try {
        // A file with an attribute list may keep its times and names in extension records.
        bool timed = TakeTimes(*this, item);
        for (auto it = ExtRecords.begin(); !timed && it != ExtRecords.end(); ++it)
            if (it->second) timed = TakeTimes(*it->second, item);
        bool first = true;
        bool named = TakeNames(*this, item, first);
        for (auto it = ExtRecords.begin(); !named && it != ExtRecords.end(); ++it)
            if (it->second) named = TakeNames(*it->second, item, first);
        if (DataFound || std::int64_t(item.Size) < std::int64_t(DataSize)) item.Size = DataSize;
        for (std::uint32_t d = FindAttribute(AT_DATA); d; d = NextAttribute(d, AT_DATA)) ++DataStreams;
        return true;
    } catch (...) {
        return false;
    }
}

bool CMftRecord::ReadAttributeListValue(const Attr& a, std::vector<std::uint8_t>& value) const {
    if (!a.NonResident) {
        std::uint32_t valueAt = 0, valueLength = 0;
        if (!ResidentValue(a.Offset, valueAt, valueLength)) return false;
        value.assign(Buffer() + valueAt, Buffer() + valueAt + valueLength);
        return true;
    }
    if (!pOwner) return false;
    const std::uint8_t* p = Buffer() + a.Offset;
    const std::uint64_t size = Le64(p + 0x30);
    const std::uint32_t runsAt = Le16(p + 0x20);
    if (size > kMaxAttributeListBytes || runsAt < 0x40 || runsAt >= a.Length) return false;
    std::vector<DataRun> runs;
    DecodeRunList(p + runsAt, a.Length - runsAt, 0, runs);
    value.assign(std::size_t(size), 0);
    value.resize(ReadRunData(*pOwner, runs, size, size, 0, 0, std::uint32_t(size), value.data()));
    return true;
}

void CMftRecord::MergeExtension(const CMftRecord& ext) {
    for (std::uint32_t at = ext.FindAttribute(AT_DATA); at; at = ext.NextAttribute(at, AT_DATA)) {
        Attr a;
        ext.AttributeAt(at, a);
        if (a.NameLength == 0 && a.NonResident) TakeDataExtent(ext, a);
    }
}

void CMftRecord::LoadAttributeList() {
    if (!pOwner || !IsFile()) return;
    try {
        // Old layouts keep no record number at 0x2C; there the extension's back reference is not checked.
        const bool ownNumberKnown = Le16(Buffer() + 4) >= 0x30;
        std::vector<std::uint8_t> value, record(Size());
        std::vector<std::uint64_t> dataRecords;
        for (std::uint32_t at = FindAttribute(AT_ATTRIBUTE_LIST); at; at = NextAttribute(at, AT_ATTRIBUTE_LIST)) {
            Attr a;
            AttributeAt(at, a);
            if (!ReadAttributeListValue(a, value)) {
                Log().Error("CMftRecord: attribute list of record %d cannot be read", RecordNumber());
                continue;
            }
            for (std::size_t p = 0; p + 0x1A <= value.size();) {
                const std::uint8_t* e = value.data() + p;
                const std::uint32_t type = Le32(e), entryLength = Le16(e + 4);
                if (type == AT_END || Le32(e + 4) == 0) break;
                if (entryLength < 0x1A || p + entryLength > value.size()) {
                    Log().Error("CMftRecord: attribute list of record %d is damaged at entry offset %d", RecordNumber(), p);
                    break;
                }
                p += entryLength;
                const std::uint64_t n = Le64(e + 16) & 0xFFFFFFFFFFFFull;
                const bool wanted = type == AT_STANDARD_INFORMATION || type == AT_FILE_NAME ||
                                    (type == AT_DATA && e[6] == 0);
                if (!wanted || n > 0xFFFFFFFFull || (ownNumberKnown && n == RecordNumber())) continue;
                if (type == AT_DATA) dataRecords.push_back(n);
                if (ExtRecords.count(n)) continue;
                if (ExtRecords.size() >= std::min<std::size_t>(kMaxExtensionRecords, kMaxExtensionBytes / Size())) {
                    Log().Error("CMftRecord: attribute list of record %d names too many records", RecordNumber());
                    break;
                }
                auto ext = std::make_unique<CMftRecord>(pOwner);
                std::fill(record.begin(), record.end(), 0);
                const bool loaded = pOwner->ReadMftRecord(std::uint32_t(n), record.data()) >= record.size() &&
                                    ext->LoadRecord(record.data());
                const std::uint32_t base = std::uint32_t(Le64(ext->Buffer() + 0x20));
                if (!loaded || (ownNumberKnown && base != RecordNumber())) {
                    Log().Error("CMftRecord: extension record %I64d of record %d is not usable", n, RecordNumber());
                    ext.reset();
                }
                ExtRecords.emplace(n, std::move(ext));
            }
        }
        std::sort(dataRecords.begin(), dataRecords.end());
        dataRecords.erase(std::unique(dataRecords.begin(), dataRecords.end()), dataRecords.end());
        for (std::uint64_t n : dataRecords)
            if (auto it = ExtRecords.find(n); it != ExtRecords.end() && it->second) MergeExtension(*it->second);
    } catch (...) {
        Log().Error("CMftRecord::LoadAttributeList except in record %d", RecordNumber());
    }
    NormalizeRuns();
}

std::int64_t CMftRecord::VcnToLcn(std::uint64_t vcn) const {
    for (const DataRun& r : Runs)
        if (r.StartVcn <= vcn && vcn <= r.EndVcn) return r.Lcn + std::int64_t(vcn - r.StartVcn);
    return -1;
}

std::uint64_t CMftRecord::HeldBytes(std::uint64_t volumeClusters) const {
    if (!DataFound) return 0;
    if (!NonResident) return DataSize;
    const std::uint64_t bpc = pOwner ? pOwner->GetBytesPerCluster() : 0;
    if (bpc == 0) return 0;
    std::uint64_t vcn = 0;  // the first cluster not mapped yet; Runs are sorted and apart
    for (const DataRun& r : Runs) {
        if (r.StartVcn != vcn) break;
        std::uint64_t n = r.Length;
        if (!r.Sparse && volumeClusters) {
            const std::uint64_t lcn = std::uint64_t(r.Lcn);
            n = lcn >= volumeClusters ? 0 : std::min(n, volumeClusters - lcn);
        }
        vcn += n;
        if (n < r.Length) break;
    }
    return vcn > DataSize / bpc ? DataSize : std::min(DataSize, vcn * bpc);
}

std::uint32_t CMftRecord::ReadData(std::uint64_t offset, std::uint32_t length, void* buffer) const {
    if (!buffer || length == 0 || !DataFound) return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (!NonResident) {
        if (offset >= DataSize) return 0;
        const std::uint32_t n = std::uint32_t(std::min<std::uint64_t>(length, DataSize - offset));
        std::memcpy(out, Buffer() + ResidentOffset + offset, n);
        return n;
    }
    if (!pOwner) return 0;
    return ReadRunData(*pOwner, Runs, DataSize, InitializedSize, CompressionUnit, offset, length, out);
}

}  // namespace vm
