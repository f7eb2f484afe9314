#pragma once
// The "Settings" sheet: one page per group of program settings, each control bound to its field
// of the settings block. OK and Apply check the page values (a temporary folder that cannot take
// files is refused with a message), write them into the block, apply the Logging values to the
// log and save the block. Window thread only.
#include <QDialog>
#include <memory>
#include <vector>

class QTabWidget;

namespace vm {
class CSettingsBlock;
}

namespace vm::ui {

class CQtWindow;

// The page the sheet opens on for a command of the Options menu (0 for any other command).
int SettingsPageOf(int commandId);

class CSettingsSheet final : public QDialog {
    Q_OBJECT
public:
    enum Page { Common, Confirms, FileTypes, Temporary, DriveAccess, Logging, Languages, PageCount };

    CSettingsSheet(CSettingsBlock& settings, QWidget* owner, int commandId);
    ~CSettingsSheet() override;

    // Checks and stores the values of every page: false (and a message) when one is refused.
    bool Apply();
    QTabWidget* Pages() const { return Tabs; }

private:
    void BuildPages();
    QWidget* MakePage(Page page, const QString& icon, QWidget* body);
    QWidget* CommonPage();
    QWidget* ConfirmsPage();
    QWidget* FileTypesPage();
    QWidget* TemporaryPage();
    QWidget* DriveAccessPage();
    QWidget* LoggingPage();
    QWidget* LanguagesPage();
    void Load();
    void UpdateEnabling();
    void BrowseTempFolder();
    void LanguageChosen(int index);
    void PageShown(int index);
    void done(int result) override;

    CSettingsBlock& Settings;
    QTabWidget* Tabs = nullptr;
    std::vector<bool> Translated;
    std::vector<std::shared_ptr<CQtWindow>> Translations;
};

// Shows the sheet modally on the command's page; true when the user left it with OK.
bool ShowSettings(QWidget* owner, int commandId);

}  // namespace vm::ui
