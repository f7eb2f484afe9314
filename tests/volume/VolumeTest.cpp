#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "app/Log.h"
#include "filesystem/BitArray.h"
#include "filesystem/FileSystem.h"
#include "platform/DeviceReader.h"
#include "platform/FaultyReader.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

using namespace vm;

namespace {

// An image file whose sector n is filled with the byte n % 251, so any shifted data shows.
std::vector<std::uint8_t> PatternImage(std::size_t sectors) {
    std::vector<std::uint8_t> bytes(sectors * 512);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t((i / 512) % 251);
    return bytes;
}

struct FaultyImage {
    vmtest::TempDir dir;
    std::string path;
    std::shared_ptr<CFaultyReader> faults;
    CVolume volume{VK_IMAGE};

    explicit FaultyImage(const std::vector<std::uint8_t>& bytes) {
        path = dir.File("drive.dsk");
        vmtest::WriteFile(path, bytes);
        volume.DevicePath = path;
        volume.SetDeviceOpener([this](const std::string& p, int* err) -> std::shared_ptr<IDeviceReader> {
            auto file = CDeviceFile::Open(p, err);
            if (!file) return nullptr;
            faults = std::make_shared<CFaultyReader>(file);
            return faults;
        });
    }
    CFaultyReader& Faults() {
        if (!faults) volume.OpenDrive();
        return *faults;
    }
};

std::size_t LinesWith(const std::string& needle, std::size_t from) {
    std::size_t n = 0;
    for (std::size_t i = from; i < Log().LineCount(); ++i)
        if (Log().Line(i).find(needle) != std::string::npos) ++n;
    return n;
}

}  // namespace

TEST(VolumeRead, ZeroCountTouchesNothing) {
    FaultyImage img(PatternImage(8));
    CFaultyReader& f = img.Faults();
    std::uint8_t buf[512];
    EXPECT_EQ(img.volume.ReadSectors(buf, 0, 0), 0u);
    EXPECT_EQ(f.ReadCount(), 0u);
}

TEST(VolumeRead, ReadsSectorsAtTheirPlace) {
    FaultyImage img(PatternImage(16));
    std::vector<std::uint8_t> buf(3 * 512);
    ASSERT_EQ(img.volume.ReadSectors(buf.data(), 5, 3), 1536u);
    EXPECT_EQ(buf[0], 5);
    EXPECT_EQ(buf[1535], 7);
}

TEST(VolumeRead, HangingReadTimesOutAndIsNotRetried) {
    FaultyImage img(PatternImage(8));
    img.Faults().AddHangRange(512, 512, 900);  // one sector: 512 ms allowed
    std::size_t from = Log().LineCount();
    std::uint8_t buf[512];
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(img.volume.ReadSectors(buf, 1, 1), 0u);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(ms, 880);  // given up before the read came back
    EXPECT_EQ(LinesWith("Read Timeout!", from), 1u);
    EXPECT_EQ(LinesWith("at position 512 not read, retry 0", from), 1u);
    EXPECT_EQ(img.Faults().ReadCount(), 1u);
    // The next read is served by a fresh reader thread and is correct.
    ASSERT_EQ(img.volume.ReadSectors(buf, 3, 1), 512u);
    EXPECT_EQ(buf[0], 3);
}

TEST(VolumeRead, ShortReadsAreRetriedThenZeroFilled) {
    FaultyImage img(PatternImage(8));
    img.Faults().ShortReads(100, 700);
    std::size_t from = Log().LineCount();
    std::vector<std::uint8_t> buf(1024, 0xEE);
    EXPECT_EQ(img.volume.ReadSectors(buf.data(), 2, 2), 700u);
    EXPECT_EQ(img.Faults().ReadCount(), 11u);  // ReadRetries 10: eleven attempts
    EXPECT_EQ(buf[0], 2);
    EXPECT_EQ(buf[699], 3);
    EXPECT_EQ(buf[700], 0);  // the unread rest is zero, not stale bytes
    EXPECT_EQ(buf[1023], 0);
    EXPECT_EQ(LinesWith("bytes 1724 to 2047 not read, filled with zeros", from), 1u);
}

