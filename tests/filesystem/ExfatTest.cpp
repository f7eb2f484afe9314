// The exFAT analyser: entry sets, times and boot regions on crafted bytes; the image made by
// mkfs.exfat and exfat-fuse against sleuthkit's fls and icat; damaged copies of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "app/Log.h"
#include "filesystem/AnalyserFactory.h"
#include "filesystem/ExfatBoot.h"
#include "filesystem/ExfatDirectory.h"
#include "filesystem/FileSystem_EXFAT.h"
#include "platform/ByteOrder.h"
#include "platform/FileTime.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

namespace {

using namespace vm;
using Bytes = std::vector<std::uint8_t>;

// ---- crafted entry sets --------------------------------------------------------------------

struct SetSpec {
    std::u16string Name = u"file.txt";
    std::uint16_t Attributes = 0x20;
    std::uint32_t FirstCluster = 5;
    std::uint64_t Length = 1000;
    bool NoFatChain = false;
    bool Deleted = false;
};

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
void Put64(std::uint8_t* p, std::uint64_t v) {
    Put32(p, std::uint32_t(v));
    Put32(p + 4, std::uint32_t(v >> 32));
}

// A file entry, its stream extension and its name entries, checksummed while in use.
Bytes EntrySet(const SetSpec& s) {
    const std::size_t names = (s.Name.size() + 14) / 15;
    Bytes set((2 + names) * 32, 0);
    set[0] = 0x85;
    set[1] = std::uint8_t(1 + names);
    set[4] = std::uint8_t(s.Attributes);
    set[5] = std::uint8_t(s.Attributes >> 8);
    Put32(&set[12], (std::uint32_t(((2021 - 1980) << 9) | (3 << 5) | 14) << 16) | (15 << 11) | (9 << 5) | 13);
    set[23] = 0x80;  // UTC
    std::uint8_t* stream = &set[32];
    stream[0] = 0xC0;
    stream[1] = std::uint8_t(0x01 | (s.NoFatChain ? 0x02 : 0));
    stream[3] = std::uint8_t(s.Name.size());
    Put64(stream + 8, s.Length);
    Put32(stream + 20, s.FirstCluster);
    Put64(stream + 24, s.Length);
    for (std::size_t i = 0; i < s.Name.size(); ++i) {
        std::uint8_t* e = &set[64 + (i / 15) * 32];
        e[0] = 0xC1;
        e[2 + (i % 15) * 2] = std::uint8_t(s.Name[i]);
        e[3 + (i % 15) * 2] = std::uint8_t(s.Name[i] >> 8);
    }
    const std::uint16_t sum = ExfatSetChecksum(set.data(), 2 + names);
    set[2] = std::uint8_t(sum);
    set[3] = std::uint8_t(sum >> 8);
    if (s.Deleted)
        for (std::size_t i = 0; i < set.size(); i += 32) set[i] &= 0x7F;
    return set;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Parsed {
    std::vector<ExfatDirEntry> Sets;
    ExfatDirStats Stats;
};

Parsed Parse(const Bytes& buffer) {
    Parsed p;
    ParseExfatDirectory(buffer.data(), buffer.size(), [&](const ExfatDirEntry& e) {
        p.Sets.push_back(e);
        return true;
    }, &p.Stats);
    return p;
}

TEST(ExfatDirectory, EntrySetsAreDecodedOrLeftOut) {
    const std::u16string longest(255, u'n');
    Bytes flipped = EntrySet({});
    flipped[70] ^= 1;  // a name character changed after the set was summed
    Bytes cut = EntrySet({.Name = u"a name longer than fifteen.txt"});
    cut.resize(cut.size() - 32);
    Bytes tooFew = EntrySet({});
    tooFew[1] = 1;  // no room for the name entry
    // A live set written over the first entries of a deleted one.
    Bytes deletedLong = EntrySet({.Name = u"an old deleted file with a long name.txt", .Deleted = true});
    Bytes over = EntrySet({.Name = u"new.txt"});
    std::copy(over.begin(), over.end(), deletedLong.begin());

    struct Case {
        const char* What;
        Bytes Buffer;
        std::vector<std::string> Names;
        std::size_t BadChecksums, Broken;
    } cases[] = {
        {"live", EntrySet({}), {"file.txt"}, 0, 0},
        {"deleted", EntrySet({.Deleted = true}), {"file.txt"}, 0, 0},
        {"255 characters", EntrySet({.Name = longest}), {std::string(255, 'n')}, 0, 0},
        {"non-ASCII", EntrySet({.Name = u"Ünïcødé.txt"}), {"Ünïcødé.txt"}, 0, 0},
        {"checksum fails", flipped, {}, 1, 0},
        {"cut by the buffer's end", cut, {}, 0, 1},
        {"secondary count too small", tooFew, {}, 0, 1},
        {"live set over a deleted one", deletedLong, {"new.txt"}, 0, 0},
        {"after the end-of-directory mark", Concat({Bytes(32, 0), EntrySet({.Deleted = true})}), {"file.txt"}, 0, 0},
        {"two sets", Concat({EntrySet({.Name = u"one"}), EntrySet({.Name = u"two"})}), {"one", "two"}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        const Parsed p = Parse(c.Buffer);
        std::vector<std::string> names;
        for (const ExfatDirEntry& e : p.Sets) names.push_back(e.Name);
        EXPECT_EQ(names, c.Names);
        EXPECT_EQ(p.Stats.BadChecksums, c.BadChecksums);
        EXPECT_EQ(p.Stats.Broken, c.Broken);
    }
}

TEST(ExfatDirectory, StreamFieldsAndFlags) {
    const Parsed p = Parse(Concat({EntrySet({.Attributes = 0x10, .FirstCluster = 77, .Length = 65536}),
                                   EntrySet({.FirstCluster = 9, .Length = 123, .NoFatChain = true, .Deleted = true})}));
    ASSERT_EQ(p.Sets.size(), 2u);
    EXPECT_TRUE(p.Sets[0].IsFolder());
    EXPECT_FALSE(p.Sets[0].Deleted);
    EXPECT_FALSE(p.Sets[0].NoFatChain);
    EXPECT_EQ(p.Sets[0].FirstCluster, 77u);
    EXPECT_EQ(p.Sets[0].DataLength, 65536u);
    EXPECT_TRUE(p.Sets[1].Deleted);
    EXPECT_TRUE(p.Sets[1].NoFatChain);
    EXPECT_EQ(p.Sets[1].ValidDataLength, 123u);
    EXPECT_EQ(p.Sets[1].Index, 3u);
    // 2021-03-14 15:09:26 UTC, as the set's modification time says.
    EXPECT_EQ(p.Sets[0].WriteTime, UnixToFileTime(std::int64_t(1615734566) * 1000000000));
}

TEST(ExfatDirectory, TimesTakeTheirUtcOffset) {
    const std::uint32_t stamp = (std::uint32_t(((2020 - 1980) << 9) | (1 << 5) | 2) << 16) | (12 << 11) | (30 << 5);
    const std::int64_t noonUtc = 1577968200;  // 2020-01-02 12:30:00 UTC
    struct {
        std::uint8_t TenMs, Offset;
        std::int64_t Unix;
        std::int64_t ExtraNs;
    } cases[] = {
        {0, 0x80, noonUtc, 0},
        {150, 0x80, noonUtc, 1500000000},     // 1.5 s more
        {0, 0x80 | 8, noonUtc - 7200, 0},     // two hours east of UTC
        {0, 0x80 | 0x7C, noonUtc + 3600, 0},  // -4 steps: an hour west
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExfatTimeToFileTime(stamp, c.TenMs, c.Offset), UnixToFileTime(c.Unix * 1000000000 + c.ExtraNs))
            << int(c.Offset);
    EXPECT_EQ(ExfatTimeToFileTime(0, 0, 0x80), 0u);
}

TEST(ExfatDirectory, VolumeLabelEntry) {
    Bytes dir(96, 0);
    dir[32] = 0x83;
    dir[33] = 4;
    for (int i = 0; i < 4; ++i) dir[34 + 2 * i] = std::uint8_t("CARD"[i]);
    std::string label;
    EXPECT_TRUE(ExfatVolumeLabel(dir.data(), dir.size(), label));
    EXPECT_EQ(label, "CARD");
    dir[32] = 0x03;  // deleted
    EXPECT_FALSE(ExfatVolumeLabel(dir.data(), dir.size(), label));
}

// ---- the fixture image --------------------------------------------------------------------

bool HaveSleuthkit() { return vmtest::RunCommand("fls -V >/dev/null 2>&1") == 0; }

struct FlsEntry {
    std::string Path, Inode;
    std::uint64_t Size;
    bool Deleted, Folder;
};

// `fls -r -p -l` without sleuthkit's virtual entries and the volume's own metadata files.
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
        e.Inode = e.Inode.substr(0, e.Inode.find(':'));
        e.Path = cols[1];
        e.Size = e.Folder ? 0 : std::stoull(cols[6]);
        list.push_back(e);
    }
    return list;
}

using Listing = std::set<std::tuple<std::string, std::uint64_t, bool>>;

// The drive as the analysis driver sets it up for the analyser its boot sector asks for.
struct Drive {
    explicit Drive(const std::string& path) : Volume(VK_IMAGE) {
        Volume.DevicePath = path;
        Volume.ParseBootSector();
        Volume.RootItem.Id = std::uint32_t(-1);
        auto fs = std::make_unique<CFileSystem_EXFAT>(&Volume);
        fs->CopyTypeFrom(*Volume.pFileSystem);
        const std::int32_t rootId = AnalyserRootId(fs->TypeCode);
        Volume.FoundTree.Clear();
        Volume.FoundTree.SetDriveRootId(Volume.RootItem.SignedId());
        Volume.FoundTree.Insert(&Volume.RootItem, false);
        Volume.FoundTree.RootId = rootId;
        fs->RootFolder.Id = std::uint32_t(rootId);
        fs->RootFolder.ParentId = Volume.RootItem.Id;
        Volume.pFileSystem = std::move(fs);
        Volume.FoundTree.Insert(&Volume.pFileSystem->RootFolder, false);
        Volume.pFileSystem->Analyse();
    }
    ~Drive() { Volume.FoundTree.Clear(); }

