#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "app/Notify.h"
#include "recovery/RecoveryFixtures.h"
#include "volume/VolumeImage.h"

using namespace vm;
using namespace rtest;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kSectors = 10000;

class DriveImage : public ::testing::Test {
protected:
    void SetUp() override {
        Previous = &Notifier();
        SetNotifier(&Sink);
        From = Log().LineCount();
        Job.pVolume = &Drive.Volume;
        Job.FileName = Drive.Dir.File("copy.dsk");
    }
    void TearDown() override { SetNotifier(Previous); }
    void Copy() {
        ASSERT_TRUE(CreateImage(Job));
        Job.Wait();
        EXPECT_TRUE(Job.Finished());
    }
    std::size_t Posted(std::uint32_t code) const { return Sink.EntriesWithCode(code).size(); }

    CraftedDrive Drive{kSectors * 512};
    CRecordingSink Sink;
    ImageJob Job;
    INotifySink* Previous = nullptr;
    std::size_t From = 0;
};

}  // namespace

// 10 000 sectors go in blocks of 4096, 4096 and 1808; the file loads back as the same drive.
TEST_F(DriveImage, CopiesEverySectorInBlocks) {
    Copy();
    EXPECT_EQ(Job.Outcome, IMG_COMPLETE);
    EXPECT_EQ(vmtest::ReadFile(Job.FileName), Drive.Data);
    EXPECT_EQ(Posted(msg::ImageBlockWritten), 3u);
    EXPECT_EQ(Posted(msg::ImageThreadEnded), 1u);
    EXPECT_EQ(Job.Running, 0);

    auto loaded = OpenImage(Job.FileName, -200);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->TotalSectors, kSectors);
    EXPECT_EQ(loaded->VolumeKind, VK_IMAGE);
    EXPECT_EQ(loaded->GetDisplayName(), "copy.dsk");
    EXPECT_FALSE(OpenImage(Drive.Dir.File("missing.dsk"), -201));
    EXPECT_FALSE(OpenImage(Drive.Dir.Path(), -202));  // a folder is no image
}

// An unreadable first sector of a block ends the image there unless the copy is to go on; then
// it, like a bad sector inside a block, becomes zeros and every other sector keeps its place.
TEST_F(DriveImage, UnreadableSectors) {
    struct Case {
        const char* name;
        std::uint64_t badSector, badCount;
        bool goOn;
        std::int32_t outcome;
        std::uint64_t fileBytes;
        const char* logged;
    };
    const Case cases[] = {
        {"block start, stop", 8192, 1, false, IMG_READ_FAILED, 8192 * 512, "Can't read sector: 0x2000"},
        {"block start, go on", 8192, 1, true, IMG_COMPLETE, kSectors * 512,
         "sectors 0x2000 to 0x2000 could not be read"},
        {"inside a block", 5000, 3, false, IMG_COMPLETE, kSectors * 512, "sectors 0x1388 to 0x138a could not be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CraftedDrive drive(kSectors * 512);
        drive.Faults().AddBadRange(c.badSector * 512, c.badCount * 512);
        ImageJob job;
        job.pVolume = &drive.Volume;
        job.FileName = drive.Dir.File("copy.dsk");
        job.ContinuePastErrors = c.goOn;
        const std::size_t from = Log().LineCount();
        ASSERT_TRUE(CreateImage(job));
        job.Wait();
        EXPECT_EQ(job.Outcome, c.outcome);
        std::vector<std::uint8_t> expected = drive.Data;
        expected.resize(c.fileBytes);
        if (c.fileBytes == expected.size() && c.badSector * 512 < c.fileBytes)
            std::fill_n(expected.begin() + std::ptrdiff_t(c.badSector * 512), c.badCount * 512, 0);
        EXPECT_EQ(vmtest::ReadFile(job.FileName), expected);
        EXPECT_EQ(LinesWith(c.logged, from), 1u);
    }
}

// The image never overwrites the file the drive is read from, nor follows a link.
TEST_F(DriveImage, RefusesItsOwnSourceAndLinks) {
    const std::string before = Sha256(Drive.Path);
    Job.FileName = Drive.Path;
    Copy();
    EXPECT_EQ(Job.Outcome, IMG_CREATE_FAILED);
    EXPECT_EQ(Sha256(Drive.Path), before);
    ASSERT_EQ(Posted(msg::ImageCreateFailed), 1u);
    EXPECT_EQ(Sink.EntriesWithCode(msg::ImageCreateFailed)[0].lParam, EXDEV);

    ImageJob linked;
    linked.pVolume = &Drive.Volume;
    linked.FileName = Drive.Dir.File("link.dsk");
    fs::create_symlink(Drive.Dir.File("elsewhere.dsk"), linked.FileName);
    ASSERT_TRUE(CreateImage(linked));
    linked.Wait();
    EXPECT_EQ(linked.Outcome, IMG_CREATE_FAILED);
    EXPECT_FALSE(fs::exists(Drive.Dir.File("elsewhere.dsk")));
}

// Stopping ends the copy after the block being copied; the partial file stays.
TEST_F(DriveImage, StopEndsAfterTheCurrentBlock) {
    Drive.OnRead = [this](std::uint64_t pos) {
        if (pos == 4096 * 512) Job.Stop();
    };
    Copy();
    EXPECT_EQ(Job.Outcome, IMG_STOPPED);
    EXPECT_EQ(fs::file_size(Job.FileName), 2u * 4096 * 512);
}

// A destination that takes less than it is given ends the image with the write error.
TEST_F(DriveImage, FullDestinationIsAWriteError) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
    const std::string mnt = Drive.Dir.File("mnt");
    fs::create_directories(mnt);
    ASSERT_EQ(vmtest::RunCommand("mount -t tmpfs -o size=1m tmpfs '" + mnt + "'"), 0);
    struct Unmount {
        std::string Path;
        ~Unmount() { vmtest::RunCommand("umount '" + Path + "' 2>/dev/null"); }
    } guard{mnt};
    Job.FileName = mnt + "/copy.dsk";
    Copy();
    EXPECT_EQ(Job.Outcome, IMG_WRITE_FAILED);
    EXPECT_EQ(LinesWith("Image_Create: Can't write sector: 0x0", From), 1u);
}