TEST(VolumeRead, FailedReadIsIssuedOnceAndRunsOfFailuresCollapse) {
    FaultyImage img(PatternImage(64));
    img.Faults().AddBadRange(10 * 512, 20 * 512);
    std::size_t from = Log().LineCount();
    std::uint8_t buf[512];
    for (int s = 10; s < 30; ++s) EXPECT_EQ(img.volume.ReadSectors(buf, s, 1), 0u);
    EXPECT_EQ(img.Faults().ReadCount(), 20u);
    ASSERT_EQ(img.volume.ReadSectors(buf, 40, 1), 512u);
    EXPECT_EQ(LinesWith("not read, retry 0", from), 1u);
    EXPECT_EQ(LinesWith("positions 5120 to 15359 not read (20 failed reads)", from), 1u);
}

TEST(VolumeRead, BadSectorInsideABlockKeepsTheDataBeforeItInPlace) {
    FaultyImage img(PatternImage(16));
    img.Faults().AddBadRange(6 * 512, 512);
    std::vector<std::uint8_t> buf(8 * 512, 0xEE);
    // The device delivers sectors 4 and 5, then fails: a short read, retried, then zero-filled.
    EXPECT_EQ(img.volume.ReadSectors(buf.data(), 4, 8), 1024u);
    EXPECT_EQ(buf[0], 4);
    EXPECT_EQ(buf[512], 5);
    EXPECT_EQ(buf[1024], 0);
}

TEST(VolumeRead, FileReadGivesTheBytesAtTheOffsetAsked) {
    std::vector<std::uint8_t> bytes(16 * 512);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 7 + i / 251);
    FaultyImage img(bytes);
    struct Case {
        std::uint64_t dataOffset, offset;
        std::uint32_t length;
    } cases[] = {
        {0, 0, 1024},      // whole sectors
        {0, 100, 1},       // inside the first sector
        {0, 100, 1000},    // across a sector boundary
        {1000, 0, 1000},   // an item that starts inside a sector
        {1000, 24, 512},   // whole-sector length from inside a sector
        {512, 1536, 700},
        {0, 8000, 192},    // up to the image's last byte
    };
    for (const Case& c : cases) {
        FoundItem item;
        item.DataOffset = c.dataOffset;
        std::vector<std::uint8_t> got(c.length, 0xEE);
        const std::uint64_t at = c.dataOffset + c.offset;
        EXPECT_EQ(img.volume.FileRead(item, got.data(), c.offset, c.length), c.length) << at;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + std::ptrdiff_t(at))) << at;
    }
    FoundItem item;
    std::vector<std::uint8_t> rest(1000, 0xEE);
    EXPECT_EQ(img.volume.FileRead(item, rest.data(), 8000, 1000), 192u);  // what the image holds
    EXPECT_EQ(img.volume.FileRead(item, rest.data(), 0, 0), 0u);
}

TEST(VolumeRead, FileReadReturnsOnlyWhatWasRead) {
    FaultyImage img(PatternImage(16));
    img.Faults().ShortReads(100, 600);
    FoundItem item;
    std::vector<std::uint8_t> buf(1000);
    EXPECT_EQ(img.volume.FileRead(item, buf.data(), 0, 1000), 600u);
}

TEST(VolumeRead, ReadsStopAtTheVolumeEnd) {
    FaultyImage img(PatternImage(16));
    img.volume.TotalSectors = 10;
    std::vector<std::uint8_t> buf(4 * 512, 0xEE);
    EXPECT_EQ(img.volume.ReadSectors(buf.data(), 8, 4), 1024u);
    EXPECT_EQ(buf[1024], 0);
    EXPECT_EQ(img.volume.ReadSectors(buf.data(), 10, 1), 0u);
}

