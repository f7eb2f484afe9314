#include "signatures/CompoundDocument.h"
#include "platform/ByteOrder.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/Utf16.h"
#include "volume/Volume.h"

namespace vm {
namespace {


bool EqualsNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::int16_t TypeOfStreamName(const std::string& name) {
    static const struct {
        const char* Name;
        std::int16_t Type;
    } kNames[] = {
        {"Workbook", 501}, {"WordDocument", 502}, {"PowerPoint Document", 503}, {"Scene", 522},
        {"Props", 506},    {"VisioDocument", 505}, {"Envelope", 508},
    };
    for (const auto& n : kNames)
        if (EqualsNoCase(name, n.Name)) return n.Type;
    if (name.size() >= 7 && strncasecmp(name.c_str(), "Symbol ", 7) == 0) return 523;
    if (EqualsNoCase(name, "DocumentViewStyles")) return 520;
    if (EqualsNoCase(name, "BodyText")) return 521;
    return 0;
}

// Reads `length` bytes at byte `position` of the volume, whatever its alignment.
bool ReadBytes(CVolume& volume, std::uint64_t position, std::uint8_t* out, std::size_t length) {
    const std::uint64_t first = position / kSectorSize;
    const std::size_t skip = std::size_t(position % kSectorSize);
    const std::uint64_t count = (skip + length + kSectorSize - 1) / kSectorSize;
    std::vector<std::uint8_t> sectors(std::size_t(count * kSectorSize));
    if (volume.ReadSectors(sectors.data(), first, count) < skip + length) return false;
    std::memcpy(out, sectors.data() + skip, length);
    return true;
}

}  // namespace

std::int16_t ClassifyCompoundDirectory(std::span<const std::uint8_t> dir) {
    const std::size_t entries = std::min<std::size_t>(dir.size() / 128, 100);
    if (entries == 0 || !EqualsNoCase(Utf16LeToUtf8(dir.data(), 32), "Root Entry")) return kCompoundTypeId;
    for (std::size_t i = 0; i < entries; ++i)
        if (std::int16_t t = TypeOfStreamName(Utf16LeToUtf8(dir.data() + i * 128, 32))) return t;
    return kCompoundTypeId;
}

std::int16_t AnalyseCompound(CVolume& volume, std::span<const std::uint8_t> unit, FoundItem& item) {
    try {
        if (unit.size() < 0x34) return kCompoundTypeId;
        const unsigned shift = Le16(&unit[0x1E]) % 32;
        const std::uint64_t sectorSize = std::uint64_t(1) << shift;
        const std::uint64_t fatSectors = Le32(&unit[0x2C]);
        const std::uint64_t dirSector = Le32(&unit[0x30]);
        // Computed in 64 bits: the 32-bit form turns large bounds negative.
        item.Size = (sectorSize / 4) * (fatSectors * sectorSize);
        if (shift < 7 || shift > 16) return 0;  // no compound file has such sectors
        const std::uint64_t position = item.DataOffset + dirSector * sectorSize + sectorSize;
        std::vector<std::uint8_t> dir(kCompoundDirectoryBytes);
        if (!ReadBytes(volume, position, dir.data(), dir.size())) return 0;
        return ClassifyCompoundDirectory(dir);
    } catch (...) {
        return kCompoundTypeId;
    }
}

}  // namespace vm
