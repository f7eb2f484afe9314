// vellumark-cli as a user runs it: its output against sleuthkit on the same images, its errors.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
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

namespace {

std::string Text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The first `bytes` bytes of the demo image: an image cut short, as a failed copy leaves it.
std::string CutDemo(const vmtest::TempDir& dir, std::size_t bytes) {
    auto data = vmtest::ReadFile(Demo());
    data.resize(bytes);
    const std::string path = dir.File("cut" + std::to_string(bytes) + ".img");
    vmtest::WriteFile(path, data);
    return path;
}

// Report lines after the header, split at tabs.
std::vector<std::vector<std::string>> ReportRows(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    const auto lines = Lines(Text(vmtest::ReadFile(path)));
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> fields;
        std::stringstream in(lines[i]);
        for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
        rows.push_back(fields);
    }
    return rows;
}

}  // namespace

// Numbers, dates and files from the user that the command cannot use are refused by name, and
// no input ends the program other than with a message.
TEST(Cli, BadArgumentsAreRefusedWithTheirName) {
    vmtest::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    const std::string demo = "'" + Demo() + "'";
    struct Case {
        std::string args, message;
    } cases[] = {
        {"cat " + demo + " 9223372036854775808", "no item"},
        {"cat " + demo + " -9223372036854775809", "no item"},
        {"scan --block-size 0 " + demo, "--block-size"},
        {"scan --block-size 511 " + demo, "--block-size"},
        {"scan --block-size 513 " + demo, "--block-size"},
        {"scan --block-size 99999999999999999999 " + demo, "--block-size"},
        {"info --start -512 " + demo, "--start"},
        {"info --start 0 --size -1 " + demo, "--size"},
        {"sig new --compare-bytes -1 -o x --description x " + demo + " " + demo, "--compare-bytes"},
        {"info --start 512 --size 1474560 " + demo, "beyond the end"},
        {"list --from 1500-01-01 " + demo, "not a date"},
        {"info '" + dir.File("fifo") + "'", "neither a drive nor an image file"},
        {"list '" + dir.File("fifo") + "'", "neither a drive nor an image file"},
        {"image " + demo + " '" + dir.File("fifo") + "'", "exists"},
        {"image --force " + demo + " '" + dir.File("fifo") + "'", "could not be created"},
    };
    for (const auto& c : cases) {
        int rc = 0;
        // A FIFO must not block: the command is given ten seconds.
        std::string out;
        rc = vmtest::RunCommand("timeout 10 " + std::string(VM_CLI_PATH) + " " + c.args + " 2>&1", &out);
        EXPECT_NE(rc, 0) << c.args;
        EXPECT_NE(rc, 124) << c.args << ": hung";
        EXPECT_NE(out.find(c.message), std::string::npos) << c.args << ": " << out;
        EXPECT_EQ(out.find("terminate"), std::string::npos) << c.args << ": " << out;
    }
    // Dates past 2262 are dates like any other: nothing on the drive was made after them.
    int rc = -1;
    EXPECT_EQ(Cli("list --from 2262-04-12 " + demo, &rc), "");
    EXPECT_EQ(rc, 0);
    EXPECT_NE(Cli("list --to 2262-04-12 " + demo, &rc), "");
}

