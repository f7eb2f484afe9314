#include "filesystem/ExfatDirectory.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "filesystem/FatDirectory.h"
#include "platform/ByteOrder.h"
#include "platform/FileTime.h"
#include "platform/Utf16.h"

namespace vm {
namespace {

constexpr std::uint8_t kInUse = 0x80;
constexpr std::uint8_t kFileEntry = 0x05;      // without the in-use bit
constexpr std::uint8_t kStreamEntry = 0x40;
constexpr std::uint8_t kNameEntry = 0x41;
constexpr std::uint8_t kLabelEntry = 0x83;
constexpr std::uint8_t kNoFatChain = 0x02;     // general secondary flags of the stream entry
constexpr std::size_t kUnitsPerNameEntry = 15;
constexpr std::size_t kMaxLabelUnits = 11;

// The type byte an entry of the set must carry: the in-use bit as the file entry has it.
bool EntryIs(const std::uint8_t* e, std::uint8_t type, bool deleted) {
    return e[0] == (deleted ? type : std::uint8_t(type | kInUse));
}

std::uint64_t TimeOf(const std::uint8_t* file, std::size_t stampAt, std::size_t tenMsAt, std::size_t offsetAt) {
    return ExfatTimeToFileTime(Le32(file + stampAt), tenMsAt ? file[tenMsAt] : 0, file[offsetAt]);
}

enum class SetCheck { Sound, BadChecksum, Broken };

// Checks the set that the file entry at `i` opens and decodes it into `out`.
SetCheck DecodeSet(const std::uint8_t* data, std::size_t count, std::size_t i, ExfatDirEntry& out) {
    const std::uint8_t* file = data + i * kExfatEntrySize;
    const bool deleted = file[0] == kFileEntry;
    const std::size_t secondaries = file[1];
    if (secondaries < 2 || i + secondaries >= count) return SetCheck::Broken;
    const std::uint8_t* stream = file + kExfatEntrySize;
    if (!EntryIs(stream, kStreamEntry, deleted)) return SetCheck::Broken;
    const std::size_t nameUnits = stream[3];
    const std::size_t nameEntries = (nameUnits + kUnitsPerNameEntry - 1) / kUnitsPerNameEntry;
    if (nameUnits == 0 || nameEntries + 1 > secondaries) return SetCheck::Broken;
    for (std::size_t k = 0; k < nameEntries; ++k)
        if (!EntryIs(stream + (k + 1) * kExfatEntrySize, kNameEntry, deleted)) return SetCheck::Broken;
    if (ExfatSetChecksum(file, secondaries + 1) != Le16(file + 2)) return SetCheck::BadChecksum;

    std::uint8_t units[kExfatMaxNameUnits * 2];
    for (std::size_t k = 0; k < nameEntries; ++k) {
        const std::size_t n = std::min(kUnitsPerNameEntry, nameUnits - k * kUnitsPerNameEntry);
        std::memcpy(units + k * kUnitsPerNameEntry * 2, stream + (k + 1) * kExfatEntrySize + 2, n * 2);
    }
    out = ExfatDirEntry{};
    out.Name = Utf16LeToUtf8(units, nameUnits);
    out.Attributes = Le16(file + 4);
    out.Deleted = deleted;
    out.NoFatChain = (stream[1] & kNoFatChain) != 0;
    out.FirstCluster = Le32(stream + 20);
    out.DataLength = Le64(stream + 24);
    out.ValidDataLength = Le64(stream + 8);
    out.CreateTime = TimeOf(file, 8, 20, 22);
    out.WriteTime = TimeOf(file, 12, 21, 23);
    out.AccessTime = TimeOf(file, 16, 0, 24);
    out.Index = i;
    return out.Name.empty() ? SetCheck::Broken : SetCheck::Sound;
}

}  // namespace

std::uint16_t ExfatSetChecksum(const std::uint8_t* set, std::size_t entries) {
    std::uint16_t sum = 0;
    const bool deleted = (set[0] & kInUse) == 0;
    for (std::size_t i = 0; i < entries * kExfatEntrySize; ++i) {
        if (i == 2 || i == 3) continue;
        std::uint8_t b = set[i];
        // A deleted set was summed while its entries were in use.
        if (deleted && i % kExfatEntrySize == 0) b |= kInUse;
        sum = std::uint16_t(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
    }
    return sum;
}

std::size_t ParseExfatDirectory(const std::uint8_t* data, std::size_t size,
                                const std::function<bool(const ExfatDirEntry&)>& visit, ExfatDirStats* stats) {
    if (!data) return 0;
    std::size_t visited = 0;
    const std::size_t count = size / kExfatEntrySize;
    ExfatDirEntry entry;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t type = data[i * kExfatEntrySize];
        if ((type & ~kInUse) != kFileEntry) continue;
        const SetCheck check = DecodeSet(data, count, i, entry);
        if (check != SetCheck::Sound) {
            // Another set may begin inside a damaged one: the walk goes on with the next entry.
            if (stats) ++(check == SetCheck::BadChecksum ? stats->BadChecksums : stats->Broken);
            continue;
        }
        ++visited;
        if (!visit(entry)) break;
        i += data[i * kExfatEntrySize + 1];
    }
    return visited;
}

bool ExfatVolumeLabel(const std::uint8_t* data, std::size_t size, std::string& label) {
    if (!data) return false;
    for (std::size_t at = 0; at + kExfatEntrySize <= size; at += kExfatEntrySize) {
        const std::uint8_t* e = data + at;
        if (e[0] != kLabelEntry) continue;
        const std::size_t units = e[1];
        if (units == 0 || units > kMaxLabelUnits) return false;
        label = Utf16LeToUtf8(e + 2, units);
        return !label.empty();
    }
    return false;
}

std::uint64_t ExfatTimeToFileTime(std::uint32_t stamp, std::uint8_t tenMs, std::uint8_t utcOffset) {
    const std::uint16_t date = std::uint16_t(stamp >> 16), time = std::uint16_t(stamp);
    const std::uint64_t extra = tenMs < 200 ? std::uint64_t(tenMs) * 100000 : 0;  // 10 ms each
    if (!(utcOffset & 0x80)) return FatTimeToFileTime(date, time, tenMs);
    const int day = date & 31, month = (date >> 5) & 15;
    const int seconds = (time & 31) * 2, minutes = (time >> 5) & 63, hours = time >> 11;
    if (day == 0 || month == 0 || month > 12 || hours > 23 || minutes > 59 || seconds > 59) return 0;
    struct tm tm {};
    tm.tm_year = 1980 + (date >> 9) - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hours;
    tm.tm_min = minutes;
    tm.tm_sec = seconds;
    // The offset is a signed count of 15-minute steps east of UTC, in 7 bits.
    const int steps = (utcOffset & 0x40) ? int(utcOffset & 0x7F) - 128 : int(utcOffset & 0x7F);
    const std::int64_t utc = std::int64_t(timegm(&tm)) - std::int64_t(steps) * 15 * 60;
    return UnixToFileTime(utc * 1000000000) + extra;
}

}  // namespace vm
