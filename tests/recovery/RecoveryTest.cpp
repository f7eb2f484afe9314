#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Format.h"
#include "app/Notify.h"
#include "filesystem/FoundTree.h"
#include "platform/FileTime.h"
#include "recovery/Destination.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryFixtures.h"
#include "recovery/TargetNames.h"
#include "signatures/FileTypeCatalogue.h"

using namespace vm;
using namespace rtest;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> FilesBelow(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); ++it)
        out.push_back(fs::relative(it->path(), dir).string() + (it->is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
}

// A sink whose answers a test chooses per question.
class CAnsweringSink final : public INotifySink {
public:
    std::function<std::intptr_t(std::uint32_t, std::uintptr_t, std::intptr_t)> Answer;
    std::vector<std::uint32_t> Sent;
    void Post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    std::intptr_t Send(std::uint32_t code, std::uintptr_t w, std::intptr_t l) override {
        Sent.push_back(code);
        return Answer ? Answer(code, w, l) : 0;
    }
};

class RecoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        Previous = &Notifier();
        SetNotifier(&Sink);
        From = Log().LineCount();
        Settings.RecoveryFolder = Out.File("out");
        Job.SetSettings(&Settings);
    }
    void TearDown() override { SetNotifier(Previous); }

    void Run(CVolume& volume, const std::vector<FoundItem*>& selection,
             SelectionSource source = SelectionSource::List) {
        ASSERT_GT(Job.BuildRecoveryList(volume.FoundTree, selection, source), 0u);
        ASSERT_TRUE(Job.StartRecovery(&volume));
        Job.Wait();
    }
    std::size_t Lines(const std::string& needle) const { return LinesWith(needle, From); }
    std::string OutPath(const std::string& rel) const {
        std::string base = Settings.RecoveryFolder;
        if (base.back() != '/') base += '/';
        return base + rel;
    }

    vmtest::TempDir Out;
    RecoverySettings Settings;
    CAnsweringSink Sink;
    CRecovery Job;
    INotifySink* Previous = nullptr;
    std::size_t From = 0;
};

std::map<std::string, std::string> FlsInodes(const std::string& image) {
    std::map<std::string, std::string> out;
    std::ifstream f(vmtest::FixturePath(image.substr(0, image.find('.')) + ".expect/fls.txt"));
    std::string line;
    while (std::getline(f, line)) {
        std::size_t tab = line.find('\t'), colon = line.rfind(':', tab);
        std::size_t space = line.rfind(' ', colon);
        if (tab != std::string::npos && colon != std::string::npos && space != std::string::npos)
            out[line.substr(tab + 1)] = line.substr(space + 1, colon - space - 1);
    }
    return out;
}

// Access and modification times that sleuthkit reads for each path ("/Live/KEEP2.BIN").
std::map<std::string, std::pair<long, long>> FlsTimes(const std::string& image) {
    std::string body;
    vmtest::RunCommand("fls -m / -r -z UTC '" + vmtest::FixturePath(image) + "'", &body);
    std::map<std::string, std::pair<long, long>> out;
    std::istringstream in(body);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream s(line);
        for (std::string part; std::getline(s, part, '|');) f.push_back(part);
        if (f.size() >= 9) out[f[1]] = {std::atol(f[7].c_str()), std::atol(f[8].c_str())};
    }
    return out;
}

}  // namespace

