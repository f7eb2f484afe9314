#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <tuple>

#include "support/TestSupport.h"
#include "volume/FoundVolumes.h"
#include "volume/Volume.h"

using namespace vm;

namespace {

struct RecordingTarget : IFoundVolumeTarget {
    std::vector<std::tuple<std::uint64_t, std::uint64_t, int>> Found;  // offset, size, type
    void AddFoundVolume(const FoundItem& r) override { Found.emplace_back(r.DataOffset, r.Size, r.FileType); }
};

struct PartitionedImage {
    vmtest::TempDir dir;
    std::string path = dir.File("disk.img");
    RecordingTarget target;

    PartitionedImage(std::uint64_t bytes, const std::string& sfdiskScript) {
        { std::ofstream(path).close(); }
        std::filesystem::resize_file(path, bytes);
        std::string cmd = "printf '" + sfdiskScript + "' | sfdisk -q '" + path + "' >/dev/null 2>&1";
        if (vmtest::RunCommand(cmd) != 0) throw std::runtime_error("sfdisk failed");
    }
    std::vector<std::tuple<std::uint64_t, std::uint64_t, int>> Scan() {
        SetFoundVolumeTarget(&target);
        CVolume disk(VK_IMAGE);
        disk.DevicePath = path;
        disk.ParseBootSector();  // no file system at sector 0: the partition table is read
        SetFoundVolumeTarget(nullptr);
        return target.Found;
    }
    void Patch(std::uint64_t offset, std::vector<std::uint8_t> bytes) {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(offset));
        f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
};

bool HaveSfdisk() { return vmtest::RunCommand("command -v sfdisk >/dev/null") == 0; }

using Found = std::vector<std::tuple<std::uint64_t, std::uint64_t, int>>;

}  // namespace

TEST(PartitionTable, PrimaryAndLogicalPartitions) {
    if (!HaveSfdisk()) GTEST_SKIP() << "sfdisk missing";
    PartitionedImage img(32 << 20,
                         "label: dos\\nstart=2048, size=4096, type=c\\nstart=8192, size=40960, type=5\\n"
                         "start=10240, size=4096, type=7\\nstart=16384, size=4096, type=83\\n");
    EXPECT_EQ(img.Scan(), (Found{{2048 * 512, 4096 * 512, 0x0c}, {10240 * 512, 4096 * 512, 7}, {16384 * 512, 4096 * 512, 0x83}}));
}

TEST(PartitionTable, GuidPartitionTableAndItsBackup) {
    if (!HaveSfdisk()) GTEST_SKIP() << "sfdisk missing";
    PartitionedImage img(16 << 20, "label: gpt\\nstart=2048, size=4096\\nstart=8192, size=8192\\n");
    const Found want{{2048 * 512, 4096 * 512, 0}, {8192 * 512, 8192 * 512, 0}};
    EXPECT_EQ(img.Scan(), want);
    img.target.Found.clear();
    img.Patch(512 + 24, {0xDE, 0xAD});  // the primary header fails its CRC
    EXPECT_EQ(img.Scan(), want);
}

TEST(PartitionTable, LoopingExtendedChainEnds) {
    if (!HaveSfdisk()) GTEST_SKIP() << "sfdisk missing";
    PartitionedImage img(32 << 20, "label: dos\\nstart=8192, size=40960, type=5\\nstart=10240, size=4096, type=7\\n");
    // The logical partition's table links to itself: next table at extended start + 0.
    img.Patch(8192 * 512 + 446 + 16, {0, 0, 0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0});
    EXPECT_EQ(img.Scan(), (Found{{10240 * 512, 4096 * 512, 7}}));
}

TEST(PartitionTable, EntriesBeyondTheDiskAreSkipped) {
    if (!HaveSfdisk()) GTEST_SKIP() << "sfdisk missing";
    PartitionedImage img(8 << 20, "label: dos\\nstart=2048, size=4096, type=c\\n");
    // A second entry that starts past the end of the disk.
    img.Patch(446 + 16, {0, 0, 0, 0, 0x07, 0, 0, 0, 0, 0, 0, 0x10, 0, 0x10, 0, 0});
    EXPECT_EQ(img.Scan(), (Found{{2048 * 512, 4096 * 512, 0x0c}}));
}
