#include "filesystem/FatDirectory.h"
#include "platform/ByteOrder.h"

#include <cstring>
#include <ctime>
#include <vector>

#include "platform/FileTime.h"
#include "platform/TextConvert.h"

namespace vm {
namespace {

constexpr std::uint8_t kAttrLongName = 0x0F;
constexpr std::uint8_t kAttrLabel = 0x08;
constexpr std::uint8_t kAttrFolder = 0x10;
constexpr std::uint8_t kDeletedMark = 0xE5;
constexpr std::uint8_t kKanjiE5 = 0x05;       // stands for a first name byte of 0xE5
constexpr std::uint8_t kLastPiece = 0x40;     // ordinal flag of a long name's last piece
constexpr std::size_t kMaxNameUnits = 4096;   // UTF-16 units of one long name
constexpr std::size_t kUnitsPerPiece = 13;


bool IsLongNamePiece(const std::uint8_t* e) { return e[11] == kAttrLongName; }

bool NameByteAllowed(std::uint8_t c) {
    static const char kBanned[] = "\"*+,/:;<=>?[\\]|";
    if (c < 32) return false;
    if (c >= 'a' && c <= 'z') return false;
    return std::memchr(kBanned, c, sizeof kBanned - 1) == nullptr;
}

bool ShortNameValid(const std::uint8_t* e) {
    if (e[0] == 0x00 || e[0] == ' ') return false;
    for (int i = e[0] == kKanjiE5 ? 1 : 0; i < 11; ++i)
        if (!NameByteAllowed(e[i])) return false;
    return true;
}

// The checksum that every long-name piece carries of the 8.3 name it belongs to.
std::uint8_t ShortNameChecksum(const std::uint8_t* e) {
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) sum = std::uint8_t(((sum & 1) << 7) + (sum >> 1) + e[i]);
    return sum;
}

// The long name that stands before the entry at `index`: the pieces just before it, nearest
// first, as long as they belong to it. A live entry takes only pieces of its own checksum and
// stops at the piece marked last; a deleted entry (whose first byte, and so its checksum, is
// lost) takes deleted pieces that agree with each other.
std::string LongNameBefore(const std::uint8_t* data, std::size_t index) {
    const std::uint8_t* entry = data + index * kFatEntrySize;
    const bool deleted = entry[0] == kDeletedMark;
    const std::uint8_t own = ShortNameChecksum(entry);
    std::vector<std::uint8_t> units;
    int checksum = -1;
    for (std::size_t i = index; i-- > 0;) {
        const std::uint8_t* p = data + i * kFatEntrySize;
        if (!IsLongNamePiece(p) || Le16(p + 26) != 0) break;
        if ((p[0] == kDeletedMark) != deleted) break;
        if (deleted ? (checksum >= 0 && p[13] != checksum) : p[13] != own) break;
        if (units.size() / 2 + kUnitsPerPiece > kMaxNameUnits) break;
        checksum = p[13];
        units.insert(units.end(), p + 1, p + 11);
        units.insert(units.end(), p + 14, p + 26);
        units.insert(units.end(), p + 28, p + 32);
        if (!deleted && (p[0] & kLastPiece)) break;
    }
    if (units.empty()) return {};
    return Utf16LeToUtf8(units.data(), units.size() / 2);
}

// The 8.3 name: base up to its first blank, then '.' and the extension up to its first blank;
// the case flags of byte 12 give lower-case parts; a deleted entry's first character is '_'.
std::string ShortName(const std::uint8_t* e, bool deleted) {
    std::uint8_t raw[12];
    std::size_t n = 0;
    const bool lowerBase = (e[12] & 0x08) != 0, lowerExt = (e[12] & 0x10) != 0;
    auto put = [&](std::uint8_t c, bool lower) { raw[n++] = (lower && c >= 'A' && c <= 'Z') ? std::uint8_t(c + 32) : c; };
    for (int i = 0; i < 8 && e[i] != ' '; ++i) put(e[i], lowerBase);
    if (n > 0 && raw[0] == kKanjiE5) raw[0] = kDeletedMark;
    if (deleted && n > 0) raw[0] = '_';
    if (e[8] != ' ') {
        raw[n++] = '.';
        for (int i = 8; i < 11 && e[i] != ' '; ++i) put(e[i], lowerExt);
    }
    return OemToUtf8(raw, n);
}

}  // namespace

