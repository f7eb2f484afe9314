// The FAT analyser: directory entries, times and the allocation table on crafted bytes; whole
// images made by mkfs.fat and mtools against sleuthkit's fls and icat; damaged images.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "app/Log.h"
#include "filesystem/BitArray.h"
#include "filesystem/FatDirectory.h"
#include "filesystem/FatTable.h"
#include "filesystem/FileSystem_FAT.h"
#include "platform/FaultyReader.h"
#include "platform/FileTime.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

namespace {

using namespace vm;
using Entry = std::array<std::uint8_t, 32>;

// ---- crafted directory entries ------------------------------------------------------------

std::uint8_t Checksum(const std::uint8_t* name11) {
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) sum = std::uint8_t(((sum & 1) << 7) + (sum >> 1) + name11[i]);
    return sum;
}

Entry Short(const char* name11, std::uint8_t attr = 0x20, std::uint32_t cluster = 5, std::uint32_t size = 100) {
    Entry e{};
    std::memcpy(e.data(), name11, 11);
    e[11] = attr;
    e[20] = std::uint8_t(cluster >> 16);
    e[21] = std::uint8_t(cluster >> 24);
    e[26] = std::uint8_t(cluster);
    e[27] = std::uint8_t(cluster >> 8);
    for (int i = 0; i < 4; ++i) e[28 + i] = std::uint8_t(size >> (8 * i));
    return e;
}

Entry With(Entry e, int at, std::uint8_t value) {
    e[at] = value;
    return e;
}

// A long-name piece holding up to 13 ASCII characters of the name.
Entry LongPiece(std::uint8_t ordinal, const std::string& part, std::uint8_t checksum) {
    Entry e{};
    e[0] = ordinal;
    e[11] = 0x0F;
    e[13] = checksum;
    static const int kAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int i = 0; i < 13; ++i) {
        std::uint16_t u = i < int(part.size()) ? std::uint8_t(part[i]) : i == int(part.size()) ? 0 : 0xFFFF;
        e[kAt[i]] = std::uint8_t(u);
        e[kAt[i] + 1] = std::uint8_t(u >> 8);
    }
    return e;
}

std::vector<std::uint8_t> Join(const std::vector<Entry>& entries) {
    std::vector<std::uint8_t> out;
    for (const Entry& e : entries) out.insert(out.end(), e.begin(), e.end());
    return out;
}

std::vector<std::pair<std::string, bool>> Parse(const std::vector<Entry>& entries, bool fat32 = false) {
    std::vector<std::uint8_t> buf = Join(entries);
    std::vector<std::pair<std::string, bool>> got;
    ParseFatDirectory(buf.data(), buf.size(), fat32, [&](const FatDirEntry& d) {
        got.emplace_back(d.Name, d.Deleted);
        return true;
    });
    return got;
}

struct EntryCase {
    const char* what;
    std::vector<Entry> entries;
    std::vector<std::pair<std::string, bool>> expected;  // name, deleted
};

Entry Deleted(Entry e) { return With(e, 0, 0xE5); }

std::vector<EntryCase> EntryCases() {
    const Entry readme = Short("README  TXT");
    const std::uint8_t sum = Checksum(readme.data());
    const Entry deletedReadme = Deleted(readme);
    return {
        {"plain 8.3 name", {readme}, {{"README.TXT", false}}},
        {"name without extension", {Short("MAKEFILE   ")}, {{"MAKEFILE", false}}},
        {"lower-case letter in the name", {Short("ReADME  TXT")}, {}},
        {"creation tenths of 200", {With(readme, 13, 200)}, {}},
        {"creation tenths of 199", {With(readme, 13, 199)}, {{"README.TXT", false}}},
        {"attributes of 64", {Short("README  TXT", 0x40)}, {}},
        {"banned character", {Short("READ*ME TXT")}, {}},
        {"blank first byte", {Short(" EADME  TXT")}, {}},
        {"0x05 stands for a live name starting with 0xE5", {With(readme, 0, 0x05)}, {{"\xCF\x83" "EADME.TXT", false}}},
        {"0xE5 marks a deleted entry", {deletedReadme}, {{"_EADME.TXT", true}}},
        {"deleted entry keeps the long name before it",
         {Deleted(LongPiece(0x41, "Read me.txt", sum)), deletedReadme},
         {{"Read me.txt", true}}},
        {"long name of two pieces",
         {LongPiece(0x42, "name.txt", sum), LongPiece(0x01, "A much longer", sum), readme},
         {{"A much longername.txt", false}}},
        {"long name of another checksum is not taken", {LongPiece(0x41, "Other", std::uint8_t(sum + 1)), readme},
         {{"README.TXT", false}}},
        {"deleted long name before a live entry is not taken", {Deleted(LongPiece(0x41, "Old", sum)), readme},
         {{"README.TXT", false}}},
        {"long name stops at the piece marked last",
         {LongPiece(0x41, "stale", sum), LongPiece(0x41, "fresh", sum), readme},
         {{"fresh", false}}},
        {"case flags give lower-case parts", {With(readme, 12, 0x18)}, {{"readme.txt", false}}},
        {"entries after the end-of-directory mark", {Entry{}, readme}, {{"README.TXT", false}}},
        {"volume label and dot entries",
         {Short("LABEL      ", 0x08), Short(".          ", 0x10), Short("..         ", 0x10), readme},
         {{"README.TXT", false}}},
        {"long-name piece with a cluster", {With(LongPiece(0x41, "bad", sum), 26, 7), readme}, {{"README.TXT", false}}},
    };
}

