#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <atomic>

#include "SizeFixtures.h"
#include "app/Format.h"
#include "app/Log.h"
#include "app/SettingsBlock.h"
#include "platform/FaultyReader.h"
#include "platform/MemoryReader.h"
#include "filesystem/FoundTree.h"
#include "signatures/FileTypeCatalogue.h"
#include "signatures/Searcher.h"
#include "volume/ProgressBlock.h"
#include "volume/Volume.h"

using namespace vm;

namespace {

const FileTypeCatalogue& Catalogue() {
    static FileTypeCatalogue* c = [] {
        auto* cat = new FileTypeCatalogue();
        cat->BuildDefaultGroups();
        cat->BuildDefaultTypes();
        return cat;
    }();
    return *c;
}

struct Find {
    std::uint64_t Offset;
    int Type;
    std::uint64_t Size;
    bool operator==(const Find&) const = default;
    bool operator<(const Find& o) const { return std::tie(Offset, Type) < std::tie(o.Offset, o.Type); }
};

// A drive of random filler (that matches no signature: every byte is 0x5A) with bytes planted.
struct SearchDrive {
    std::vector<std::uint8_t> Bytes;
    std::shared_ptr<CFaultyReader> Faults;
    CVolume Volume{VK_IMAGE};
    ProgressBlock Progress;
    std::mutex M;
    std::vector<Find> Finds;
    CFoundTree* Tree = nullptr;  // also files every find here

    SearchDrive(std::size_t bytes, std::uint32_t bytesPerCluster) : Bytes(bytes, 0x5A) {
        Volume.SectorsPerCluster = bytesPerCluster / 512;
        Volume.BytesPerCluster = bytesPerCluster;
        Volume.TotalSectors = bytes / 512;
        Volume.TotalClusters = bytes / bytesPerCluster;
        Volume.DevicePath = "search.dsk";
    }
    void Plant(std::uint64_t at, std::string_view data) { std::memcpy(&Bytes[at], data.data(), data.size()); }
    std::vector<Find> Run(SearchOptions options) {
        auto reader = std::make_shared<CMemoryReader>(Bytes);
        Faults = Faults ? Faults : std::make_shared<CFaultyReader>(reader);
        auto faults = Faults;
        Volume.SetDeviceOpener([faults](const std::string&, int*) { return faults; });
        Progress.Running = 1;
        CSearcher searcher(Volume, Progress, Catalogue(), [this](std::unique_ptr<FoundItem> item) {
            std::lock_guard<std::mutex> g(M);
            Finds.push_back({item->DataOffset, item->FileType, item->Size});
            EXPECT_EQ(item->Flags & (FI_LOST | FI_DELETED), FI_LOST | FI_DELETED);
            EXPECT_EQ(item->FirstCluster, item->DataOffset / Volume.BytesPerCluster);
            if (Tree) Tree->AddLost(item.release(), false);
        });
        searcher.Run(options);
        std::sort(Finds.begin(), Finds.end());
        return Finds;
    }
};

constexpr std::uint64_t kUnknown = SIZE_UNKNOWN;

}  // namespace

TEST(Searcher, FindsAtBlockEdgesAndInTheLastPartialBlock) {
    SearchDrive d(3 * 65536 + 4096 * 3, 4096);
    d.Plant(0, "%PDF-1.4");
    d.Plant(65536 - 512, "%PDF-1.5");  // last unit of the first block
    d.Plant(65536, "%PDF-1.6");        // first unit of the second block
    d.Plant(3 * 65536 + 8192, "%PDF-1.7");  // in the last, partial block
    auto finds = d.Run({2, 65536, false});
    EXPECT_EQ(finds, (std::vector<Find>{{0, 47, kUnknown}, {65536 - 512, 47, kUnknown}, {65536, 47, kUnknown},
                                        {3 * 65536 + 8192, 47, kUnknown}}));
    EXPECT_EQ(d.Progress.Current.load(), d.Progress.Total.load());
}

