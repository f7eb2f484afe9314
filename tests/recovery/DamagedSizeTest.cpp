// Files whose size field claims more than the drive holds (copies of real FAT and NTFS images
// with one size field changed, and a lost file that runs past the drive's end): recovery writes
// what the drive holds, cuts the file there and reports it cut, never a file of zeros.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

#include "app/Notify.h"
#include "filesystem/FileSystem_NTFS.h"
#include "filesystem/FoundTree.h"
#include "platform/ByteOrder.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryFixtures.h"

using namespace vm;
using namespace rtest;
namespace fs = std::filesystem;

namespace {

// A copy of a fixture image, changed by `damage`, analysed as the driver does it.
struct DamagedImage {
    DamagedImage(const std::string& fixture, const std::function<void(std::vector<std::uint8_t>&)>& damage) {
        Bytes = vmtest::ReadFile(vmtest::FixturePath(fixture));
        damage(Bytes);
        Path = Dir.File(fixture);
        vmtest::WriteFile(Path, Bytes);
        Volume.DevicePath = Path;
        Volume.RootItem.Id = std::uint32_t(kDriveId);
        Volume.ParseBootSector();
        Volume.Progress().Running = 1;
        Volume.AnalyseFileSystem();
        Volume.Progress().Running = 0;
    }
    FoundItem* Find(const std::string& path) {
        std::int32_t parent = Volume.FoundTree.RootId;
        FoundItem* found = nullptr;
        for (std::size_t start = 0; start <= path.size();) {
            const std::size_t end = std::min(path.find('/', start), path.size());
            std::vector<FoundItem*> children;
            Volume.FoundTree.GetChildren(parent, children);
            found = nullptr;
            for (FoundItem* c : children)
                if (path.compare(start, end - start, c->NameOrEmpty()) == 0 && c->NameOrEmpty()[end - start] == 0)
                    found = c;
            if (!found) return nullptr;
            parent = found->SignedId();
            start = end + 1;
        }
        return found;
    }
    vmtest::TempDir Dir;
    std::string Path;
    std::vector<std::uint8_t> Bytes;
    CVolume Volume{VK_IMAGE};
};

std::size_t FindBytes(const std::vector<std::uint8_t>& in, const std::string& what, std::size_t align) {
    for (std::size_t at = 0; at + what.size() <= in.size(); at += align)
        if (std::memcmp(in.data() + at, what.data(), what.size()) == 0) return at;
    return std::string::npos;
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}

// The size field of a FAT directory entry with that 8.3 name.
std::function<void(std::vector<std::uint8_t>&)> FatSize(const std::string& name11, std::uint32_t size) {
    return [=](std::vector<std::uint8_t>& b) {
        const std::size_t entry = FindBytes(b, name11, 32);
        ASSERT_NE(entry, std::string::npos) << name11;
        Put32(b, entry + 28, size);
    };
}

// The real size of the unnamed non-resident $DATA in the MFT record whose $FILE_NAME holds
// `name` (the first such record of the image).
std::function<void(std::vector<std::uint8_t>&)> NtfsSize(const std::string& name, std::uint64_t size) {
    return [=](std::vector<std::uint8_t>& b) {
        std::string utf16;
        for (char c : name) utf16 += std::string{c, '\0'};
        for (std::size_t record = 0; record + 1024 <= b.size(); record += 1024) {
            if (Le32(&b[record]) != kMftSignature ||
                std::search(b.begin() + std::ptrdiff_t(record), b.begin() + std::ptrdiff_t(record + 1024), utf16.begin(),
                            utf16.end()) == b.begin() + std::ptrdiff_t(record + 1024))
                continue;
            for (std::size_t at = record + Le16(&b[record + 0x14]); at < record + 1024 && Le32(&b[at]) != AT_END;
                 at += std::max<std::uint32_t>(Le32(&b[at + 4]), 8)) {
                if (Le32(&b[at]) != AT_DATA || b[at + 8] != 1 || b[at + 9] != 0) continue;
                ASSERT_LE((at + 0x30) % 512 + 8, 510u);  // clear of a sector's update sequence number
                for (int i = 0; i < 8; ++i) b[at + 0x30 + i] = std::uint8_t(size >> (8 * i));
                return;
            }
        }
        FAIL() << "no record with $DATA for " << name;
    };
}

class DamagedSize : public ::testing::Test {
protected:
    void SetUp() override {
        Previous = &Notifier();
        SetNotifier(&Sink);
        Settings.RecoveryFolder = Out.Path();
        Job.SetSettings(&Settings);
    }
    void TearDown() override { SetNotifier(Previous); }
    CRecovery::Outcome Recover(CVolume& volume, FoundItem* item) {
        EXPECT_EQ(Job.BuildRecoveryList(volume.FoundTree, {item}, SelectionSource::List), 1u);
        EXPECT_TRUE(Job.StartRecovery(&volume));
        Job.Wait();
        const auto outcomes = Job.Outcomes();
        return outcomes.empty() ? CRecovery::Outcome{nullptr, "", RR_FAILED} : outcomes.back();
    }
    vmtest::TempDir Out;
    RecoverySettings Settings;
    CRecordingSink Sink;
    INotifySink* Previous = nullptr;
    CRecovery Job;
};

}  // namespace