TEST(FatDirectoryEntries, NamesValidityAndDeletion) {
    for (const EntryCase& c : EntryCases()) EXPECT_EQ(Parse(c.entries), c.expected) << c.what;
}

TEST(FatDirectoryEntries, FirstClusterHighWordCountsOnFat32Only) {
    std::vector<std::uint8_t> buf = Join({Short("A       TXT", 0x20, 0x00030005)});
    std::uint32_t fat16 = 0, fat32 = 0;
    ParseFatDirectory(buf.data(), buf.size(), false, [&](const FatDirEntry& d) { return fat16 = d.FirstCluster, true; });
    ParseFatDirectory(buf.data(), buf.size(), true, [&](const FatDirEntry& d) { return fat32 = d.FirstCluster, true; });
    EXPECT_EQ(fat16, 5u);
    EXPECT_EQ(fat32, 0x00030005u);
}

TEST(FatDirectoryEntries, DirectoryStartIsDotThenDotDot) {
    const Entry dot = Short(".          ", 0x10, 9, 0), dotdot = Short("..         ", 0x10, 0, 0);
    EXPECT_TRUE(FatLooksLikeDirectoryStart(Join({dot, dotdot}).data(), 64));
    EXPECT_FALSE(FatLooksLikeDirectoryStart(Join({dotdot, dot}).data(), 64));
    EXPECT_FALSE(FatLooksLikeDirectoryStart(Join({Short(".          ", 0x20), dotdot}).data(), 64));
    EXPECT_FALSE(FatLooksLikeDirectoryStart(Join({dot, dotdot}).data(), 63));
}

// ---- times ---------------------------------------------------------------------------------

