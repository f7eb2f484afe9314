#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "app/Notify.h"
#include "recovery/Destination.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryFixtures.h"
#include "volume/SameDrive.h"

using namespace vm;
using namespace rtest;
namespace fs = std::filesystem;

namespace {

// A loop device over an ext2 image file, mounted; detached and unmounted at the end.
class MountedLoop {
public:
    explicit MountedLoop(const std::string& dir) : Image(dir + "/loop.img"), Mount(dir + "/mnt") {
        fs::create_directories(Mount);
        std::string dev;
        if (vmtest::RunCommand("truncate -s 8M '" + Image + "' && mkfs.ext2 -q -F '" + Image + "' >/dev/null 2>&1") !=
                0 ||
            vmtest::RunCommand("losetup -f --show '" + Image + "'", &dev) != 0)
            return;
        Device = dev.substr(0, dev.find('\n'));
        if (vmtest::RunCommand("mount '" + Device + "' '" + Mount + "'") != 0) Mounted = false;
        else Mounted = true;
    }
    ~MountedLoop() {
        if (Mounted) vmtest::RunCommand("umount '" + Mount + "'");
        if (!Device.empty()) vmtest::RunCommand("losetup -d '" + Device + "'");
    }
    bool Ready() const { return Mounted; }

    std::string Image, Mount, Device;
    bool Mounted = false;
};

// A sysfs tree in which the loop device is a partition of a disk "loop" whose device number
// is that of the folder `other`: the disk holding a partition shares its drive.
std::string FakeSysWithDisk(const std::string& root, const std::string& partition, const std::string& other) {
    struct stat st {};
    ::stat(other.c_str(), &st);
    const fs::path devices = fs::path(root) / "devices" / "loop";
    fs::create_directories(devices / partition);
    fs::create_directories(fs::path(root) / "class" / "block");
    std::ofstream(devices / "dev") << major(st.st_dev) << ":" << minor(st.st_dev) << "\n";
    std::ofstream(devices / partition / "partition") << "1\n";
    std::ofstream(devices / partition / "dev") << "7:250\n";
    fs::create_directory_symlink("../../devices/loop", fs::path(root) / "class" / "block" / "loop");
    fs::create_directory_symlink("../../devices/loop/" + partition, fs::path(root) / "class" / "block" / partition);
    return root;
}

class CFolderSink final : public INotifySink {
public:
    std::string NewFolder;
    int Asked = 0;
    void Post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    std::intptr_t Send(std::uint32_t code, std::uintptr_t w, std::intptr_t) override {
        if (code != msg::ConfirmDestinationFolder) return 0;
        ++Asked;
        if (NewFolder.empty()) return 0;
        *reinterpret_cast<std::string*>(w) = NewFolder;
        return 1;
    }
};

}  // namespace

// For a drive read from an image file every folder will do; only the image itself is its drive.
TEST(SameDrive, ImageSourceRefusesOnlyTheImage) {
    CraftedDrive d(64 * 1024);
    EXPECT_FALSE(PathOnVolumeDrive(d.Dir.File("out"), d.Volume));
    EXPECT_TRUE(PathOnVolumeDrive(d.Path, d.Volume));
    EXPECT_EQ(CheckDestination(d.Dir.File("out"), true, &d.Volume), 1);
    EXPECT_TRUE(fs::is_directory(d.Dir.File("out")));
}

// A block device as source: its mount, anything below it and a partition's disk are its drive;
// the recovery thread asks for another folder and goes there, or gives up.
TEST(SameDrive, BlockDeviceMountIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a loop device";
    vmtest::TempDir dir;
    MountedLoop loop(dir.Path());
    if (!loop.Ready()) GTEST_SKIP() << "no loop device or ext2 here";
    CVolume disk(VK_PHYSICAL);
    disk.DevicePath = loop.Device;
    CVolume image(VK_IMAGE);  // the file behind the loop device: its mount changes the image
    image.DevicePath = loop.Image;

    struct Case {
        std::string path;
        bool onDisk;
    };
    const Case cases[] = {
        {loop.Mount, true}, {loop.Mount + "/out", true}, {loop.Mount + "/not/made/yet", true},
        {dir.File("elsewhere"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(PathOnVolumeDrive(c.path, disk), c.onDisk);
        EXPECT_EQ(PathOnVolumeDrive(c.path, image), c.onDisk);
    }
    std::string message;
    EXPECT_EQ(CheckDestination(loop.Mount + "/out", false, &disk, &message), 0);
    EXPECT_EQ(message.rfind("The distination folder is on the same drive with the source.", 0), 0u);
    EXPECT_FALSE(fs::exists(loop.Mount + "/out"));

    // The loop device as a partition: the disk that holds it is the same drive.
    const std::string sys = FakeSysWithDisk(dir.File("sys"), fs::path(loop.Device).filename().string(), dir.Path());
    EXPECT_TRUE(PathOnSourceDrive(dir.File("elsewhere"), SourceDriveOfPath(loop.Device, sys)));

    // The worker: another folder chosen by the user is used and kept in the setting.
    CraftedDrive source(64 * 1024);
    FoundItem* f = source.File(1, 0, "a.txt", 512, 100);
    CFolderSink sink;
    INotifySink* previous = &Notifier();
    SetNotifier(&sink);
    for (const std::string& chosen : {dir.File("chosen"), std::string()}) {
        SCOPED_TRACE(chosen);
        RecoverySettings settings;
        settings.RecoveryFolder = loop.Mount + "/out";
        CRecovery job;
        job.SetSettings(&settings);
        sink.NewFolder = chosen;
        ASSERT_EQ(job.BuildRecoveryList(source.Volume.FoundTree, {f}, SelectionSource::List), 1u);
        source.Volume.DevicePath = loop.Device;  // read the crafted bytes, judge as the loop disk
        source.Volume.SetDeviceOpener([&source](const std::string&, int* err) {
            return std::shared_ptr<IDeviceReader>(CDeviceFile::Open(source.Path, err));
        });
        ASSERT_TRUE(job.StartRecovery(&source.Volume));
        job.Wait();
        EXPECT_FALSE(fs::exists(loop.Mount + "/out"));
        if (!chosen.empty()) {
            EXPECT_EQ(settings.RecoveryFolder, chosen + "/");
            EXPECT_EQ(vmtest::ReadFile(chosen + "/a.txt"), source.Bytes(512, 100));
        } else {
            EXPECT_EQ(job.Count(RR_DONE), 0u);
        }
    }
    SetNotifier(previous);
    EXPECT_EQ(sink.Asked, 2);
}