    std::vector<std::pair<std::string, FoundItem*>> Items() {
        std::vector<FoundItem*> all;
        Volume.FoundTree.Snapshot(all);
        std::vector<std::pair<std::string, FoundItem*>> out;
        for (FoundItem* i : all) {
            if (i->Is(FI_DRIVE) || i == &Volume.pFileSystem->RootFolder) continue;
            std::string dir;
            Volume.GetItemPath(*i, dir);
            std::string path = dir.substr(1) + i->NameOrEmpty();
            std::replace(path.begin(), path.end(), '\\', '/');
            out.emplace_back(path, i);
        }
        return out;
    }
    Listing List() {
        Listing l;
        for (auto& [path, i] : Items()) l.emplace(path, i->Is(FI_FOLDER) ? 0 : i->Size, i->Is(FI_DELETED));
        return l;
    }
    // The item's data read as recovery reads it: whole sectors, in chunks.
    std::string Read(const FoundItem& item) {
        const std::uint32_t chunk = 8192;
        std::string got;
        std::vector<char> buf(chunk);
        for (std::uint64_t at = 0; at < item.Size; at += chunk) {
            const std::uint32_t want = std::uint32_t(std::min<std::uint64_t>(chunk, (item.Size - at + 511) / 512 * 512));
            if (Volume.ReadItem(item, buf.data(), at, want) != want) return "(read failed)";
            got.append(buf.data(), std::min<std::uint64_t>(want, item.Size - at));
        }
        return got;
    }
    CVolume Volume;
};

class ExfatImage : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vmtest::HaveFixture("exfat.img")) GTEST_SKIP() << "no fixture exfat.img";
        if (!HaveSleuthkit()) GTEST_SKIP() << "no sleuthkit";
        Image = vmtest::FixturePath("exfat.img");
    }
    // A private copy to damage, with `patch` applied to its bytes.
    std::string Patched(const std::function<void(Bytes&)>& patch) {
        Bytes bytes = vmtest::ReadFile(Image);
        patch(bytes);
        const std::string path = Dir.File("patched.img");
        vmtest::WriteFile(path, bytes);
        return path;
    }
    std::string Image;
    vmtest::TempDir Dir;
};