TEST(Searcher, TypeSpecificSizesAndOneFindPerMatchingType) {
    SearchDrive d(1 << 20, 4096);
    const vmtest::Bytes bmp = vmtest::MakeBmp(100, 100, 24);
    d.Plant(8192, std::string(bmp.begin(), bmp.end()));
    // An AVI whose first chunk parses but whose size cannot be confirmed: the type's own default.
    d.Plant(16384, std::string("RIFF\xE8\x03\x00\x00" "AVI LIST\x04\x00\x00\x00" "hdrl", 24));
    d.Plant(32768, std::string("II*\0", 4));
    auto finds = d.Run({1, 2097152, false});
    std::vector<Find> at8192, at16384, at32768;
    for (auto& f : finds) (f.Offset == 8192 ? at8192 : f.Offset == 16384 ? at16384 : at32768).push_back(f);
    EXPECT_EQ(at8192, (std::vector<Find>{{8192, 525, bmp.size()}}));
    EXPECT_EQ(at16384, (std::vector<Find>{{16384, 524, 3048}}));
    std::vector<int> tiffTypes;
    for (auto& f : at32768) tiffTypes.push_back(f.Type);
    std::sort(tiffTypes.begin(), tiffTypes.end());
    EXPECT_EQ(tiffTypes, (std::vector<int>{87, 114, 116, 118}));  // TIFF and the camera formats
}

TEST(Searcher, OverlappingBlocksTestTheOverlapTwice) {
    SearchDrive d(64 * 1024, 4096);
    d.Plant(4096, "%PDF-1.4");  // inside the 1,024-byte overlap of the first two blocks
    auto finds = d.Run({1, 5120, false});
    EXPECT_EQ(finds, (std::vector<Find>{{4096, 47, kUnknown}, {4096, 47, kUnknown}}));
}

TEST(Searcher, UnreadableBlockIsSkippedAndTheSearchGoesOn) {
    SearchDrive d(8 * 65536, 4096);
    d.Plant(65536 * 1 + 1024, "%PDF-1.4");  // readable unit of a block with a bad sector
    d.Plant(65536 * 5, "%PDF-1.4");         // after a block that cannot be read at all
    auto reader = std::make_shared<CMemoryReader>(d.Bytes);
    d.Faults = std::make_shared<CFaultyReader>(reader);
    d.Faults->AddBadRange(65536 + 512, 512);
    d.Faults->AddBadRange(65536 * 3, 65536);
    std::size_t from = Log().LineCount();
    auto finds = d.Run({1, 65536, false});
    EXPECT_EQ(finds, (std::vector<Find>{{65536 + 1024, 47, kUnknown}, {65536 * 5, 47, kUnknown}}));
    bool skipped = false;
    for (std::size_t i = from; i < Log().LineCount(); ++i)
        skipped |= Log().Line(i).find("nothing of clusters 48 to 63 could be read") != std::string::npos;
    EXPECT_TRUE(skipped);
}

TEST(Searcher, LostDriveSearchKeepsOnlyBootSectors) {
    SearchDrive d(1 << 20, 512);
    std::string fat16(512, '\0');
    fat16[0] = char(0xEB);
    fat16[2] = char(0x90);
    std::memcpy(&fat16[54], "FAT16   ", 8);
    fat16[510] = 0x55;
    fat16[511] = char(0xAA);
    d.Plant(4096, fat16);
    d.Plant(8192, "%PDF-1.4");
    auto finds = d.Run({1, 2097152, true});
    ASSERT_EQ(finds.size(), 1u);
    EXPECT_EQ(finds[0].Offset, 4096u);
    EXPECT_EQ(finds[0].Type, 4);
}