// Live, deleted, fragmented and deeply nested files of real FAT images come out byte for byte
// as sleuthkit reads them, in their folders, with the drive's access and modification times.
TEST_F(RecoveryTest, FatFilesMatchIcatWithFoldersAndTimes) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const std::vector<std::string> selected = {"README.TXT", "Frag/fragmented.bin",
                                               "Live/Deleted file with a long name.txt",
                                               "Level1/Level2/Level3/Deep file.txt", "Gone"};
    const std::vector<std::string> checked = {"README.TXT", "Frag/fragmented.bin",
                                              "Live/Deleted file with a long name.txt",
                                              "Level1/Level2/Level3/Deep file.txt", "Gone/Inner one.txt",
                                              "Gone/Sub/Inner three.txt"};
    for (const std::string image : {"fat12.img", "fat16.img", "fat32.img"}) {
        SCOPED_TRACE(image);
        if (!vmtest::HaveFixture(image)) GTEST_SKIP() << "fixtures not made";
        const std::string before = Sha256(vmtest::FixturePath(image));
        FatDrive drive(image);
        ASSERT_TRUE(drive.Volume);
        std::vector<FoundItem*> items;
        for (const auto& p : selected) {
            items.push_back(drive.Find(p));
            ASSERT_NE(items.back(), nullptr) << p;
        }
        Settings.RecoveryFolder = Out.File(image);
        Run(*drive.Volume, items);
        EXPECT_EQ(Settings.RecoveryFolder.back(), '/');  // the setting gains its separator

        auto inodes = FlsInodes(image);
        auto times = FlsTimes(image);
        for (const auto& p : checked) {
            SCOPED_TRACE(p);
            std::string expected;
            ASSERT_FALSE(inodes[p].empty());
            vmtest::RunCommand("icat '" + vmtest::FixturePath(image) + "' " + inodes[p], &expected);
            struct stat st {};  // before the file is read, which may move its access time
            ASSERT_EQ(::stat(OutPath(p).c_str(), &st), 0);
            const auto& t = times.count("/" + p) ? times["/" + p] : times["/" + p + " (deleted)"];
            EXPECT_EQ(st.st_atime, t.first);
            EXPECT_EQ(st.st_mtime, t.second);
            auto got = vmtest::ReadFile(OutPath(p));
            EXPECT_EQ(std::string(got.begin(), got.end()), expected);
        }
        EXPECT_EQ(Job.Count(RR_FAILED), 0u);
        EXPECT_EQ(Sha256(vmtest::FixturePath(image)), before);  // the drive is never written
    }
    EXPECT_EQ(Lines("Recovery completed."), 3u);
    EXPECT_GE(Lines("cannot keep a creation time"), 1u);
}