TEST_F(ExfatImage, ListsWhatSleuthkitLists) {
    Listing expected;
    for (const FlsEntry& e : Fls(Image)) expected.emplace(e.Path, e.Size, e.Deleted);
    ASSERT_FALSE(expected.empty());
    Drive d(Image);
    EXPECT_EQ(d.Volume.GetFileSystemName(), "exFAT");
    EXPECT_EQ(d.List(), expected);
}

TEST_F(ExfatImage, FilesReadLikeIcat) {
    Drive d(Image);
    std::map<std::string, FoundItem*> byPath;
    for (auto& [path, i] : d.Items()) byPath[path + (i->Is(FI_DELETED) ? " (deleted)" : "")] = i;
    int compared = 0;
    for (const FlsEntry& e : Fls(Image)) {
        // Of the 200 small files of Many/ a few are enough; deleted files whose clusters a later
        // file took (the even gaps under Frag/) hold that file's bytes now.
        if (e.Folder || (e.Path.rfind("Many/", 0) == 0 && e.Path.find(" 00") == std::string::npos) ||
            (e.Deleted && e.Path.rfind("Frag/", 0) == 0))
            continue;
        SCOPED_TRACE(e.Path);
        std::string expected;
        ASSERT_EQ(vmtest::RunCommand("icat '" + Image + "' " + e.Inode, &expected), 0);
        FoundItem* item = byPath[e.Path + (e.Deleted ? " (deleted)" : "")];
        ASSERT_NE(item, nullptr);
        EXPECT_TRUE(d.Read(*item) == expected);
        ++compared;
    }
    EXPECT_GT(compared, 20);
}