class ZoneScope {
public:
    explicit ZoneScope(const char* tz) {
        if (const char* old = std::getenv("TZ")) Old = old, HadOld = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ZoneScope() {
        if (HadOld) setenv("TZ", Old.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::string Old;
    bool HadOld = false;
};

std::uint16_t DosDate(int y, int m, int d) { return std::uint16_t(((y - 1980) << 9) | (m << 5) | d); }
std::uint16_t DosTime(int h, int m, int s) { return std::uint16_t((h << 11) | (m << 5) | (s / 2)); }
std::uint64_t Utc(std::int64_t unixSeconds) { return UnixToFileTime(unixSeconds * 1000000000); }

TEST(FatTimes, LocalTimeBecomesUtcByTheZoneOfThatDate) {
    ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    struct Case {
        std::uint16_t date, time;
        std::uint8_t tenths;
        std::uint64_t expected;
    } cases[] = {
        {DosDate(2024, 7, 1), DosTime(12, 0, 0), 0, Utc(1719828000)},            // summer: UTC+2
        {DosDate(2024, 1, 15), DosTime(12, 0, 0), 0, Utc(1705316400)},           // winter: UTC+1
        {DosDate(2024, 1, 15), DosTime(12, 0, 0), 150, Utc(1705316401) + 5000000},  // 1.5 s more
        {0, 0, 0, 0},
        {DosDate(2024, 13, 1), 0, 0, 0},
        {DosDate(2024, 1, 0), 0, 0, 0},
        {DosDate(2024, 1, 1), DosTime(24, 0, 0), 0, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(FatTimeToFileTime(c.date, c.time, c.tenths), c.expected) << c.date << " " << c.time;
}

// ---- allocation table ----------------------------------------------------------------------

FatLayout SmallLayout(FatKind kind, std::uint32_t clusters) {
    FatLayout l;
    l.Kind = kind;
    l.SectorsPerCluster = 1;
    l.BytesPerCluster = 512;
    l.ClusterLimit = clusters;
    return l;
}

std::vector<std::uint8_t> PackFat12(const std::vector<std::uint32_t>& entries, std::size_t bytes) {
    std::vector<std::uint8_t> out(bytes, 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::size_t at = i * 3 / 2;
        if (i & 1) {
            out[at] = std::uint8_t((out[at] & 0x0F) | ((entries[i] & 0x0F) << 4));
            out[at + 1] = std::uint8_t(entries[i] >> 4);
        } else {
            out[at] = std::uint8_t(entries[i]);
            out[at + 1] = std::uint8_t((out[at + 1] & 0xF0) | ((entries[i] >> 8) & 0x0F));
        }
    }
    return out;
}

std::vector<std::uint8_t> PackFat16(const std::vector<std::uint32_t>& entries) {
    std::vector<std::uint8_t> out(std::max<std::size_t>(entries.size() * 2, 512), 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        out[2 * i] = std::uint8_t(entries[i]);
        out[2 * i + 1] = std::uint8_t(entries[i] >> 8);
    }
    return out;
}

TEST(FatTable, Fat12EntriesOddAndEven) {
    CFatTable t;
    t.Assign(SmallLayout(FatKind::Fat12, 6), PackFat12({0xFF0, 0xFFF, 3, 0xABC, 0x123, 0xFFF}, 512));
    EXPECT_EQ(t.Entry(2), 3u);
    EXPECT_EQ(t.Entry(3), 0xABCu);
    EXPECT_EQ(t.Entry(4), 0x123u);
    EXPECT_EQ(t.Entry(5), 0xFFFu);
    EXPECT_EQ(t.Entry(6), 0u);  // beyond the volume's clusters
}

TEST(FatTable, ChainsEndBoundedWhateverTheTableHolds) {
    struct Case {
        const char* what;
        std::vector<std::uint32_t> fat;
        std::uint32_t max;
        ChainEnd end;
        std::vector<std::uint32_t> clusters;
    } cases[] = {
        {"end mark", {0xFFF8, 0xFFFF, 3, 4, 0xFFFF}, 100, ChainEnd::EndMark, {2, 3, 4}},
        {"loop back to the second cluster", {0xFFF8, 0xFFFF, 3, 4, 3}, 100, ChainEnd::Loop, {2, 3, 4}},
        {"loop onto itself", {0xFFF8, 0xFFFF, 2}, 100, ChainEnd::Loop, {2}},
        {"link beyond the volume", {0xFFF8, 0xFFFF, 3, 0x7000}, 100, ChainEnd::OutOfRange, {2, 3}},
        {"bad-cluster mark", {0xFFF8, 0xFFFF, 0xFFF7}, 100, ChainEnd::OutOfRange, {2}},
        {"free entry (a deleted directory)", {0xFFF8, 0xFFFF, 0}, 100, ChainEnd::Free, {2}},
        {"longer than allowed", {0xFFF8, 0xFFFF, 3, 4, 5, 0xFFFF}, 2, ChainEnd::Capped, {2, 3}},
        {"exactly as long as allowed", {0xFFF8, 0xFFFF, 3, 0xFFFF}, 2, ChainEnd::EndMark, {2, 3}},
    };
    for (const Case& c : cases) {
        CFatTable t;
        t.Assign(SmallLayout(FatKind::Fat16, 16), PackFat16(c.fat));
        std::vector<std::uint32_t> got;
        EXPECT_EQ(t.Chain(2, c.max, got), c.end) << c.what;
        EXPECT_EQ(got, c.clusters) << c.what;
    }
}

TEST(FatTable, Fat12ClusterMapCoversEveryEntryTheTableHolds) {
    std::vector<std::uint32_t> entries(341, 0);
    entries[300] = 0xFFF;  // beyond 512 / 2 entries, still inside the 341 that 512 bytes hold
    CFatTable t;
    t.Assign(SmallLayout(FatKind::Fat12, 341), PackFat12(entries, 512));
    CBitArray map;
    t.MarkUsed(map);
    EXPECT_TRUE(map.Get(300));
    EXPECT_FALSE(map.Get(299));
}

// ---- whole images --------------------------------------------------------------------------

// Keeps what the analyser files, names included.
class CCapturingFat : public CFileSystem_FAT {
public:
    using CFileSystem_FAT::CFileSystem_FAT;
    std::vector<FoundItem> Items() {
        std::lock_guard<std::mutex> g(M);
        return Filed;
    }

protected:
    void FileItem(const FoundItem& rec) override {
        std::lock_guard<std::mutex> g(M);
        Names.emplace_back(rec.Name ? rec.Name : "");
        FoundItem copy = rec;
        copy.Name = Names.back().c_str();
        Filed.push_back(copy);
    }

private:
    std::mutex M;
    std::deque<std::string> Names;
    std::vector<FoundItem> Filed;
};

struct Drive {
    explicit Drive(const std::string& path, std::shared_ptr<CFaultyReader>* faults = nullptr) {
        Volume = std::make_unique<CVolume>(VK_IMAGE);
        Volume->DevicePath = path;
        if (faults)
            Volume->SetDeviceOpener([faults](const std::string& p, int* err) -> std::shared_ptr<IDeviceReader> {
                auto inner = CDeviceFile::Open(p, err);
                if (!inner) return nullptr;
                *faults = std::make_shared<CFaultyReader>(inner);
                return *faults;
            });
        Volume->ParseBootSector();
        auto fs = std::make_unique<CCapturingFat>(Volume.get());
        fs->CopyTypeFrom(*Volume->pFileSystem);
        RootId = fs->TypeCode == FS_FAT32 ? 2 : 0;
        Volume->FoundTree.RootId = std::int32_t(RootId);
        fs->RootFolder.Id = RootId;
        fs->RootFolder.ParentId = Volume->RootItem.Id;
        Fs = fs.get();
        Volume->pFileSystem = std::move(fs);
    }
    std::unique_ptr<CVolume> Volume;
    CCapturingFat* Fs = nullptr;
    std::uint32_t RootId = 0;
};

// The path of an item as its parents link it; parents are folders only.
std::string PathOf(const std::vector<FoundItem>& items, const FoundItem& item, std::uint32_t rootId) {
    std::string path = item.Name;
    std::set<std::uint32_t> seen;
    for (std::uint32_t parent = item.ParentId; parent != rootId && seen.insert(parent).second;) {
        const FoundItem* folder = nullptr;
        for (const FoundItem& f : items)
            if (f.Id == parent && f.Is(FI_FOLDER)) folder = &f;
        if (!folder) return "?/" + path;
        path = std::string(folder->Name) + "/" + path;
        parent = folder->ParentId;
    }
    return path;
}

using Listing = std::set<std::tuple<std::string, std::uint64_t, bool>>;  // path, size (files), deleted

// sleuthkit shows every non-ASCII character of an 8.3 name as '^' (a short name's code page is
// not known to it): both sides are compared with each such character and '^' as '^'.
std::string Comparable(const std::string& path) {
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = path[i];
        if (c < 0x80) out += char(c);
        else if ((c & 0xC0) != 0x80) out += '^';
    }
    return out;
}

Listing ListingOf(const std::vector<FoundItem>& items, std::uint32_t rootId) {
    Listing out;
    for (const FoundItem& i : items)
        out.emplace(Comparable(PathOf(items, i, rootId)), i.Is(FI_FOLDER) ? 0 : i.Size, i.Is(FI_DELETED));
    return out;
}

struct FlsEntry {
    std::string Path;
    std::uint64_t Size;
    bool Deleted, Folder;
    std::string Inode;
};

// `fls -r -p -l` of the image, without sleuthkit's virtual entries and without empty files
// (which own no cluster and so are not listed by the analyser).
std::vector<FlsEntry> Fls(const std::string& image) {
    std::string out;
    if (vmtest::RunCommand("fls -r -p -l '" + image + "' 2>/dev/null", &out) != 0) return {};
    std::vector<FlsEntry> list;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> cols;
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, '\t');) cols.push_back(f);
        if (cols.size() < 7 || cols[0][0] == 'v' || cols[0][0] == 'V' || cols[1][0] == '$' ||
            cols[1].find("(Volume Label Entry)") != std::string::npos)
            continue;
        FlsEntry e;
        e.Folder = cols[0][0] == 'd';
        e.Deleted = cols[0].find('*') != std::string::npos;
        e.Inode = cols[0].substr(cols[0].find_last_of(' ') + 1);
        e.Inode = e.Inode.substr(0, e.Inode.find_first_of(":("));
        e.Path = Comparable(cols[1]);
        e.Size = e.Folder ? 0 : std::stoull(cols[6]);
        if (!e.Folder && e.Size == 0) continue;
        list.push_back(e);
    }
    return list;
}

const char* const kImages[] = {"fat12.img", "fat16.img", "fat32.img", "fat16_4k.img"};

class FatImage : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!vmtest::HaveFixture(GetParam())) GTEST_SKIP() << "no fixture " << GetParam();
        Image = vmtest::FixturePath(GetParam());
    }
    std::string Image;
};