// An image holds every byte of its source, also a last partial sector; a range past the end,
// and an existing file without --force, are refused.
TEST(Cli, ImageCopiesEveryByteAndNeverReplacesAFile) {
    vmtest::TempDir dir;
    const std::string cut = CutDemo(dir, 500000);
    int rc = -1;
    Cli("image '" + cut + "' '" + dir.File("copy.dsk") + "'", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(vmtest::ReadFile(dir.File("copy.dsk")), vmtest::ReadFile(cut));

    vmtest::WriteFile(dir.File("kept.dsk"), {'k', 'e', 'p', 't'});
    ::chmod(dir.File("kept.dsk").c_str(), 0444);
    std::string out = Cli("image '" + Demo() + "' '" + dir.File("kept.dsk") + "'", &rc, true);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("exists"), std::string::npos) << out;
    EXPECT_EQ(Text(vmtest::ReadFile(dir.File("kept.dsk"))), "kept");
    ::chmod(dir.File("kept.dsk").c_str(), 0644);
    Cli("image --force '" + Demo() + "' '" + dir.File("kept.dsk") + "'", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(vmtest::ReadFile(dir.File("kept.dsk")), vmtest::ReadFile(Demo()));

    out = Cli("image --start 1048576 --size 1048576 '" + Demo() + "' '" + dir.File("range.dsk") + "'", &rc, true);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("beyond the end"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("range.dsk")));

    // The language file and signature file exports follow the same rule.
    vmtest::WriteFile(dir.File("mine.lng"), {'m', 'i', 'n', 'e'});
    out = Cli("lang export '" + dir.File("mine.lng") + "'", &rc, true);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("--force"), std::string::npos) << out;
    EXPECT_EQ(Text(vmtest::ReadFile(dir.File("mine.lng"))), "mine");
    vmtest::WriteFile(dir.File("mine.filesig"), {'m', 'i', 'n', 'e'});
    out = Cli("sig new --description Demo -o '" + dir.File("mine.filesig") + "' '" + Demo() + "' '" + Demo() + "'",
              &rc, true);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("--force"), std::string::npos) << out;
    EXPECT_EQ(Text(vmtest::ReadFile(dir.File("mine.filesig"))), "mine");
}

// A drive without a file system that list can read says so, and points to the partitions of a
// partitioned disk.
TEST(Cli, ListSaysWhenThereIsNoFileSystem) {
    vmtest::TempDir dir;
    std::vector<std::uint8_t> random(1 << 20);
    std::uint32_t x = 12345;
    for (auto& b : random) b = std::uint8_t((x = x * 1103515245 + 12345) >> 16);
    vmtest::WriteFile(dir.File("random.img"), random);
    struct Case {
        std::string args, message;
    } cases[] = {
        {"'" + dir.File("random.img") + "'", "no file system was found"},
        {"--start 512 '" + Demo() + "'", "no file system was found"},
        {"'" + CutDemo(dir, 3000) + "'", "holds only 3000"},
    };
    for (const auto& c : cases) {
        int rc = 0;
        const std::string out = Cli("list " + c.args, &rc, true);
        EXPECT_NE(rc, 0) << c.args;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.args << ": " << out;
    }
    if (!vmtest::HaveFixture("mbr_disk.img")) GTEST_SKIP() << "fixtures not made";
    int rc = 0;
    const std::string out = Cli("list '" + vmtest::FixturePath("mbr_disk.img") + "'", &rc, true);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("partitioned disk"), std::string::npos) << out;
}

