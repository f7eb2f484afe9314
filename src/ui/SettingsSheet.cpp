#include "ui/SettingsSheet.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "app/Languages.h"
#include "app/Log.h"
#include "app/LogSettings.h"
#include "app/SettingsBlock.h"
#include "app/TempFolderCheck.h"
#include "ui/DialogHelp.h"
#include "ui/Prompter.h"
#include "ui/Texts.h"
#include "ui/Translation.h"
#include "ui/Icons.h"
#include "ui/UiIds.h"

namespace vm::ui {
namespace {

constexpr int kSettingsTitle = 160;
constexpr int kTempFolderChars = CSettingsBlock::kFolderFieldSize / 2 - 1;
constexpr int kLogFileNameChars = CSettingsBlock::kLogFileNameSize / 2 - 1;

const char* const kPageSections[] = {
    "ProgrammSettings.Common",      "ProgrammSettings.Confirms", "ProgrammSettings.SearchFileTypes",
    "ProgrammSettings.Temporary",   "ProgrammSettings.DriveAccess", "ProgrammSettings.Logging",
    "ProgrammSettings.Languages"};
const char* const kPageTitles[] = {"Common Settings",  "Confirmations", "File Types", "Temporary Folder",
                                   "Drive Access",     "Logging",       "Interface Language"};

template <typename W>
W* Named(W* widget, const char* name, int controlId = 0) {
    widget->setObjectName(name);
    if (controlId) widget->setProperty("controlId", controlId);
    return widget;
}

QCheckBox* Check(const char* name, int id, const QString& text) { return Named(new QCheckBox(text), name, id); }

QLabel* Note(const QString& text, int id = 0, bool wrap = true) {
    auto* label = new QLabel(text);
    label->setWordWrap(wrap);
    if (id) label->setProperty("controlId", id);
    return label;
}

QSpinBox* Spin(const char* name, int low, int high) {
    auto* spin = Named(new QSpinBox, name);
    spin->setRange(low, high);
    spin->setMinimumWidth(110);
    return spin;
}

template <typename W>
W* Find(QObject* root, const char* name) { return root->findChild<W*>(name); }

// The drop-down list of languages as the language manager fills it.
class CComboLanguageList final : public ILanguageList {
public:
    explicit CComboLanguageList(QComboBox* box) : Box(box) {}
    void Clear() override { Box->clear(); }
    void Add(const std::string& name) override { Box->addItem(QString::fromStdString(name)); }
    void SetCurrent(int index) override { Box->setCurrentIndex(index); }
    void SetEnabled(bool enabled) override { Box->setEnabled(enabled); }

private:
    QComboBox* Box;
};

// Lines also go to the standard error stream while "Write log in system debug window" is set.
void ApplyDebugOutput(const CSettingsBlock& s) {
    if (s.LogToDebugger())
        Log().SetEcho([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    else
        Log().SetEcho(nullptr);
}

}  // namespace

int SettingsPageOf(int commandId) {
    switch (commandId) {
        case cmd::Confirmations: return CSettingsSheet::Confirms;
        case cmd::FileTypes: return CSettingsSheet::FileTypes;
        case cmd::TemporaryFolder: return CSettingsSheet::Temporary;
        case cmd::DriveAccess: return CSettingsSheet::DriveAccess;
        case cmd::Logging: return CSettingsSheet::Logging;
        case cmd::InterfaceLanguage: return CSettingsSheet::Languages;
        default: return CSettingsSheet::Common;  // Settings..., Common Settings... and the rest
    }
}

CSettingsSheet::CSettingsSheet(CSettingsBlock& settings, QWidget* owner, int commandId)
    : QDialog(owner), Settings(settings), Translated(PageCount, false) {
    LoadResources();
    setWindowTitle(Text(kSettingsTitle));
    Tabs = new QTabWidget;
    Tabs->setUsesScrollButtons(false);  // every page title stays in sight
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                         QDialogButtonBox::Apply | QDialogButtonBox::Help);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Tabs);
    layout->addWidget(buttons);
    BuildPages();
    Load();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { Apply(); });
    connect(buttons, &QDialogButtonBox::helpRequested, this, [] { OpenHelpPage("settings"); });
    connect(Tabs, &QTabWidget::currentChanged, this, &CSettingsSheet::PageShown);

