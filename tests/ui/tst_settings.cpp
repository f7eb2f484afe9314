// The settings sheet: the page each command opens, every control written to its field of the
// settings block and read back from the stored block, the Logging enable rule, and the refused
// temporary folders.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include "UiTestSupport.h"
#include "app/Log.h"
#include "app/SettingsBlock.h"
#include "ui/SettingsSheet.h"
#include "ui/UiIds.h"

using namespace vm;
using namespace vm::ui;

namespace {
template <typename W>
W* Child(QWidget* sheet, const char* name) {
    W* w = sheet->findChild<W*>(name);
    if (!w) qFatal("no control %s", name);
    return w;
}
}  // namespace

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void commandsOpenTheirPage_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("page");
        QTest::newRow("Settings...") << cmd::Settings << 0;
        QTest::newRow("Common Settings...") << cmd::CommonSettings << 0;
        QTest::newRow("Confirmations...") << cmd::Confirmations << 1;
        QTest::newRow("File Types...") << cmd::FileTypes << 2;
        QTest::newRow("Temporary Folder...") << cmd::TemporaryFolder << 3;
        QTest::newRow("Drive Access...") << cmd::DriveAccess << 4;
        QTest::newRow("Logging...") << cmd::Logging << 5;
        QTest::newRow("Interface Language...") << cmd::InterfaceLanguage << 6;
        QTest::newRow("another command") << cmd::Recover << 0;
    }
    void commandsOpenTheirPage() {
        QFETCH(int, command);
        QFETCH(int, page);
        QCOMPARE(SettingsPageOf(command), page);
        CSettingsBlock block;
        CSettingsSheet sheet(block, nullptr, command);
        QCOMPARE(sheet.Pages()->currentIndex(), page);
        QCOMPARE(sheet.windowTitle(), QString("Settings"));
    }

    void everyControlReachesItsFieldAndComesBackAfterAReload() {
        const QString custom = QDir::tempPath() + "/custom-temp";
        QDir().mkpath(custom);
        {
            CSettingsBlock block;
            block.Load();
            CSettingsSheet sheet(block, nullptr, cmd::Settings);
            Child<QCheckBox>(&sheet, "ShowSplash")->setChecked(false);
            Child<QSpinBox>(&sheet, "UpdateDays")->setValue(7);
            Child<QCheckBox>(&sheet, "ConfirmExit")->setChecked(false);
            Child<QCheckBox>(&sheet, "ConfirmScanAbort")->setChecked(false);
            Child<QCheckBox>(&sheet, "ConfirmRecoveryAbort")->setChecked(false);
            Child<QCheckBox>(&sheet, "ConfirmOverwrite")->setChecked(false);
            Child<QCheckBox>(&sheet, "NoTryOpenWarning")->setChecked(true);
            Child<QRadioButton>(&sheet, "CustomTempFolder")->click();
            Child<QLineEdit>(&sheet, "TempFolder")->setText(custom);
            Child<QSpinBox>(&sheet, "ReadRetries")->setValue(25);
            Child<QSpinBox>(&sheet, "RetryPauseMs")->setValue(150);
            Child<QCheckBox>(&sheet, "SaveLogToFile")->setChecked(true);
            Child<QLineEdit>(&sheet, "LogFileName")->setText("mine.log");
            Child<QSpinBox>(&sheet, "LogMaxSizeKB")->setValue(64);
            Child<QCheckBox>(&sheet, "LogClearOnStart")->setChecked(false);
            Child<QCheckBox>(&sheet, "LogToDebugger")->setChecked(false);
            QVERIFY(sheet.Apply());
            QVERIFY(Log().WritesToFile());
        }
        CSettingsBlock stored;  // a new run reads what the sheet saved
        QCOMPARE(stored.Load(), 1);
        QCOMPARE(stored.ShowSplash(), 0u);
        QCOMPARE(stored.UpdateCheckDays(), 7);
        QCOMPARE(stored.ConfirmExit() + stored.ConfirmScanAbort() + stored.ConfirmRecoveryAbort() +
                     stored.ConfirmOverwrite(), 0u);
        QCOMPARE(stored.NoTryOpenWarning(), 1u);
        QCOMPARE(stored.UseCustomTempFolder(), 1u);
        QCOMPARE(QString::fromStdString(stored.TempFolder()), custom);
        QCOMPARE(stored.ReadRetries(), 25u);
        QCOMPARE(stored.RetryPauseMs(), 150u);
        QCOMPARE(stored.SaveLogToFile(), 1u);
        QCOMPARE(stored.LogFileName(), std::string("mine.log"));
        QCOMPARE(stored.LogMaxSizeKB(), 64u);
        QCOMPARE(stored.LogClearOnStart(), 0u);
        QCOMPARE(stored.LogToDebugger(), 0u);

        // The sheet opened anew shows the stored values.
        CSettingsSheet again(stored, nullptr, cmd::Settings);
        QVERIFY(!Child<QCheckBox>(&again, "ShowSplash")->isChecked());
        QCOMPARE(Child<QSpinBox>(&again, "ReadRetries")->value(), 25);
        QVERIFY(Child<QRadioButton>(&again, "CustomTempFolder")->isChecked());
        QCOMPARE(Child<QLineEdit>(&again, "LogFileName")->text(), QString("mine.log"));

        // Back to the system folder: it is what the field holds after Apply.
        Child<QRadioButton>(&again, "SystemTempFolder")->click();
        QVERIFY(again.Apply());
        QCOMPARE(stored.TempFolder(), CSettingsBlock::SystemTempFolder());
        QCOMPARE(stored.UseCustomTempFolder(), 0u);
        Child<QCheckBox>(&again, "SaveLogToFile")->setChecked(false);
        QVERIFY(again.Apply());
        QVERIFY(!Log().WritesToFile());
    }

    void uncheckedUpdateBoxStoresMinusOneAndStartsUnchecked() {
        CSettingsBlock block;
        {
            CSettingsSheet sheet(block, nullptr, cmd::CommonSettings);
            QVERIFY(Child<QCheckBox>(&sheet, "AutoUpdate")->isChecked());
            Child<QCheckBox>(&sheet, "AutoUpdate")->setChecked(false);
            QVERIFY(!Child<QSpinBox>(&sheet, "UpdateDays")->isEnabled());
            QVERIFY(sheet.Apply());
        }
        QCOMPARE(block.UpdateCheckDays(), -1);
        CSettingsSheet sheet(block, nullptr, cmd::CommonSettings);
        QVERIFY(!Child<QCheckBox>(&sheet, "AutoUpdate")->isChecked());
    }

    void loggingControlsFollowSaveLogInFile() {
        CSettingsBlock block;
        CSettingsSheet sheet(block, nullptr, cmd::Logging);
        auto* save = Child<QCheckBox>(&sheet, "SaveLogToFile");
        for (bool on : {false, true, false}) {
            save->setChecked(on);
            for (const char* name : {"LogFileNameLabel", "LogFileName", "LogMaxSizeLabel", "LogMaxSizeKB", "LogClearOnStart"})
                QVERIFY2(Child<QWidget>(&sheet, name)->isEnabled() == on, name);
            QVERIFY(Child<QCheckBox>(&sheet, "LogToDebugger")->isEnabled());
        }
    }

    void hostileValuesAreCappedOrClamped() {
        CSettingsBlock block;
        block.SetReadRetries(4000000000u);
        block.SetLogMaxSizeKB(0);
        CSettingsSheet sheet(block, nullptr, cmd::Logging);
        QCOMPARE(Child<QSpinBox>(&sheet, "ReadRetries")->value(), 1000000);
        QCOMPARE(Child<QSpinBox>(&sheet, "LogMaxSizeKB")->value(), 1);
        auto* name = Child<QLineEdit>(&sheet, "LogFileName");
        name->setText(QString(2048, 'n'));
        QCOMPARE(name->text().size(), 1023);
        auto* retries = Child<QSpinBox>(&sheet, "ReadRetries");
        retries->selectAll();
        QTest::keyClicks(retries, "9999999999");
        retries->interpretText();
        QVERIFY(retries->value() <= 1000000);
        QVERIFY(sheet.Apply());
        QCOMPARE(block.LogFileName().size(), std::size_t(1023));
        QVERIFY(block.ReadRetries() <= 1000000u);
    }

    void unusableTemporaryFolderIsRefusedWithAMessage_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("missing") << QDir::tempPath() + "/no-such-folder";
        QTest::newRow("empty") << QString();
        QTest::newRow("too long") << "/" + QString(5000, 'a');
    }
    void unusableTemporaryFolderIsRefusedWithAMessage() {
        QFETCH(QString, folder);
        test::CScriptedPrompter prompter;
        CSettingsBlock block;
        const std::string before = block.TempFolder();
        CSettingsSheet sheet(block, nullptr, cmd::Settings);
        Child<QRadioButton>(&sheet, "CustomTempFolder")->click();
        Child<QLineEdit>(&sheet, "TempFolder")->setText(folder);
        QVERIFY(!sheet.Apply());
        QCOMPARE(prompter.Asked.size(), 1);
        QCOMPARE(sheet.Pages()->currentIndex(), int(CSettingsSheet::Temporary));
        QCOMPARE(block.TempFolder(), before);
    }

    void browseAsksForTheFolder() {
        test::CScriptedPrompter prompter;
        prompter.Paths << "/chosen/folder";
        CSettingsBlock block;
        CSettingsSheet sheet(block, nullptr, cmd::TemporaryFolder);
        Child<QRadioButton>(&sheet, "CustomTempFolder")->click();
        QTest::mouseClick(Child<QPushButton>(&sheet, "BrowseTempFolder"), Qt::LeftButton);
        QCOMPARE(prompter.Choosers, QStringList({"Select New Temporary Folder"}));
        QCOMPARE(Child<QLineEdit>(&sheet, "TempFolder")->text(), QString("/chosen/folder"));
    }

    void screenshotsOfEveryPage() {
        CSettingsBlock block;
        CSettingsSheet sheet(block, nullptr, cmd::Settings);
        const char* names[] = {"common", "confirmations", "types", "temporary", "driveaccess", "logging", "language"};
        for (int i = 0; i < CSettingsSheet::PageCount; ++i) {
            sheet.Pages()->setCurrentIndex(i);
            test::CheckScreenshot(&sheet, QString("settings-") + names[i], QSize(840, 420));
        }
    }
};

VM_UI_TEST_MAIN(SettingsTest)
#include "tst_settings.moc"
