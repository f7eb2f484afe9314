#include "signatures/SizeCheck.h"

#include <algorithm>
#include <cstring>

#include "signatures/SizeChecks.h"
#include "volume/Volume.h"

namespace vm {
namespace {

constexpr std::size_t kCacheSectors = 128;  // 64 KiB: byte-wise walks cost one drive read per block
constexpr std::size_t kCacheBytes = kCacheSectors * kSectorSize;

}  // namespace

CFindReader::CFindReader(CVolume& volume, std::uint64_t findOffset, std::uint64_t limit,
                         std::span<const std::uint8_t> known)
    : Volume(&volume), Start(findOffset), Bound(limit) {
    // Never past the drive's end.
    const std::uint64_t end = volume.TotalSectors * kSectorSize;
    Bound = findOffset < end ? std::min(limit, end - findOffset) : 0;
    Known = known.first(std::size_t(std::min<std::uint64_t>(known.size(), Bound)));
}

bool CFindReader::Read(std::uint64_t offset, void* out, std::size_t length) {
    return ReadSome(offset, out, length) == length;
}

bool CFindReader::FillCache(std::uint64_t offset) {
    const std::uint64_t absolute = Start + offset;
    const std::uint64_t first = absolute / kSectorSize;
    const std::uint64_t end = (Start + Bound + kSectorSize - 1) / kSectorSize;
    const std::uint64_t count = std::min<std::uint64_t>(kCacheSectors, end - first);
    Cache.resize(kCacheBytes);
    const std::uint32_t got = Volume->ReadSectors(Cache.data(), first, count);
    const std::uint64_t at = first * kSectorSize;
    if (at + got <= absolute) return false;
    CacheAt = at - Start;  // may lie before the find's first byte (wraps; only compared below)
    CacheBytes = got;
    return true;
}

std::size_t CFindReader::ReadSome(std::uint64_t offset, void* out, std::size_t length) {
    if (!Volume || offset >= Bound) return 0;
    length = std::size_t(std::min<std::uint64_t>(length, Bound - offset));
    auto* dst = static_cast<std::uint8_t*>(out);
    std::size_t done = 0;
    if (offset < Known.size()) {
        done = std::size_t(std::min<std::uint64_t>(length, Known.size() - offset));
        std::memcpy(dst, Known.data() + offset, done);
    }
    while (done < length) {
        const std::uint64_t at = offset + done;
        const std::uint64_t into = at - CacheAt;  // unsigned: huge when at lies before the cache
        if (CacheAt == ~0ull || into >= CacheBytes) {
            if (!FillCache(at)) break;
            continue;
        }
        const std::size_t n = std::size_t(std::min<std::uint64_t>(length - done, CacheBytes - into));
        std::memcpy(dst + done, Cache.data() + into, n);
        done += n;
    }
    return done;
}

CMemoryFindReader::CMemoryFindReader(std::span<const std::uint8_t> bytes, std::uint64_t limit)
    : CFindReader(std::min<std::uint64_t>(limit, bytes.size())), Bytes(bytes) {}

std::size_t CMemoryFindReader::ReadSome(std::uint64_t offset, void* out, std::size_t length) {
    if (offset >= Limit()) return 0;
    const std::size_t n = std::size_t(std::min<std::uint64_t>(length, Limit() - offset));
    if (n) std::memcpy(out, Bytes.data() + offset, n);
    return n;
}

SizeAnswer CheckFindSize(CVolume& volume, std::int32_t typeId, std::uint64_t findOffset, std::uint64_t limit,
                         std::span<const std::uint8_t> known) {
    const SizeCheckFunction check = FindSizeCheck(typeId);
    if (!check) return SizeAnswer::Unknown();
    CFindReader reader(volume, findOffset, limit, known);
    SizeAnswer answer = check(reader);
    // A check answers a size it has read up to; anything else is no answer.
    if (answer.Verdict == SizeVerdict::Exact && (answer.Size == 0 || answer.Size > reader.Limit()))
        return SizeAnswer::Unknown();
    return answer;
}

}  // namespace vm