TEST(ImageFigures, PercentAndSpeed) {
    EXPECT_EQ(ImageSpeedKBps(8192, 2000), 2048u);
    EXPECT_EQ(ImageSpeedKBps(8192, 0), 0u);  // no time has passed yet
    EXPECT_EQ(ImageSpeedText(2048), "2 048 KB\\s");
    EXPECT_EQ(ImageSpeedText(1234567), "1 234 567 KB\\s");
    EXPECT_EQ(ImageSpeedText(512), "512 KB\\s");
    ImageJob job;
    job.Running = 1;
    job.Total = 50;  // fewer than 100 sectors
    job.Current = 25;
    EXPECT_EQ(ImagePercent(job), 50u);
    job.Total = 10000;
    job.Current = 8192;
    EXPECT_EQ(ImagePercent(job), 81u);
}

// A virtual drive reads its own range of the parent, no further.
TEST(VirtualDrive, ReadsItsRangeOfTheParent) {
    CraftedDrive parent(8 << 20);
    auto v = CreateVirtualDrive(parent.Volume, 1 << 20, 2 << 20, -300);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->VolumeKind, VK_VIRTUAL);
    EXPECT_EQ(v->TotalSectors, 4096u);
    EXPECT_EQ(v->GetDisplayName(), "Volume at: 1048576");
    std::vector<std::uint8_t> buf(1024);
    ASSERT_EQ(v->ReadSectors(buf.data(), 4095, 2), 512u);  // the range ends after one sector
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 512, parent.Data.begin() + (3 << 20) - 512));
    ASSERT_EQ(v->ReadSectors(buf.data(), 0, 1), 512u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 512, parent.Data.begin() + (1 << 20)));

    EXPECT_FALSE(CreateVirtualDrive(parent.Volume, 1000, 4096, -301));          // not on a sector
    EXPECT_FALSE(CreateVirtualDrive(parent.Volume, 1 << 20, 8 << 20, -302));    // past the end
    EXPECT_FALSE(CreateVirtualDrive(parent.Volume, 8 << 20, 512, -303));
}
