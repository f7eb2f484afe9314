#pragma once
// The Help buttons of the dialogs open a bundled help page by name through one opener, which the
// main window sets to its help window. Window thread only.
#include <QString>
#include <functional>

namespace vm::ui {

void SetHelpOpener(std::function<void(const QString& page)> opener);
// Opens the page; nothing happens before an opener is set.
void OpenHelpPage(const QString& page);
// The last page asked for (tests look at it).
QString LastHelpPage();

}  // namespace vm::ui
