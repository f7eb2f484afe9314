#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

#include "volume/DeviceMonitor.h"
#include "volume/DriveTestSupport.h"
#include "platform/SysBlock.h"
#include "volume/LocalComputer.h"

using namespace vm;
using namespace vmtest;
using namespace std::chrono_literals;

namespace {

std::vector<std::int32_t> Kinds(CLocalComputer& c) {
    std::vector<std::int32_t> kinds;
    for (const auto& v : c.Volumes.Snapshot()) kinds.push_back(v->VolumeKind);
    return kinds;
}

std::shared_ptr<CVolume> ByPath(CLocalComputer& c, const std::string& path) {
    for (const auto& v : c.Volumes.Snapshot())
        if (v->DevicePath == path) return v;
    return nullptr;
}

}  // namespace

TEST(DriveList, ListsThisMachinesDisksAndPartitions) {
    const std::vector<SysDisk> disks = ListDisks();
    auto vda = std::find_if(disks.begin(), disks.end(), [](const SysDisk& d) { return d.Name == "vda"; });
    if (vda == disks.end()) GTEST_SKIP() << "no virtio disk on this machine";
    int error = 0;
    const bool readable = CDeviceFile::Open("/dev/vda", &error) != nullptr;  // sandboxes may refuse
    CLocalComputer c;
    c.Volumes.Enumerate(false);

    std::size_t partitions = 0;
    for (const auto& d : disks) partitions += d.Partitions.size();
    ASSERT_EQ(c.Volumes.GetCount(), std::int32_t(disks.size() + partitions));
    auto disk = ByPath(c, "/dev/vda");
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->VolumeKind, VK_PHYSICAL);
    EXPECT_EQ(disk->DeviceNumber, std::int32_t(vda - disks.begin()));
    if (readable) {
        EXPECT_EQ(disk->TotalBytes, vda->SizeBytes);
    }
    for (const auto& p : vda->Partitions) {
        auto part = ByPath(c, "/dev/" + p.Name);
        ASSERT_TRUE(part) << p.Name;
        EXPECT_EQ(part->VolumeKind, VK_LOGICAL);
        EXPECT_EQ(part->GetParent(), disk.get());
        EXPECT_EQ(part->DeviceNumber, disk->DeviceNumber);
        EXPECT_NE(std::find(disk->Children.begin(), disk->Children.end(), part.get()), disk->Children.end());
        if (readable) {
            EXPECT_EQ(part->TotalBytes, p.SizeBytes);
            EXPECT_EQ(part->State, VS_READY);
        }
    }
    // Disks come before partitions.
    auto kinds = Kinds(c);
    EXPECT_TRUE(std::is_sorted(kinds.begin(), kinds.end()));
}

TEST(DriveList, IdsImagesAndFoundVolumesAcrossRescans) {
    FakeMachine m;
    m.AddDisk("fakea", 64, {"fakea1", "fakea2"});
    m.AddDisk("fakeb", 64);
    TempDir dir;
    WriteFile(dir.File("saved.dsk"), std::vector<std::uint8_t>(2880 * 512, 0));
    CLocalComputer c;
    c.Volumes.SetDiskLister(m.Lister());
    c.Volumes.SetDeviceOpener(m.Opener());
    c.Volumes.Enumerate(false);

    // Disks first, in name order, then their partitions; ids in creation order.
    std::vector<std::pair<std::string, std::int32_t>> want = {
        {"/dev/fakea", -31}, {"/dev/fakeb", -32}, {"/dev/fakea1", -33}, {"/dev/fakea2", -34}};
    auto items = c.Volumes.Snapshot();
    ASSERT_EQ(items.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(items[i]->DevicePath, want[i].first);
        EXPECT_EQ(items[i]->RootItem.SignedId(), want[i].second);
    }
    EXPECT_EQ(items[0]->Description, "Drive 0");
    EXPECT_EQ(items[1]->Letter, '1');
    EXPECT_EQ(items[2]->GetParent(), items[0].get());
    EXPECT_EQ(items[0]->Children, (std::vector<CVolume*>{items[2].get(), items[3].get()}));
    EXPECT_EQ(items[2]->State, VS_READY);

    auto image = c.AddImage(dir.File("saved.dsk"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->RootItem.SignedId(), -35);
    EXPECT_EQ(image->TotalSectors, 2880u);
    EXPECT_EQ(image->GetDisplayName(), "saved.dsk");
    EXPECT_TRUE(std::filesystem::path(image->DevicePath).is_absolute());
    auto found = std::make_shared<CVolume>(VK_FOUND);
    found->AttachTo(image.get());
    c.Volumes.Add(found);
    std::weak_ptr<CVolume> oldDisk = items[0], oldFound = found;
    c.SelectedVolume = found.get();
    c.DisplayedVolume = items[2].get();
    items.clear();
    found.reset();

    m.AddDisk("fakec", 64);
    c.Volumes.Enumerate(false);
    items = c.Volumes.Snapshot();
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[2]->DevicePath, "/dev/fakec");
    EXPECT_EQ(items.back(), image);  // kept, after the partitions, with its id
    EXPECT_EQ(image->RootItem.SignedId(), -35);
    EXPECT_EQ(items[0]->RootItem.SignedId(), -36);  // ids are never reused
    EXPECT_TRUE(image->Children.empty());
    EXPECT_TRUE(oldFound.expired());
    EXPECT_TRUE(oldDisk.expired());
    EXPECT_EQ(c.SelectedVolume.load(), &c.ComputerNode);
    EXPECT_EQ(c.DisplayedVolume.load(), &c.ComputerNode);
    EXPECT_EQ(c.AddImage(dir.File("missing.dsk")), nullptr);
    EXPECT_EQ(c.Volumes.GetCount(), 6);
    EXPECT_EQ(c.Volumes.GetAt(6), nullptr);
    EXPECT_EQ(c.Volumes.GetAt(-1), nullptr);
}