// Items of one name in one folder, and a file that was there before the run, never overwrite
// each other: the later ones get free numbered names.
TEST_F(RecoveryTest, SameNamesGetFreeNumberedNames) {
    CraftedDrive d(64 * 1024);
    d.Folder(7, 0, "docs");
    FoundItem* a = d.File(10, 7, "same.txt", 1024, 1000);
    FoundItem* b = d.File(11, 7, "same.txt", 4096, 2000);
    FoundItem* c = d.File(12, 7, "same.txt", 8192, 3000);
    FoundItem* plain = d.File(13, 7, "README", 16384, 10);
    FoundItem* plainAgain = d.File(14, 7, "README", 20480, 20);
    fs::create_directories(OutPath("docs"));
    vmtest::WriteFile(OutPath("docs/same.txt"), {'o', 'l', 'd'});
    Run(d.Volume, {a, b, c, plain, plainAgain});

    EXPECT_EQ(vmtest::ReadFile(OutPath("docs/same.txt")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(vmtest::ReadFile(OutPath("docs/same (1).txt")), d.Bytes(1024, 1000));
    EXPECT_EQ(vmtest::ReadFile(OutPath("docs/same (2).txt")), d.Bytes(4096, 2000));
    EXPECT_EQ(vmtest::ReadFile(OutPath("docs/same (3).txt")), d.Bytes(8192, 3000));
    EXPECT_EQ(vmtest::ReadFile(OutPath("docs/README (1)")), d.Bytes(20480, 20));
    EXPECT_EQ(Lines("File: " + OutPath("docs/same.txt") + " exists"), 3u);
    EXPECT_EQ(Job.Count(RR_DONE), 5u);
}

// Names from the drive never reach outside the destination, neither as file names nor as folder
// names, and the log says what was changed.
TEST_F(RecoveryTest, HostileNamesStayInsideTheDestination) {
    CraftedDrive d(64 * 1024);
    d.Folder(5, 0, "..");
    d.Folder(6, 5, "a\\..\\..");
    d.Folder(8, 0, "x/../../y");
    std::vector<FoundItem*> items = {
        d.File(10, 0, "../escape.txt", 512, 100), d.File(11, 0, "/etc/passwd", 1024, 100),
        d.File(12, 0, "..", 1536, 100),          d.File(13, 6, "deep\x01.txt", 2048, 100),
        d.File(14, 8, "..\\..\\z", 2560, 100),   d.File(15, 0, "", 3072, 100),
        // A right-to-left override shows "invoice\u202Egpj.exe" as "invoiceexe.jpg".
        d.File(16, 0, "invoice\xE2\x80\xAEgpj.exe", 3584, 100), d.File(17, 0, "csi\xC2\x9B" "2J", 4096, 100),
    };
    Settings.RecoveryFolder = Out.File("inner/out");
    fs::create_directories(Out.File("inner"));
    Run(d.Volume, items);

    // Nothing but the destination was made in its parent.
    EXPECT_EQ(FilesBelow(Out.Path()).size(), FilesBelow(Out.File("inner/out")).size() + 2);
    EXPECT_EQ(FilesBelow(Out.File("inner/out")),
              (std::vector<std::string>{".._escape.txt", "_", "__", "__ (1)/", "__ (1)/a/", "__ (1)/a/__/",
                                        "__ (1)/a/__/__/", "__ (1)/a/__/__/deep_.txt", "_etc_passwd", "csi_2J",
                                        "invoice_gpj.exe", "x_.._.._y/", "x_.._.._y/.._.._z"}));
    EXPECT_EQ(Job.Count(RR_DONE), items.size());
    EXPECT_GE(Lines("cannot be used as it is"), 7u);
    // Printed, such names show what they hold and cannot steer a terminal or split a line.
    EXPECT_EQ(PrintableName("a\x1b[2J\tb\nc\x7f\xE2\x80\xAE" "d\xC2\x9B"), "a\\x1B[2J\\x09b\\x0Ac\\x7F\\u202Ed\\u009B");
    EXPECT_EQ(PrintableName("caf\xC3\xA9 \xE2\x80\x94 ok"), "caf\xC3\xA9 \xE2\x80\x94 ok");  // other text stays
}

// Unreadable sectors inside a file become zeros in place; the readable bytes around them,
// also later in the same chunk, keep their positions. A file with nothing readable is dropped.
TEST_F(RecoveryTest, ReadErrorsLeaveZerosInPlace) {
    struct Case {
        const char* name;
        std::uint64_t offset, size, badFirst, badLength;
        bool kept;
    };
    const Case cases[] = {
        {"first chunk", 0, 3 << 20, 4096, 1024, true},
        {"second chunk", 4 << 20, 3 << 20, (6 << 20) + 512, 512, true},
        {"unreadable", 8 << 20, 8192, 8 << 20, 8192, false},
    };
    CraftedDrive d(9 << 20);
    std::vector<FoundItem*> items;
    int id = 20;
    for (const Case& c : cases) {
        items.push_back(d.File(id++, 0, c.name, c.offset, c.size));
        d.Faults().AddBadRange(c.badFirst, c.badLength);
    }
    Run(d.Volume, items);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.kept) {
            EXPECT_FALSE(fs::exists(OutPath(c.name)));
            continue;
        }
        std::vector<std::uint8_t> expected = d.Bytes(c.offset, c.size);
        std::fill_n(expected.begin() + std::ptrdiff_t(c.badFirst - c.offset), c.badLength, 0);
        EXPECT_EQ(vmtest::ReadFile(OutPath(c.name)), expected);
        const std::uint64_t from = c.badFirst - c.offset;
        EXPECT_EQ(Lines(Format("bytes %I64d to %I64d of '%s' could not be read", from, from + c.badLength - 1,
                               OutPath(c.name))),
                  1u);
    }
    EXPECT_GE(Lines("CRecovery::FileRecovery.ReadError: ReadedSize = "), 3u);
    EXPECT_EQ(Lines("nothing of '" + OutPath("unreadable") + "' could be read"), 1u);
    // Zeros are not data: the files are partial, with the count of bytes that are zeros, and the
    // dropped file's bytes are not counted as written.
    EXPECT_EQ(Job.Count(RR_DONE), 0u);
    EXPECT_EQ(Job.Count(RR_INCOMPLETE), 2u);
    const auto ended = Job.Outcomes();
    ASSERT_EQ(ended.size(), 3u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(ended[i].Result, RR_INCOMPLETE) << cases[i].name;
        EXPECT_EQ(ended[i].Written, cases[i].size) << cases[i].name;
        EXPECT_EQ(ended[i].ZeroFilled, cases[i].badLength) << cases[i].name;
    }
    EXPECT_EQ(ended[2].Result, RR_FAILED);
    EXPECT_EQ(Job.BytesWritten(), cases[0].size + cases[1].size);
}

