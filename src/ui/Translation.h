#pragma once
// The language manager's view of the Qt menus, tool bars and dialogs: a language file retitles
// menu entries by position and by command id, tool-bar buttons by command id, and a dialog's
// controls by their control id (the "controlId" property of a widget).
#include <QPointer>
#include <map>
#include <memory>

#include "app/Languages.h"

class QMenu;
class QToolBar;
class QWidget;

namespace vm::ui {

// A menu bar or a menu. Command entries are actions whose data is their command id.
class CQtMenu final : public ITranslatableMenu {
public:
    explicit CQtMenu(QWidget* menuOrBar);
    std::size_t Count() const override;
    EntryKind Kind(std::size_t index) const override;
    int CommandId(std::size_t index) const override;
    std::string Text(std::size_t index) const override;
    void SetText(std::size_t index, const std::string& text) override;
    ITranslatableMenu* Submenu(std::size_t index) override;

private:
    QPointer<QWidget> Widget;
    std::map<QMenu*, std::unique_ptr<CQtMenu>> Submenus;
};

// Buttons with a text; those without one ("textless" property) are left as they are.
class CQtToolBar final : public ITranslatableToolBar {
public:
    explicit CQtToolBar(QToolBar* bar);
    std::size_t Count() const override;
    int CommandId(std::size_t index) const override;
    std::string Text(std::size_t index) const override;
    void SetText(std::size_t index, const std::string& text) override;

private:
    QPointer<QToolBar> Bar;
};

// A dialog (or a form) whose caption and controls a language file may retitle.
class CQtWindow final : public ITranslatableWindow {
public:
    explicit CQtWindow(QWidget* window, bool dialog = true);
    void SetCaption(const std::string& text) override;
    bool IsDialog() const override { return Dialog; }
    std::vector<int> ControlIds() const override;
    void SetControlText(int id, const std::string& text) override;
    ITranslatableMenu* MenuBar() override { return nullptr; }
    void LanguageChanged() override {}

private:
    QPointer<QWidget> Window;
    bool Dialog;
};

}  // namespace vm::ui
