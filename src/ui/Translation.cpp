#include "ui/Translation.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QToolBar>
#include <QWidget>

namespace vm::ui {

CQtMenu::CQtMenu(QWidget* menuOrBar) : Widget(menuOrBar) {}

std::size_t CQtMenu::Count() const { return Widget ? std::size_t(Widget->actions().size()) : 0; }

ITranslatableMenu::EntryKind CQtMenu::Kind(std::size_t index) const {
    const QAction* a = Widget->actions().at(qsizetype(index));
    if (a->isSeparator()) return EntryKind::Separator;
    return a->menu() ? EntryKind::Submenu : EntryKind::Command;
}

int CQtMenu::CommandId(std::size_t index) const { return Widget->actions().at(qsizetype(index))->data().toInt(); }

std::string CQtMenu::Text(std::size_t index) const {
    return Widget->actions().at(qsizetype(index))->text().toStdString();
}

void CQtMenu::SetText(std::size_t index, const std::string& text) {
    Widget->actions().at(qsizetype(index))->setText(QString::fromStdString(text));
}

ITranslatableMenu* CQtMenu::Submenu(std::size_t index) {
    QMenu* menu = Widget->actions().at(qsizetype(index))->menu();
    if (!menu) return nullptr;
    auto& adapter = Submenus[menu];
    if (!adapter) adapter = std::make_unique<CQtMenu>(menu);
    return adapter.get();
}

CQtToolBar::CQtToolBar(QToolBar* bar) : Bar(bar) {}

std::size_t CQtToolBar::Count() const { return Bar ? std::size_t(Bar->actions().size()) : 0; }

int CQtToolBar::CommandId(std::size_t index) const { return Bar->actions().at(qsizetype(index))->data().toInt(); }

std::string CQtToolBar::Text(std::size_t index) const {
    const QAction* a = Bar->actions().at(qsizetype(index));
    if (a->isSeparator() || a->property("textless").toBool()) return {};
    return a->text().toStdString();
}

void CQtToolBar::SetText(std::size_t index, const std::string& text) {
    Bar->actions().at(qsizetype(index))->setText(QString::fromStdString(text));
}

CQtWindow::CQtWindow(QWidget* window, bool dialog) : Window(window), Dialog(dialog) {}

void CQtWindow::SetCaption(const std::string& text) {
    if (Window) Window->setWindowTitle(QString::fromStdString(text));
}

std::vector<int> CQtWindow::ControlIds() const {
    std::vector<int> ids;
    if (!Window) return ids;
    for (const QWidget* w : Window->findChildren<QWidget*>()) {
        bool ok = false;
        const int id = w->property("controlId").toInt(&ok);
        if (ok && id != 0 && id != -1 && id != 0xFFFF) ids.push_back(id);
    }
    return ids;
}

void CQtWindow::SetControlText(int id, const std::string& text) {
    if (!Window) return;
    const QString value = QString::fromStdString(text);
    for (QWidget* w : Window->findChildren<QWidget*>()) {
        if (w->property("controlId").toInt() != id) continue;
        if (auto* label = qobject_cast<QLabel*>(w)) label->setText(value);
        else if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setText(value);
        else if (auto* group = qobject_cast<QGroupBox*>(w)) group->setTitle(value);
    }
}

}  // namespace vm::ui
