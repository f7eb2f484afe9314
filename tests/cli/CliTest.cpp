// vellumark-cli as a user runs it: its output against sleuthkit on the same images, its errors.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "support/TestSupport.h"

namespace {

// The command line keeps its settings in a configuration folder of the test's own.
struct ConfigFolder : ::testing::Environment {
    vmtest::TempDir Dir;
    void SetUp() override { setenv("VELLUMARK_CONFIG_DIR", Dir.Path().c_str(), 1); }
};
[[maybe_unused]] auto* const g_config = ::testing::AddGlobalTestEnvironment(new ConfigFolder);

std::string Cli(const std::string& args, int* status = nullptr, bool withStderr = false) {
    std::string out;
    int rc = vmtest::RunCommand(std::string(VM_CLI_PATH) + " " + args + (withStderr ? " 2>&1" : " 2>/dev/null"), &out);
    if (status) *status = rc;
    return out;
}

std::string Demo() { return std::string(VM_SOURCE_DIR) + "/data/demo.img"; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

}  // namespace

TEST(Cli, InfoDescribesTheDemoImage) {
    int rc = -1;
    auto j = nlohmann::json::parse(Cli("info --json '" + Demo() + "'", &rc));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(j["kind"], "image file");
    EXPECT_EQ(j["file_system"], "FAT12");
    EXPECT_EQ(j["label"], "VELLUMARK");
    EXPECT_EQ(j["serial_number"], "564D4B31");
    EXPECT_EQ(j["total_bytes"], 1474560);
    EXPECT_EQ(j["total_sectors"], 2880);
    std::string text = Cli("info '" + Demo() + "'");
    EXPECT_NE(text.find("File system:         FAT12"), std::string::npos) << text;
}

TEST(Cli, ErrorsSayWhyAndFail) {
    vmtest::TempDir dir;
    vmtest::WriteFile(dir.File("empty.img"), {});
    vmtest::WriteFile(dir.File("short.img"), std::vector<std::uint8_t>(100, 0));
    struct Case {
        std::string args, message;
    } cases[] = {
        {"info /nonexistent.img", "does not exist"},
        {"info '" + dir.Path() + "'", "is a folder"},
        {"info '" + dir.File("empty.img") + "'", "empty or truncated"},
        {"info '" + dir.File("short.img") + "'", "too small"},
        {"list /nonexistent.img", "does not exist"},
        {"cat '" + Demo() + "' '\\No such file.txt'", "no item"},
        {"cat '" + Demo() + "' Documents", "is a folder"},
        {"info --start 3 '" + Demo() + "'", "multiples of 512"},
    };
    for (const auto& c : cases) {
        int rc = 0;
        std::string out = Cli(c.args, &rc, true);
        EXPECT_NE(rc, 0) << c.args;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.args << ": " << out;
    }
}

TEST(Cli, ListAndCatAgreeWithSleuthkit) {
    // fls: "r/r * 239:\tDocuments/Old draft of the report.txt"
    std::string fls;
    ASSERT_EQ(vmtest::RunCommand("fls -r -p '" + Demo() + "'", &fls), 0);
    std::set<std::pair<std::string, bool>> want;
    std::map<std::string, std::string> inodeOf;
    for (const auto& line : Lines(fls)) {
        auto tab = line.find('\t');
        std::string path = line.substr(tab + 1);
        if (line[0] == 'v' || line[0] == 'V' || path.find("(Volume Label Entry)") != std::string::npos) continue;
        bool deleted = line.find(" * ") != std::string::npos;
        want.emplace("/" + path, deleted);
        std::string head = line.substr(0, tab - 1);
        inodeOf["/" + path] = head.substr(head.find_last_of(' ') + 1);
    }
    // Paths are written with "/", as sleuthkit writes them.
    auto listed = nlohmann::json::parse(Cli("list --json '" + Demo() + "'"));
    std::set<std::pair<std::string, bool>> got;
    for (const auto& item : listed) got.emplace(item["path"], item["deleted"].get<bool>());
    EXPECT_EQ(got, want);
    for (const auto& item : listed) {
        if (item["folder"] || item["deleted"]) continue;
        const std::string path = item["path"];
        std::string ours, theirs;
        vmtest::RunCommand(std::string(VM_CLI_PATH) + " cat '" + Demo() + "' '" + path + "' | sha256sum", &ours);
        vmtest::RunCommand("icat '" + Demo() + "' " + inodeOf[path] + " | sha256sum", &theirs);
        EXPECT_EQ(ours, theirs) << path;
        // The system's own form of the path names the same file.
        std::string backslashed = path;
        std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
        std::string again;
        vmtest::RunCommand(std::string(VM_CLI_PATH) + " cat '" + Demo() + "' '" + backslashed + "' | sha256sum", &again);
        EXPECT_EQ(again, theirs) << backslashed;
    }
    // Deleted items only, with the live folders that lead to them.
    std::set<std::string> deletedPaths, liveFolders;
    for (const auto& l : Lines(Cli("list --deleted '" + Demo() + "'"))) {
        const std::string path = l.substr(l.rfind('\t') + 1);
        if (l.rfind("deleted\t", 0) == 0)
            deletedPaths.insert(path);
        else if (l.rfind("live\tfolder\t", 0) == 0)
            liveFolders.insert(path);
        else
            ADD_FAILURE() << l;
    }
    EXPECT_EQ(deletedPaths.size(), 5u);
    for (const auto& folder : liveFolders) {
        bool leads = false;
        for (const auto& d : deletedPaths) leads |= d.rfind(folder + "/", 0) == 0;
        EXPECT_TRUE(leads) << folder;
    }
    for (const auto& d : deletedPaths)
        for (auto cut = d.find('/', 1); cut != std::string::npos; cut = d.find('/', cut + 1)) {
            if (!deletedPaths.count(d.substr(0, cut))) {
                EXPECT_TRUE(liveFolders.count(d.substr(0, cut))) << d;
            }
        }
}

TEST(Cli, LostFindsThePartitionsOfADisk) {
    if (!vmtest::HaveFixture("mbr_disk.img")) GTEST_SKIP() << "fixtures not made";
    auto j = nlohmann::json::parse(Cli("lost --json '" + vmtest::FixturePath("mbr_disk.img") + "'"));
    std::vector<std::pair<std::uint64_t, std::string>> got;
    for (const auto& v : j) got.emplace_back(v["offset"], v["file_system"]);
    EXPECT_EQ(got, (std::vector<std::pair<std::uint64_t, std::string>>{
                       {2048 * 512, "FAT16"}, {18432 * 512, "NTFS"}, {53248 * 512, "FAT32"}}));
}

TEST(Cli, ScanOfAVirtualDriveFindsWhatLiesInIt) {
    if (!vmtest::HaveFixture("mbr_disk.img")) GTEST_SKIP() << "fixtures not made";
    // The FAT16 partition as a byte range of the disk: its files are listed as on the partition.
    std::string whole = Cli("list '" + vmtest::FixturePath("mbr_disk.img") + "' --start 1048576 --size 8388608");
    EXPECT_FALSE(whole.empty());
    EXPECT_NE(whole.find("live\tfile"), std::string::npos) << whole;
}

TEST(Cli, RecoverWritesTheDeletedFilesAsSleuthkitReadsThem) {
    vmtest::TempDir dir;
    int rc = -1;
    auto j = nlohmann::json::parse(Cli("recover --json --deleted '" + Demo() + "' --to '" + dir.File("out") + "'", &rc));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(j["recovered"], 4);
    EXPECT_EQ(j["failed"], 0);
    // The report read the files to hash them, and left the access dates restored from the drive
    // (2020) as they were; the checks below read them again, so this comes first.
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("out/Documents/Old draft of the report.txt").c_str(), &st), 0);
    EXPECT_LT(st.st_atime, 1609459200) << "access time " << st.st_atime;
    // Every recovered file against icat of the same deleted entry.
    std::string fls;
    vmtest::RunCommand("fls -r -p -d '" + Demo() + "'", &fls);
    int compared = 0;
    for (const auto& line : Lines(fls)) {
        if (line.rfind("r/r", 0) != 0) continue;
        auto tab = line.find('\t');
        std::string inode = line.substr(6, tab - 7);
        std::string ours, theirs;
        vmtest::RunCommand("sha256sum < '" + dir.File("out/" + line.substr(tab + 1)) + "'", &ours);
        vmtest::RunCommand("icat -r '" + Demo() + "' " + inode + " | sha256sum", &theirs);
        EXPECT_EQ(ours, theirs) << line;
        ++compared;
    }
    EXPECT_EQ(compared, 4);
    const auto bytes = vmtest::ReadFile(dir.File("out/vellumark-report.tsv"));
    const auto report = Lines(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(report.size(), 5u);  // a header and one line per file
    EXPECT_EQ(report[1].rfind("recovered\t1800\t", 0), 0u) << report[1];

    // A second run never replaces what the first wrote: the files get free names.
    Cli("recover --deleted '" + Demo() + "' --to '" + dir.File("out") + "'", &rc);
    EXPECT_FALSE(vmtest::ReadFile(dir.File("out/Photos/Blurry shot (1).jpg")).empty());
}

