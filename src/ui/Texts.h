#pragma once
// Texts of the windows, taken by id through the interface language (the built-in English text
// when no language file translates it). A tool-tip string "status\ntip" gives the status-bar text
// and the tool tip.
#include <QString>

namespace vm::ui {

QString Text(int id);
// The part before "\n" of a command's string (the status-bar text), and the part after it (the
// tool tip; the whole text when it has no "\n").
QString StatusTipOf(int commandId);
QString ToolTipOf(int commandId);
// A printf-style text of the string table ("%s", "%d", "%I64d") formatted with one text.
QString TextWith(int id, const QString& arg);

}  // namespace vm::ui
