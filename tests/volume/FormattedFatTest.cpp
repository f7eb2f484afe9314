// A FAT volume formatted again: its folders are gone from the root, but their clusters still
// start with "." and ".." entries, which the sector search finds and files with their contents.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/Notify.h"
#include "support/TestSupport.h"
#include "volume/AnalysisSettings.h"
#include "volume/LocalComputer.h"
#include "volume/ProgressBlock.h"

using namespace vm;

TEST(FormattedFat, SectorSearchFindsTheFoldersOfAFormattedVolume) {
    if (!vmtest::HaveFixture("fat16.img")) GTEST_SKIP() << "fixtures not made";
    vmtest::TempDir dir;
    const std::string image = dir.File("formatted.img");
    std::filesystem::copy_file(vmtest::FixturePath("fat16.img"), image);
    // A quick format: new boot sector, empty FATs and root folder, the data clusters untouched.
    ASSERT_EQ(vmtest::RunCommand("mkfs.fat -F 16 -s 4 -n FORMATTED '" + image + "' >/dev/null 2>&1"), 0);

    CRecordingSink sink;
    SetNotifier(&sink);
    SetSectorScanAfterFs(true);
    {
        CLocalComputer computer;
        auto volume = computer.AddImage(image);
        ASSERT_TRUE(volume);
        ASSERT_TRUE(computer.StartAnalysis(volume.get()));
        for (int i = 0; i < 600 && sink.EntriesWithCode(msg::AnalysisEnded).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_FALSE(sink.EntriesWithCode(msg::AnalysisEnded).empty());
        std::vector<FoundItem*> items;
        volume->FoundTree.Snapshot(items);
        bool fragmented = false;
        int many = 0;
        for (const FoundItem* item : items) {
            const std::string name = item->NameOrEmpty();
            fragmented |= name == "fragmented.bin";
            if (name.rfind("Entry number ", 0) == 0) {
                ++many;
                // The folder's own entry went with the root folder: it stands under "Lost folders".
                std::string folder;
                volume->GetItemPath(*item, folder);
                EXPECT_NE(folder.find("lost_folder_"), std::string::npos) << folder;
            }
        }
        EXPECT_TRUE(fragmented);  // Frag/ was found by its "." and ".." entries
        // Many/ lies in pieces; without the FAT only the clusters that follow its first one in
        // a row are known to be its own.
        EXPECT_GT(many, 0);
    }
    SetSectorScanAfterFs(false);
    SetNotifier(nullptr);
}
