// The main window as a user meets it: its commands and their states, progress, leaving with and
// without confirmation, view choices kept across starts, a language file, and the found items
// of a real analysis of the fixture drives compared with the command line's listing.
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QTreeView>
#include <map>
#include <set>

#include "UiTestSupport.h"
#include "app/Languages.h"
#include "app/Log.h"
#include "app/RegistryStore.h"
#include "app/SettingsBlock.h"
#include "ui/App.h"
#include "ui/Commands.h"
#include "ui/DriveView.h"
#include "ui/LogBox.h"
#include "ui/MainWindow.h"
#include "ui/UiIds.h"

using namespace vm;
using namespace vm::ui;
using vm::ui::test::FixturePath;
using vm::ui::test::WaitUntil;

namespace {

// One listed item as both front ends show it: path (with "/"), deleted, folder, size.
using Listing = std::set<std::tuple<QString, bool, bool, QString>>;

Listing CliListing(const QString& image) {
    QProcess cli;
    cli.start(VM_CLI_PATH, {"list", image});
    cli.waitForFinished(120000);
    Listing out;
    for (const QString& line : QString::fromUtf8(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split('\t');
        if (f.size() < 8) continue;
        QString path = f[7];
        path.replace('\\', '/');
        out.insert({path, f[0] == "deleted", f[1] == "folder", f[1] == "folder" ? "-" : f[2]});
    }
    return out;
}

// Every item the window shows below the drive's "." and "Lost folders" nodes, by selecting each
// folder node in the tree and reading the file list, as a user would.
void WalkWindow(CVolumeExploreView& view, const QModelIndex& node, const QString& path, Listing& out) {
    CDriveTreeModel& tree = view.TreeModel();
    view.TreeView()->setCurrentIndex(node);
    CFoundItemsModel& list = view.ListModel();
    for (int row = 0; row < list.rowCount(); ++row) {
        ItemSnapshot snap;
        if (!list.ReadRow(row, snap)) continue;
        const bool folder = snap.Is(FI_FOLDER);
        out.insert({path + "/" + QString::fromStdString(snap.Name), snap.Is(FI_DELETED), folder,
                    folder ? "-" : snap.Fields.SizeKnown() ? QString::number(snap.Fields.Size) : "unknown"});
    }
    tree.FetchNow(node);
    for (int row = 0; row < tree.rowCount(node); ++row) {
        const QModelIndex child = tree.index(row, 0, node);
        WalkWindow(view, child, path + "/" + child.data().toString(), out);
    }
}

CMainFrame* Frame(CApp& app) { return qobject_cast<CMainFrame*>(app.TopWindow()); }

bool AnalysisDone(CApp& app) {
    return WaitUntil([&] {
        if (app.Computer().Progress().Running.load()) return false;
        for (const auto& v : app.Computer().Volumes.Snapshot())
            if (!v->WorkersEnded(std::chrono::milliseconds(0))) return false;
        return true;
    }, 120000);
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // A German language file in the user's language folder, before anything asks for a text.
        const QString folder = qEnvironmentVariable("XDG_DATA_HOME") + "/vellumark/Languages";
        QDir().mkpath(folder);
        QFile lng(folder + "/Deutsch.lng");
        QVERIFY(lng.open(QIODevice::WriteOnly));
        lng.write("[MainMenu]\n0=&Laufwerk\n1=&Datei\n32774=Analyse starten\n32787=Wiederherstellen...\tCtrl+R\n"
                  "[MainToolBar]\n32774=Analysieren\n[StringsTable]\n57345=Bereit\n");
        lng.close();
        AppSettings().SetShowSplash(0);
        AppSettings().SetLanguageIndex(0xFFFFFFFF);  // English until the language test
        AppSettings().Save();
    }

    void commandRules_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("drive");
        QTest::addColumn<bool>("item");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("analysed");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("start on a drive") << cmd::StartAnalyzing << true << false << false << false << true;
        QTest::newRow("start while running") << cmd::StartAnalyzing << true << false << true << false << false;
        QTest::newRow("start without a drive") << cmd::StartAnalyzing << false << true << false << false << false;
        QTest::newRow("stop while running") << cmd::StopAnalyzing << false << false << true << false << true;
        QTest::newRow("stop when idle") << cmd::StopAnalyzing << true << false << false << false << false;
        QTest::newRow("rescan while running") << cmd::RescanDrives << false << false << true << false << false;
        QTest::newRow("find while running") << cmd::Search << false << true << true << false << false;
        QTest::newRow("lost drives while running") << cmd::SearchLostDrives << true << false << true << false << false;
        QTest::newRow("image of another drive while running") << cmd::CreateImage << true << false << true << false << true;
        QTest::newRow("image of the analysed drive") << cmd::CreateImage << true << false << true << true << false;
        QTest::newRow("recover an item") << cmd::Recover << false << true << false << false << true;
        QTest::newRow("recover with a drive selected") << cmd::Recover << true << false << false << false << false;
        QTest::newRow("recover while running") << cmd::Recover << false << true << true << false << false;
        QTest::newRow("try open while running") << cmd::TryOpen << false << true << true << false << false;
        QTest::newRow("reset size while running") << cmd::ResetSize << false << true << true << false << false;
        QTest::newRow("new size with a drive selected") << cmd::SetNewSize << true << false << false << false << false;
        QTest::newRow("information while running") << cmd::Information << false << true << true << false << true;
        QTest::newRow("information with a drive selected") << cmd::Information << true << false << false << false << false;
        QTest::newRow("load image while running") << cmd::LoadImage << false << false << true << false << true;
        QTest::newRow("settings while running") << cmd::Settings << false << false << true << false << true;
    }
    void commandRules() {
        QFETCH(int, id);
        QFETCH(bool, drive);
        QFETCH(bool, item);
        QFETCH(bool, running);
        QFETCH(bool, analysed);
        QFETCH(bool, enabled);
        CommandContext c;
        c.DriveSelected = drive;
        c.HasCurrentItem = item;
        c.Running = running;
        c.SelectedIsAnalysed = analysed;
        QCOMPARE(CommandEnabled(id, c), enabled);
    }

