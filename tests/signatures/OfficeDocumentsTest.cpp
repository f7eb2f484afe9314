// Word, Excel and PowerPoint files written by LibreOffice, planted in filler (office.img, see
// tests/fixtures/README.md): the sector search finds each where it lies, types it by the names
// of its streams, sizes it by its allocation table, and the bytes it would recover are the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "signatures/FileTypeCatalogue.h"
#include "signatures/Searcher.h"
#include "support/TestSupport.h"
#include "volume/ProgressBlock.h"
#include "volume/Volume.h"

using namespace vm;

namespace {

struct Planted {
    std::string Name;
    std::uint64_t Offset = 0, Size = 0;
    std::string Sha256;
};

// office.expect/planted.tsv: a heading, then name, offset, size and SHA-256 of each file.
std::vector<Planted> ReadPlanted() {
    std::ifstream in(vmtest::FixturePath("office.expect/planted.tsv"));
    std::vector<Planted> out;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Planted p;
        if (fields >> p.Name >> p.Offset >> p.Size >> p.Sha256) out.push_back(p);
    }
    return out;
}

struct Expected {
    std::int16_t Type;
    const char* Row;        // the catalogue row's text
    const char* Extension;  // the one a recovered find is named with
};

Expected ExpectedFor(const std::string& name) {
    const std::string ext = name.substr(name.rfind('.') + 1);
    if (ext == "doc") return {502, "Microsoft Word Document", "DOC"};
    if (ext == "xls") return {501, "Microsoft Excel Document", "XLS"};
    if (ext == "ppt") return {503, "Microsoft PowerPoint Presentation", "PPT"};
    return {0, "", ""};
}

std::string Sha256Of(const std::vector<std::uint8_t>& bytes) {
    vmtest::TempDir dir;
    vmtest::WriteFile(dir.File("read.bin"), bytes);
    std::string out;
    vmtest::RunCommand("sha256sum '" + dir.File("read.bin") + "'", &out);
    return out.substr(0, 64);
}

}  // namespace

TEST(OfficeDocuments, SectorSearchTypesAndSizesLibreOfficeFiles) {
    const std::vector<Planted> planted = ReadPlanted();
    ASSERT_EQ(planted.size(), 4u) << "office.img is made by tests/fixtures/make_images.sh "
                                  << vmtest::FixturePath("");
    FileTypeCatalogue catalogue;
    catalogue.BuildDefaultGroups();
    catalogue.BuildDefaultTypes();

    CVolume volume(VK_IMAGE);
    volume.DevicePath = vmtest::FixturePath("office.img");
    const std::uint64_t bytes = std::filesystem::file_size(volume.DevicePath);
    volume.SectorsPerCluster = 8;
    volume.BytesPerCluster = 4096;
    volume.TotalSectors = bytes / 512;
    volume.TotalClusters = bytes / 4096;
    ProgressBlock progress;
    progress.Running = 1;
    std::mutex m;
    std::map<std::uint64_t, FoundItem> compound;  // finds of the compound types, by offset
    CSearcher searcher(volume, progress, catalogue, [&](std::unique_ptr<FoundItem> item) {
        std::lock_guard<std::mutex> g(m);
        if (item->FileType >= 500 && item->FileType <= 523) compound.emplace(item->DataOffset, *item);
    });
    // Blocks smaller than the larger files: their size checks read on past the block.
    searcher.Run({2, 65536, false});

    ASSERT_TRUE(volume.OpenDrive());
    for (const Planted& p : planted) {
        SCOPED_TRACE(p.Name + " at " + std::to_string(p.Offset));
        const auto it = compound.find(p.Offset);
        ASSERT_NE(it, compound.end());
        const FoundItem& item = it->second;
        const Expected want = ExpectedFor(p.Name);
        EXPECT_EQ(item.FileType, want.Type);
        const FileTypeDescriptor* row = catalogue.FindDescriptor(item.FileType);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->Description, want.Row);
        EXPECT_EQ(row->GetFirstExtension(), want.Extension);
        EXPECT_TRUE(item.Is(FI_EXACT_SIZE));
        EXPECT_EQ(item.Size, p.Size);

        std::vector<std::uint8_t> data(p.Size);
        EXPECT_EQ(volume.ReadItem(item, data.data(), 0, std::uint32_t(data.size())), p.Size);
        EXPECT_EQ(Sha256Of(data), p.Sha256);
    }
    volume.Close();
    EXPECT_EQ(compound.size(), planted.size()) << "a compound find where no file was planted";
}
