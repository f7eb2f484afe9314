#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <stdexcept>

#include "filesystem/AnalyserFactory.h"
#include "volume/AnalysisSettings.h"
#include "volume/DriveTestSupport.h"
#include "volume/LocalComputer.h"
#include "volume/SectorSearch.h"

using namespace vm;
using namespace vmtest;
using namespace std::chrono_literals;

namespace {

// What the fake analyser of one drive does.
struct Script {
    enum Mode { Quick, UntilStopped, IgnoresStop, Throws } Run = Quick;
    int Folders = 2, Files = 3;
    std::chrono::milliseconds Hold{0};
    std::atomic<bool> Started{false};
};

// Files the script's folders and files as the FAT analyser would, then behaves as told.
class CFakeAnalyser : public CFileSystem {
public:
    CFakeAnalyser(CVolume* volume, std::shared_ptr<Script> script) : CFileSystem(volume), S(std::move(script)) {}
    int Analyse() override {
        S->Started = true;
        for (int i = 0; i < S->Folders + S->Files; ++i) {
            const bool folder = i < S->Folders;
            std::string name = folder ? "dir" + std::to_string(i) : "file" + std::to_string(i) + ".txt";
            FoundItem item;
            item.Flags = std::uint16_t(FI_NAMED | (folder ? FI_FOLDER : 0));
            item.Id = std::uint32_t(100 + i);
            item.ParentId = 0;
            item.Name = name.c_str();
            pVolume->AddFileSystemItem(item);
        }
        if (S->Run == Script::UntilStopped)
            while (pVolume->Progress().Running) std::this_thread::sleep_for(2ms);
        if (S->Run == Script::IgnoresStop) std::this_thread::sleep_for(S->Hold);
        if (S->Run == Script::Throws) throw std::runtime_error("damaged");
        return 0;
    }

private:
    std::shared_ptr<Script> S;
};

// A find of the sector search; without an offset, at a position of its own.
std::unique_ptr<FoundItem> Find(std::int16_t type, std::uint16_t flags = 0, const char* name = "lost.doc",
                                std::uint64_t offset = 0) {
    static std::atomic<std::uint64_t> next{1 << 20};
    auto item = std::make_unique<FoundItem>();
    item->FileType = type;
    item->DataOffset = offset ? offset : (next += 4096);
    item->Flags = flags;
    item->Name = name;
    return item;
}

// The driver's own notifications, without the found tree's.
std::vector<std::uint32_t> Codes(const std::vector<CRecordingSink::Entry>& entries) {
    std::vector<std::uint32_t> codes;
    for (const auto& e : entries)
        if (e.code != msg::FoundTreeChanged) codes.push_back(e.code);
    return codes;
}

int Posted(std::uint32_t code) { return int(Sink().EntriesWithCode(code).size()); }

// Collects the found volumes that the drive list would add.
struct FoundVolumes {
    explicit FoundVolumes(CLocalComputer& c) {
        c.FoundVolumeHandler = [this](CVolume& on, const FoundItem& request) {
            Drives.push_back(&on);
            Requests.push_back(request);
        };
    }
    std::vector<CVolume*> Drives;
    std::vector<FoundItem> Requests;
};

}  // namespace

class Driver : public ::testing::Test {
protected:
    void SetUp() override {
        Sink().Clear();
        SetSectorScanAfterFs(false);
        SetLogFoundFiles(false);
        SetAnalysisQueue(true);
        PreviousMaker = SetAnalyserMaker(FS_FAT16_SMALL, [scripts = Scripts](CVolume* v) {
            auto& s = (*scripts)[v];
            if (!s) s = std::make_shared<Script>();
            return std::make_unique<CFakeAnalyser>(v, s);
        });
        PreviousSearch = SetSectorSearch({});
    }
    void TearDown() override {
        SetAnalyserMaker(FS_FAT16_SMALL, PreviousMaker);
        SetSectorSearch(PreviousSearch);
    }