TEST(DriveList, HangingQueryIsLeftBehindAndKeepsItsDrive) {
    FakeMachine m;
    m.AddDisk("fasta", 64, {"fasta1"});
    m.AddDisk("slowb", 64);
    CLocalComputer c;
    c.Volumes.SetDiskLister(m.Lister());
    c.Volumes.SetDeviceOpener(m.Opener("/dev/slowb", 6000ms));

    const auto start = std::chrono::steady_clock::now();
    c.Volumes.Enumerate(false);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 3900ms);
    EXPECT_LT(took, 5500ms);
    auto slow = ByPath(c, "/dev/slowb");
    ASSERT_TRUE(slow);
    EXPECT_EQ(slow->State, VS_QUERYING);
    EXPECT_EQ(ByPath(c, "/dev/fasta1")->State, VS_READY);

    // The next list no longer holds the slow disk, but its query still does.
    std::weak_ptr<CVolume> left = slow;
    slow.reset();
    m.RemoveDisk("slowb");
    c.Volumes.Enumerate(false);
    EXPECT_EQ(c.Volumes.GetCount(), 2);
    EXPECT_FALSE(left.expired());
    EXPECT_TRUE(WaitUntil([&] { return left.expired(); }, 5000ms));
}

TEST(DriveList, DriveTreeOrderAndParents) {
    FakeMachine m;
    m.AddDisk("fakea", 64, {"fakea1"});
    m.AddDisk("fakeb", 64, {"fakeb1"});
    TempDir dir;
    WriteFile(dir.File("i.dsk"), std::vector<std::uint8_t>(1024, 0));
    CLocalComputer c;
    c.Volumes.SetDiskLister(m.Lister());
    c.Volumes.SetDeviceOpener(m.Opener());
    c.Volumes.Enumerate(false);
    auto image = c.AddImage(dir.File("i.dsk"));
    auto found = std::make_shared<CVolume>(VK_FOUND);
    found->RootItem.Id = std::uint32_t(c.NextId());
    found->AttachTo(image.get());
    c.Volumes.Add(found);
    ByPath(c, "/dev/fakeb1")->DeviceNumber = -1;  // no disk known: under the computer

    struct Want {
        std::string path;  // "" for the computer and recycle-bin nodes
        std::int32_t parentId;
        int image;
    };
    const std::int32_t a = ByPath(c, "/dev/fakea")->RootItem.SignedId();
    const std::vector<Want> want = {{"", ID_COMPUTER, 12},        {"", ID_COMPUTER, 13},
                                    {"/dev/fakea", ID_COMPUTER, 14}, {"/dev/fakeb", ID_COMPUTER, 14},
                                    {"/dev/fakea1", a, 15},       {"/dev/fakeb1", ID_COMPUTER, 15},
                                    {image->DevicePath, ID_COMPUTER, 17},
                                    {image->DevicePath, image->RootItem.SignedId(), 16}};
    auto nodes = c.BuildDriveTree(RecycleBinPlacement::TopLevel);
    ASSERT_EQ(nodes.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (!want[i].path.empty()) {
            EXPECT_EQ(nodes[i].Volume->GetDevicePath(), want[i].path) << i;
        }
        EXPECT_EQ(nodes[i].ParentId, want[i].parentId) << i;
        EXPECT_EQ(nodes[i].Image, want[i].image) << i;
    }
    EXPECT_EQ(nodes.back().Volume, found.get());
    EXPECT_EQ(nodes.back().Hold, found);
    EXPECT_FALSE(nodes[0].Hold);
    EXPECT_EQ(nodes[4].Id, ByPath(c, "/dev/fakea1")->RootItem.SignedId());

    // Rebuilding gives no new ids; the recycle bin can sit under every partition instead.
    auto again = c.BuildDriveTree(RecycleBinPlacement::UnderEachLogicalDrive);
    ASSERT_EQ(again.size(), nodes.size() + 1);
    EXPECT_EQ(again[1].Id, nodes[2].Id);
    EXPECT_EQ(again[4].Volume, &c.RecycleBinNode);
    EXPECT_EQ(again[4].ParentId, nodes[4].Id);
    EXPECT_EQ(c.BuildDriveTree(RecycleBinPlacement::None).size(), nodes.size() - 1);
}

