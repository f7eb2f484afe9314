// The boot-sector reading of every fixture volume image against sleuthkit's fsstat: type,
// sizes, serial and the label as the operating system shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/TextConvert.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

using namespace vm;

namespace {

// fsstat of the image, or of the volume `start` sectors into it.
std::map<std::string, std::string> Fsstat(const std::string& image, const std::string& start = "0") {
    std::string out;
    std::map<std::string, std::string> fields;
    if (vmtest::RunCommand("fsstat -o " + start + " '" + image + "' 2>/dev/null", &out) != 0) return fields;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        auto colon = line.find(": ");
        if (colon == std::string::npos) continue;
        fields.emplace(line.substr(0, colon), line.substr(colon + 2));  // the first of a name counts
    }
    return fields;
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), ::toupper);
    return s;
}

// The volume as fsstat describes it.
void ExpectAsFsstat(CVolume& v, std::map<std::string, std::string>& fs) {
    ASSERT_EQ(v.ParseBootSector(), 1);
    EXPECT_EQ(v.GetFileSystemName(), fs["File System Type"]);
    EXPECT_EQ(std::to_string(v.BytesPerCluster), fs["Cluster Size"]);
    EXPECT_EQ(std::to_string(v.BytesPerSector), fs["Sector Size"]);
    if (fs.count("Volume ID")) {  // FAT: the root directory's label before the boot sector's
        EXPECT_EQ("0X" + SerialNumberText(v), Upper(fs["Volume ID"]));
        std::string label = Trim(fs["Volume Label (Root Directory)"]);
        if (label.empty() && Trim(fs["Volume Label (Boot Sector)"]) != "NO NAME")
            label = Trim(fs["Volume Label (Boot Sector)"]);
        EXPECT_EQ(v.Label, label);
    } else if (fs["File System Type"] == "exFAT") {
        std::string serial = Upper(fs["Volume Serial Number"]);
        serial.erase(std::remove(serial.begin(), serial.end(), '-'), serial.end());
        EXPECT_EQ(SerialNumberText(v), serial);
        EXPECT_EQ(v.Label, fs["Volume Label (from root directory)"]);
    } else {
        EXPECT_EQ(SerialNumberText(v), Upper(fs["Volume Serial Number"]));
        EXPECT_EQ(v.Label, fs["Volume Name"]);
    }
}

}  // namespace

TEST(Fsstat, EveryFixtureVolumeReadsAsSleuthkitSeesIt) {
    std::string dir = vmtest::FixturePath("");
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no fixture images in " << dir;
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".img") continue;
        const std::string image = entry.path().string();
        auto fs = Fsstat(image);
        SCOPED_TRACE(entry.path().filename().string());
        if (fs.count("File System Type")) {
            CVolume v(VK_IMAGE);
            v.DevicePath = image;
            ExpectAsFsstat(v, fs);
            ++checked;
            continue;
        }
        // A partitioned disk: each partition that sleuthkit describes, as a volume found on it.
        CVolume disk(VK_IMAGE);
        disk.DevicePath = image;
        ASSERT_EQ(disk.ParseBootSector(), 1);
        std::string mmls;
        vmtest::RunCommand("mmls '" + image + "' 2>/dev/null", &mmls);
        std::istringstream rows(mmls);
        for (std::string row; std::getline(rows, row);) {
            std::istringstream cols(row);
            std::string slot, start;
            cols >> slot >> slot >> start;
            if (start.empty() || !std::isdigit(static_cast<unsigned char>(start[0]))) continue;
            auto part = Fsstat(image, std::to_string(std::stoull(start)));
            if (!part.count("File System Type")) continue;
            SCOPED_TRACE("partition at sector " + start);
            CVolume v(VK_FOUND);
            v.AttachTo(&disk);
            v.StartOffset = std::stoull(start) * 512;
            ExpectAsFsstat(v, part);
            ++checked;
        }
    }
    if (checked == 0) GTEST_SKIP() << "no volume images among the fixtures";
}

// FAT keeps its label twice; the root directory's entry is the one the system shows, and a boot
// sector's "NO NAME" is no label.
TEST(Fsstat, FatLabelIsTheRootDirectorysBeforeTheBootSectors) {
    if (!vmtest::HaveFixture("fat16.img")) GTEST_SKIP() << "no fixture fat16.img";
    const std::vector<std::uint8_t> image = vmtest::ReadFile(vmtest::FixturePath("fat16.img"));
    const std::size_t bps = image[11] | (image[12] << 8);
    const std::size_t root = (std::size_t(image[14] | (image[15] << 8)) + image[16] * std::size_t(image[22] | (image[23] << 8))) * bps;
    std::size_t entry = 0;
    for (std::size_t at = root; at < root + 512 * 32 && !entry; at += 32)
        if ((image[at + 11] & 0x18) == 0x08 && (image[at + 11] & 0x0F) != 0x0F) entry = at;
    ASSERT_NE(entry, 0u);
    struct {
        const char* Boot;
        bool RootEntry;
        const char* Label;
    } cases[] = {
        {"BOOTCOPY   ", true, "FAT16TEST"},
        {"BOOTCOPY   ", false, "BOOTCOPY"},
        {"NO NAME    ", false, ""},
    };
    vmtest::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Boot) + (c.RootEntry ? " with" : " without") + " a root label entry");
        std::vector<std::uint8_t> bytes = image;
        std::memcpy(&bytes[43], c.Boot, 11);
        if (!c.RootEntry) bytes[entry] = 0xE5;
        const std::string path = dir.File("label.img");
        vmtest::WriteFile(path, bytes);
        CVolume v(VK_IMAGE);
        v.DevicePath = path;
        auto fs = Fsstat(path);
        // sleuthkit shows a deleted label entry as the root directory's label; the system does not.
        if (c.RootEntry) ExpectAsFsstat(v, fs);
        else ASSERT_EQ(v.ParseBootSector(), 1);
        EXPECT_EQ(v.Label, c.Label);
    }
}