// Reads that the page cache can serve skip the reader thread; they must deliver what a read on
// the thread delivers, at the end of the file too.
TEST(TimedReader, CachedReadsMatchDeviceReads) {
    vmtest::TempDir dir;
    auto bytes = PatternImage(16);
    bytes.resize(bytes.size() + 100, 0x5A);  // a last, partial sector
    vmtest::WriteFile(dir.File("img"), bytes);
    int err = 0;
    auto file = CDeviceFile::Open(dir.File("img"), &err);
    ASSERT_TRUE(file);
    CTimedReader reader(file);
    const std::uint64_t size = bytes.size();
    std::uint8_t probe[512];
    ASSERT_EQ(file->ReadIfCached(0, probe, sizeof probe), sizeof probe);  // the file just written is cached
    struct Case {
        std::uint64_t pos;
        std::size_t len;
    };
    for (const Case c : {Case{0, 512}, Case{1000, 3000}, Case{size - 612, 1024}, Case{size, 512}, Case{size + 4096, 8}}) {
        SCOPED_TRACE(c.pos);
        std::vector<std::uint8_t> want(c.len, 0xEE), got(c.len, 0xEE), swapped(c.len, 0xEE);
        const ReadResult direct = file->ReadAt(c.pos, want.data(), c.len);
        const ReadResult timed = reader.Read(c.pos, got.data(), c.len, std::chrono::milliseconds(2000));
        const ReadResult swap = reader.ReadSwap(c.pos, swapped, c.len, std::chrono::milliseconds(2000));
        EXPECT_EQ(timed.Bytes, direct.Bytes);
        EXPECT_EQ(timed.AtEnd, direct.AtEnd);
        EXPECT_EQ(swap.Bytes, direct.Bytes);
        EXPECT_TRUE(std::equal(want.begin(), want.begin() + std::ptrdiff_t(direct.Bytes), got.begin()));
        EXPECT_TRUE(std::equal(want.begin(), want.begin() + std::ptrdiff_t(direct.Bytes), swapped.begin()));
    }
}

// Once a read has failed, the device is suspect: every later read runs on the reader thread,
// under its time-out, even where the cache could serve it.
TEST(TimedReader, AFailedReadEndsCachedReads) {
    struct Source final : IDeviceReader {
        int Reads = 0, CachedReads = 0;
        ReadResult ReadAt(std::uint64_t pos, void* buffer, std::size_t len) override {
            ++Reads;
            ReadResult r;
            if (pos == 0) {
                r.Error = EIO;
                return r;
            }
            std::memset(buffer, 0xAA, len);
            r.Bytes = len;
            return r;
        }
        std::size_t ReadIfCached(std::uint64_t pos, void* buffer, std::size_t len) override {
            if (pos == 0) return 0;
            ++CachedReads;
            std::memset(buffer, 0xCC, len);
            return len;
        }
        std::uint64_t SizeBytes() const override { return 1 << 20; }
    };
    auto source = std::make_shared<Source>();
    CTimedReader reader(source);
    std::uint8_t buf[512];
    const auto timeout = std::chrono::milliseconds(2000);
    EXPECT_EQ(reader.Read(4096, buf, sizeof buf, timeout).Bytes, 512u);
    EXPECT_EQ(buf[0], 0xCC);
    EXPECT_EQ(reader.Read(0, buf, sizeof buf, timeout).Error, EIO);
    EXPECT_EQ(reader.Read(4096, buf, sizeof buf, timeout).Bytes, 512u);
    EXPECT_EQ(buf[0], 0xAA);
    EXPECT_EQ(source->CachedReads, 1);
    EXPECT_EQ(source->Reads, 2);
}

TEST(Volume, FoundVolumeReadsThroughItsParent) {
    FaultyImage img(PatternImage(4096));
    CVolume found(VK_FOUND);
    found.AttachTo(&img.volume);
    found.StartOffset = 1048576;
    std::uint8_t buf[512];
    ASSERT_EQ(found.ReadSectors(buf, 0, 1), 512u);
    EXPECT_EQ(buf[0], 2048 % 251);
    EXPECT_EQ(found.GetDisplayName(), "Volume at: 1048576");
    EXPECT_EQ(found.GetParent(), &img.volume);
    ASSERT_EQ(img.volume.Children.size(), 1u);
}

TEST(Volume, CloseTwiceAndReopen) {
    FaultyImage img(PatternImage(4));
    std::uint8_t buf[512];
    ASSERT_EQ(img.volume.ReadSectors(buf, 0, 1), 512u);
    EXPECT_TRUE(img.volume.IsOpen());
    img.volume.Close();
    img.volume.Close();
    EXPECT_FALSE(img.volume.IsOpen());
    EXPECT_EQ(img.volume.ReadSectors(buf, 1, 1), 512u);
}