    void menusToolBarAndIdleWindow() {
        CApp app;
        app.Run(mode::MainFirst, QStringList{FixturePath("fat16.img")});
        CMainFrame* frame = Frame(app);
        QVERIFY(frame);
        QCOMPARE(frame->windowTitle(), QString("Vellumark"));
        QStringList titles;
        for (QAction* a : frame->menuBar()->actions()) titles << a->text();
        QCOMPARE(titles.mid(2), QStringList({"&View", "&Options", "&Help"}));
        QCOMPARE(frame->Action(cmd::Recover)->shortcut(), QKeySequence("Ctrl+R"));
        QCOMPARE(frame->Action(cmd::StartAnalyzing)->statusTip(), QString("Start drive analysis"));
        // The image given at start is selected, so Start is enabled and Stop is not.
        QVERIFY(WaitUntil([&] { return frame->DriveView().DriveSelected(); }, 20000));
        QCOMPARE(frame->DriveView().SelectedDrive()->DevicePath, FixturePath("fat16.img").toStdString());
        frame->UpdateCommands();
        QVERIFY(frame->Action(cmd::StartAnalyzing)->isEnabled());
        QVERIFY(!frame->Action(cmd::StopAnalyzing)->isEnabled());
        QVERIFY(!frame->Action(cmd::Recover)->isEnabled());
        QVERIFY(!frame->ProgressBar().isVisible());
        test::CheckScreenshot(frame, "main-idle", QSize(1280, 760));
    }

    void progressFollowsTheRecordAndIgnoresSmallTotals() {
        CApp app;
        app.Run(mode::MainFirst);
        CMainFrame* frame = Frame(app);
        ProgressBlock& block = app.Computer().Progress();
        block.Running = 1;
        block.Total = 1000;
        block.Current = 500;
        frame->UpdateCommands();
        QVERIFY(frame->ProgressBar().isVisible());
        QCOMPARE(frame->ProgressBar().value(), 50);
        QVERIFY(frame->Action(cmd::StopAnalyzing)->isEnabled());
        QVERIFY(!frame->Action(cmd::RescanDrives)->isEnabled());
        block.Total = 99;  // below 100 the bar is left as it is
        block.Current = 98;
        frame->UpdateCommands();
        QCOMPARE(frame->ProgressBar().value(), 50);
        app.Sink().Post(msg::StatusText, 57211, 0);
        QVERIFY(WaitUntil([&] { return frame->StatusTextShown() == "Analyzing file system."; }, 5000));
        test::CheckScreenshot(frame, "main-running", QSize(1280, 760));
        block.Running = 0;
        frame->UpdateCommands();
        QVERIFY(!frame->ProgressBar().isVisible());
        QCOMPARE(frame->StatusTextShown(), QString("Ready"));
    }

    void leavingAsksFirstAndNoKeepsTheRunGoing() {
        CApp app;
        app.Run(mode::MainFirst);
        test::CScriptedPrompter prompter;
        AppSettings().SetConfirmExit(1);
        app.Computer().Progress().Running = 1;
        prompter.Answers << Answer::No;
        QVERIFY(!Frame(app)->close());
        QCOMPARE(prompter.Asked, QStringList("Confirmation: Are you sure you want to exit the application?"));
        QCOMPARE(app.Computer().Progress().Running.load(), 1);
        QVERIFY(Frame(app)->isVisible());
        prompter.Answers << Answer::Yes;
        QVERIFY(Frame(app)->close());
        QCOMPARE(app.Computer().Progress().Running.load(), 0);
        QCOMPARE(prompter.Asked.size(), 2);
    }

    void withoutConfirmExitLeavingAsksNothing() {
        CApp app;
        app.Run(mode::MainFirst);
        test::CScriptedPrompter prompter;
        AppSettings().SetConfirmExit(0);
        QVERIFY(app.Exit());
        QVERIFY(prompter.Asked.isEmpty());
        AppSettings().SetConfirmExit(1);
    }