// A file that runs past the end of the drive: it is cut where the drive ends, what of the last,
// short sector cannot be read is zeros and counted, and the file is partial, never recovered.
TEST_F(RecoveryTest, ReadingPastTheDriveEndIsNoData) {
    CraftedDrive d((1 << 20) + 300);  // ends inside a sector
    FoundItem* tail = d.File(60, 0, "tail.bin", (1 << 20) - 1024, 5000);
    Run(d.Volume, {tail});
    const auto ended = Job.Outcomes();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].Result, RR_INCOMPLETE);
    EXPECT_EQ(ended[0].Written, 1024u + 300);
    EXPECT_EQ(ended[0].CutBytes, 5000u - 1024 - 300);
    EXPECT_LE(ended[0].ZeroFilled, 300u);
    const auto got = vmtest::ReadFile(OutPath("tail.bin"));
    ASSERT_EQ(got.size(), 1024u + 300);
    EXPECT_EQ(std::vector<std::uint8_t>(got.begin(), got.begin() + 1024), d.Bytes((1 << 20) - 1024, 1024));
    EXPECT_EQ(Lines("'" + OutPath("tail.bin") + "' is cut"), 1u);
    EXPECT_EQ(Lines("'" + OutPath("tail.bin") + "' is partial"), ended[0].ZeroFilled ? 1u : 0u);
}

// Stopping during a large file keeps the chunks written so far (with the file's times), says
// so, and leaves the rest of the list alone.
TEST_F(RecoveryTest, AbortMidFileKeepsWhatWasWritten) {
    CraftedDrive d(10 << 20);
    FoundItem* big = d.File(30, 0, "big.bin", 0, 8 << 20);
    FoundItem* next = d.File(31, 0, "next.bin", 9 << 20, 1000);
    d.OnRead = [this](std::uint64_t pos) {
        if (pos == 2u << 20) Job.StopRecovery();  // while the second chunk is read
    };
    Run(d.Volume, {big, next});

    auto got = vmtest::ReadFile(OutPath("big.bin"));
    ASSERT_EQ(got.size(), 4u << 20);
    EXPECT_EQ(got, d.Bytes(0, 4 << 20));
    EXPECT_FALSE(fs::exists(OutPath("next.bin")));
    struct stat st {};
    ASSERT_EQ(::stat(OutPath("big.bin").c_str(), &st), 0);
    EXPECT_EQ(UnixToFileTime(std::int64_t(st.st_mtime) * 1000000000LL), big->WriteTime);
    EXPECT_EQ(Lines("was stopped after 4194304 of 8388608 bytes; the partial file is kept"), 1u);
    EXPECT_EQ(Lines("Recovery aborted."), 1u);
    EXPECT_EQ(Lines("Recovery completed."), 1u);
    EXPECT_EQ(Job.Count(RR_INCOMPLETE), 1u);
}

