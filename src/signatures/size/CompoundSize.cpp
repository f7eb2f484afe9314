// Compound documents: the file ends with the highest sector its allocation table (FAT) uses.
// The FAT's own sectors, the DIFAT that lists them, and the directory and mini-FAT chains must
// hold together before that sector is believed.
#include <algorithm>
#include <cstring>
#include <vector>

#include "signatures/SizeChecks.h"
#include "signatures/size/SizeRead.h"

namespace vm {
namespace {

using sizecheck::Le16;
using sizecheck::Le32;

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kDifSect = 0xFFFFFFFC, kFatSect = 0xFFFFFFFD, kEndOfChain = 0xFFFFFFFE, kFree = 0xFFFFFFFF;
constexpr std::size_t kHeaderDifat = 109;

class CCompoundWalk {
public:
    CCompoundWalk(CFindReader& reader, const std::uint8_t* header, unsigned shift)
        : Reader(reader), H(header), SectorSize(std::uint64_t(1) << shift), PerSector(SectorSize / 4) {
        MaxSectors = reader.Limit() / SectorSize;  // sectors that may lie within the bound
        MaxSectors = MaxSectors ? MaxSectors - 1 : 0;
    }

    // The highest sector the file uses; false when the structure does not hold together.
    bool HighestSector(std::uint64_t& highest) {
        if (!ListFatSectors()) return false;
        for (std::uint64_t s : Fat)
            if (Next(s) != kFatSect) return false;
        for (std::uint64_t s : Difat)
            if (Next(s) != kDifSect) return false;
        std::uint64_t top = 0;
        // A file that ends past the bound gets no size: its chains are not walked either.
        if (!LastUsed(top) || top >= MaxSectors || !ChainHolds(Le32(H + 0x30), top, false) || !ChainHolds(Le32(H + 0x3C), top, true))
            return false;
        highest = top;
        return true;
    }

private:
    std::uint64_t SectorAt(std::uint64_t sector) const { return (sector + 1) * SectorSize; }

    bool ListFatSectors() {
        const std::uint64_t count = Le32(H + 0x2C);
        if (count == 0 || count > MaxSectors) return false;
        for (std::size_t i = 0; i < kHeaderDifat && Fat.size() < count; ++i) Fat.push_back(Le32(H + 0x4C + 4 * i));
        std::uint32_t next = Le32(H + 0x44);
        std::vector<std::uint8_t> sector(SectorSize);
        for (std::uint64_t n = Le32(H + 0x48); Fat.size() < count; --n) {
            if (n == 0 || next >= MaxSectors || Difat.size() >= MaxSectors) return false;
            if (!Reader.Read(SectorAt(next), sector.data(), sector.size())) return false;
            Difat.push_back(next);
            for (std::uint64_t i = 0; i + 1 < PerSector && Fat.size() < count; ++i) Fat.push_back(Le32(&sector[i * 4]));
            next = Le32(&sector[(PerSector - 1) * 4]);
        }
        return std::all_of(Fat.begin(), Fat.end(), [&](std::uint64_t s) { return s < MaxSectors; });
    }

    // The FAT entry of `sector`; kFree when it cannot be read.
    std::uint32_t Next(std::uint64_t sector) {
        const std::uint64_t index = sector / PerSector;
        std::uint8_t entry[4];
        if (index >= Fat.size() || !Reader.Read(SectorAt(Fat[index]) + sector % PerSector * 4, entry, 4)) return kFree;
        return Le32(entry);
    }

    // The highest sector whose FAT entry is not free.
    bool LastUsed(std::uint64_t& top) {
        std::vector<std::uint8_t> sector(SectorSize);
        for (std::size_t f = Fat.size(); f-- > 0;) {
            if (!Reader.Read(SectorAt(Fat[f]), sector.data(), sector.size())) return false;
            for (std::uint64_t i = PerSector; i-- > 0;)
                if (Le32(&sector[i * 4]) != kFree) {
                    top = f * PerSector + i;
                    return true;
                }
        }
        return false;
    }

    // Whether the chain from `first` ends properly without passing `top` or looping; an absent
    // chain holds when it may be absent.
    bool ChainHolds(std::uint32_t first, std::uint64_t top, bool mayBeAbsent) {
        if (first == kEndOfChain || first == kFree) return mayBeAbsent;
        std::uint64_t steps = 0;
        for (std::uint32_t s = first; s != kEndOfChain; s = Next(s))
            if (s > top || ++steps > top + 1) return false;
        return true;
    }

    CFindReader& Reader;
    const std::uint8_t* H;
    std::uint64_t SectorSize, PerSector, MaxSectors = 0;
    std::vector<std::uint64_t> Fat, Difat;
};

}  // namespace

SizeAnswer CompoundSize(CFindReader& reader) {
    std::uint8_t h[512];
    if (!reader.Read(0, h, sizeof h)) return SizeAnswer::Unknown();
    if (std::memcmp(h, kSignature, sizeof kSignature) != 0) return SizeAnswer::NotThisFormat();
    const unsigned shift = Le16(h + 0x1E);
    if (shift < 7 || shift > 16) return SizeAnswer::NotThisFormat();  // no compound file has such sectors
    if (shift != 9 && shift != 12) return SizeAnswer::Unknown();
    CCompoundWalk walk(reader, h, shift);
    std::uint64_t highest = 0;
    if (!walk.HighestSector(highest)) return SizeAnswer::Unknown();
    const std::uint64_t size = (highest + 2) << shift;
    return sizecheck::Readable(reader, size) ? SizeAnswer::Exact(size) : SizeAnswer::Unknown();
}

}  // namespace vm
