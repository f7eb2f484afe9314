#include <gtest/gtest.h>

#include <cstring>

#include "platform/MemoryReader.h"
#include "platform/TextConvert.h"
#include "signatures/CompoundDocument.h"
#include "volume/Volume.h"

using namespace vm;

namespace {

void PutName(std::vector<std::uint8_t>& dir, std::size_t entry, const std::string& name) {
    std::string utf16 = Utf8ToUtf16Le(name);
    std::memcpy(&dir[entry * 128], utf16.data(), std::min<std::size_t>(utf16.size(), 62));
}

std::vector<std::uint8_t> Directory(const std::vector<std::string>& names) {
    std::vector<std::uint8_t> dir(kCompoundDirectoryBytes, 0);
    for (std::size_t i = 0; i < names.size(); ++i) PutName(dir, i, names[i]);
    return dir;
}

// A drive holding one compound header at `at` and a directory at its sector `dirSector`.
struct CompoundDrive {
    std::vector<std::uint8_t> bytes;
    CVolume volume{VK_IMAGE};
    FoundItem item;

    CompoundDrive(std::uint64_t at, unsigned shift, std::uint32_t fatSectors, std::uint32_t dirSector,
                  const std::vector<std::string>& names) {
        bytes.assign(1 << 20, 0);
        std::uint8_t* h = &bytes[at];
        const std::uint8_t sig[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        std::memcpy(h, sig, 8);
        h[0x1E] = std::uint8_t(shift);
        std::memcpy(h + 0x2C, &fatSectors, 4);
        std::memcpy(h + 0x30, &dirSector, 4);
        auto dir = Directory(names);
        std::uint64_t dirAt = at + (std::uint64_t(dirSector) + 1) * (1u << shift);
        if (dirAt + dir.size() <= bytes.size()) std::memcpy(&bytes[dirAt], dir.data(), dir.size());
        auto reader = std::make_shared<CMemoryReader>(bytes);
        volume.DevicePath = "compound.dsk";
        volume.SetDeviceOpener([reader](const std::string&, int*) { return reader; });
        volume.TotalSectors = bytes.size() / 512;
        item.DataOffset = at;
    }
    std::int16_t Analyse() {
        return AnalyseCompound(volume, std::span<const std::uint8_t>(&bytes[item.DataOffset], 512), item);
    }
};

}  // namespace

TEST(Compound, StreamNamesTellTheType) {
    struct Case {
        std::vector<std::string> names;
        std::int16_t type;
    } cases[] = {
        {{"Root Entry", "Data", "WordDocument", "1Table"}, 502},
        {{"Root Entry", "x", "y", "WordDocument", "z", "Workbook"}, 502},
        {{"ROOT ENTRY", "workbook"}, 501},
        {{"Root Entry", "PowerPoint Document"}, 503},
        {{"Root Entry", "Symbol 12"}, 523},
        {{"Root Entry", "Symbol"}, 500},
        {{"Root Entry", "VisioDocument"}, 505},
        {{"Root Entry", "BodyText"}, 521},
        {{"R", "WordDocument"}, 500},
        {{"Root Entry", "Contents"}, 500},
    };
    for (const auto& c : cases) EXPECT_EQ(ClassifyCompoundDirectory(Directory(c.names)), c.type) << c.names[1];
}

TEST(Compound, HeaderBoundAndDirectoryPosition) {
    struct Case {
        unsigned shift;
        std::uint32_t fatSectors, dirSector;
        std::uint64_t size;
    } cases[] = {
        {9, 1, 1, 65536},
        {9, 3, 0, 196608},
        {12, 1, 1, 4194304},
        {9, 40000, 2, 128ull * 40000 * 512},  // past 2^31: no negative size
    };
    for (const auto& c : cases) {
        CompoundDrive d(8192, c.shift, c.fatSectors, c.dirSector, {"Root Entry", "WordDocument"});
        EXPECT_EQ(d.Analyse(), 502) << c.shift << "/" << c.fatSectors;
        EXPECT_EQ(d.item.Size, c.size);
    }
}

TEST(Compound, NonsenseHeadersAreDroppedNotRead) {
    CompoundDrive beyond(0, 9, 1, 0x00FFFFFF, {"Root Entry"});
    EXPECT_EQ(beyond.Analyse(), 0);  // the directory lies past the drive's end
    CompoundDrive badShift(0, 31, 1, 1, {"Root Entry"});
    EXPECT_EQ(badShift.Analyse(), 0);
}