// Files exactly one chunk long and one byte longer, and an empty one.
TEST_F(RecoveryTest, ChunkBoundariesAndEmptyFiles) {
    CraftedDrive d(6 << 20);
    FoundItem* one = d.File(40, 0, "one", 0, 2 << 20);
    FoundItem* two = d.File(41, 0, "two", 0, (2 << 20) + 1);
    FoundItem* empty = d.File(42, 0, "empty", 512, 0);
    Run(d.Volume, {one, two, empty});
    EXPECT_EQ(vmtest::ReadFile(OutPath("one")), d.Bytes(0, 2 << 20));
    EXPECT_EQ(vmtest::ReadFile(OutPath("two")), d.Bytes(0, (2 << 20) + 1));
    // A file of 0 bytes is recovered as an empty file, with its times, and counted as recovered.
    ASSERT_TRUE(fs::exists(OutPath("empty")));
    EXPECT_EQ(fs::file_size(OutPath("empty")), 0u);
    EXPECT_EQ(Lines("failed because file size == 0"), 0u);
    EXPECT_EQ(Job.Count(RR_DONE), 3u);
    EXPECT_EQ(Job.Count(RR_FAILED), 0u);
    EXPECT_EQ(Lines("ReadError"), 0u);
}

// A destination that cannot take the files: a read-only one fails each item, a full one
// reports the partial file as incomplete, and the job goes on with the next item.
TEST_F(RecoveryTest, DestinationNotWritableOrFull) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
    CraftedDrive d(6 << 20);
    FoundItem* large = d.File(50, 0, "large.bin", 0, 3 << 20);
    FoundItem* small = d.File(51, 0, "small.bin", 4 << 20, 100);

    const std::string mnt = Out.File("mnt");
    fs::create_directories(mnt);
    struct Unmount {
        std::string Path;
        ~Unmount() { vmtest::RunCommand("umount '" + Path + "' 2>/dev/null"); }
    };
    {
        ASSERT_EQ(vmtest::RunCommand("mount -t tmpfs -o size=1m,ro tmpfs '" + mnt + "'"), 0);
        Unmount guard{mnt};
        std::string message;
        EXPECT_EQ(CheckDestination(mnt + "/out", false, &d.Volume, &message), 0);
        EXPECT_NE(message.find("Can't create folder:"), std::string::npos);
        Settings.RecoveryFolder = mnt + "/out";
        Run(d.Volume, {large, small});
        EXPECT_EQ(Lines("Can't create folder: " + mnt + "/out/"), 2u);
        EXPECT_EQ(Job.Count(RR_FAILED), 2u);
    }
    {
        ASSERT_EQ(vmtest::RunCommand("mount -t tmpfs -o size=1m tmpfs '" + mnt + "'"), 0);
        Unmount guard{mnt};
        Settings.RecoveryFolder = mnt + "/out";
        Run(d.Volume, {large, small});
        EXPECT_GE(Lines("FileRecovery: Write system error 28"), 1u);
        EXPECT_EQ(Lines("'" + mnt + "/out/large.bin' is incomplete"), 1u);
        EXPECT_LT(fs::file_size(mnt + "/out/large.bin"), 3u << 20);
        EXPECT_EQ(Lines("Recovering file: small.bin"), 1u);  // the job went on
        EXPECT_EQ(Job.Count(RR_INCOMPLETE), 1u);
        EXPECT_EQ(Job.Count(RR_DONE), 0u);
    }
}

