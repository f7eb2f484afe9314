#include "ui/DialogHelp.h"

#include "ui/HelpWindow.h"

namespace vm::ui {
namespace {
std::function<void(const QString&)>& Opener() {
    static std::function<void(const QString&)> opener;
    return opener;
}
QString& Last() {
    static QString last;
    return last;
}
}  // namespace

void SetHelpOpener(std::function<void(const QString& page)> opener) { Opener() = std::move(opener); }

void OpenHelpPage(const QString& page) {
    Last() = page;
    if (Opener()) Opener()(page);
    else CHelpWindow::ShowPage(page);
}

QString LastHelpPage() { return Last(); }

}  // namespace vm::ui
