#pragma once
// The commands of the main window: the menu bar in order (texts with their mnemonics and
// accelerators), the tool bar, and when each command is enabled or checked.
#include <QString>
#include <optional>
#include <vector>

namespace vm::ui {

struct MenuEntry {
    int Id = 0;               // 0: a separator
    const char* Text = "";
    const char* Shortcut = "";
};

struct MenuDefinition {
    const char* Title;
    std::vector<MenuEntry> Entries;
};

// Disk, File, View, Options, Help.
const std::vector<MenuDefinition>& MainMenuDefinition();

struct ToolButton {
    int Id = 0;               // 0: a separator
    const char* Text = "";    // empty: the icon alone
};
const std::vector<ToolButton>& MainToolBarDefinition();

// The state of the window that the command rules look at.
struct CommandContext {
    bool DriveSelected = false;     // the drive tree's selection is a drive
    bool HasCurrentItem = false;    // found items are shown and the list or tree has a current item
    bool Running = false;           // an analysis runs
    bool SelectedIsAnalysed = false;  // the selected drive is the one under analysis
    bool SearchShown = false, LegendShown = false, ToolBarShown = false, StatusBarShown = false;
};

// Whether the command is enabled now.
bool CommandEnabled(int id, const CommandContext& context);
// Whether a check command is checked now; nothing for commands that are not checkable.
std::optional<bool> CommandChecked(int id, const CommandContext& context);

}  // namespace vm::ui
