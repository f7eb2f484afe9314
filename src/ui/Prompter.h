#pragma once
// Every message box, question and file or folder chooser of the desktop application goes through
// one prompter. The program uses the Qt one (message boxes, file dialogs); tests answer from a
// script instead of driving modal loops. Called on the window thread only: a worker that needs an
// answer asks the window thread through a blocking queued call, which then asks the prompter.
#include <QString>
#include <QStringList>

class QWidget;

namespace vm::ui {

enum class PromptIcon { None, Information, Question, Warning, Error };

// The buttons of a question and the answers, as the message box's standard buttons.
enum class Answer { Ok, Cancel, Yes, No };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };

class IPrompter {
public:
    virtual ~IPrompter() = default;
    virtual Answer Ask(QWidget* owner, const QString& text, const QString& caption, Buttons buttons,
                       PromptIcon icon) = 0;
    // A message with an OK button.
    void Tell(QWidget* owner, const QString& text, const QString& caption, PromptIcon icon = PromptIcon::Information) {
        Ask(owner, text, caption, Buttons::Ok, icon);
    }
    // Empty when the user cancelled.
    virtual QString ChooseFolder(QWidget* owner, const QString& title, const QString& start) = 0;
    virtual QString ChooseOpenFile(QWidget* owner, const QString& title, const QString& start, const QString& filter) = 0;
    virtual QStringList ChooseOpenFiles(QWidget* owner, const QString& title, const QString& start, const QString& filter) = 0;
    virtual QString ChooseSaveFile(QWidget* owner, const QString& title, const QString& start, const QString& filter) = 0;
};

class CQtPrompter final : public IPrompter {
public:
    Answer Ask(QWidget* owner, const QString& text, const QString& caption, Buttons buttons, PromptIcon icon) override;
    QString ChooseFolder(QWidget* owner, const QString& title, const QString& start) override;
    QString ChooseOpenFile(QWidget* owner, const QString& title, const QString& start, const QString& filter) override;
    QStringList ChooseOpenFiles(QWidget* owner, const QString& title, const QString& start, const QString& filter) override;
    QString ChooseSaveFile(QWidget* owner, const QString& title, const QString& start, const QString& filter) override;
};

// The process's prompter: the Qt one until another is set (tests set a scripted one).
IPrompter& Prompter();
void SetPrompter(IPrompter* prompter);

}  // namespace vm::ui
