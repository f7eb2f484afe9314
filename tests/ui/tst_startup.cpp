// How the desktop program starts: its command line, "/addsig" without a window, the mode it opens,
// and the stops along the way that must not end it (a damaged settings store, an unknown mode).
#include <QDir>
#include <QFile>
#include <QTest>

#include "UiTestSupport.h"
#include "app/RegistryStore.h"
#include "app/SettingsBlock.h"
#include "ui/App.h"
#include "ui/DriveView.h"
#include "ui/MainWindow.h"
#include "ui/StartOptions.h"
#include "ui/UiIds.h"

using namespace vm;
using namespace vm::ui;

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        AppSettings().SetShowSplash(0);
        AppSettings().SetRescanAtStart(0);
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("addsig");
        QTest::addColumn<int>("images");
        QTest::addColumn<bool>("error");
        QTest::newRow("nothing") << QStringList{} << 0 << "" << 0 << false;
        QTest::newRow("main with images") << QStringList{"--mode", "main", "a.dsk", "b.img"} << mode::MainFirst << "" << 2 << false;
        QTest::newRow("wizard") << QStringList{"--mode=wizard"} << mode::Wizard << "" << 0 << false;
        QTest::newRow("signature wizard") << QStringList{"/cs"} << mode::SignatureWizard << "" << 0 << false;
        QTest::newRow("addsig wins over cs") << QStringList{"/cs", "/addsig", "my", "sig.filesig"} << 0 << "my sig.filesig" << 0 << false;
        QTest::newRow("addsig quoted") << QStringList{"/addsig", "\"x y.filesig\""} << 0 << "x y.filesig" << 0 << false;
        QTest::newRow("addsig without file") << QStringList{"/addsig"} << 0 << "" << 0 << true;
        QTest::newRow("unknown mode") << QStringList{"--mode", "fancy"} << 0 << "" << 0 << true;
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 0 << "" << 0 << true;
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(int, mode);
        QFETCH(QString, addsig);
        QFETCH(int, images);
        QFETCH(bool, error);
        const StartOptions o = ParseStartOptions(args);
        QCOMPARE(o.Mode, mode);
        QCOMPARE(o.AddSignature.value_or(QString()), addsig);
        QCOMPARE(o.Images.size(), images);
        QCOMPARE(!o.Error.isEmpty(), error);
    }

    void addsigOfWhatIsNoSignatureFileSaysSoAndFails() {
        CApp app;  // its sink shows the import's own messages
        test::CScriptedPrompter prompter;
        QTemporaryDir dir;
        QFile empty(dir.filePath("empty.filesig"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        for (const QString& path : {dir.filePath("missing.filesig"), dir.path(), dir.filePath("empty.filesig")}) {
            prompter.Asked.clear();
            QCOMPARE(AddSignature(path), 1);
            QCOMPARE(prompter.Asked.size(), 1);
            QVERIFY2(!prompter.Asked[0].contains("added"), qPrintable(prompter.Asked[0]));
        }
    }

    void anUnknownStoredModeOpensTheMainWindow() {
        AppSettings().SetAppMode(12345);
        CApp app;
        app.Run(0);
        QVERIFY(qobject_cast<CMainFrame*>(app.TopWindow()));
        QCOMPARE(app.TopWindow()->windowTitle(), QString("Vellumark"));
    }

    void aDamagedSettingsStoreGivesTheDefaults() {
        const QString folder = qEnvironmentVariable("VELLUMARK_CONFIG_DIR");
        for (const QString& name : QDir(folder).entryList(QDir::Files)) {
            QFile f(folder + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(QByteArray(4096, '\xA5'));
        }
        CApp app;
        app.Run(mode::MainFirst);
        auto* frame = qobject_cast<CMainFrame*>(app.TopWindow());
        QVERIFY(frame);
        QVERIFY(AppSettings().ShowToolBar());
        frame->UpdateCommands();
        QVERIFY(frame->Action(cmd::LoadImage)->isEnabled());
    }

    void aDeviceStormWhileShowingResultsKeepsTheWindowWhole() {
        CApp app;
        app.Run(mode::MainFirst, QStringList{test::FixturePath("fat12.img")});
        auto* frame = qobject_cast<CMainFrame*>(app.TopWindow());
        QVERIFY(test::WaitUntil([&] { return frame->DriveView().DriveSelected(); }, 20000));
        frame->RunCommand(cmd::StartAnalyzing);
        for (int i = 0; i < 50; ++i) app.Sink().Post(msg::DrivesChanged, 0, 0);
        QVERIFY(test::WaitUntil([&] { return !app.Computer().Progress().Running.load(); }, 60000));
        QTest::qWait(300);
        frame->DriveView().RefreshResults();
        QVERIFY(frame->DriveView().TreeModel().ResultsVolume());
    }
};

VM_UI_TEST_MAIN(StartupTest)
#include "tst_startup.moc"