// The drive as the analysis driver sets it up: the tree holds the drive root item and the file
// system's root folder, the analyser files into the tree.
struct TreeDrive {
    explicit TreeDrive(const std::string& path) : Volume(VK_IMAGE) {
        Volume.DevicePath = path;
        Volume.ParseBootSector();
        Volume.RootItem.Id = std::uint32_t(-1);
        auto fs = std::make_unique<CFileSystem_FAT>(&Volume);
        fs->CopyTypeFrom(*Volume.pFileSystem);
        const std::int32_t rootId = fs->TypeCode == FS_FAT32 ? 2 : 0;
        Volume.FoundTree.Clear();
        Volume.FoundTree.SetDriveRootId(Volume.RootItem.SignedId());
        Volume.FoundTree.Insert(&Volume.RootItem, false);
        Volume.FoundTree.RootId = rootId;
        fs->RootFolder.Id = std::uint32_t(rootId);
        fs->RootFolder.ParentId = Volume.RootItem.Id;
        Volume.pFileSystem = std::move(fs);
        Volume.FoundTree.Insert(&Volume.pFileSystem->RootFolder, false);
    }
    ~TreeDrive() { Volume.FoundTree.Clear(); }

    // Every item below the root folder with the path the drive gives it.
    Listing List() {
        Listing out;
        std::vector<std::int32_t> folders{Volume.FoundTree.RootId};
        std::set<std::int32_t> seen(folders.begin(), folders.end());
        while (!folders.empty()) {
            std::vector<FoundItem*> children;
            Volume.FoundTree.GetChildren(folders.back(), children);
            folders.pop_back();
            for (FoundItem* c : children) {
                if (c == &Volume.pFileSystem->RootFolder) continue;
                std::string dir;
                Volume.GetItemPath(*c, dir);
                std::string path = dir.substr(1) + c->NameOrEmpty();
                std::replace(path.begin(), path.end(), '\\', '/');
                out.emplace(Comparable(path), c->Is(FI_FOLDER) ? 0 : c->Size, c->Is(FI_DELETED));
                if (c->Is(FI_FOLDER) && seen.insert(c->SignedId()).second) folders.push_back(c->SignedId());
            }
        }
        return out;
    }
    CVolume Volume;
};