TEST(Volume, OpenFailureIsLogged) {
    CVolume v(VK_IMAGE);
    v.DevicePath = "/nonexistent/drive.dsk";
    std::size_t from = Log().LineCount();
    std::uint8_t buf[512];
    EXPECT_EQ(v.ReadSectors(buf, 0, 1), 0u);
    EXPECT_EQ(LinesWith("Can't open volume '/nonexistent/drive.dsk', System Error: No such file or directory", from), 1u);
}

// ---- Boot sectors ----

namespace {

std::vector<std::uint8_t> FatBootSector(const char* fsName, std::uint16_t bytesPerSector, std::uint8_t spc,
                                        std::uint16_t small, std::uint32_t large) {
    std::vector<std::uint8_t> b(1024, 0);
    std::memcpy(&b[3], "MSDOS5.0", 8);
    b[11] = bytesPerSector & 0xFF;
    b[12] = bytesPerSector >> 8;
    b[13] = spc;
    b[19] = small & 0xFF;
    b[20] = small >> 8;
    std::memcpy(&b[32], &large, 4);
    bool fat32 = std::strcmp(fsName, "FAT32   ") == 0;
    std::uint32_t serial = 0xCAFE1234;
    std::memcpy(&b[fat32 ? 67 : 39], &serial, 4);
    std::memcpy(&b[fat32 ? 71 : 43], "MY DISK    ", 11);
    std::memcpy(&b[fat32 ? 82 : 54], fsName, 8);
    b[510] = 0x55;
    b[511] = 0xAA;
    return b;
}

std::vector<std::uint8_t> NtfsBootSector(std::uint8_t spc, std::uint64_t total) {
    std::vector<std::uint8_t> b(1024, 0);
    std::memcpy(&b[3], "NTFS    ", 8);
    b[11] = 0;
    b[12] = 2;
    b[13] = spc;
    std::memcpy(&b[0x28], &total, 8);
    std::uint32_t lo = 0x89ABCDEF, hi = 0x1234;
    std::memcpy(&b[72], &lo, 4);
    std::memcpy(&b[76], &hi, 4);
    return b;
}

// A found volume takes its size from the boot sector alone.
struct ParsedBoot {
    vmtest::TempDir dir;
    CVolume parent{VK_IMAGE};
    CVolume found{VK_FOUND};
    std::int32_t result = 0;
    explicit ParsedBoot(std::vector<std::uint8_t> sector) {
        sector.resize(4096, 0);
        std::string path = dir.File("boot.dsk");
        vmtest::WriteFile(path, sector);
        parent.DevicePath = path;
        found.AttachTo(&parent);
        result = found.ParseBootSector();
    }
};

}  // namespace

TEST(BootSector, FieldsFromFatAndNtfsBootSectors) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> sector;
        std::uint32_t code;
        std::uint64_t totalSectors;
        std::uint32_t bytesPerCluster;
        std::string serial;
    } cases[] = {
        {"FAT16 small count", FatBootSector("FAT16   ", 512, 8, 20000, 0), 4, 20000, 4096, "CAFE1234"},
        {"FAT12", FatBootSector("FAT12   ", 512, 1, 2880, 0), 1, 2880, 512, "CAFE1234"},
        {"FAT32 large count", FatBootSector("FAT32   ", 512, 8, 0, 100000), 11, 100000, 4096, "CAFE1234"},
        {"FAT16 4096-byte sectors", FatBootSector("FAT16   ", 4096, 1, 5000, 0), 4, 40000, 4096, "CAFE1234"},
        {"NTFS", NtfsBootSector(8, 204800), 7, 204800, 4096, "123489ABCDEF"},
        {"NTFS 2^(256-v) sectors per cluster", NtfsBootSector(0xF8, 204800), 7, 204800, 131072, "123489ABCDEF"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParsedBoot p(c.sector);
        EXPECT_EQ(p.result, 1);
        EXPECT_EQ(p.found.pFileSystem->TypeCode, c.code);
        EXPECT_EQ(p.found.TotalSectors, c.totalSectors);
        EXPECT_EQ(p.found.TotalBytes, c.totalSectors * 512);
        EXPECT_EQ(p.found.BytesPerCluster, c.bytesPerCluster);
        EXPECT_EQ(p.found.TotalClusters, c.totalSectors * 512 / c.bytesPerCluster);
        EXPECT_EQ(SerialNumberText(p.found), c.serial);
    }
}