    // A drive image whose boot sector says FAT16, or one without a file system.
    std::shared_ptr<CVolume> Image(const std::string& name, bool fat16 = true) {
        std::vector<std::uint8_t> bytes(128 * 512, 0);
        if (fat16) {
            bytes[11] = 0x00, bytes[12] = 0x02, bytes[13] = 1, bytes[19] = 128;
            std::memcpy(&bytes[54], "FAT16   ", 8);
            bytes[510] = 0x55, bytes[511] = 0xAA;
        }
        WriteFile(Dir.File(name), bytes);
        auto v = Computer.AddImage(Dir.File(name));
        EXPECT_TRUE(v);
        return v;
    }
    Script& ScriptOf(const std::shared_ptr<CVolume>& v) {
        auto& s = (*Scripts)[v.get()];
        if (!s) s = std::make_shared<Script>();
        return *s;
    }
    bool Ended(int count = 1) {
        return WaitUntil([&] { return Posted(msg::AnalysisEnded) >= count; });
    }

    TempDir Dir;
    std::shared_ptr<std::map<CVolume*, std::shared_ptr<Script>>> Scripts =
        std::make_shared<std::map<CVolume*, std::shared_ptr<Script>>>();
    CLocalComputer Computer;
    AnalyserMaker PreviousMaker;
    SectorSearchRun PreviousSearch;
};

TEST_F(Driver, FullRunFilesItemsLogsAndEnds) {
    auto a = Image("a.dsk");
    SetLogFoundFiles(true);
    LogMark mark;
    ASSERT_TRUE(Computer.StartAnalysis(a.get()));
    ASSERT_TRUE(Ended());
    a->hAnalyseThread.WaitFor(1000ms);

    const std::vector<std::string> order = {"Initializing drive a.dsk", "Beginning file system analysis.",
                                            "Found file: file2.txt", "Analysis duration: 0 minute(s), 0 second(s).",
                                            "Analysis completed. Found 2 folder(s) and 3 file(s)."};
    int last = -1;
    for (const auto& line : order) {
        int at = mark.Find(line);
        EXPECT_GT(at, last) << line;
        last = at;
    }
    EXPECT_EQ(mark.Count("Found file: "), 3);
    EXPECT_EQ(Codes(Sink().Entries()),
              (std::vector<std::uint32_t>{msg::StatusText, msg::FileSystemPhaseEnded, msg::AnalysisEnded}));
    EXPECT_EQ(Sink().Entries()[0].wParam, 57211u);
    EXPECT_EQ(Sink().Entries().back().wParam, reinterpret_cast<std::uintptr_t>(a.get()));
    EXPECT_EQ(Computer.Progress().Running, 0);
    EXPECT_EQ(a->State, VS_READY);
    EXPECT_TRUE(Computer.AnalysisQueue().empty());
    // Drive root, the analyser's root folder and five items.
    EXPECT_EQ(a->FoundTree.Count(), 7u);
    EXPECT_EQ(a->FoundTree.RootId, 0);
    EXPECT_EQ(a->pFileSystem->RootFolder.ParentId, a->RootItem.Id);
    EXPECT_EQ(a->FoundTree.FindById(0), &a->pFileSystem->RootFolder);
}

TEST_F(Driver, NoFileSystemGoesOnToSectorPhaseAndRoutesFinds) {
    auto a = Image("blank.dsk", false);
    FoundVolumes found(Computer);
    SetSectorSearch([](CVolume& v) {
        // A file of the file system at 12288: a find there only marks it.
        FoundItem known;
        known.DataOffset = 12288;
        known.Name = "known.xls";
        known.Id = 77;
        v.FoundTree.EnableOffsetIndex(true);
        v.FoundTree.AddFound(known, false);
        v.AddSectorItem(Find(40, 0, "lost.doc", 4096));
        v.AddSectorItem(Find(40, FI_FOLDER, "folder", 8192));
        v.AddSectorItem(Find(41, 0, "matched.xls", 12288));
        v.AddSectorItem(Find(7));   // an NTFS boot sector: a found volume, never a file
        v.AddSectorItem(Find(10));  // no catalogue type: ignored
        v.AddSectorItem(nullptr);
    });
    SetSectorScanAfterFs(true);
    SetLogFoundFiles(true);
    LogMark mark;
    ASSERT_TRUE(Computer.StartAnalysis(a.get()));
    ASSERT_TRUE(Ended());

    EXPECT_LT(mark.Find("No file system detected! File system analysis skipped."),
              mark.Find("Starting drive sector analysis, searching for lost files."));
    EXPECT_LT(mark.Find("Analysis completed. Found 0 folder(s) and 0 file(s)."),
              mark.Find("Analysis completed. Found 1 folder(s) and 1 file(s)."));
    EXPECT_EQ(mark.Count("Found file: "), 2);  // the signature match is logged, not counted
    ASSERT_EQ(found.Requests.size(), 1u);
    EXPECT_EQ(found.Drives[0], a.get());
    EXPECT_EQ(found.Requests[0].ParentId, a->RootItem.Id);
    EXPECT_TRUE(a->FoundTree.FindAtOffset(12288)->Is(FI_SIGNATURE_MATCH));
    auto entries = Sink().Entries();
    std::erase_if(entries, [](const auto& e) { return e.code == msg::FoundTreeChanged; });
    EXPECT_EQ(Codes(Sink().Entries()),
              (std::vector<std::uint32_t>{msg::StatusText, msg::FileSystemPhaseEnded, msg::StatusText,
                                          msg::SectorPhaseEnded, msg::AnalysisEnded}));
    EXPECT_EQ(entries[2].wParam, 57311u);
}

