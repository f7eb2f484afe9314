#include "ui/Commands.h"

#include "ui/UiIds.h"

namespace vm::ui {

const std::vector<MenuDefinition>& MainMenuDefinition() {
    static const std::vector<MenuDefinition> menus = {
        {"&Disk",
         {{cmd::StartAnalyzing, "Start Analyzing"},
          {cmd::StopAnalyzing, "Stop Analyzing"},
          {},
          {cmd::CreateImage, "Create Drive Image..."},
          {cmd::LoadImage, "Load Drive Image..."},
          {},
          {cmd::RescanDrives, "Rescan Drives", "F5"},
          {cmd::SearchLostDrives, "Search Lost Drives"},
          {},
          {cmd::Exit, "&Exit"}}},
        {"&File",
         {{cmd::Recover, "Recover...", "Ctrl+R"},
          {cmd::TryOpen, "Try To Open..."},
          {},
          {cmd::ResetSize, "R&eset Size"},
          {cmd::SetNewSize, "Set &New Size..."},
          {},
          {cmd::Information, "&Information...", "Ctrl+I"}}},
        {"&View",
         {{cmd::Search, "&Search"},
          {cmd::Filters, "Filters..."},
          {},
          {cmd::Legend, "Legend"},
          {cmd::ToolBar, "&Tool bar"},
          {cmd::StatusBar, "&Status Bar"}}},
        {"&Options",
         {{cmd::Settings, "Settings...", "Ctrl+P"},
          {},
          {cmd::CommonSettings, "Common Settings..."},
          {cmd::Confirmations, "Confirmations..."},
          {cmd::FileTypes, "File Types..."},
          {cmd::TemporaryFolder, "Temporary Folder..."},
          {cmd::DriveAccess, "Drive Access..."},
          {cmd::Logging, "Logging..."},
          {cmd::InterfaceLanguage, "Interface Language..."}}},
        {"&Help",
         {{cmd::HelpContents, "Contents", "F1"},
          {cmd::RecoveryGuide, "Recovery Guide"},
          {cmd::SearchHelp, "Search for Help on..."},
          {},
          {cmd::WebSite, "Vellumark on the &Web"},
          {},
          {cmd::About, "&About..."}}},
    };
    return menus;
}

const std::vector<ToolButton>& MainToolBarDefinition() {
    static const std::vector<ToolButton> buttons = {
        {cmd::StartAnalyzing, "Analyze"}, {cmd::StopAnalyzing}, {cmd::RescanDrives, "Rescan Drives"}, {},
        {cmd::Recover, "Recover"},        {cmd::Search, "Find"}, {},
        {cmd::Settings},                  {},
        {cmd::WebSite},                   {cmd::HelpContents},  {cmd::About},
    };
    return buttons;
}

bool CommandEnabled(int id, const CommandContext& c) {
    const bool items = !c.DriveSelected && c.HasCurrentItem;
    switch (id) {
        case cmd::StartAnalyzing: return c.DriveSelected && !c.Running;
        case cmd::StopAnalyzing: return c.Running;
        // A second reader of the drive under analysis would compete with it for every sector.
        case cmd::CreateImage: return c.DriveSelected && !(c.Running && c.SelectedIsAnalysed);
        // A search for lost drives is a run of its own: not beside another one.
        case cmd::SearchLostDrives: return c.DriveSelected && !c.Running;
        case cmd::RescanDrives:
        case cmd::Search: return !c.Running;
        // Reading an item or changing its size while the analysis still files and sizes items.
        case cmd::Recover:
        case cmd::TryOpen:
        case cmd::ResetSize:
        case cmd::SetNewSize: return items && !c.Running;
        case cmd::Information: return items;
        default: return true;
    }
}

std::optional<bool> CommandChecked(int id, const CommandContext& c) {
    switch (id) {
        case cmd::Search: return c.SearchShown;
        case cmd::Legend: return c.LegendShown;
        case cmd::ToolBar: return c.ToolBarShown;
        case cmd::StatusBar: return c.StatusBarShown;
        default: return std::nullopt;
    }
}

}  // namespace vm::ui