TEST(SerialNumber, TextOfBothHalves) {
    struct Case {
        std::uint32_t low, high;
        const char* text;
    } cases[] = {
        {0xCAFE1234, 0, "CAFE1234"},        // FAT: 32 bits
        {0x1234, 0xAB, "AB00001234"},       // NTFS: the low half keeps its zeros
        {0, 5, "500000000"},                // a zero low half does not hide the serial
        {0, 0, ""},
        {0xFFFFFFFF, 0xFFFFFFFF, "FFFFFFFFFFFFFFFF"},
    };
    for (const Case& c : cases) {
        CVolume v(VK_IMAGE);
        v.SerialNumber[0] = c.low;
        v.SerialNumber[1] = c.high;
        EXPECT_EQ(SerialNumberText(v), c.text) << std::hex << c.high << " " << c.low;
    }
}

TEST(BootSector, LabelAndNames) {
    ParsedBoot p(FatBootSector("FAT16   ", 512, 4, 20000, 0));
    EXPECT_EQ(p.found.Label, "MY DISK");
    EXPECT_EQ(p.found.GetFileSystemName(), "FAT16");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.found.OemName)), "MSDOS5.0");
}

TEST(BootSector, HostileBootSectorsGiveSaneZeros) {
    std::mt19937 rng(7);
    std::vector<std::uint8_t> random(1024);
    for (auto& b : random) b = std::uint8_t(rng());
    std::memcpy(&random[54], "FAT16   ", 8);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> sector;
    } cases[] = {
        {"zero sectors per cluster", FatBootSector("FAT16   ", 512, 0, 20000, 0)},
        {"no sector count", FatBootSector("FAT16   ", 512, 4, 0, 0)},
        {"2^32-1 sectors", FatBootSector("FAT32   ", 512, 8, 0, 0xFFFFFFFF)},
        {"sector size 3", FatBootSector("FAT16   ", 3, 4, 100, 0)},
        {"cluster of 3 sectors", FatBootSector("FAT16   ", 512, 3, 100, 0)},
        {"NTFS absurd cluster", NtfsBootSector(0x81, 1000)},
        {"NTFS petabytes", NtfsBootSector(8, ~0ull)},
        {"random bytes", random},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParsedBoot p(c.sector);
        EXPECT_EQ(p.result, 1);
        EXPECT_GE(p.found.SectorsPerCluster, 1u);
        EXPECT_EQ(p.found.BytesPerCluster, p.found.SectorsPerCluster * 512);
        EXPECT_LE(p.found.BytesPerCluster, 2u * 1024 * 1024);
    }
}

TEST(BootSector, UnreadableBootSectorFails) {
    FaultyImage img(PatternImage(8));
    img.Faults().AddBadRange(0, 512);
    std::size_t from = Log().LineCount();
    EXPECT_EQ(img.volume.ParseBootSector(), E_FAIL_RESULT);
    EXPECT_EQ(LinesWith("Can't read boot sector on [drive.dsk]", from), 1u);
}

TEST(BootSector, ImageSizeGivesSectors) {
    vmtest::TempDir dir;
    auto sector = FatBootSector("FAT12   ", 512, 1, 2880, 0);
    sector.resize(1474560);
    vmtest::WriteFile(dir.File("floppy.dsk"), sector);
    CVolume v(VK_IMAGE);
    v.DevicePath = dir.File("floppy.dsk");
    ASSERT_EQ(v.ParseBootSector(), 1);
    EXPECT_EQ(v.TotalSectors, 2880u);
    EXPECT_EQ(v.GetDisplayName(), "floppy.dsk");
}

TEST(FileSystem, DetectTypeFirstMatchWins) {
    std::vector<std::uint8_t> b(512, 0);
    std::memcpy(&b[3], "NTFS    ", 8);
    EXPECT_EQ(CFileSystem::DetectType(b.data()), 7u);
    std::memcpy(&b[54], "FAT16   ", 8);
    EXPECT_EQ(CFileSystem::DetectType(b.data()), 4u);
    std::vector<std::uint8_t> none(512, 0);
    EXPECT_EQ(CFileSystem::DetectType(none.data()), 0u);
    EXPECT_STREQ(CFileSystem::TypeNameOf(12), "FAT32");
    EXPECT_STREQ(CFileSystem::TypeNameOf(128), "NTFS");
    EXPECT_STREQ(CFileSystem::TypeNameOf(99), "Unknown");
}