    auto sheet = std::make_shared<CQtWindow>(this);
    Translations.push_back(sheet);
    AppLanguages().RegisterWindow("ProgramSettings", sheet);
    Tabs->setCurrentIndex(SettingsPageOf(commandId));
    PageShown(Tabs->currentIndex());
}

CSettingsSheet::~CSettingsSheet() = default;

void CSettingsSheet::BuildPages() {
    MakePage(Common, "common", CommonPage());
    MakePage(Confirms, "confirmations", ConfirmsPage());
    MakePage(FileTypes, "types", FileTypesPage());
    MakePage(Temporary, "temporary", TemporaryPage());
    MakePage(DriveAccess, "driveaccess", DriveAccessPage());
    MakePage(Logging, "logging", LoggingPage());
    MakePage(Languages, "language", LanguagesPage());
}

// A page: its 48 px icon at the top left, the controls beside it.
QWidget* CSettingsSheet::MakePage(Page page, const QString& icon, QWidget* body) {
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    auto* picture = new QLabel;
    picture->setPixmap(QPixmap(":/icons/page-" + icon + "-48.png"));
    picture->setAlignment(Qt::AlignTop);
    picture->setFixedWidth(56);
    layout->addWidget(picture);
    layout->addWidget(body, 1);
    Tabs->addTab(widget, kPageTitles[page]);
    return widget;
}

QWidget* CSettingsSheet::CommonPage() {
    auto* w = new QWidget;
    auto* l = new QGridLayout(w);
    l->addWidget(Check("ShowSplash", ctl::ShowSplash, "Show Splash screen at startup"), 0, 0, 1, 2);
    auto* update = Check("AutoUpdate", ctl::AutoUpdate, "Autocheck for updates and new versions every:");
    auto* days = Spin("UpdateDays", 0, 3650);
    l->addWidget(update, 1, 0);
    l->addWidget(days, 1, 1);
    connect(update, &QCheckBox::toggled, days, &QWidget::setEnabled);
    l->setRowStretch(2, 1);
    l->setColumnStretch(2, 1);
    return w;
}

QWidget* CSettingsSheet::ConfirmsPage() {
    auto* w = new QWidget;
    auto* l = new QVBoxLayout(w);
    l->addWidget(Check("ConfirmExit", ctl::ConfirmExit, "Confirm application shutdown"));
    l->addWidget(Check("ConfirmScanAbort", ctl::ConfirmScanAbort, "Confirm scan abort"));
    l->addWidget(Check("ConfirmRecoveryAbort", ctl::ConfirmRecoveryAbort, "Confirm recovery abort"));
    l->addWidget(Check("ConfirmOverwrite", ctl::ConfirmOverwrite, "Confirm file overwrite"));
    l->addWidget(Check("NoTryOpenWarning", ctl::NoTryOpenWarning, "Do not show warning message in \"Try to open\" "));
    l->addSpacing(12);
    l->addWidget(Note("Read more about the 'Try to open' feature in Help.", ctl::TryOpenNote));
    l->addStretch(1);
    return w;
}

QWidget* CSettingsSheet::FileTypesPage() {
    // The type tree is not on this page yet: the page says where the searched types come from.
    auto* w = new QWidget;
    auto* l = new QVBoxLayout(w);
    l->addWidget(Note("The file types the sector search looks for are chosen in the file type list."));
    l->addStretch(1);
    return w;
}