TEST_P(FatImage, ListsWhatSleuthkitLists) {
    std::vector<FlsEntry> fls = Fls(Image);
    if (fls.empty()) GTEST_SKIP() << "fls gives nothing";
    Listing expected;
    for (const FlsEntry& e : fls) expected.emplace(e.Path, e.Size, e.Deleted);
    TreeDrive d(Image);
    d.Volume.pFileSystem->Analyse();
    EXPECT_EQ(d.List(), expected);
    EXPECT_EQ(std::size_t(d.Volume.FsFiles.load() + d.Volume.FsFolders.load()), expected.size());
}

// The hex view and try-open read at any offset: the bytes there, not those of the sector's start;
// for the file and for a lost file found at its first cluster (read contiguously).
void ReadsAtAnyOffset(CVolume& volume, const FoundItem& item, const std::string& expected,
                      const std::vector<std::uint8_t>& image) {
    const std::pair<std::uint64_t, std::uint32_t> reads[] = {{100, 1}, {100, 900}, {511, 2}, {513, 1024}, {1000, 1536}};
    FoundItem lost = item;
    lost.Flags |= FI_LOST;
    for (const auto& [at, length] : reads) {
        if (at + length > item.Size) continue;
        std::vector<char> got(length, '?');
        ASSERT_EQ(volume.ReadItem(item, got.data(), at, length), length) << item.Name << " at " << at;
        EXPECT_EQ(std::string(got.data(), length), expected.substr(at, length)) << item.Name << " at " << at;
        ASSERT_EQ(volume.ReadItem(lost, got.data(), at, length), length) << "lost at " << at;
        const auto from = image.begin() + std::ptrdiff_t(item.DataOffset + at);
        EXPECT_EQ(std::string(got.data(), length), std::string(from, from + length)) << "lost at " << at;
    }
}