TEST_F(Driver, StopDuringFileSystemPhaseSkipsSectorPhase) {
    auto a = Image("a.dsk");
    ScriptOf(a).Run = Script::UntilStopped;
    std::atomic<int> searches{0};
    SetSectorSearch([&](CVolume&) { ++searches; });
    SetSectorScanAfterFs(true);
    LogMark mark;
    ASSERT_TRUE(Computer.StartAnalysis(a.get()));
    ASSERT_TRUE(WaitUntil([&] { return ScriptOf(a).Started.load(); }));
    EXPECT_EQ(a->State, VS_ANALYSING);
    Computer.StopCommand();

    ASSERT_TRUE(Ended());
    EXPECT_EQ(searches, 0);
    EXPECT_FALSE(SectorScanAfterFsSetting());
    EXPECT_EQ(mark.Count("Operation aborted. Incomplete drive analysis!"), 1);
    EXPECT_EQ(mark.Count("Analysis of a.dsk completed"), 0);  // it stopped in time
    auto status = Sink().EntriesWithCode(msg::StatusText);
    EXPECT_TRUE(std::any_of(status.begin(), status.end(), [](auto& e) { return e.wParam == 57112 && e.sent; }));
    EXPECT_EQ(Computer.Progress().Running, 0);
}

TEST_F(Driver, QueuedDriveIsStartedAfterTheStoppedRun) {
    auto a = Image("a.dsk");
    auto b = Image("b.dsk");
    ScriptOf(a).Run = Script::UntilStopped;
    ASSERT_TRUE(Computer.StartAnalysis(a.get()));
    ASSERT_TRUE(WaitUntil([&] { return a->State == VS_ANALYSING; }));
    EXPECT_FALSE(Computer.StartAnalysis(b.get()));
    EXPECT_FALSE(Computer.StartAnalysis(a.get()));  // already running: nothing changes
    EXPECT_EQ(Computer.AnalysisQueue(), (std::vector<CVolume*>{a.get(), b.get()}));
    EXPECT_FALSE(ScriptOf(b).Started);

    Computer.StopAnalysis(a.get(), 0);
    EXPECT_EQ(Computer.AnalysisQueue(), (std::vector<CVolume*>{b.get()}));
    ASSERT_TRUE(Ended());
    // What the main window does on the end of a run.
    ASSERT_TRUE(AnalysisQueueSetting());
    EXPECT_TRUE(Computer.StartAnalysis(Computer.AnalysisQueue().front()));
    ASSERT_TRUE(Ended(2));
    EXPECT_TRUE(ScriptOf(b).Started);
    EXPECT_EQ(Sink().EntriesWithCode(msg::AnalysisEnded)[1].wParam, reinterpret_cast<std::uintptr_t>(b.get()));
    EXPECT_TRUE(Computer.AnalysisQueue().empty());
}