QWidget* CSettingsSheet::TemporaryPage() {
    auto* w = new QWidget;
    auto* l = new QGridLayout(w);
    auto* system = Named(new QRadioButton("System default temporary folder"), "SystemTempFolder", ctl::SystemTempFolder);
    auto* custom = Named(new QRadioButton("Custom temporary folder:"), "CustomTempFolder", ctl::CustomTempFolder);
    auto* group = new QButtonGroup(w);
    group->addButton(system, 0);
    group->addButton(custom, 1);
    auto* folder = Named(new QLineEdit, "TempFolder");
    folder->setMaxLength(kTempFolderChars);
    auto* browse = Named(new QPushButton("Browse..."), "BrowseTempFolder", ctl::BrowseTempFolder);
    l->addWidget(system, 0, 0, 1, 2);
    l->addWidget(custom, 1, 0, 1, 2);
    l->addWidget(folder, 2, 0);
    l->addWidget(browse, 2, 1);
    l->setRowStretch(3, 1);
    connect(group, &QButtonGroup::idClicked, this, [this] { UpdateEnabling(); });
    connect(browse, &QPushButton::clicked, this, &CSettingsSheet::BrowseTempFolder);
    return w;
}

QWidget* CSettingsSheet::DriveAccessPage() {
    auto* w = new QWidget;
    auto* l = new QGridLayout(w);
    auto* retriesLabel = Note("Retry attempts:", ctl::RetriesLabel, false);
    l->addWidget(retriesLabel, 0, 0);
    l->addWidget(Spin("ReadRetries", 0, 1000000), 0, 1);
    l->addWidget(Note("Increase if your medium is physically damaged.", ctl::RetriesHint), 1, 0, 1, 3);
    l->addWidget(Note("Pause between retry attempts:", ctl::PauseLabel, false), 2, 0);
    l->addWidget(Spin("RetryPauseMs", 0, 1000000), 2, 1);
    l->addWidget(Note("ms.", ctl::PauseUnit, false), 2, 2);
    l->addWidget(Note("Use a pause between retries for old/unstable reading devices.", ctl::PauseHint), 3, 0, 1, 3);
    l->setRowStretch(4, 1);
    l->setColumnStretch(2, 1);
    return w;
}