TEST_P(FatImage, LiveFilesReadLikeIcat) {
    std::vector<FlsEntry> fls = Fls(Image);
    if (fls.empty()) GTEST_SKIP() << "fls gives nothing";
    Drive d(Image);
    d.Fs->Analyse();
    const std::vector<FoundItem> items = d.Fs->Items();
    const std::vector<std::uint8_t> image = vmtest::ReadFile(Image);
    int compared = 0;
    for (const FlsEntry& e : fls) {
        // Of the 200 small files of Many/ a few are enough.
        if (e.Folder || e.Deleted || (e.Path.rfind("Many/", 0) == 0 && e.Path.find(" 00") == std::string::npos)) continue;
        std::string expected;
        ASSERT_EQ(vmtest::RunCommand("icat '" + Image + "' " + e.Inode, &expected), 0);
        const FoundItem* item = nullptr;
        for (const FoundItem& i : items)
            if (!i.Is(FI_DELETED) && Comparable(PathOf(items, i, d.RootId)) == e.Path) item = &i;
        ASSERT_NE(item, nullptr) << e.Path;
        // Read as recovery does: whole sectors, in chunks.
        const std::uint32_t chunk = 8192;
        std::string got;
        std::vector<char> buf(chunk);
        for (std::uint64_t at = 0; at < item->Size; at += chunk) {
            const std::uint32_t want = std::uint32_t(std::min<std::uint64_t>(chunk, (item->Size - at + 511) / 512 * 512));
            ASSERT_EQ(d.Volume->ReadItem(*item, buf.data(), at, want), want) << e.Path;
            got.append(buf.data(), std::min<std::uint64_t>(want, item->Size - at));
        }
        EXPECT_TRUE(got == expected) << e.Path;
        ReadsAtAnyOffset(*d.Volume, *item, expected, image);
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

TEST_P(FatImage, SectorSearchFindsOfWalkedDirectoriesFileNothing) {
    Drive d(Image);
    d.Fs->Analyse();
    const std::vector<FoundItem> walked = d.Fs->Items();
    for (const FoundItem& i : walked)
        if (i.Is(FI_FOLDER)) d.Fs->ExamineFoundRecord(i);
    EXPECT_EQ(d.Fs->Items().size(), walked.size());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FatImage, ::testing::ValuesIn(kImages),
                         [](const auto& info) {
                             std::string n = info.param;
                             return n.substr(0, n.find('.'));
                         });

// ---- damaged images ------------------------------------------------------------------------

// A private copy of a fixture image to patch.
class PatchedImage {
public:
    explicit PatchedImage(const std::string& name) : Path(Dir.File(name)) {
        std::filesystem::copy_file(vmtest::FixturePath(name), Path);
        Bytes = vmtest::ReadFile(Path);
    }
    void Save() { vmtest::WriteFile(Path, Bytes); }
    // Byte position of the directory entry with that 8.3 name inside [from, from + length).
    std::size_t EntryAt(const char* name11, std::uint64_t from, std::uint64_t length) const {
        for (std::uint64_t at = from; at + 32 <= from + length && at + 32 <= Bytes.size(); at += 32)
            if (std::memcmp(&Bytes[at], name11, 11) == 0) return std::size_t(at);
        return 0;
    }
    void Put16(std::size_t at, std::uint32_t v) {
        Bytes[at] = std::uint8_t(v);
        Bytes[at + 1] = std::uint8_t(v >> 8);
    }

    vmtest::TempDir Dir;
    std::string Path;
    std::vector<std::uint8_t> Bytes;
};

const FoundItem* Named(const std::vector<FoundItem>& items, const std::string& name) {
    for (const FoundItem& i : items)
        if (name == i.Name) return &i;
    return nullptr;
}

constexpr const char* kHostileBase = "fat16.img";

class FatDamage : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vmtest::HaveFixture(kHostileBase)) GTEST_SKIP() << "no fixture " << kHostileBase;
        CleanDrive = std::make_unique<Drive>(vmtest::FixturePath(kHostileBase));
        CleanDrive->Fs->Analyse();
        Clean = CleanDrive->Fs->Items();
        Layout = CleanDrive->Fs->Layout();
        for (const char* name : {"Level1", "Level2", "Gone", "Sub"}) {
            const FoundItem* f = Named(Clean, name);
            ASSERT_TRUE(f && f->Is(FI_FOLDER)) << name;
            Folder[name] = *f;
        }
    }
    std::size_t FatEntry(std::uint32_t cluster, int copy = 0) const {
        return std::size_t((Layout.FatSector + copy * Layout.FatSectors) * 512 + cluster * 2);
    }
    std::unique_ptr<Drive> CleanDrive;  // keeps the names of Clean
    std::vector<FoundItem> Clean;
    FatLayout Layout;
    std::map<std::string, FoundItem> Folder;
};