TEST_F(ExfatImage, DamagedMainBootRegionIsReadThroughItsBackup) {
    const auto layoutOf = [](const std::string& path) {
        CVolume v(VK_IMAGE);
        v.DevicePath = path;
        v.ParseBootSector();
        return std::make_tuple(v.GetFileSystemName(), v.Label, SerialNumberText(v), v.BytesPerCluster, v.TotalSectors);
    };
    const auto sound = layoutOf(Image);
    EXPECT_EQ(sound, std::make_tuple(std::string("exFAT"), std::string("EXFATTEST"), std::string("45584654"), 4096u,
                                     std::uint64_t(32768)));
    struct {
        const char* What;
        std::function<void(Bytes&)> Patch;
    } cases[] = {
        {"an extended boot sector changed", [](Bytes& b) { b[512 + 100] ^= 0xFF; }},
        {"the checksum sector wiped", [](Bytes& b) { std::fill(b.begin() + 11 * 512, b.begin() + 12 * 512, 0); }},
        {"the boot sector wiped", [](Bytes& b) { std::fill(b.begin(), b.begin() + 512, 0); }},
        {"the cluster size changed", [](Bytes& b) { b[109] = 5; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const std::string path = Patched(c.Patch);
        EXPECT_EQ(layoutOf(path), sound);
        Listing expected;
        for (const FlsEntry& e : Fls(Image)) expected.emplace(e.Path, e.Size, e.Deleted);
        EXPECT_EQ(Drive(path).List(), expected);
    }
}

TEST_F(ExfatImage, BothBootRegionsDamagedStillReadsTheMainOne) {
    const std::string path = Patched([](Bytes& b) {
        b[512 + 100] ^= 0xFF;
        b[12 * 512 + 512 + 100] ^= 0xFF;
    });
    Drive d(path);
    EXPECT_EQ(d.Volume.GetFileSystemName(), "exFAT");
    EXPECT_FALSE(d.List().empty());
}

// The set of the first file entry whose name is `name` (at most 15 characters), located by its
// name entry, and a way to change its stream and keep its checksum sound.
std::size_t FindSet(const Bytes& image, const std::u16string& name) {
    Bytes needle;
    for (char16_t c : name) {
        needle.push_back(std::uint8_t(c));
        needle.push_back(std::uint8_t(c >> 8));
    }
    for (auto it = image.begin(); (it = std::search(it, image.end(), needle.begin(), needle.end())) != image.end(); ++it) {
        const std::size_t at = std::size_t(it - image.begin());
        if (at % 32 != 2 || at < 66 || image[at - 2] != 0xC1 || image[at - 66] != 0x85) continue;
        return at - 66;
    }
    return 0;
}

void Resum(Bytes& image, std::size_t set) {
    const std::uint16_t sum = ExfatSetChecksum(&image[set], 1 + image[set + 1]);
    image[set + 2] = std::uint8_t(sum);
    image[set + 3] = std::uint8_t(sum >> 8);
}

TEST_F(ExfatImage, LoopsAndSizesAreBounded) {
    const ExfatLayout l = [&] {
        Drive d(Image);
        return static_cast<CFileSystem_EXFAT&>(*d.Volume.pFileSystem).Layout();
    }();
    struct {
        const char* What;
        std::function<void(Bytes&)> Patch;
        std::function<void(const Listing&)> Check;
    } cases[] = {
        {"a folder that names the root directory as its own",
         [&](Bytes& b) {
             const std::size_t set = FindSet(b, u"Level2");
             ASSERT_NE(set, 0u);
             Put32(&b[set + 32 + 20], l.RootCluster);
             Resum(b, set);
         },
         [](const Listing& got) {
             EXPECT_EQ(std::count_if(got.begin(), got.end(), [](const auto& t) {
                           return std::get<0>(t).find("Level2/README.TXT") != std::string::npos;
                       }),
                       0);
         }},
        {"a folder as long as the volume",
         [&](Bytes& b) {
             const std::size_t set = FindSet(b, u"Many");
             ASSERT_NE(set, 0u);
             Put64(&b[set + 32 + 24], ~std::uint64_t(0) >> 1);
             Resum(b, set);
         },
         [](const Listing& got) {
             EXPECT_TRUE(got.count({"Many/Entry number 000 of the many.txt", 40, false}));
             EXPECT_EQ(std::count_if(got.begin(), got.end(), [](const auto& t) { return std::get<0>(t).rfind("Many/", 0) == 0; }),
                       200);
         }},
        {"the root directory's chain comes back to itself",
         [&](Bytes& b) { Put32(&b[l.FatSector * 512 + 4 * l.RootCluster], l.RootCluster); },
         [](const Listing& got) { EXPECT_TRUE(got.count({"README.TXT", 120, false})); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const std::string path = Patched(c.Patch);
        c.Check(Drive(path).List());
    }
}

}  // namespace
