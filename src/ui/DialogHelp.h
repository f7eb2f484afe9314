#pragma once
// The Help buttons of the dialogs open a bundled help page by name in the help window, or through
// an opener a test sets instead. Window thread only.
#include <QString>
#include <functional>

namespace vm::ui {

void SetHelpOpener(std::function<void(const QString& page)> opener);
// Opens the page (in the help window unless an opener is set).
void OpenHelpPage(const QString& page);
// The last page asked for (tests look at it).
QString LastHelpPage();

}  // namespace vm::ui
