// Reading partition tables: the MBR with its chain of extended tables, and the GUID partition
// table behind a protective MBR. Every data partition that no known child covers is handed to
// the drive list as a found volume.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>
#include <zlib.h>

#include "app/Log.h"
#include "platform/ByteOrder.h"
#include "volume/LocalComputer.h"
#include "volume/Volume.h"

namespace vm {
namespace {


constexpr std::uint8_t kProtectiveMbr = 0xEE;
constexpr unsigned kMaxTables = 128;         // a damaged extended chain may loop
constexpr std::uint32_t kMaxGptEntries = 1024;

bool IsExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

struct GptHeader {
    std::uint64_t EntriesLba = 0;
    std::uint32_t Count = 0;
    std::uint32_t EntrySize = 0;
    std::uint32_t EntriesCrc = 0;
};

}  // namespace

bool CVolume::PartitionKnown(std::uint64_t firstSector) const {
    for (const CVolume* child : Children)
        if (child->Layout.PartitionCount && child->Layout.PartitionEntry[0].StartingOffset / kSectorSize == firstSector)
            return true;
    return false;
}

void CVolume::ReportPartition(std::uint64_t firstSector, std::uint64_t sectors, std::uint8_t type) {
    if (PartitionKnown(firstSector)) return;
    FoundItem request;
    request.DataOffset = firstSector * kSectorSize;
    request.ParentId = RootItem.Id;
    request.FileType = type;
    request.Size = sectors * kSectorSize;
    Context->WithOwner([&](CLocalComputer& list) { list.AddFoundVolume(*this, request); });
}

void CVolume::ScanPartitionTable(std::uint64_t tableSector, std::uint64_t extendedStart) {
    std::vector<std::uint64_t> tables;
    ScanPartitionTable(tableSector, extendedStart, tables);
}

void CVolume::ScanPartitionTable(std::uint64_t tableSector, std::uint64_t extendedStart, std::vector<std::uint64_t>& tables) {
    // A damaged chain of extended tables may lead back to a table already read.
    if (tables.size() >= kMaxTables || std::find(tables.begin(), tables.end(), tableSector) != tables.end()) return;
    tables.push_back(tableSector);
    std::uint8_t sector[512];
    if (ReadSectors(sector, tableSector, 1) != 512 || sector[510] != 0x55 || sector[511] != 0xAA) return;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t* e = sector + 446 + 16 * i;
        const std::uint8_t type = e[4];
        const std::uint64_t relative = Le32(e + 8);
        const std::uint64_t count = Le32(e + 12);
        if (type == 0 || count == 0) continue;
        if (relative > TotalSectors) continue;
        if (count > TotalSectors) Log().Notice("pPartition->NumberSectors > TotalSectors");
        if (type == kProtectiveMbr && tableSector == 0) {
            ScanGuidPartitionTable();
            continue;
        }
        if (IsExtended(type)) {
            const bool first = extendedStart == 0 && tableSector == 0;
            const std::uint64_t nested = first ? relative : extendedStart + relative;
            ScanPartitionTable(nested, first ? relative : extendedStart, tables);
            continue;
        }
        ReportPartition(tableSector + relative, count, type);
    }
}

namespace {

// The header at `lba` (in units of `blockSize`), checked by its signature and CRCs.
bool ReadGptHeader(CVolume& v, std::uint64_t lba, std::uint32_t blockSize, GptHeader& out) {
    std::vector<std::uint8_t> block(blockSize);
    if (v.ReadSectors(block.data(), lba * (blockSize / kSectorSize), blockSize / kSectorSize) != blockSize) return false;
    if (std::memcmp(block.data(), "EFI PART", 8) != 0) return false;
    std::uint32_t headerSize = Le32(&block[12]);
    if (headerSize < 92 || headerSize > blockSize) return false;
    std::uint32_t crc = Le32(&block[16]);
    std::memset(&block[16], 0, 4);
    if (crc32(0, block.data(), headerSize) != crc) return false;
    out.EntriesLba = Le64(&block[72]);
    out.Count = Le32(&block[80]);
    out.EntrySize = Le32(&block[84]);
    out.EntriesCrc = Le32(&block[88]);
    return out.Count > 0 && out.Count <= kMaxGptEntries && out.EntrySize >= 128 && out.EntrySize <= 4096 &&
           out.EntrySize % 8 == 0;
}

bool ReadGptEntries(CVolume& v, const GptHeader& h, std::uint32_t blockSize, std::vector<std::uint8_t>& entries) {
    std::uint64_t bytes = std::uint64_t(h.Count) * h.EntrySize;
    std::uint64_t sectors = (bytes + kSectorSize - 1) / kSectorSize;
    entries.assign(std::size_t(sectors * kSectorSize), 0);
    std::uint64_t first = h.EntriesLba * (blockSize / kSectorSize);
    if (v.ReadSectors(entries.data(), first, sectors) != sectors * kSectorSize) return false;
    return crc32(0, entries.data(), uInt(bytes)) == h.EntriesCrc;
}

}  // namespace

void CVolume::ScanGuidPartitionTable() {
    for (std::uint32_t blockSize : {512u, 4096u}) {
        const std::uint64_t blocks = TotalSectors * kSectorSize / blockSize;
        GptHeader h;
        std::vector<std::uint8_t> entries;
        bool ok = ReadGptHeader(*this, 1, blockSize, h) && ReadGptEntries(*this, h, blockSize, entries);
        if (!ok && blocks > 1) {
            // The primary header or its entries are damaged: the backup lies in the last block.
            ok = ReadGptHeader(*this, blocks - 1, blockSize, h) && ReadGptEntries(*this, h, blockSize, entries);
            if (ok) Log().Message(Format("Volume %s: primary GUID partition table damaged, the backup is used", GetDisplayName()));
        }
        if (!ok) continue;
        const std::uint64_t scale = blockSize / kSectorSize;
        for (std::uint32_t i = 0; i < h.Count; ++i) {
            const std::uint8_t* e = &entries[std::size_t(i) * h.EntrySize];
            static const std::uint8_t unused[16] = {};
            if (std::memcmp(e, unused, 16) == 0) continue;
            const std::uint64_t firstLba = Le64(e + 32), lastLba = Le64(e + 40);
            if (lastLba < firstLba || firstLba >= blocks) continue;
            ReportPartition(firstLba * scale, (lastLba - firstLba + 1) * scale, 0);
        }
        return;
    }
}

}  // namespace vm