// Selections: folders bring the files below them (the list also the folder itself), a file met
// twice is listed once, and folders linked into themselves end the descent.
TEST_F(RecoveryTest, RecoveryListFromListAndTree) {
    CraftedDrive d(64 * 1024);
    FoundItem* a = d.Folder(100, 0, "A");
    FoundItem* b = d.Folder(101, 100, "B");
    FoundItem* f1 = d.File(102, 100, "f1", 512, 10);
    FoundItem* f2 = d.File(103, 101, "f2", 1024, 10);
    FoundItem* loop = d.Folder(100, 101, "A again");  // a damaged link: B holds a folder with A's id
    FoundItem* f3 = d.File(104, 0, "f3", 1536, 10);

    EXPECT_EQ(Job.BuildRecoveryList(d.Volume.FoundTree, {f1, a, f3, f1}, SelectionSource::List), 4u);
    EXPECT_EQ(Job.Items, (std::vector<FoundItem*>{f1, f2, a, f3}));
    EXPECT_EQ(Job.BuildRecoveryList(d.Volume.FoundTree, {a, f3}, SelectionSource::Tree), 2u);
    EXPECT_EQ(Job.Items, (std::vector<FoundItem*>{f2, f1}));
    EXPECT_EQ(Job.BuildRecoveryList(d.Volume.FoundTree, {b}, SelectionSource::Tree), 2u);
    EXPECT_EQ(Job.Items, (std::vector<FoundItem*>{f2, f1}));
    (void)loop;
}

// A folder path longer than PATH_MAX is still rebuilt: each folder is made and opened below the
// one before it, so no call ever sees the whole path.
TEST_F(RecoveryTest, PathLongerThanPathMax) {
    CraftedDrive d(64 * 1024);
    std::vector<std::string> names;
    std::int32_t parent = 0;
    for (int level = 0; level < 24; ++level) {
        names.push_back(std::string(200, char('a' + level)));
        d.Folder(200 + level, parent, names.back());
        parent = 200 + level;
    }
    FoundItem* deep = d.File(300, parent, "deep.bin", 4096, 5000);
    std::size_t pathBytes = OutPath("").size() + 9;
    for (const auto& n : names) pathBytes += n.size() + 1;
    ASSERT_GT(pathBytes, std::size_t(PATH_MAX));
    Run(d.Volume, {deep});

    int dir = ::open(OutPath("").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const auto& n : names) {
        ASSERT_GE(dir, 0);
        const int next = ::openat(dir, n.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(dir);
        dir = next;
    }
    ASSERT_GE(dir, 0);
    std::vector<std::uint8_t> got(6000);
    const int file = ::openat(dir, "deep.bin", O_RDONLY | O_CLOEXEC);
    ::close(dir);
    ASSERT_GE(file, 0);
    got.resize(std::size_t(std::max<ssize_t>(0, ::read(file, got.data(), got.size()))));
    ::close(file);
    EXPECT_EQ(got, d.Bytes(4096, 5000));
    ASSERT_EQ(Job.Outcomes().size(), 1u);
    EXPECT_EQ(Job.Outcomes()[0].Written, 5000u);  // what the report gives as its size
    EXPECT_EQ(Job.Count(RR_DONE), 1u);
}

// The root folder chosen with 100,000 files in 100 folders below it: every one is listed once
// and written, with no name clashes between folders.
TEST_F(RecoveryTest, HundredThousandItems) {
    constexpr int kFolders = 100, kPerFolder = 1000;
    CraftedDrive d(1 << 20);
    for (int f = 0; f < kFolders; ++f) {
        d.Folder(1000 + f, 0, Format("folder %d", f));
        for (int i = 0; i < kPerFolder; ++i) {
            const int k = f * kPerFolder + i;
            d.File(100000 + k, 1000 + f, Format("file %d.bin", i), std::uint64_t(k % 2000) * 512, 1 + k % 700);
        }
    }
    ASSERT_EQ(Job.BuildRecoveryList(d.Volume.FoundTree, {&d.RootFolder}, SelectionSource::Tree),
              std::size_t(kFolders * kPerFolder));
    ASSERT_TRUE(Job.StartRecovery(&d.Volume));
    Job.Wait();

    EXPECT_EQ(Job.Count(RR_DONE), std::size_t(kFolders * kPerFolder));
    std::size_t written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(OutPath("")))
        written += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(written, std::size_t(kFolders * kPerFolder));
    for (int k : {0, 4321, 99999}) {
        const int f = k / kPerFolder, i = k % kPerFolder;
        EXPECT_EQ(vmtest::ReadFile(OutPath(Format("folder %d/file %d.bin", f, i))),
                  d.Bytes(std::uint64_t(k % 2000) * 512, 1 + k % 700));
    }
}