TEST_F(Driver, WorkerThatIgnoresStopIsLeftWithoutHarmingTheNextRun) {
    auto a = Image("a.dsk");
    auto b = Image("b.dsk");
    ScriptOf(a).Run = Script::IgnoresStop;
    ScriptOf(a).Hold = 2500ms;  // past the stop's wait and the refused start's wait
    ScriptOf(b).Run = Script::UntilStopped;
    LogMark mark;
    ASSERT_TRUE(Computer.StartAnalysis(a.get()));
    ASSERT_TRUE(WaitUntil([&] { return ScriptOf(a).Started.load(); }));

    const auto start = std::chrono::steady_clock::now();
    Computer.StopAnalysis(a.get(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 950ms);
    EXPECT_EQ(mark.Count("Analysis of a.dsk completed"), 1);
    EXPECT_EQ(Computer.Progress().Running, 0);
    EXPECT_TRUE(a->InUse());

    // The drive whose worker was let go is not analysed twice at once; another drive is.
    EXPECT_FALSE(Computer.StartAnalysis(a.get()));
    EXPECT_EQ(mark.Count("previous analysis has not ended yet"), 1);
    ASSERT_TRUE(Computer.StartAnalysis(b.get()));
    ASSERT_TRUE(Ended());  // a's late end
    EXPECT_EQ(Sink().EntriesWithCode(msg::AnalysisEnded)[0].wParam, reinterpret_cast<std::uintptr_t>(a.get()));
    EXPECT_EQ(Computer.Progress().Running, 1);  // b's run goes on
    EXPECT_EQ(b->State, VS_ANALYSING);
    Computer.StopAnalysis(b.get(), 0);
    ASSERT_TRUE(Ended(2));
}

TEST(DriverLifetime, WorkerLetGoOutlivesTheDriveList) {
    Sink().Clear();
    TempDir dir;
    std::vector<std::uint8_t> bytes(64 * 512, 0);
    std::memcpy(&bytes[54], "FAT16   ", 8);
    WriteFile(dir.File("x.dsk"), bytes);
    auto script = std::make_shared<Script>();
    script->Run = Script::IgnoresStop;
    script->Hold = 1500ms;
    AnalyserMaker previous =
        SetAnalyserMaker(FS_FAT16_SMALL, [script](CVolume* v) { return std::make_unique<CFakeAnalyser>(v, script); });
    std::weak_ptr<CVolume> drive;
    std::weak_ptr<ProgressBlock> progress;
    {
        auto block = std::make_shared<ProgressBlock>();
        progress = block;
        CLocalComputer c(block);
        auto x = c.AddImage(dir.File("x.dsk"));
        ASSERT_TRUE(c.StartAnalysis(x.get()));
        drive = x;
        ASSERT_TRUE(WaitUntil([&] { return script->Started.load(); }));
    }  // the destructor stops the run, gives up after 1000 ms and cuts the drives' link
    EXPECT_FALSE(drive.expired());
    EXPECT_FALSE(progress.expired());
    EXPECT_TRUE(WaitUntil([&] { return drive.expired(); }, 5000ms));
    EXPECT_TRUE(WaitUntil([&] { return progress.expired(); }, 5000ms));  // the worker lets go of both
    EXPECT_EQ(Posted(msg::AnalysisEnded), 1);
    SetAnalyserMaker(FS_FAT16_SMALL, previous);
}

TEST_F(Driver, SinglePhaseRunEndsOnlyWhenItsStarterStopsIt) {
    struct Case {
        bool fileSystem;
        std::uint32_t phaseEnd;
    } cases[] = {{true, msg::FileSystemPhaseEnded}, {false, msg::SectorPhaseEnded}};
    auto a = Image("a.dsk");
    SetSectorSearch([](CVolume& v) { v.AddSectorItem(Find(40)); });
    for (const auto& k : cases) {
        Sink().Clear();
        a->TotalClusters = 128;
        ASSERT_TRUE(k.fileSystem ? a->StartFileSystemAnalysis() : a->StartSectorAnalysis(false));
        EXPECT_EQ(Computer.Progress().Total, 128);
        EXPECT_EQ(Computer.AnalysingVolume.load(), a.get());
        ASSERT_TRUE(WaitUntil([&] { return Posted(k.phaseEnd) == 1; }));
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(Computer.Progress().Running, 1);
        EXPECT_EQ(a->State, VS_ANALYSING);
        EXPECT_EQ(Posted(msg::AnalysisEnded), 0);
        Computer.StopAnalysis(Computer.AnalysingVolume, 0);
        EXPECT_EQ(Computer.Progress().Running, 0);
        EXPECT_EQ(a->State, VS_READY);
    }
    EXPECT_EQ(a->SectorFiles, 1);
}

TEST_F(Driver, SectorPhaseDoesNotUndoAStop) {
    auto a = Image("a.dsk");
    std::atomic<int> runningSeen{-1};
    SetSectorSearch([&](CVolume& v) { runningSeen = v.Progress().Running.load(); });
    Computer.Progress().Running = 0;  // stopped just before the phase began
    a->AnalyseSectors();
    EXPECT_EQ(runningSeen, 0);
    EXPECT_EQ(Computer.Progress().Running, 0);
}

TEST_F(Driver, LostDrivesOnlyKeepsJustBootSectors) {
    auto a = Image("a.dsk");
    FoundVolumes found(Computer);
    SetSectorSearch([](CVolume& v) {
        v.AddSectorItem(Find(40));
        v.AddSectorItem(Find(11));
    });
    ASSERT_TRUE(a->StartSectorAnalysis(true));
    ASSERT_TRUE(WaitUntil([&] { return Posted(msg::SectorPhaseEnded) == 1; }));
    Computer.StopAnalysis(a.get(), 0);
    EXPECT_EQ(found.Requests.size(), 1u);
    EXPECT_EQ(a->SectorFiles, 0);
}

TEST_F(Driver, RunEndsWhenTheDriveCannotBeOpenedOrTheAnalyserFails) {
    enum Start { Full, FileSystemOnly, SectorsOnly };
    struct Case {
        Start start;
        bool unopenable;
        std::uint32_t end;
        const char* logged;
    } cases[] = {
        {Full, true, msg::AnalysisEnded, "Can't open volume"},
        {Full, false, msg::AnalysisEnded, "Analyse.FatalError"},
        {FileSystemOnly, true, msg::FileSystemPhaseEnded, "Can't open volume"},
        {FileSystemOnly, false, msg::FileSystemPhaseEnded, "AnalyseFileSystem.FatalError"},
        {SectorsOnly, true, msg::SectorPhaseEnded, "Can't open volume"},
    };
    int n = 0;
    for (const auto& k : cases) {
        SCOPED_TRACE(n);
        auto v = Image("v" + std::to_string(n++) + ".dsk");
        ScriptOf(v).Run = Script::Throws;
        if (k.unopenable) v->SetDeviceOpener([](const std::string&, int* e) -> std::shared_ptr<IDeviceReader> {
            *e = EIO;
            return nullptr;
        });
        Sink().Clear();
        LogMark mark;
        if (k.start == Full) {
            ASSERT_TRUE(Computer.StartAnalysis(v.get()));
        } else if (k.start == FileSystemOnly) {
            ASSERT_TRUE(v->StartFileSystemAnalysis());
        } else {
            ASSERT_TRUE(v->StartSectorAnalysis(false));
        }
        ASSERT_TRUE(WaitUntil([&] { return Posted(k.end) == 1; }));
        EXPECT_EQ(mark.Count(k.logged), 1);
        if (k.start == Full || k.unopenable) {
            ASSERT_TRUE(WaitUntil([&] { return Computer.Progress().Running == 0; }));
            EXPECT_TRUE(WaitUntil([&] { return v->State == VS_READY; }));
        }
        Computer.StopAnalysis(v.get(), 0);
        EXPECT_TRUE(Computer.AnalysisQueue().empty());
    }
}

TEST_F(Driver, RescanKeepsTheDriveUnderAnalysis) {
    FakeMachine m;
    m.AddDisk("fakea", 64, {"fakea1"});
    m.AddDisk("fakeb", 64);
    Computer.Volumes.SetDiskLister(m.Lister());
    Computer.Volumes.SetDeviceOpener(m.Opener());
    Computer.Volumes.Enumerate(false);
    auto disk = Computer.Volumes.Snapshot()[0];
    auto oldPart = Computer.Volumes.Snapshot()[2];
    ASSERT_EQ(disk->DevicePath, "/dev/fakea");
    std::atomic<bool> searching{false};
    SetSectorSearch([&](CVolume& v) {
        searching = true;
        while (v.Progress().Running) std::this_thread::sleep_for(2ms);
    });
    SetSectorScanAfterFs(true);
    ASSERT_TRUE(Computer.StartAnalysis(disk.get()));
    ASSERT_TRUE(WaitUntil([&] { return searching.load(); }));

    Computer.Volumes.Enumerate(false);
    auto items = Computer.Volumes.Snapshot();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], disk);  // the same drive, in its place
    EXPECT_NE(items[2], oldPart);
    EXPECT_EQ(items[2]->GetParent(), disk.get());
    EXPECT_EQ(disk->Children, (std::vector<CVolume*>{items[2].get()}));
    EXPECT_EQ(Computer.AnalysingVolume.load(), disk.get());
    Computer.StopAnalysis(disk.get(), 0);
    ASSERT_TRUE(Ended());
}