bool FatEntryValid(const std::uint8_t* e) {
    const std::uint8_t attr = e[11];
    if ((attr & kAttrLongName) == kAttrLongName) return attr == kAttrLongName && Le16(e + 26) == 0;
    return attr < 64 && e[13] < 200 && ShortNameValid(e);
}

bool FatIsDotEntry(const std::uint8_t* e) {
    if (!(e[11] & kAttrFolder) || IsLongNamePiece(e) || e[0] != '.') return false;
    const int dots = e[1] == '.' ? 2 : 1;
    for (int i = dots; i < 11; ++i)
        if (e[i] != ' ') return false;
    return true;
}

bool FatLooksLikeDirectoryStart(const std::uint8_t* data, std::size_t size) {
    if (!data || size < 2 * kFatEntrySize) return false;
    const std::uint8_t* dot = data;
    const std::uint8_t* dotdot = data + kFatEntrySize;
    return FatEntryValid(dot) && FatEntryValid(dotdot) && FatIsDotEntry(dot) && dot[1] == ' ' &&
           FatIsDotEntry(dotdot) && dotdot[1] == '.';
}

std::uint32_t FatEntryCluster(const std::uint8_t* e, bool fat32) {
    return (fat32 ? std::uint32_t(Le16(e + 20)) << 16 : 0) | Le16(e + 26);
}

std::size_t ParseFatDirectory(const std::uint8_t* data, std::size_t size, bool fat32,
                              const std::function<bool(const FatDirEntry&)>& visit) {
    if (!data) return 0;
    std::size_t visited = 0;
    const std::size_t count = size / kFatEntrySize;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = data + i * kFatEntrySize;
        if (!FatEntryValid(e) || IsLongNamePiece(e) || e[11] == kAttrLabel) continue;
        if ((e[11] & kAttrFolder) && e[0] == '.') continue;
        FatDirEntry d;
        d.Deleted = e[0] == kDeletedMark;
        d.Name = LongNameBefore(data, i);
        if (d.Name.empty()) d.Name = ShortName(e, d.Deleted);
        d.Attributes = e[11];
        d.FirstCluster = FatEntryCluster(e, fat32);
        d.Size = Le32(e + 28);
        d.CreateTenths = e[13];
        d.CreateTime = Le16(e + 14);
        d.CreateDate = Le16(e + 16);
        d.AccessDate = Le16(e + 18);
        d.WriteTime = Le16(e + 22);
        d.WriteDate = Le16(e + 24);
        d.Index = i;
        ++visited;
        if (!visit(d)) break;
    }
    return visited;
}

std::uint64_t FatTimeToFileTime(std::uint16_t date, std::uint16_t time, std::uint8_t tenths) {
    const int day = date & 31, month = (date >> 5) & 15, year = 1980 + (date >> 9);
    const int seconds = (time & 31) * 2, minutes = (time >> 5) & 63, hours = time >> 11;
    if (day == 0 || month == 0 || month > 12 || hours > 23 || minutes > 59 || seconds > 59) return 0;
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hours;
    tm.tm_min = minutes;
    tm.tm_sec = seconds;
    tm.tm_isdst = -1;  // the zone's own rule for that date decides summer time
    const time_t t = mktime(&tm);
    if (t == time_t(-1)) return 0;
    const std::uint64_t extra = tenths < 200 ? std::uint64_t(tenths) * 100000 : 0;  // 10 ms each
    return UnixToFileTime(std::int64_t(t) * 1000000000) + extra;
}

}  // namespace vm