// The size of lost files: rules remembered for all files, for one type, or asked per file.
TEST_F(RecoveryTest, LostFileSizeRules) {
    CraftedDrive d(1 << 20);
    d.Volume.FoundTree.EnableOffsetIndex(true);
    d.Volume.FoundTree.RootId = 5;  // lost files carry id 0, which must not be the root folder's
    d.Volume.FoundTree.GetLostFilesItem();
    CTypeSizeTable types;
    types.SetDefaultSizeKB(1, 4);
    types.SetDefaultSizeKB(2, 8);
    Job.SetTypeSizes(&types);
    auto lost = [&](std::uint64_t offset, std::int16_t type) {
        auto* rec = new FoundItem;
        rec->Flags = FI_LOST | FI_DELETED;
        rec->DataOffset = offset;
        rec->FileType = type;
        rec->ParentId = std::uint32_t(ID_LOST_FILES);
        return d.Volume.FoundTree.AddLost(rec, false);
    };
    FoundItem* p = lost(100 * 512, 1);
    FoundItem* q = lost(120 * 512, 2);
    FoundItem* r = lost(150 * 512, 1);
    FoundItem* s = lost(400 * 512, 2);
    // A file whose own structure told its size keeps it: no question, no rule, and no later find
    // behind it shrinks or grows it.
    auto* exact = new FoundItem;
    exact->Flags = FI_LOST | FI_DELETED | FI_EXACT_SIZE;
    exact->DataOffset = 600 * 512;
    exact->Size = 1000;
    exact->FileType = 1;
    exact->ParentId = std::uint32_t(ID_LOST_FILES);
    FoundItem* t = d.Volume.FoundTree.AddLost(exact, false);
    lost(610 * 512, 1);

    std::vector<ProbableSizeQuestion> asked;
    Sink.Answer = [&](std::uint32_t code, std::uintptr_t w, std::intptr_t) -> std::intptr_t {
        if (code != msg::AskProbableSize) return 0;
        auto* question = reinterpret_cast<ProbableSizeQuestion*>(w);
        asked.push_back(*question);
        if (question->Item == q) return PSA_SKIP;
        question->Rule = SR_CUSTOM;  // 3 KB for every file of this type from now on
        question->CustomBytes = 3072;
        question->Scope = PSS_ALL_OF_TYPE;
        return PSA_OK;
    };
    Run(d.Volume, {p, q, r, t});
    ASSERT_EQ(asked.size(), 2u);  // r used the rule remembered for p's type, t its own size
    EXPECT_EQ(asked[0].DefaultBytes, 4096u);
    EXPECT_EQ(asked[0].NextAnyBytes, 20u * 512);
    EXPECT_EQ(asked[0].NextSameBytes, 50u * 512);
    EXPECT_EQ(p->Size, 3072u);
    EXPECT_EQ(r->Size, 3072u);
    EXPECT_EQ(Lines(Format("FileRecovery: File '%s' recovery skipped", q->Name)), 1u);
    EXPECT_EQ(fs::file_size(OutPath(std::string("Lost files/") + r->Name)), 3072u);
    EXPECT_EQ(t->Size, 1000u);
    EXPECT_EQ(fs::file_size(OutPath(std::string("Lost files/") + t->Name)), 1000u);

    // A rule for all types: distance to the next find of the same type, the default size when
    // none follows.
    Job.SizeRuleAll = SR_NEXT_SAME_TYPE;
    Run(d.Volume, {q, s});
    EXPECT_EQ(q->Size, 280u * 512);
    EXPECT_EQ(s->Size, 8192u);
    EXPECT_EQ(asked.size(), 2u);
    Run(d.Volume, {t});
    EXPECT_EQ(t->Size, 1000u);
}

