// The boot-sector reading of every fixture volume image against sleuthkit's fsstat.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/TextConvert.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

using namespace vm;

namespace {

std::map<std::string, std::string> Fsstat(const std::string& image) {
    std::string out;
    std::map<std::string, std::string> fields;
    if (vmtest::RunCommand("fsstat '" + image + "' 2>/dev/null", &out) != 0) return fields;
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

}  // namespace

TEST(Fsstat, EveryFixtureVolumeReadsAsSleuthkitSeesIt) {
    std::string dir = vmtest::FixturePath("");
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no fixture images in " << dir;
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".img") continue;
        auto fs = Fsstat(entry.path().string());
        if (!fs.count("File System Type")) continue;  // a partitioned disk: its volumes are checked elsewhere
        SCOPED_TRACE(entry.path().filename().string());
        CVolume v(VK_IMAGE);
        v.DevicePath = entry.path().string();
        ASSERT_EQ(v.ParseBootSector(), 1);
        EXPECT_EQ(v.GetFileSystemName(), fs["File System Type"]);
        EXPECT_EQ(std::to_string(v.BytesPerCluster), fs["Cluster Size"]);
        EXPECT_EQ(std::to_string(v.BytesPerSector), fs["Sector Size"]);
        if (fs.count("Volume ID")) {  // FAT
            EXPECT_EQ("0X" + SerialNumberText(v), Upper(fs["Volume ID"]));
            EXPECT_EQ(v.Label, Trim(fs["Volume Label (Boot Sector)"]));
        } else {
            EXPECT_EQ(SerialNumberText(v), Upper(fs["Volume Serial Number"]));
        }
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no volume images among the fixtures";
}