TEST_F(FatDamage, DirectoryChainThatLoopsIsReadOnce) {
    PatchedImage img(kHostileBase);
    const std::uint32_t level1 = Folder["Level1"].Id;
    img.Put16(FatEntry(level1), level1);
    img.Put16(FatEntry(level1, 1), level1);
    img.Save();
    CLog log;
    SetGlobalLog(&log);
    Drive d(img.Path);
    d.Fs->Analyse();
    SetGlobalLog(nullptr);
    EXPECT_EQ(ListingOf(d.Fs->Items(), d.RootId), ListingOf(Clean, 0));
    EXPECT_TRUE(log.Contains("comes back to cluster"));
}

TEST_F(FatDamage, DirectoryThatContainsItselfEndsTheWalk) {
    PatchedImage img(kHostileBase);
    const FoundItem& level1 = Folder["Level1"];
    const std::size_t level2 = img.EntryAt("LEVEL2     ", level1.DataOffset, Layout.BytesPerCluster);
    ASSERT_NE(level2, 0u);
    img.Put16(level2 + 26, level1.Id);  // Level1\Level2 now names Level1 itself
    img.Save();
    Drive d(img.Path);
    d.Fs->Analyse();
    const std::vector<std::uint32_t>& queue = d.Fs->DirQueue();
    EXPECT_EQ(std::set<std::uint32_t>(queue.begin(), queue.end()).size(), queue.size());
    // The entry that names its own directory is filed in the root; what lay below it is gone.
    Listing expected;
    for (const auto& [path, size, deleted] : ListingOf(Clean, 0))
        if (path.rfind("Level1/Level2", 0) != 0) expected.emplace(path, size, deleted);
    expected.emplace("Level2", 0, false);
    EXPECT_EQ(ListingOf(d.Fs->Items(), d.RootId), expected);
}

// A deleted folder whose own entry is lost, found by the sector search: its entries are filed
// under the folder the "." entry names, also when several search workers examine finds at once;
// finds in folders the walk has read file nothing.
TEST_F(FatDamage, LostFolderFoundBySearchKeepsItsEntriesTogether) {
    PatchedImage img(kHostileBase);
    const std::size_t gone =
        img.EntryAt("\xE5ONE       ", Layout.RootDirSector * 512, (Layout.DataStart - Layout.RootDirSector) * 512);
    ASSERT_NE(gone, 0u);
    std::memset(&img.Bytes[gone], 0, 32);
    img.Save();
    Drive d(img.Path);
    d.Fs->Analyse();
    const std::size_t walked = d.Fs->Items().size();
    std::vector<FoundItem> finds{Folder["Gone"], Folder["Sub"], Folder["Level1"], Folder["Level2"]};
    std::vector<std::thread> workers;
    for (const FoundItem& f : finds) workers.emplace_back([&d, f] { d.Fs->ExamineFoundRecord(f); });
    for (auto& t : workers) t.join();

    const std::uint32_t lost[] = {Folder["Gone"].Id, Folder["Sub"].Id};
    std::multiset<std::tuple<std::string, std::uint32_t, bool>> expected, got;
    for (const FoundItem& i : Clean)
        if (i.ParentId == lost[0] || i.ParentId == lost[1]) expected.emplace(i.Name, i.ParentId, i.Is(FI_DELETED));
    const std::vector<FoundItem> items = d.Fs->Items();
    for (std::size_t k = walked; k < items.size(); ++k)
        got.emplace(items[k].Name, items[k].ParentId, items[k].Is(FI_DELETED));
    EXPECT_EQ(expected.size(), 4u);
    EXPECT_EQ(got, expected);
}