// Files of an image cut short: what lies past its end is not data. No file is "recovered" unless
// it is the file of the whole image byte for byte; the others are partial, cut where the image
// ends or with the zeros counted, and the exit status says so. cat stops where the image ends.
TEST(Cli, RecoverOfACutImageReportsPartialFiles) {
    vmtest::TempDir dir;
    const std::string cut = CutDemo(dir, 60000);  // inside Harbour.jpg; the files after it are gone
    int rc = -1;
    Cli("recover '" + Demo() + "' --to '" + dir.File("whole") + "'", &rc);
    ASSERT_EQ(rc, 0);
    std::map<std::string, std::string> wholeSha;
    std::map<std::string, std::uint64_t> wholeSize;
    for (const auto& row : ReportRows(dir.File("whole/vellumark-report.tsv"))) {
        wholeSha[row.at(4)] = row.at(3);
        wholeSize[row.at(4)] = std::stoull(row.at(1));
    }

    const std::string summary = Cli("recover '" + cut + "' --to '" + dir.File("cut") + "'", &rc);
    EXPECT_EQ(rc, 2);
    EXPECT_NE(summary.find("Partial: "), std::string::npos) << summary;
    int partial = 0;
    std::string partialSource;
    for (const auto& row : ReportRows(dir.File("cut/vellumark-report.tsv"))) {
        ASSERT_EQ(row.size(), 7u);
        if (row[0] == "recovered") {
            EXPECT_EQ(row[3], wholeSha[row[4]]) << row[4];
            EXPECT_EQ(row[6], "0") << row[4];
        } else if (row[0] == "partial") {
            EXPECT_NE(row[3], wholeSha[row[4]]) << row[4];
            EXPECT_TRUE(std::stoull(row[1]) < wholeSize[row[4]] || std::stoull(row[6]) > 0) << row[4];
            ++partial;
            partialSource = row[4];
        }
    }
    EXPECT_GT(partial, 0);
    std::string bytes;
    rc = vmtest::RunCommand(std::string(VM_CLI_PATH) + " cat '" + cut + "' '" + partialSource + "' 2>/dev/null", &bytes);
    EXPECT_NE(rc, 0);

    // $LogFile lies in one run (clusters 2560 to 3071 of 4 KiB, as istat lists them) that the cut
    // at 12,000,000 crosses: the file ends with the last whole cluster the volume holds, and
    // nothing past it is written as zeros.
    if (!vmtest::HaveFixture("ntfs.img")) GTEST_SKIP() << "fixtures not made";
    auto ntfs = vmtest::ReadFile(vmtest::FixturePath("ntfs.img"));
    ntfs.resize(12000000);
    vmtest::WriteFile(dir.File("ntfs-cut.img"), ntfs);
    Cli("recover '" + dir.File("ntfs-cut.img") + "' --to '" + dir.File("ntfs") + "' '\\$LogFile'", &rc);
    EXPECT_EQ(rc, 2);
    const auto rows = ReportRows(dir.File("ntfs/vellumark-report.tsv"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "partial");
    EXPECT_EQ(rows[0][1], std::to_string(12000000 / 4096 * 4096 - 10485760));
    EXPECT_EQ(rows[0][2], "10485760");
    EXPECT_EQ(rows[0][6], "0");
}

// A destination that takes no file is refused before anything starts; one that fills up keeps a
// report of every file, the one cut short among them, and says what could not be written.
TEST(Cli, RecoverReportOnAFullOrReadOnlyDestination) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
    vmtest::TempDir dir;
    const std::string mnt = dir.File("mnt");
    std::filesystem::create_directories(mnt);
    struct Unmount {
        std::string Path;
        ~Unmount() { vmtest::RunCommand("umount '" + Path + "' 2>/dev/null"); }
    };
    {
        ASSERT_EQ(vmtest::RunCommand("mount -t tmpfs -o size=400k,ro tmpfs '" + mnt + "'"), 0);
        Unmount guard{mnt};
        int rc = 0;
        const std::string out = Cli("recover '" + Demo() + "' --to '" + mnt + "'", &rc, true);
        EXPECT_EQ(rc, 1);
        EXPECT_NE(out.find("cannot be written"), std::string::npos) << out;
        EXPECT_EQ(out.find("Recovered"), std::string::npos) << out;
    }
    {
        ASSERT_EQ(vmtest::RunCommand("mount -t tmpfs -o size=48k tmpfs '" + mnt + "'"), 0);
        Unmount guard{mnt};
        int rc = 0;
        const std::string out = Cli("recover '" + Demo() + "' --to '" + mnt + "/out'", &rc, true);
        EXPECT_EQ(rc, 2);
        const auto rows = ReportRows(mnt + "/out/vellumark-report.tsv");
        std::size_t listed = 0, shortened = 0;
        for (const auto& row : rows) {
            if (row.size() != 7) continue;
            ++listed;
            shortened += row[0] != "recovered";
        }
        // Every file is in the report, or named on standard error as a line it could not take.
        std::size_t files = 0;
        for (const auto& l : Lines(Cli("list '" + Demo() + "'"))) files += l.find("\tfile\t") != std::string::npos;
        const std::size_t unwritten = out.find("could not be written whole") == std::string::npos
                                          ? 0
                                          : Lines(out.substr(out.find("could not be written whole"))).size() - 1;
        EXPECT_EQ(listed + unwritten, files) << out;
        EXPECT_GE(shortened + unwritten, 1u) << out;
    }
}