// Try To Open copies into the temporary folder, opens the last file and reports the answer.
TEST_F(RecoveryTest, TryOpenOpensTheLastFile) {
    CraftedDrive d(64 * 1024);
    FoundItem* f = d.File(60, 0, "photo.jpg", 512, 700);
    struct Case {
        int answer;
        const char* line;
    };
    for (const Case c : {Case{42, "opened successfully"}, Case{31, "No application associated"},
                         Case{2, "System error code: 2"}}) {
        SCOPED_TRACE(c.line);
        CRecovery job(RecoveryMode::TryOpen);
        RecoverySettings s;
        s.TempFolder = Out.File("tmp");
        job.SetSettings(&s);
        std::vector<std::string> opened;
        job.SetFileOpener([&](const std::string& path) {
            opened.push_back(path);
            return c.answer;
        });
        ASSERT_EQ(job.BuildRecoveryList(d.Volume.FoundTree, {f}, SelectionSource::List), 1u);
        ASSERT_TRUE(job.StartTryOpen(&d.Volume));
        job.Wait();
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(vmtest::ReadFile(opened[0]), d.Bytes(512, 700));
        EXPECT_EQ(Lines(c.line), 1u);
        ASSERT_TRUE(job.HasTempFiles());
        job.DeleteTempFiles();
        EXPECT_FALSE(fs::exists(opened[0]));
    }
    EXPECT_EQ(Lines("Recovery completed."), 0u);
}

TEST(TargetNames, NumberedNamesKeepTheExtension) {
    EXPECT_EQ(NumberedName("a.txt", 1), "a (1).txt");
    EXPECT_EQ(NumberedName("archive.tar.gz", 2), "archive.tar (2).gz");
    EXPECT_EQ(NumberedName(".profile", 3), ".profile (3)");
    EXPECT_EQ(NumberedName("README", 4), "README (4)");
    const std::string longName = std::string(300, 'n') + ".doc";
    const std::string safe = SafeName(longName);
    EXPECT_LE(safe.size(), 240u);
    EXPECT_EQ(safe.substr(safe.size() - 4), ".doc");
}

// The catalogue's sizes reach recovery; a rule remembered during the run outlives a reload.
TEST(TypeSizes, LoadedFromTheCatalogue) {
    FileTypeCatalogue catalogue;
    FileTypeDescriptor& group = catalogue.AddGroup(-50, "Pictures");
    FileTypeDescriptor& jpeg = catalogue.AddType(-50, 7, "JPEG", "JPEG image", "Picture", "JPG");
    FileTypeDescriptor& gif = catalogue.AddType(-50, 8, "GIF", "GIF image", "Picture", "GIF");
    jpeg.DefaultSizeKB = 300;
    gif.SizeRule = SR_NEXT_ANY_TYPE;
    (void)group;
    CTypeSizeTable table;
    table.LoadFrom(catalogue);
    EXPECT_EQ(table.DefaultSizeKB(7), 300u);
    EXPECT_EQ(table.RememberedRule(7), SR_NONE);
    EXPECT_EQ(table.RememberedRule(8), SR_NEXT_ANY_TYPE);
    table.RememberRule(7, SR_CUSTOM, 64);
    table.LoadFrom(catalogue);
    EXPECT_EQ(table.RememberedRule(7), SR_CUSTOM);
    EXPECT_EQ(table.DefaultSizeKB(7), 64u);
}