TEST(Cli, RecoverSizesLostFilesOfUnknownSizeByTheRule) {
    // The start of an RTF document (a format that does not tell its size) at byte 8192 of a
    // 256 KiB image of zeros.
    vmtest::TempDir dir;
    std::vector<std::uint8_t> image(256 * 1024, 0);
    std::memcpy(&image[8192], "{\\rtf1", 6);
    vmtest::WriteFile(dir.File("lost.img"), image);
    struct Case {
        const char* rule;
        std::string size;
    } cases[] = {
        {"default", std::to_string(image.size() - 8192)},  // the type's 1024 KB, cut at the drive's end
        {"8", "8192"},
    };
    for (const auto& c : cases) {
        const std::string out = dir.File(std::string("out-") + c.rule);
        int rc = -1;
        Cli("recover --sectors --lost --size-rule " + std::string(c.rule) + " '" + dir.File("lost.img") + "' --to '" +
                out + "'",
            &rc);
        EXPECT_EQ(rc, 0) << c.rule;
        const auto bytes = vmtest::ReadFile(out + "/vellumark-report.tsv");
        const auto report = Lines(std::string(bytes.begin(), bytes.end()));
        ASSERT_EQ(report.size(), 2u) << c.rule;
        EXPECT_EQ(report[1].rfind("recovered\t" + c.size + "\t8192\t", 0), 0u) << c.rule << ": " << report[1];
    }
}

