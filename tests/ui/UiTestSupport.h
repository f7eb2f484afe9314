#pragma once
// What the interface tests share: a fresh settings folder per test program, a prompter that
// answers from a script, screenshots, and waiting for the engine's workers.
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTest>
#include <functional>

#include "ui/Prompter.h"

class QWidget;

namespace vm::ui::test {

// Answers questions and choosers from queues filled by the test; records what was asked. A
// question with nothing queued is answered Cancel (No for a yes/no question) and recorded, so a
// test sees an unexpected question instead of hanging in a modal loop.
class CScriptedPrompter final : public IPrompter {
public:
    CScriptedPrompter();
    ~CScriptedPrompter() override;
    Answer Ask(QWidget* owner, const QString& text, const QString& caption, Buttons buttons, PromptIcon icon) override;
    QString ChooseFolder(QWidget* owner, const QString& title, const QString& start) override;
    QString ChooseOpenFile(QWidget* owner, const QString& title, const QString& start, const QString& filter) override;
    QStringList ChooseOpenFiles(QWidget* owner, const QString& title, const QString& start, const QString& filter) override;
    QString ChooseSaveFile(QWidget* owner, const QString& title, const QString& start, const QString& filter) override;

    QList<Answer> Answers;   // taken from the front
    QStringList Paths;       // answers of the choosers, taken from the front
    QStringList Asked;       // "caption: text" of every question, in order
    QStringList Choosers;    // titles of every chooser shown, in order
};

// Grabs the widget at `size` (its own size when empty), saves it as NAME.png into
// $VELLUMARK_SCREENSHOT_DIR when that is set, and returns the image.
QImage Screenshot(QWidget* widget, const QString& name, QSize size = {});
// True when every pixel of the image has the same colour (an empty or unpainted window).
bool IsOneColour(const QImage& image);
// Checks that the screenshot exists, has the size and is not one colour.
void CheckScreenshot(QWidget* widget, const QString& name, QSize size);

// Processes events until `done` is true or `ms` have passed; the last value of `done`.
bool WaitUntil(const std::function<bool()>& done, int ms = 60000);

// A fixture image's path (VM_FIXTURE_DIR); a warning when it has not been made.
QString FixturePath(const QString& name);

// Sets VELLUMARK_CONFIG_DIR, XDG_DATA_HOME and TMPDIR to fresh folders of this test program
// (before anything reads the settings) and creates the QApplication.
int RunUiTest(int argc, char** argv, QObject* test);

}  // namespace vm::ui::test

#define VM_UI_TEST_MAIN(TestClass)                                    \
    int main(int argc, char** argv) {                                 \
        TestClass test;                                               \
        return vm::ui::test::RunUiTest(argc, argv, &test);            \
    }