TEST(Searcher, NoWorkerOrAStopEndsTheSearch) {
    SearchDrive none(1 << 20, 4096);
    none.Plant(0, "%PDF-1.4");
    EXPECT_TRUE(none.Run({0, 65536, false}).empty());

    SearchDrive stopped(1 << 20, 4096);
    for (std::uint64_t at = 0; at < (1 << 20); at += 4096) stopped.Plant(at, "%PDF-1.4");
    auto reader = std::make_shared<CMemoryReader>(stopped.Bytes);
    stopped.Volume.SetDeviceOpener([reader](const std::string&, int*) { return reader; });
    std::atomic<int> finds{0};
    stopped.Progress.Running = 1;
    CSearcher searcher(stopped.Volume, stopped.Progress, Catalogue(), [&](std::unique_ptr<FoundItem>) {
        if (++finds == 3) stopped.Progress.Running = 0;  // the user presses Stop
    });
    searcher.Run({2, 65536, false});
    EXPECT_LT(finds.load(), 64);  // each worker stops at its next unit
    EXPECT_EQ(stopped.Progress.Running.load(), 0);
}

// A planted JPEG gets the size its markers give, and keeps it while the tree files its thumbnail
// inside it and later finds behind it. A header whose structure fails is no find at all.
TEST(Searcher, ExactSizesComeFromTheFilesAndStay) {
    const vmtest::Bytes thumbnail = vmtest::MakeJpeg(300);
    const vmtest::Bytes jpeg = vmtest::MakeJpeg(20000, thumbnail, 512);
    SearchDrive d(1 << 20, 4096);
    CFoundTree tree;
    tree.EnableOffsetIndex(true);
    d.Tree = &tree;
    d.Plant(65536, std::string(jpeg.begin(), jpeg.end()));
    const std::uint64_t after = 65536 + (jpeg.size() + 511) / 512 * 512;
    d.Plant(after, "%PDF-1.4");
    d.Plant(after + 8192, std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10));  // a header, then filler
    const vmtest::Bytes doc = vmtest::MakeCompound();
    d.Plant(after + 16384, std::string(doc.begin(), doc.end()));
    AppSettings().SetLogFoundFiles(1);
    const std::size_t from = Log().LineCount();
    auto finds = d.Run({2, 65536, false});
    AppSettings().SetLogFoundFiles(0);
    EXPECT_EQ(finds, (std::vector<Find>{{65536, 83, jpeg.size()}, {65536 + 512, 83, thumbnail.size()},
                                        {after, 47, kUnknown}, {after + 16384, 502, doc.size()}}));
    std::size_t rejected = 0;
    for (std::size_t i = from; i < Log().LineCount(); ++i)
        rejected += Log().Line(i).find(Format("find at byte %I64d is rejected", after + 8192)) != std::string::npos;
    EXPECT_EQ(rejected, 1u);
    FoundItem* photo = tree.FindAtOffset(65536);
    ASSERT_NE(photo, nullptr);
    EXPECT_TRUE(photo->Is(FI_EXACT_SIZE));
    EXPECT_EQ(photo->Size, jpeg.size());
    EXPECT_EQ(tree.FindAtOffset(65536 + 512)->Size, thumbnail.size());
    EXPECT_EQ(tree.FindAtOffset(after)->Size, 16384u);  // the PDF ends where the document begins
    EXPECT_EQ(tree.FindAtOffset(after + 16384)->Size, doc.size());
    EXPECT_EQ(tree.FindAtOffset(after + 8192), nullptr);
}

// The lost file filed at a TIFF's position is the first type that matches it: TIFF, in both byte
// orders, with its exact size.
TEST(Searcher, TiffIsFiledAsTiffWithItsExactSize) {
    for (bool big : {false, true}) {
        const vmtest::Bytes tiff = vmtest::MakeTiff(big);
        SearchDrive d(1 << 20, 4096);
        CFoundTree tree;
        tree.EnableOffsetIndex(true);
        d.Tree = &tree;
        d.Plant(65536, std::string(tiff.begin(), tiff.end()));
        d.Plant(65536 + 8192, "%PDF-1.4");
        d.Run({1, 2097152, false});
        const FoundItem* item = tree.FindAtOffset(65536);
        ASSERT_NE(item, nullptr) << big;
        EXPECT_EQ(item->FileType, 87) << big;
        EXPECT_TRUE(item->Is(FI_EXACT_SIZE)) << big;
        EXPECT_EQ(item->Size, tiff.size()) << big;
    }
}