TEST_F(DamagedSize, FileIsCutWhereTheDriveEndsItAndReportedCut) {
    struct Case {
        const char* what;
        const char* fixture;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        std::string path;
        std::uint64_t claimed, intact;  // bytes the size field claims; of the file as it was
        bool contiguous;                // read from its first byte on, as the image holds it
    } cases[] = {
        // One cluster in its chain: the end mark ends the file.
        {"live FAT file", "fat12.img", FatSize("README  TXT", 8 << 20), "README.TXT", 8 << 20, 120, true},
        // Read contiguously from its first cluster: the data area ends it.
        {"deleted FAT file", "fat16.img", FatSize("\xE5" "ELETED TXT", 64 << 20), "Live/_ELETED.TXT", 64 << 20, 200,
         true},
        // Its runs map 74 clusters.
        {"NTFS file", "ntfs.img", NtfsSize("large.bin", 64 << 20), "large.bin", 64 << 20, 300000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!vmtest::HaveFixture(c.fixture)) GTEST_SKIP() << "no fixture " << c.fixture;
        DamagedImage img(c.fixture, c.damage);
        FoundItem* item = img.Find(c.path);
        ASSERT_NE(item, nullptr) << c.path;
        ASSERT_EQ(item->Size, c.claimed);  // listed as the drive says
        const CRecovery::Outcome o = Recover(img.Volume, item);
        EXPECT_EQ(o.Result, RR_INCOMPLETE);
        ASSERT_FALSE(o.Target.empty());
        const std::vector<std::uint8_t> got = vmtest::ReadFile(o.Target);
        EXPECT_EQ(got.size() + o.CutBytes, c.claimed);
        EXPECT_GE(got.size(), c.intact);
        EXPECT_LE(got.size(), img.Bytes.size() - item->DataOffset);
        if (c.contiguous) {
            EXPECT_TRUE(std::equal(got.begin(), got.end(), img.Bytes.begin() + std::ptrdiff_t(item->DataOffset)));
        } else {
            EXPECT_LT(got.size(), c.intact + img.Volume.BytesPerCluster);  // its last cluster's slack at most
            std::string before;  // the file as sleuthkit reads it from the intact image
            ASSERT_EQ(vmtest::RunCommand("icat '" + vmtest::FixturePath(c.fixture) + "' " + std::to_string(item->Id),
                                         &before), 0);
            EXPECT_EQ(std::string(got.begin(), got.begin() + std::ptrdiff_t(c.intact)), before);
        }
        EXPECT_EQ(Job.Count(RR_INCOMPLETE), 1u);
        EXPECT_EQ(Job.Count(RR_DONE), 0u);
    }
}

// A lost file whose own structure gave its size keeps it only as far as the drive reaches.
TEST_F(DamagedSize, LostFileOfExactSizeEndsWithTheDrive) {
    CraftedDrive d(1 << 20);
    d.Volume.FoundTree.RootId = 5;
    d.Volume.FoundTree.GetLostFilesItem();
    constexpr std::uint64_t kAt = (1 << 20) - 1536;
    auto* rec = new FoundItem;
    rec->Flags = FI_LOST | FI_DELETED | FI_EXACT_SIZE;
    rec->DataOffset = kAt;
    rec->Size = 10000;
    rec->ParentId = std::uint32_t(ID_LOST_FILES);
    FoundItem* item = d.Volume.FoundTree.AddLost(rec, false);  // takes the record
    ASSERT_NE(item, nullptr);
    const CRecovery::Outcome o = Recover(d.Volume, item);
    EXPECT_EQ(o.Result, RR_INCOMPLETE);
    EXPECT_EQ(o.CutBytes, 10000u - 1536);
    EXPECT_EQ(vmtest::ReadFile(o.Target), d.Bytes(kAt, 1536));
    EXPECT_EQ(item->Size, 10000u);
}

// What the drive holds in full is recovered whole, and nothing is reported cut.
TEST_F(DamagedSize, IntactFilesAreNotCut) {
    for (const char* fixture : {"fat12.img", "ntfs.img"}) {
        SCOPED_TRACE(fixture);
        if (!vmtest::HaveFixture(fixture)) GTEST_SKIP() << "no fixture " << fixture;
        DamagedImage img(fixture, [](std::vector<std::uint8_t>&) {});
        for (const char* path : {"README.TXT", "large.bin", "Frag/fragmented.bin", "Fragmented/fragmented.bin",
                                 "sparse.bin", "Live/_ELETED.TXT"}) {
            FoundItem* item = img.Find(path);
            if (!item) continue;
            SCOPED_TRACE(path);
            const CRecovery::Outcome o = Recover(img.Volume, item);
            EXPECT_EQ(o.Result, RR_DONE);
            EXPECT_EQ(o.CutBytes, 0u);
            EXPECT_EQ(fs::file_size(o.Target), item->Size);
        }
    }
}