    void viewChoicesLastAcrossStarts() {
        {
            CApp app;
            app.Run(mode::MainFirst);
            Frame(app)->RunCommand(cmd::StatusBar);
            Frame(app)->RunCommand(cmd::Legend);
            QVERIFY(Frame(app)->statusBar()->isHidden());
            QVERIFY(!Frame(app)->Action(cmd::StatusBar)->isChecked());
            app.OnIdle();
        }
        CSettingsBlock stored(&CRegistryStore::Default());
        QCOMPARE(stored.Load(), 1);
        QCOMPARE(stored.ShowStatusBar(), 0u);
        QCOMPARE(stored.ShowLegend(), 0u);
        AppSettings().Load();
        CApp app;
        app.Run(mode::MainFirst);
        QVERIFY(Frame(app)->statusBar()->isHidden());
        QVERIFY(Frame(app)->LegendPane().isHidden());
        QVERIFY(!Frame(app)->Action(cmd::StatusBar)->isChecked());
        Frame(app)->RunCommand(cmd::StatusBar);
        Frame(app)->RunCommand(cmd::Legend);
        QVERIFY(!Frame(app)->statusBar()->isHidden());
        app.OnIdle();
    }

    void foundItemsEqualTheCommandLinesListing_data() {
        QTest::addColumn<QString>("image");
        QTest::newRow("FAT16") << "fat16.img";
        QTest::newRow("NTFS") << "ntfs.img";
    }
    void foundItemsEqualTheCommandLinesListing() {
        QFETCH(QString, image);
        const QString path = FixturePath(image);
        QVERIFY2(QFile::exists(path), qPrintable(path));
        CApp app;
        app.Run(mode::MainFirst, QStringList{path});
        CMainFrame* frame = Frame(app);
        QVERIFY(WaitUntil([&] { return frame->DriveView().DriveSelected(); }, 20000));
        frame->RunCommand(cmd::StartAnalyzing);
        QVERIFY(AnalysisDone(app));
        QTest::qWait(100);  // the end notification
        frame->DriveView().RefreshResults();
        CVolumeExploreView& view = frame->DriveView();
        const QModelIndex drive = view.TreeModel().IndexOfVolume(view.TreeModel().ResultsVolume());
        QVERIFY(drive.isValid());
        Listing shown;
        for (int row = 0; row < view.TreeModel().rowCount(drive); ++row) {
            const QModelIndex top = view.TreeModel().index(row, 0, drive);
            const QString name = top.data().toString();
            if (name == "Lost files") continue;  // the sector search's finds: not in the listing
            WalkWindow(view, top, name == "." ? QString() : "/" + name, shown);
        }
        const Listing listed = CliListing(path);
        QVERIFY(!listed.empty());
        QCOMPARE(shown, listed);
        if (image == "fat16.img") {
            view.TreeView()->setCurrentIndex(view.TreeModel().index(0, 0, drive));
            // "Frag" is live and holds deleted files: it shows that it has deleted items.
            bool fragMarked = false;
            for (int row = 0; row < view.ListModel().rowCount(); ++row) {
                ItemSnapshot snap;
                if (view.ListModel().ReadRow(row, snap) && snap.Name == "Frag") fragMarked = snap.Is(FI_HAS_DELETED);
            }
            QVERIFY(fragMarked);
            view.TreeView()->expand(view.TreeModel().index(0, 0, drive));
            view.ListView()->setCurrentIndex(view.ListModel().index(0, 0));
            frame->UpdateCommands();
            QVERIFY(frame->Action(cmd::Recover)->isEnabled());
            test::CheckScreenshot(frame, "main-results", QSize(1280, 760));
        }
    }

    void aLanguageFileRetitlesMenusByPositionAndId() {
        CApp app;
        QCOMPARE(AppLanguages().Names(), std::vector<std::string>({"Deutsch"}));
        AppSettings().SetLanguageIndex(0);
        app.Run(mode::MainFirst);
        CMainFrame* frame = Frame(app);
        QCOMPARE(frame->menuBar()->actions().at(0)->text(), QString("&Laufwerk"));
        QCOMPARE(frame->menuBar()->actions().at(1)->text(), QString("&Datei"));
        QCOMPARE(frame->menuBar()->actions().at(2)->text(), QString("&View"));  // no key: kept
        const auto menu = frame->menuBar()->actions().at(0)->menu()->actions();
        QCOMPARE(menu.at(0)->text(), QString("Analyse starten"));
        QCOMPARE(menu.at(1)->text(), QString("Stop Analyzing"));
        QStringList buttons;
        for (QAction* a : frame->findChild<QToolBar*>("MainToolBar")->actions())
            if (a->data().toInt() == cmd::StartAnalyzing) buttons << a->text();
        QCOMPARE(buttons, QStringList("Analysieren"));
        QTRY_COMPARE(frame->StatusTextShown(), QString("Bereit"));
        test::CheckScreenshot(frame, "main-german", QSize(1280, 760));
        AppSettings().SetLanguageIndex(0xFFFFFFFF);
    }
};

VM_UI_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
