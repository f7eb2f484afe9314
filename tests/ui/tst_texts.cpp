// The texts the windows take by id, and the scripted prompter the other interface tests rely on.
#include <QTest>

#include "UiTestSupport.h"
#include "ui/Texts.h"
#include "ui/UiIds.h"

using namespace vm::ui;

class TextsTest : public QObject {
    Q_OBJECT
private slots:
    void tipsSplitAtTheLineFeed_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("tip");
        QTest::newRow("two parts") << cmd::StartAnalyzing << "Start drive analysis" << "Start analyzing";
        QTest::newRow("one part") << cmd::SearchLostDrives << "Find Lost Disks" << "Find Lost Disks";
        QTest::newRow("no text") << cmd::RecoveryGuide << "" << "";
    }
    void tipsSplitAtTheLineFeed() {
        QFETCH(int, id);
        QFETCH(QString, status);
        QFETCH(QString, tip);
        QCOMPARE(StatusTipOf(id), status);
        QCOMPARE(ToolTipOf(id), tip);
    }

    void scriptedPrompterAnswersInOrderAndRefusesWhatIsNotScripted() {
        test::CScriptedPrompter prompter;
        prompter.Answers << Answer::Yes;
        QCOMPARE(Prompter().Ask(nullptr, "first?", "Q", Buttons::YesNo, PromptIcon::Question), Answer::Yes);
        QCOMPARE(Prompter().Ask(nullptr, "second?", "Q", Buttons::YesNo, PromptIcon::Question), Answer::No);
        QCOMPARE(Prompter().Ask(nullptr, "third?", "Q", Buttons::OkCancel, PromptIcon::Question), Answer::Cancel);
        QCOMPARE(prompter.Asked, QStringList({"Q: first?", "Q: second?", "Q: third?"}));
    }
};

VM_UI_TEST_MAIN(TextsTest)
#include "tst_texts.moc"