TEST(DriveList, DeviceChangesLogRescanAndNotify) {
    FakeMachine m;
    m.AddDisk("fakea", 64);
    CLocalComputer c;
    c.Volumes.SetDiskLister(m.Lister());
    c.Volumes.SetDeviceOpener(m.Opener());
    c.Volumes.Enumerate(false);
    Sink().Clear();
    LogMark mark;
    // The user looks at results of fakea and plugs in a stick to recover onto.
    auto shown = c.Volumes.Snapshot()[0];
    shown->FoundTree.Insert(&shown->RootItem, false);
    c.DisplayedVolume = shown.get();

    m.AddDisk("fakec", 64, {"fakec1"});
    c.Volumes.OnDeviceChange(DBT_DEVICEARRIVAL, {"fakec", "fakec1"});
    EXPECT_EQ(mark.Count("Volume fakec1: Medium connected!"), 1);
    EXPECT_EQ(c.Volumes.GetCount(), 3);
    EXPECT_EQ(c.Volumes.Snapshot()[0], shown);
    EXPECT_EQ(c.DisplayedVolume.load(), shown.get());
    m.RemoveDisk("fakec");
    c.Volumes.OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, {"fakec1"});
    EXPECT_EQ(mark.Count("Drive fakec1: Medium removed!"), 1);
    EXPECT_EQ(c.Volumes.GetCount(), 3);  // the entry stays until the next rescan
    c.Volumes.OnDeviceChange(0x0007, {"fakea"});
    auto posts = Sink().EntriesWithCode(msg::DrivesChanged);
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].wParam, DBT_DEVICEARRIVAL);
    EXPECT_EQ(posts[1].wParam, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_FALSE(posts[0].sent);
    // The user's own rescan replaces every disk.
    c.Volumes.Rescan();
    EXPECT_NE(c.Volumes.Snapshot()[0], shown);
    EXPECT_EQ(c.DisplayedVolume.load(), &c.ComputerNode);
}

TEST(DeviceMonitor, ReportsWhatCameAndWent) {
    std::set<std::string> present = {"sda", "sda1"};
    std::vector<std::string> arrived, removed;
    CDeviceMonitor monitor(
        [&](const std::vector<std::string>& a, const std::vector<std::string>& r) {
            arrived = a;
            removed = r;
        },
        [&] { return present; });
    present = {"sda", "sda1"};
    monitor.Compare();  // first look: everything is new
    present = {"sda", "sdb", "sdb1"};
    monitor.Compare();
    EXPECT_EQ(arrived, (std::vector<std::string>{"sdb", "sdb1"}));
    EXPECT_EQ(removed, (std::vector<std::string>{"sda1"}));

    // Kernel datagrams: "ACTION@DEVPATH" then KEY=VALUE fields, each ending with a NUL.
    auto datagram = [](std::initializer_list<const char*> fields) {
        std::string d;
        for (const char* f : fields) d.append(f).push_back('\0');
        return d;
    };
    struct Case {
        std::string datagram;
        bool block;
    } cases[] = {
        {datagram({"add@/devices/virtual/block/loop0/loop0p1", "ACTION=add", "SUBSYSTEM=block", "DEVNAME=loop0p1"}), true},
        {datagram({"change@/devices/virtual/net/lo", "ACTION=change", "SUBSYSTEM=net"}), false},
        {datagram({"libudev", "SUBSYSTEM=block"}), false},
        {datagram({"add@/x", "SUBSYSTEM=blockx"}), false},
        {std::string("add@/x\0SUBSYSTEM=bl", 19), false},
    };
    for (const auto& k : cases) EXPECT_EQ(CDeviceMonitor::IsBlockEvent(k.datagram.data(), k.datagram.size()), k.block);
}