TEST(Cli, ImageCopiesTheDriveAndRefusesToWriteOverIt) {
    vmtest::TempDir dir;
    int rc = -1;
    Cli("image '" + Demo() + "' '" + dir.File("copy.dsk") + "'", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(vmtest::ReadFile(dir.File("copy.dsk")), vmtest::ReadFile(Demo()));
    std::string out = Cli("image '" + dir.File("copy.dsk") + "' '" + dir.File("copy.dsk") + "'", &rc, true);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(vmtest::ReadFile(dir.File("copy.dsk")), vmtest::ReadFile(Demo()));
}

// A recovery of a whole NTFS drive writes the user's files, empty ones too, and leaves the
// volume's own files ($MFT, $Extend/...) out unless they are asked for by name or --system.
TEST(Cli, WholeNtfsRecoveryWritesEmptyFilesAndLeavesSystemFilesOut) {
    if (!vmtest::HaveFixture("ntfs.img")) GTEST_SKIP() << "fixtures not made";
    const std::string image = vmtest::FixturePath("ntfs.img");
    vmtest::TempDir dir;
    int rc = -1;
    auto j = nlohmann::json::parse(Cli("recover --json '" + image + "' --to '" + dir.File("all") + "'", &rc));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(j["failed"], 0);
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("all/empty.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_NE(::stat(dir.File("all/small.txt").c_str(), &st), -1);
    EXPECT_EQ(::stat(dir.File("all/$MFT").c_str(), &st), -1);
    EXPECT_EQ(::stat(dir.File("all/$Extend").c_str(), &st), -1);

    std::string theirs, ours;
    vmtest::RunCommand("icat '" + image + "' 0 | sha256sum", &theirs);
    Cli("recover '" + image + "' --to '" + dir.File("named") + "' '/$MFT'", &rc);
    EXPECT_EQ(rc, 0);
    vmtest::RunCommand("sha256sum < '" + dir.File("named/$MFT") + "'", &ours);
    EXPECT_EQ(ours, theirs);

    j = nlohmann::json::parse(Cli("recover --json --system '" + image + "' --to '" + dir.File("sys") + "'", &rc));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(j["failed"], 0);
    EXPECT_EQ(::stat(dir.File("sys/$MFT").c_str(), &st), 0);
    EXPECT_EQ(::stat(dir.File("sys/$Extend").c_str(), &st), 0);
}

// Finds are listed as they lie on the drive, not in the text order of their names.
TEST(Cli, ScanListsFindsInOffsetOrder) {
    vmtest::TempDir dir;
    std::vector<std::uint8_t> image(512 * 1024, 0);
    for (std::size_t at : {409600u, 8192u, 40960u}) std::memcpy(&image[at], "{\\rtf1", 6);
    vmtest::WriteFile(dir.File("lost.img"), image);
    std::vector<std::string> offsets;
    for (const auto& line : Lines(Cli("scan '" + dir.File("lost.img") + "'")))
        if (line.rfind("file\t", 0) == 0) offsets.push_back(line.substr(5, line.find('\t', 5) - 5));
    EXPECT_EQ(offsets, (std::vector<std::string>{"8192", "40960", "409600"}));
}

// Without its partition table a disk's volumes are found by their boot sectors, each once:
// the NTFS volume's backup boot sector, just past the sectors it counts, is not a volume.
TEST(Cli, LostWithoutPartitionTableListsEachVolumeOnce) {
    if (!vmtest::HaveFixture("mbr_disk.img")) GTEST_SKIP() << "fixtures not made";
    vmtest::TempDir dir;
    auto disk = vmtest::ReadFile(vmtest::FixturePath("mbr_disk.img"));
    std::fill(disk.begin(), disk.begin() + 512, 0);
    vmtest::WriteFile(dir.File("wiped.img"), disk);
    auto j = nlohmann::json::parse(Cli("lost --json '" + dir.File("wiped.img") + "'"));
    std::vector<std::pair<std::uint64_t, std::string>> got;
    for (const auto& v : j) got.emplace_back(v["offset"], v["file_system"]);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::pair<std::uint64_t, std::string>>{
                       {2048 * 512, "FAT16"}, {18432 * 512, "NTFS"}, {53248 * 512, "FAT32"}}));
}