// A parameter block that describes a volume decides FAT12, FAT16 or FAT32 by its count of
// clusters; the label text counts only where the block describes none.
TEST(FileSystem, FatTypeComesFromTheCountOfClusters) {
    struct Case {
        const char* what;
        const char* label;     // at 54 (FAT12/16 form) or 82 (FAT32 form)
        std::uint8_t spc;
        std::uint32_t total;   // sectors
        std::uint16_t fat16Size;
        std::uint32_t fat32Size;
        std::uint16_t rootEntries;
        std::uint8_t media;
        std::uint32_t want;
    } cases[] = {
        {"FAT16 labelled as old formatters did", "FAT     ", 4, 32768, 32, 0, 512, 0xF8, 4},
        {"FAT16 without label text", "        ", 4, 32768, 32, 0, 512, 0xF8, 4},
        {"FAT12 floppy", "FAT     ", 1, 2880, 9, 0, 224, 0xF0, 1},
        {"4084 clusters are FAT12", "FAT16   ", 1, 1 + 2 * 12 + 32 + 4084, 12, 0, 512, 0xF8, 1},
        {"4085 clusters are FAT16", "FAT12   ", 1, 1 + 2 * 12 + 32 + 4085, 12, 0, 512, 0xF8, 4},
        {"65524 clusters are FAT16", "FAT32   ", 1, 1 + 2 * 256 + 32 + 65524, 256, 0, 512, 0xF8, 4},
        {"FAT32 form", "FAT32   ", 8, 204800, 0, 200, 0, 0xF8, 11},
        {"FAT32 form below 65525 clusters", "        ", 1, 16384, 0, 128, 0, 0xF8, 11},
        {"65525 clusters with a 16-bit FAT size: the label decides", "FAT16   ", 1, 1 + 2 * 256 + 32 + 65525, 256, 0,
         512, 0xF8, 4},
        {"no media byte: the label decides", "FAT12   ", 4, 32768, 32, 0, 512, 0x00, 1},
        {"no media byte, no label", "FAT     ", 4, 32768, 32, 0, 512, 0x00, 0},
        {"data area past the end", "FAT     ", 4, 60, 32, 0, 512, 0xF8, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> b(512, 0);
        const bool fat32 = c.fat16Size == 0;
        b[11] = 0x00, b[12] = 0x02;  // 512-byte sectors
        b[13] = c.spc;
        b[14] = 1;                   // one reserved sector
        b[16] = 2;                   // two FATs
        b[17] = std::uint8_t(c.rootEntries), b[18] = std::uint8_t(c.rootEntries >> 8);
        if (c.total < 65536) b[19] = std::uint8_t(c.total), b[20] = std::uint8_t(c.total >> 8);
        else std::memcpy(&b[32], &c.total, 4);
        b[21] = c.media;
        b[22] = std::uint8_t(c.fat16Size), b[23] = std::uint8_t(c.fat16Size >> 8);
        std::memcpy(&b[36], &c.fat32Size, 4);
        std::memcpy(&b[fat32 ? 82 : 54], c.label, 8);
        EXPECT_EQ(CFileSystem::DetectType(b.data()), c.want) << c.what;
    }
}

TEST(BitArray, BoundsAndFind) {
    CBitArray a;
    ASSERT_TRUE(a.Create(nullptr, 13, false));
    EXPECT_EQ(a.ByteCount(), 2u);
    EXPECT_EQ(a.BitCount(), 16u);
    EXPECT_FALSE(a.Get(16));
    EXPECT_FALSE(a.Set(100, true));
    EXPECT_TRUE(a.Set(9, true));
    EXPECT_EQ(a.Find(0, true), 9);
    EXPECT_EQ(a.Find(10, true), -1);
    EXPECT_EQ(a.Find(16, false), -1);
    EXPECT_FALSE(a.Create(nullptr, 0, true));
}