// A long name on the drive with ESC, TAB, a right-to-left override and a line feed in it: every
// text output shows them escaped, no line or report row breaks, and the recovered file's name
// has them replaced.
TEST(Cli, NamesFromTheDriveCannotForgeOutput) {
    vmtest::TempDir dir;
    auto image = vmtest::ReadFile(Demo());
    const std::u16string before = u"Old d", after = u"O\x1b\t\u202e\n";
    const auto* from = reinterpret_cast<const std::uint8_t*>(before.data());
    auto at = std::search(image.begin(), image.end(), from, from + 10);
    ASSERT_NE(at, image.end());
    std::memcpy(&*at, after.data(), 10);
    const std::string path = dir.File("names.img");
    vmtest::WriteFile(path, image);
    const std::string shown = "O\\x1B\\x09\\u202E\\x0Araft of the report.txt";
    const std::string outputs[] = {Cli("list '" + path + "'"), Cli("find --name '*raft*' '" + path + "'")};
    for (const std::string& out : outputs) {
        EXPECT_NE(out.find(shown), std::string::npos) << out;
        EXPECT_EQ(out.find('\x1b'), std::string::npos);
        for (const auto& line : Lines(out))
            if (line.find("raft of the report") != std::string::npos) {
                EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), std::count(out.begin(), out.begin() + out.find('\n'), '\t'))
                    << line;
            }
    }
    // JSON keeps its own escaping, and gives the name as it is.
    const auto listed = nlohmann::json::parse(Cli("list --json '" + path + "'"));
    bool found = false;
    for (const auto& item : listed) found |= item["path"].get<std::string>().find("O\x1b\t\u202e\nraft") != std::string::npos;
    EXPECT_TRUE(found);

    int rc = -1;
    Cli("recover --deleted '" + path + "' --to '" + dir.File("out") + "'", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(std::filesystem::exists(dir.File("out/Documents/O____raft of the report.txt")));
    for (const auto& row : ReportRows(dir.File("out/vellumark-report.tsv"))) {
        EXPECT_EQ(row.size(), 7u);
        EXPECT_EQ(row.at(0), "recovered");
    }
}

// A file below folders whose path is longer than PATH_MAX gets its true size and SHA-256 in the
// report. The image is made with mkfs.fat and mtools.
TEST(Cli, ReportOfAFileBelowAPathLongerThanPathMax) {
    vmtest::TempDir dir;
    const std::string image = dir.File("deep.img");
    std::string script = "mkfs.fat -C '" + image + "' 1440 && p= && for i in $(seq 1 22); do "
                         "p=\"$p/$(printf %0200d $i)\" && mmd -i '" + image + "' \"::$p\" || exit 1; done && "
                         "printf hello > '" + dir.File("deep.txt") + "' && mcopy -i '" + image + "' '" +
                         dir.File("deep.txt") + "' \"::$p/deep.txt\"";
    if (vmtest::RunCommand("(" + script + ") >/dev/null 2>&1") != 0) GTEST_SKIP() << "no mkfs.fat and mtools";
    int rc = -1;
    Cli("recover '" + image + "' --to '" + dir.File("out") + "'", &rc);
    EXPECT_EQ(rc, 0);
    const auto rows = ReportRows(dir.File("out/vellumark-report.tsv"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_GT(rows[0][5].size(), std::size_t(PATH_MAX));
    EXPECT_EQ(rows[0][1], "5");
    EXPECT_EQ(rows[0][3], "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824");  // sha256 of "hello"
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
