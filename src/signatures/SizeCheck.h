#pragma once
// What a lost file's own structure says about where it ends. One small check per format reads
// the drive from the find onward, as far as it needs and never past a bound, and answers the
// file's exact size, "unknown", or "not really this format" (a header that only looks right).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vm {

class CVolume;

// How far one check may read from the find's first byte.
constexpr std::uint64_t kSizeCheckLimit = 64ull << 20;

enum class SizeVerdict { Exact, Unknown, NotThisFormat };

struct SizeAnswer {
    SizeVerdict Verdict = SizeVerdict::Unknown;
    std::uint64_t Size = 0;  // with Exact
    static SizeAnswer Exact(std::uint64_t size) { return {SizeVerdict::Exact, size}; }
    static SizeAnswer Unknown() { return {SizeVerdict::Unknown, 0}; }
    static SizeAnswer NotThisFormat() { return {SizeVerdict::NotThisFormat, 0}; }
};

// Reads the bytes of one find: offsets count from the find's first byte. Reads past `Limit`
// (the bound of one check, default 64 MiB) or past the drive's end fail.
class CFindReader {
public:
    // `known` may hold the drive's bytes from the find onward that the caller has already read
    // (the searcher's block); reads inside it cost no drive read.
    CFindReader(CVolume& volume, std::uint64_t findOffset, std::uint64_t limit,
                std::span<const std::uint8_t> known = {});
    virtual ~CFindReader() = default;
    // Fills `out` with `length` bytes at `offset`; false when they cannot all be read.
    virtual bool Read(std::uint64_t offset, void* out, std::size_t length);
    // Reads what there is of `length` bytes at `offset` (up to the bound or the first byte that
    // cannot be read); the count read.
    virtual std::size_t ReadSome(std::uint64_t offset, void* out, std::size_t length);
    std::uint64_t Limit() const { return Bound; }

protected:
    CFindReader(std::uint64_t limit) : Bound(limit) {}  // for readers over memory (tests, fuzzing)

private:
    bool FillCache(std::uint64_t offset);

    CVolume* Volume = nullptr;
    std::uint64_t Start = 0;
    std::uint64_t Bound;
    std::span<const std::uint8_t> Known;
    std::vector<std::uint8_t> Cache;  // the last sectors read
    std::uint64_t CacheAt = ~0ull;    // find offset of Cache[0]
    std::size_t CacheBytes = 0;       // bytes of Cache that hold the drive's data
};

// A find held in memory: its bytes are the drive from the find onward.
class CMemoryFindReader final : public CFindReader {
public:
    CMemoryFindReader(std::span<const std::uint8_t> bytes, std::uint64_t limit = kSizeCheckLimit);
    std::size_t ReadSome(std::uint64_t offset, void* out, std::size_t length) override;

private:
    std::span<const std::uint8_t> Bytes;
};

using SizeCheckFunction = SizeAnswer (*)(CFindReader& reader);

// The check for a catalogue type id, or null when the format has none.
SizeCheckFunction FindSizeCheck(std::int32_t typeId);

// The check of a find of `typeId` at byte `findOffset` of the volume; Unknown when the format has
// no check. `known`: the drive's bytes from the find onward that the caller holds already.
SizeAnswer CheckFindSize(CVolume& volume, std::int32_t typeId, std::uint64_t findOffset,
                         std::uint64_t limit = kSizeCheckLimit, std::span<const std::uint8_t> known = {});

}  // namespace vm