TEST_F(FatDamage, LiveFileWithLoopingChainIsStillRead) {
    const FoundItem* frag = Named(Clean, "fragmented.bin");
    ASSERT_NE(frag, nullptr);
    PatchedImage img(kHostileBase);
    img.Put16(FatEntry(frag->Id), frag->Id);
    img.Save();
    Drive d(img.Path);
    d.Fs->Analyse();
    const std::vector<FoundItem> items = d.Fs->Items();
    const FoundItem* item = Named(items, "fragmented.bin");
    ASSERT_NE(item, nullptr);
    std::vector<std::uint8_t> buf(std::size_t((item->Size + 511) / 512 * 512));
    EXPECT_EQ(d.Volume->ReadItem(*item, buf.data(), 0, std::uint32_t(buf.size())), buf.size());
}

TEST_F(FatDamage, ZeroSectorsPerClusterFilesNothing) {
    PatchedImage img(kHostileBase);
    img.Bytes[13] = 0;
    img.Save();
    CLog log;
    SetGlobalLog(&log);
    Drive d(img.Path);
    d.Fs->Analyse();
    SetGlobalLog(nullptr);
    EXPECT_TRUE(d.Fs->Items().empty());
    EXPECT_TRUE(log.Contains("sectors per cluster"));
}

TEST_F(FatDamage, UnreadableFirstFatIsTakenFromTheSecond) {
    std::shared_ptr<CFaultyReader> faults;
    CLog log;
    SetGlobalLog(&log);
    Drive d(vmtest::FixturePath(kHostileBase), &faults);
    ASSERT_NE(faults, nullptr);
    faults->AddBadRange(Layout.FatSector * 512, 512);
    d.Fs->Analyse();
    SetGlobalLog(nullptr);
    EXPECT_EQ(ListingOf(d.Fs->Items(), d.RootId), ListingOf(Clean, 0));
    EXPECT_TRUE(log.Contains("second copy is used"));
}

}  // namespace

namespace {

TEST(FatAnalyser, StopsWhenTheRunEndsAndKeepsWhatItFiled) {
    if (!vmtest::HaveFixture("fat16.img")) GTEST_SKIP() << "no fixture fat16.img";
    Drive d(vmtest::FixturePath("fat16.img"));
    d.Fs->SetRunCheck([&d] { return d.Fs->Items().size() < 5; });
    d.Fs->Analyse();
    EXPECT_EQ(d.Fs->Items().size(), 5u);
}

}  // namespace

// ---- type by cluster count -----------------------------------------------------------------

namespace {

// Old formatters wrote "FAT     " where mkfs.fat writes "FAT16   ": the text is only a label.
TEST(FatAnalyser, VolumeLabelledFatIsListedByItsClusterCount) {
    if (!vmtest::HaveFixture("fat16.img")) GTEST_SKIP() << "no fixture fat16.img";
    PatchedImage img("fat16.img");
    std::memcpy(&img.Bytes[54], "FAT     ", 8);
    img.Save();
    std::vector<FlsEntry> fls = Fls(img.Path);
    if (fls.empty()) GTEST_SKIP() << "fls gives nothing";
    Listing expected;
    for (const FlsEntry& e : fls) expected.emplace(e.Path, e.Size, e.Deleted);
    TreeDrive d(img.Path);
    EXPECT_EQ(d.Volume.pFileSystem->TypeCode, std::uint32_t(FS_FAT16_SMALL));
    EXPECT_EQ(d.Volume.GetFileSystemName(), "FAT16");
    d.Volume.pFileSystem->Analyse();
    EXPECT_EQ(d.List(), expected);
}

}  // namespace
