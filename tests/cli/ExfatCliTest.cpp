// vellumark-cli on the exFAT image: what info, list and cat tell against sleuthkit, and the
// volume that lost finds on a disk without a partition table.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <map>
#include <set>
#include <sstream>

#include "support/TestSupport.h"

namespace {

std::string Cli(const std::string& args) {
    std::string out;
    vmtest::RunCommand(std::string(VM_CLI_PATH) + " " + args + " 2>/dev/null", &out);
    return out;
}

class ExfatCli : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vmtest::HaveFixture("exfat.img")) GTEST_SKIP() << "no fixture exfat.img";
        if (vmtest::RunCommand("fls -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sleuthkit";
        Image = vmtest::FixturePath("exfat.img");
    }
    std::string Image;
};

TEST_F(ExfatCli, InfoTellsExfat) {
    auto j = nlohmann::json::parse(Cli("info --json '" + Image + "'"));
    EXPECT_EQ(j["file_system"], "exFAT");
    EXPECT_EQ(j["label"], "EXFATTEST");
    EXPECT_EQ(j["serial_number"], "45584654");
    EXPECT_EQ(j["bytes_per_cluster"], 4096);
    EXPECT_EQ(j["total_sectors"], 32768);
    EXPECT_EQ(j["total_clusters"], 4096);
}

TEST_F(ExfatCli, ListAndCatAgreeWithSleuthkit) {
    std::string fls;
    ASSERT_EQ(vmtest::RunCommand("fls -r -p '" + Image + "'", &fls), 0);
    std::set<std::pair<std::string, bool>> want;
    std::map<std::string, std::string> inodeOf;
    std::istringstream lines(fls);
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t');
        const std::string path = line.substr(tab + 1);
        if (line[0] == 'v' || line[0] == 'V' || path[0] == '$' || path.find("(Volume Label Entry)") != std::string::npos)
            continue;
        const bool deleted = line.find(" * ") != std::string::npos;
        want.emplace(path, deleted);
        const std::string head = line.substr(0, tab - 1);
        if (!deleted) inodeOf[path] = head.substr(head.find_last_of(' ') + 1);
    }
    auto listed = nlohmann::json::parse(Cli("list --json '" + Image + "'"));
    std::set<std::pair<std::string, bool>> got;
    for (const auto& item : listed) {
        std::string path = item["path"];
        for (char& c : path) c = c == '\\' ? '/' : c;
        got.emplace(path.substr(1), item["deleted"].get<bool>());
    }
    EXPECT_EQ(got, want);
    int compared = 0;
    for (const auto& item : listed) {
        std::string path = item["path"];
        if (item["folder"] || item["deleted"] || (path.find("Many") != std::string::npos && path.find(" 00") == std::string::npos))
            continue;
        for (char& c : path) c = c == '\\' ? '/' : c;
        SCOPED_TRACE(path);
        std::string ours, theirs;
        vmtest::RunCommand(std::string(VM_CLI_PATH) + " cat '" + Image + "' '" + path + "' | sha256sum", &ours);
        vmtest::RunCommand("icat '" + Image + "' " + inodeOf[path.substr(1)] + " | sha256sum", &theirs);
        EXPECT_EQ(ours, theirs);
        ++compared;
    }
    EXPECT_GT(compared, 20);
}

TEST_F(ExfatCli, LostFindsTheVolumeOfADiskWithoutPartitionTable) {
    // The volume 1 MiB into a disk whose first sectors hold nothing: its backup boot region
    // 12 sectors in is part of it, not a second volume.
    vmtest::TempDir dir;
    std::vector<std::uint8_t> disk(1 << 20, 0);
    const std::vector<std::uint8_t> volume = vmtest::ReadFile(Image);
    disk.insert(disk.end(), volume.begin(), volume.end());
    disk.resize(disk.size() + (1 << 20), 0);
    vmtest::WriteFile(dir.File("disk.img"), disk);
    auto j = nlohmann::json::parse(Cli("lost --json '" + dir.File("disk.img") + "'"));
    std::vector<std::pair<std::uint64_t, std::string>> got;
    for (const auto& v : j) got.emplace_back(v["offset"], v["file_system"]);
    EXPECT_EQ(got, (std::vector<std::pair<std::uint64_t, std::string>>{{1 << 20, "exFAT"}}));
    // The found volume is listed as the image itself is.
    const std::string found = Cli("list '" + dir.File("disk.img") + "' --start 1048576 --size " + std::to_string(volume.size()));
    EXPECT_NE(found.find("Live/Kept file.txt"), std::string::npos) << found;
}

}  // namespace
