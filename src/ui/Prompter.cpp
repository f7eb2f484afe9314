#include "ui/Prompter.h"

#include <QFileDialog>
#include <QMessageBox>

namespace vm::ui {
namespace {

QMessageBox::Icon BoxIcon(PromptIcon icon) {
    switch (icon) {
        case PromptIcon::Information: return QMessageBox::Information;
        case PromptIcon::Question: return QMessageBox::Question;
        case PromptIcon::Warning: return QMessageBox::Warning;
        case PromptIcon::Error: return QMessageBox::Critical;
        case PromptIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons BoxButtons(Buttons buttons) {
    switch (buttons) {
        case Buttons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
        case Buttons::YesNo: return QMessageBox::Yes | QMessageBox::No;
        case Buttons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case Buttons::Ok: break;
    }
    return QMessageBox::Ok;
}

IPrompter* Current = nullptr;

}  // namespace

Answer CQtPrompter::Ask(QWidget* owner, const QString& text, const QString& caption, Buttons buttons, PromptIcon icon) {
    QMessageBox box(BoxIcon(icon), caption, text, BoxButtons(buttons), owner);
    switch (box.exec()) {
        case QMessageBox::Yes: return Answer::Yes;
        case QMessageBox::No: return Answer::No;
        case QMessageBox::Ok: return Answer::Ok;
        default: return Answer::Cancel;
    }
}

QString CQtPrompter::ChooseFolder(QWidget* owner, const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(owner, title, start);
}

QString CQtPrompter::ChooseOpenFile(QWidget* owner, const QString& title, const QString& start, const QString& filter) {
    return QFileDialog::getOpenFileName(owner, title, start, filter);
}

QStringList CQtPrompter::ChooseOpenFiles(QWidget* owner, const QString& title, const QString& start, const QString& filter) {
    return QFileDialog::getOpenFileNames(owner, title, start, filter);
}

QString CQtPrompter::ChooseSaveFile(QWidget* owner, const QString& title, const QString& start, const QString& filter) {
    // The caller applies the no-overwrite rule; the dialog must not ask on its own.
    return QFileDialog::getSaveFileName(owner, title, start, filter, nullptr, QFileDialog::DontConfirmOverwrite);
}

IPrompter& Prompter() {
    static CQtPrompter qt;
    return Current ? *Current : qt;
}

void SetPrompter(IPrompter* prompter) { Current = prompter; }

}  // namespace vm::ui