QWidget* CSettingsSheet::LoggingPage() {
    auto* w = new QWidget;
    auto* l = new QGridLayout(w);
    auto* save = Check("SaveLogToFile", ctl::SaveLogToFile, "Save log in file");
    auto* name = Named(new QLineEdit, "LogFileName");
    name->setMaxLength(kLogFileNameChars);
    auto* size = Spin("LogMaxSizeKB", 1, 102400);
    l->addWidget(save, 0, 0, 1, 3);
    l->addWidget(Named(Note("Log file name:", ctl::LogFileNameLabel, false), "LogFileNameLabel"), 1, 0);
    l->addWidget(name, 1, 1, 1, 2);
    l->addWidget(Named(Note("Maximum log file size:", ctl::LogMaxSizeLabel, false), "LogMaxSizeLabel"), 2, 0);
    l->addWidget(size, 2, 1);
    l->addWidget(Named(Note("KB", ctl::LogMaxSizeUnit, false), "LogMaxSizeUnit"), 2, 2);
    l->addWidget(Check("LogClearOnStart", ctl::LogClearOnStart, "Clear log file on startup"), 3, 0, 1, 3);
    l->addWidget(Check("LogToDebugger", ctl::LogToDebugger, "Write log in system debug window"), 4, 0, 1, 3);
    l->setRowStretch(5, 1);
    l->setColumnStretch(2, 1);
    connect(save, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
    return w;
}

QWidget* CSettingsSheet::LanguagesPage() {
    auto* w = new QWidget;
    auto* l = new QGridLayout(w);
    auto* box = Named(new QComboBox, "Language");
    l->addWidget(Note("Language:", ctl::LanguageLabel, false), 0, 0);
    l->addWidget(box, 0, 1);
    l->addWidget(Note("NOTE: After you change the interface language, the program must be restarted for the change "
                      "to take effect.", ctl::LanguageNote), 1, 0, 1, 2);
    l->addWidget(Note("Press F1 to get more information about localization of your copy of the program.",
                      ctl::LanguageHelpNote), 2, 0, 1, 2);
    l->setRowStretch(3, 1);
    l->setColumnStretch(1, 1);
    return w;
}

void CSettingsSheet::Load() {
    const CSettingsBlock& s = Settings;
    Find<QCheckBox>(this, "ShowSplash")->setChecked(s.ShowSplash());
    Find<QCheckBox>(this, "AutoUpdate")->setChecked(s.UpdateCheckDays() >= 0);
    Find<QSpinBox>(this, "UpdateDays")->setValue(s.UpdateCheckDays() >= 0 ? s.UpdateCheckDays() : 30);
    Find<QSpinBox>(this, "UpdateDays")->setEnabled(s.UpdateCheckDays() >= 0);
    Find<QCheckBox>(this, "ConfirmExit")->setChecked(s.ConfirmExit());
    Find<QCheckBox>(this, "ConfirmScanAbort")->setChecked(s.ConfirmScanAbort());
    Find<QCheckBox>(this, "ConfirmRecoveryAbort")->setChecked(s.ConfirmRecoveryAbort());
    Find<QCheckBox>(this, "ConfirmOverwrite")->setChecked(s.ConfirmOverwrite());
    Find<QCheckBox>(this, "NoTryOpenWarning")->setChecked(s.NoTryOpenWarning());

    // The custom choice stands when the stored folder is not the system's.
    const QString folder = QString::fromStdString(s.TempFolder());
    const bool custom = folder.compare(QString::fromStdString(CSettingsBlock::SystemTempFolder()), Qt::CaseInsensitive) != 0;
    Find<QRadioButton>(this, custom ? "CustomTempFolder" : "SystemTempFolder")->setChecked(true);
    Find<QLineEdit>(this, "TempFolder")->setText(folder);

    // Stored values out of range (a hostile or old block) are shown clamped by the spins.
    Find<QSpinBox>(this, "ReadRetries")->setValue(int(std::min<std::uint32_t>(s.ReadRetries(), 1000000)));
    Find<QSpinBox>(this, "RetryPauseMs")->setValue(int(std::min<std::uint32_t>(s.RetryPauseMs(), 1000000)));
    Find<QCheckBox>(this, "SaveLogToFile")->setChecked(s.SaveLogToFile());
    Find<QLineEdit>(this, "LogFileName")->setText(QString::fromStdString(s.LogFileName()));
    Find<QSpinBox>(this, "LogMaxSizeKB")->setValue(int(std::clamp<std::uint32_t>(s.LogMaxSizeKB(), 1, 102400)));
    Find<QCheckBox>(this, "LogClearOnStart")->setChecked(s.LogClearOnStart());
    Find<QCheckBox>(this, "LogToDebugger")->setChecked(s.LogToDebugger());

    auto* box = Find<QComboBox>(this, "Language");
    CComboLanguageList list(box);
    AppLanguages().FillLanguageList(list);
    connect(box, &QComboBox::currentIndexChanged, this, &CSettingsSheet::LanguageChosen);
    UpdateEnabling();
}

void CSettingsSheet::UpdateEnabling() {
    const bool custom = Find<QRadioButton>(this, "CustomTempFolder")->isChecked();
    Find<QLineEdit>(this, "TempFolder")->setEnabled(custom);
    Find<QPushButton>(this, "BrowseTempFolder")->setEnabled(custom);
    const bool toFile = Find<QCheckBox>(this, "SaveLogToFile")->isChecked();
    for (const char* name : {"LogFileNameLabel", "LogFileName", "LogMaxSizeLabel", "LogMaxSizeKB", "LogMaxSizeUnit",
                             "LogClearOnStart"})
        Find<QWidget>(this, name)->setEnabled(toFile);
}

void CSettingsSheet::BrowseTempFolder() {
    auto* field = Find<QLineEdit>(this, "TempFolder");
    const QString chosen = Prompter().ChooseFolder(this, "Select New Temporary Folder", field->text());
    if (!chosen.isEmpty()) field->setText(chosen);
}

// A language is taken at once, as soon as it is chosen.
void CSettingsSheet::LanguageChosen(int index) {
    if (index < 0) return;
    Settings.SetLanguageIndex(std::uint32_t(index));
    AppLanguages().Select(std::size_t(index));
}

void CSettingsSheet::PageShown(int index) {
    if (index < 0 || index >= PageCount || Translated[index]) return;
    Translated[index] = true;
    auto page = std::make_shared<CQtWindow>(Tabs->widget(index), false);
    Translations.push_back(page);
    AppLanguages().RegisterWindow(kPageSections[index], page);
}

bool CSettingsSheet::Apply() {
    const bool custom = Find<QRadioButton>(this, "CustomTempFolder")->isChecked();
    const std::string folder = custom ? Find<QLineEdit>(this, "TempFolder")->text().toStdString()
                                      : CSettingsBlock::SystemTempFolder();
    if (custom) {
        const TempFolderFault fault = CheckTempFolder(folder, kTempFolderChars);
        if (fault != TempFolderFault::None) {
            Tabs->setCurrentIndex(Temporary);
            Prompter().Tell(this, QString::fromStdString(TempFolderFaultText(fault, folder)), Text(kSettingsTitle),
                            PromptIcon::Warning);
            return false;
        }
    }
    CSettingsBlock& s = Settings;
    s.SetShowSplash(Find<QCheckBox>(this, "ShowSplash")->isChecked());
    s.SetUpdateCheckDays(Find<QCheckBox>(this, "AutoUpdate")->isChecked() ? Find<QSpinBox>(this, "UpdateDays")->value() : -1);
    s.SetConfirmExit(Find<QCheckBox>(this, "ConfirmExit")->isChecked());
    s.SetConfirmScanAbort(Find<QCheckBox>(this, "ConfirmScanAbort")->isChecked());
    s.SetConfirmRecoveryAbort(Find<QCheckBox>(this, "ConfirmRecoveryAbort")->isChecked());
    s.SetConfirmOverwrite(Find<QCheckBox>(this, "ConfirmOverwrite")->isChecked());
    s.SetNoTryOpenWarning(Find<QCheckBox>(this, "NoTryOpenWarning")->isChecked());
    s.SetUseCustomTempFolder(custom);
    s.SetTempFolder(folder);
    if (!custom) Find<QLineEdit>(this, "TempFolder")->setText(QString::fromStdString(folder));
    s.SetReadRetries(std::uint32_t(Find<QSpinBox>(this, "ReadRetries")->value()));
    s.SetRetryPauseMs(std::uint32_t(Find<QSpinBox>(this, "RetryPauseMs")->value()));
    s.SetSaveLogToFile(Find<QCheckBox>(this, "SaveLogToFile")->isChecked());
    s.SetLogFileName(Find<QLineEdit>(this, "LogFileName")->text().toStdString());
    s.SetLogMaxSizeKB(std::uint32_t(Find<QSpinBox>(this, "LogMaxSizeKB")->value()));
    s.SetLogClearOnStart(Find<QCheckBox>(this, "LogClearOnStart")->isChecked());
    s.SetLogToDebugger(Find<QCheckBox>(this, "LogToDebugger")->isChecked());
    ApplyLogSettings(s, Log());
    ApplyDebugOutput(s);
    s.SaveIfChanged();
    return true;
}

// OK keeps the sheet open when a value is refused.
void CSettingsSheet::done(int result) {
    if (result == QDialog::Accepted && !Apply()) return;
    QDialog::done(result);
}

bool ShowSettings(QWidget* owner, int commandId) {
    CSettingsSheet sheet(AppSettings(), owner, commandId);
    return sheet.exec() == QDialog::Accepted;
}

}  // namespace vm::ui
