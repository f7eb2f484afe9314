#include "ui/Texts.h"

#include "app/Format.h"
#include "app/StringTable.h"

namespace vm::ui {

QString Text(int id) { return QString::fromStdString(GetString(id)); }

QString StatusTipOf(int commandId) {
    const QString text = Text(commandId);
    const qsizetype cut = text.indexOf('\n');
    return cut < 0 ? text : text.left(cut);
}

QString ToolTipOf(int commandId) {
    const QString text = Text(commandId);
    const qsizetype cut = text.indexOf('\n');
    return cut < 0 ? text : text.mid(cut + 1);
}

QString TextWith(int id, const QString& arg) {
    return QString::fromStdString(Format(GetString(id), arg.toStdString()));
}

}  // namespace vm::ui