namespace {

// A loop device over an image file, detached (with its partitions) by the destructor.
class LoopDevice {
public:
    explicit LoopDevice(const std::string& image) {
        std::string out;
        if (RunCommand("losetup -f --show -P " + image + " 2>/dev/null", &out) != 0) return;
        Path = out.substr(0, out.find('\n'));
        Name = Path.substr(Path.rfind('/') + 1);
        // Some kernels leave the partition scan to user space.
        if (!WaitUntil([&] { return std::filesystem::exists("/sys/block/" + Name + "/" + Name + "p1"); }, 1000ms))
            RunCommand("partx -a " + Path + " 2>/dev/null");
    }
    ~LoopDevice() { Detach(); }
    void Detach() {
        if (Path.empty()) return;
        RunCommand("partx -d " + Path + " >/dev/null 2>&1; losetup -d " + Path);
        Path.clear();
    }
    std::string Path, Name;
};

}  // namespace

TEST(DriveList, LoopDeviceComesAndGoesWithItsPartition) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for losetup";
    if (RunCommand("command -v losetup sfdisk mkfs.fat partx >/dev/null") != 0) GTEST_SKIP() << "tools missing";
    TempDir dir;
    const std::string image = dir.File("disk.img");
    ASSERT_EQ(RunCommand("truncate -s 8M " + image + " && printf 'label: dos\\n2048,12288,6\\n' | sfdisk -q " + image +
                         " && mkfs.fat -F 16 -s 1 -n TESTVOL --offset=2048 " + image + " 6144 >/dev/null 2>&1"),
              0);
    CLocalComputer c;
    const bool watching = c.StartDeviceMonitor();
    c.Volumes.Rescan();
    Sink().Clear();
    LogMark mark;

    LoopDevice loop(image);
    ASSERT_FALSE(loop.Path.empty());
    c.Volumes.Rescan();
    auto disk = ByPath(c, loop.Path);
    auto part = ByPath(c, loop.Path + "p1");
    ASSERT_TRUE(disk);
    ASSERT_TRUE(part);
    EXPECT_EQ(disk->VolumeKind, VK_PHYSICAL);
    EXPECT_EQ(part->GetParent(), disk.get());
    EXPECT_EQ(part->State, VS_READY);
    EXPECT_EQ(part->TotalBytes, 12288u * 512);
    EXPECT_EQ(part->GetFileSystemName(), "FAT16");
    EXPECT_EQ(part->Label, "TESTVOL");
    if (watching) {
        EXPECT_TRUE(WaitUntil([&] { return mark.Count("Volume " + loop.Name + "p1: Medium connected!") == 1; }));
        EXPECT_TRUE(WaitUntil([&] { return !Sink().EntriesWithCode(msg::DrivesChanged).empty(); }));
    }

    const std::string name = loop.Name, path = loop.Path;
    loop.Detach();
    c.Volumes.Rescan();
    // Another test may attach a loop device of its own under the same name meanwhile: what
    // must be gone is the device backed by this image.
    const bool reused = ByPath(c, path) && [&] {
        for (const auto& d : ListDisks())
            if (d.Name == name) return d.BackingFile != image;
        return false;
    }();
    if (!reused) {
        EXPECT_FALSE(ByPath(c, path));
        EXPECT_FALSE(ByPath(c, path + "p1"));
    }
    if (watching) {
        EXPECT_TRUE(WaitUntil([&] { return mark.Count("Drive " + name + "p1: Medium removed!") == 1; }));
    }
}