TEST(ProgressBlock, PercentOfAnyTotal) {
    struct Case {
        std::int64_t total, current;
        int percent;
    } cases[] = {
        {0, 5, 0}, {-3, 1, 0}, {50, 25, 50}, {7, 7, 100}, {1000, 999, 99},
        {1000, 2000, 100}, {1000, -1, 0}, {std::int64_t(1) << 62, std::int64_t(1) << 61, 50},
    };
    for (const auto& k : cases) {
        ProgressBlock p;
        p.Total = k.total;
        p.Current = k.current;
        EXPECT_EQ(p.Percent(), k.percent) << k.total << " " << k.current;
    }
}

namespace {

// A window that answers sent notifications only when it gets round to it.
class CSlowWindow final : public INotifySink {
public:
    void Post(std::uint32_t code, std::uintptr_t, std::intptr_t) override {
        std::lock_guard<std::mutex> g(Lock);
        Posted.push_back(code);
    }
    std::intptr_t Send(std::uint32_t, std::uintptr_t, std::intptr_t) override {
        std::unique_lock<std::mutex> g(Lock);
        ++Waiting;
        Answer.wait(g, [&] { return Pumped; });
        --Waiting;
        return 0;
    }
    void Pump() {
        std::lock_guard<std::mutex> g(Lock);
        Pumped = true;
        Answer.notify_all();
    }
    int WaitingSends() {
        std::lock_guard<std::mutex> g(Lock);
        return Waiting;
    }
    bool HasPosted(std::uint32_t code) {
        std::lock_guard<std::mutex> g(Lock);
        return std::find(Posted.begin(), Posted.end(), code) != Posted.end();
    }

private:
    std::mutex Lock;
    std::condition_variable Answer;
    bool Pumped = false;
    int Waiting = 0;
    std::vector<std::uint32_t> Posted;
};

}  // namespace

