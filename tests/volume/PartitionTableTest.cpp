#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "support/TestSupport.h"
#include "volume/LocalComputer.h"
#include "volume/Volume.h"

using namespace vm;

namespace {

using Found = std::vector<std::tuple<std::uint64_t, std::uint64_t>>;  // start offset, size

// The found volumes that loading the image as a drive adds below it.
Found FoundVolumesOf(const std::string& image, std::vector<std::shared_ptr<CVolume>>* volumes = nullptr) {
    CLocalComputer computer;
    auto disk = computer.AddImage(image);
    Found found;
    if (!disk) return found;
    for (const auto& v : computer.Volumes.Snapshot())
        if (v->VolumeKind == VK_FOUND && v->GetParent() == disk.get()) {
            found.emplace_back(v->StartOffset, v->TotalBytes);
            if (volumes) volumes->push_back(v);
        }
    return found;
}

struct PartitionedImage {
    vmtest::TempDir dir;
    std::string path = dir.File("disk.img");

    PartitionedImage(std::uint64_t bytes, const std::string& sfdiskScript) {
        { std::ofstream(path).close(); }
        std::filesystem::resize_file(path, bytes);
        std::string cmd = "printf '" + sfdiskScript + "' | sfdisk -q '" + path + "' >/dev/null 2>&1";
        if (vmtest::RunCommand(cmd) != 0) throw std::runtime_error("sfdisk failed");
    }
    void Patch(std::uint64_t offset, std::vector<std::uint8_t> bytes) {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(offset));
        f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
};

bool HaveSfdisk() { return vmtest::RunCommand("command -v sfdisk >/dev/null") == 0; }

constexpr std::uint64_t S = 512;

}  // namespace

TEST(PartitionTable, PrimaryAndLogicalPartitions) {
    if (!HaveSfdisk()) GTEST_SKIP() << "sfdisk missing";
    PartitionedImage img(32 << 20,
                         "label: dos\\nstart=2048, size=4096, type=c\\nstart=8192, size=40960, type=5\\n"
                         "start=10240, size=4096, type=7\\nstart=16384, size=4096, type=83\\n");
    EXPECT_EQ(FoundVolumesOf(img.path), (Found{{2048 * S, 4096 * S}, {10240 * S, 4096 * S}, {16384 * S, 4096 * S}}));
}

TEST(PartitionTable, GuidPartitionTableAndItsBackup) {
    if (!HaveSfdisk()) GTEST_SKIP() << "sfdisk missing";
    PartitionedImage img(16 << 20, "label: gpt\\nstart=2048, size=4096\\nstart=8192, size=8192\\n");
    const Found want{{2048 * S, 4096 * S}, {8192 * S, 8192 * S}};
    EXPECT_EQ(FoundVolumesOf(img.path), want);
    img.Patch(512 + 24, {0xDE, 0xAD});  // the primary header fails its CRC: the backup serves
    EXPECT_EQ(FoundVolumesOf(img.path), want);
}

TEST(PartitionTable, LoopingExtendedChainEnds) {
    if (!HaveSfdisk()) GTEST_SKIP() << "sfdisk missing";
    PartitionedImage img(32 << 20, "label: dos\\nstart=8192, size=40960, type=5\\nstart=10240, size=4096, type=7\\n");
    // The logical partition's table links to itself: next table at the extended start + 0.
    img.Patch(8192 * S + 446 + 16, {0, 0, 0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0});
    EXPECT_EQ(FoundVolumesOf(img.path), (Found{{10240 * S, 4096 * S}}));
}

TEST(PartitionTable, EntriesBeyondTheDiskAreSkipped) {
    if (!HaveSfdisk()) GTEST_SKIP() << "sfdisk missing";
    PartitionedImage img(8 << 20, "label: dos\\nstart=2048, size=4096, type=c\\n");
    img.Patch(446 + 16, {0, 0, 0, 0, 0x07, 0, 0, 0, 0, 0, 0, 0x10, 0, 0x10, 0, 0});
    EXPECT_EQ(FoundVolumesOf(img.path), (Found{{2048 * S, 4096 * S}}));
}

// The fixture disks against sleuthkit's mmls: every data partition becomes a found volume of
// the partition's size, whose file system is recognised.
TEST(PartitionTable, FixtureDisksMatchMmls) {
    for (const char* name : {"mbr_disk", "gpt_disk"}) {
        SCOPED_TRACE(name);
        if (!vmtest::HaveFixture(std::string(name) + ".img")) GTEST_SKIP() << "fixtures not made";
        auto mmls = vmtest::ReadFile(vmtest::FixturePath(std::string(name) + ".expect/mmls.txt"));
        std::istringstream in(std::string(mmls.begin(), mmls.end()));
        std::string line;
        Found want;
        const std::regex row(R"(^\d+:\s+\d+:?\d*\s+(\d+)\s+\d+\s+(\d+)\s+.*)");
        std::smatch m;
        while (std::getline(in, line))
            if (std::regex_match(line, m, row)) want.emplace_back(std::stoull(m[1]) * S, std::stoull(m[2]) * S);
        ASSERT_FALSE(want.empty());
        std::vector<std::shared_ptr<CVolume>> volumes;
        EXPECT_EQ(FoundVolumesOf(vmtest::FixturePath(std::string(name) + ".img"), &volumes), want);
        for (const auto& v : volumes) EXPECT_NE(v->GetFileSystemFamily(), 2) << v->GetDisplayName();
    }
}