TEST_F(Driver, StopWhileTheWorkerWaitsForTheWindowDoesNotDeadlock) {
    auto a = Image("a.dsk");
    CSlowWindow window;
    SetNotifier(&window);
    struct Restore {
        CSlowWindow& w;
        CVolume& v;
        ~Restore() {
            w.Pump();
            WaitUntil([&] { return !v.InUse(); });
            SetNotifier(&Sink());
        }
    } restore{window, *a};
    ASSERT_TRUE(Computer.StartAnalysis(a.get()));
    ASSERT_TRUE(WaitUntil([&] { return window.WaitingSends() == 1; }));  // the status text

    const auto start = std::chrono::steady_clock::now();
    Computer.StopAnalysis(a.get(), 0);  // on the window thread, which cannot answer meanwhile
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    window.Pump();
    EXPECT_TRUE(WaitUntil([&] { return window.HasPosted(msg::AnalysisEnded); }));
    EXPECT_TRUE(WaitUntil([&] { return !a->InUse(); }));
    EXPECT_EQ(Computer.Progress().Running, 0);
}

TEST_F(Driver, FullRunOfARealFatImage) {
    if (RunCommand("command -v mkfs.fat mmd mcopy >/dev/null") != 0) GTEST_SKIP() << "dosfstools or mtools missing";
    const std::string image = Dir.File("real.dsk"), text = Dir.File("a.txt");
    WriteFile(text, std::vector<std::uint8_t>(3000, 'x'));
    ASSERT_EQ(RunCommand("mkfs.fat -C -F 12 -n REAL " + image + " 1440 >/dev/null && mmd -i " + image +
                         " ::/DOCS && mcopy -i " + image + " " + text + " ::/DOCS/A.TXT && mcopy -i " + image +
                         " " + text + " ::/B.TXT"),
              0);
    auto v = Computer.AddImage(image);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->GetFileSystemName(), "FAT12");
    LogMark mark;
    ASSERT_TRUE(Computer.StartAnalysis(v.get()));
    ASSERT_TRUE(Ended());
    EXPECT_EQ(mark.Count("Analysis completed. Found 1 folder(s) and 2 file(s)."), 1);
    EXPECT_EQ(v->FsFiles, 2);
    EXPECT_EQ(v->FoundTree.RootId, 0);
}
