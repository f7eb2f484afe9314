#include "ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QTableView>
#include <QDockWidget>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/Languages.h"
#include "app/Log.h"
#include "app/SettingsBlock.h"
#include "signatures/AppCatalogue.h"
#include "ui/App.h"
#include "ui/DriveView.h"
#include "ui/FileInformation.h"
#include "ui/HexView.h"
#include "ui/FiltersDialog.h"
#include "ui/SettingsSheet.h"
#include "ui/FoundItemsModel.h"
#include "ui/Icons.h"
#include "ui/LogBox.h"
#include "ui/Prompter.h"
#include "ui/Texts.h"
#include "ui/Translation.h"
#include "ui/UiIds.h"
#include "volume/Volume.h"

namespace vm::ui {
namespace {

constexpr int kStatusPaneWidth = 250;
constexpr int kProgressPaneWidth = 200;

QString LegendHtml() {
    QFile file(":/media/legend.html");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

CMainFrame::CMainFrame(CApp& app, int arrangement, QWidget* parent) : QMainWindow(parent), App(app) {
    setWindowTitle(CApp::GetTitle());
    setWindowIcon(AppIcon());
    setObjectName("mainFrame");
    setAttribute(Qt::WA_DeleteOnClose, false);
    AppSettings().SetSectorScanAfterFs(true);
    ItemFilter.SetTypeLookup(&AppCatalogue());
    ItemFilter.LoadOrCreate();
    View = new CVolumeExploreView(App.Computer(), ItemFilter, this);
    setCentralWidget(View);
    BuildMenus();
    BuildToolBar();
    BuildStatusBar();
    BuildPanes();
    ApplyTips();
    connect(View, &CVolumeExploreView::CommandRequested, this, &CMainFrame::RunCommand);
    connect(View, &CVolumeExploreView::StatusText, this, &CMainFrame::ShowStatusText);
    connect(View->ListView()->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { UpdateDataViewer(); });
    connect(&View->ListModel(), &QAbstractItemModel::modelReset, this, [this] { UpdateDataViewer(); });
    connect(&App.Sink(), &CQtNotifySink::Notified, this, &CMainFrame::OnNotification);
    connect(&Timer250, &QTimer::timeout, this, &CMainFrame::OnTimer250);
    connect(&Timer2000, &QTimer::timeout, this, &CMainFrame::OnTimer2000);
    Timer250.start(250);
    Timer2000.start(2000);
    resize(1280, 760);
    Arrange(arrangement);
    vm::Log().Write("Program running.", LOG_NOTICE);
    Translate();
    UpdateCommands();
    if (AppSettings().RescanAtStart()) {
        AppSettings().SetRescanAtStart(0);
        QTimer::singleShot(0, this, [this] { RunCommand(cmd::RescanDrives); });
    }
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::NewAction(int id, const QString& text, const QString& shortcut) {
    auto* action = new QAction(CommandIcon(id), text, this);
    action->setData(id);
    if (!shortcut.isEmpty()) action->setShortcut(QKeySequence(shortcut));
    Actions.emplace(id, action);
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    return action;
}

void CMainFrame::BuildMenus() {
    for (const MenuDefinition& def : MainMenuDefinition()) {
        QMenu* menu = menuBar()->addMenu(def.Title);
        for (const MenuEntry& entry : def.Entries) {
            if (!entry.Id) {
                menu->addSeparator();
                continue;
            }
            QAction* action = NewAction(entry.Id, entry.Text, entry.Shortcut);
            if (CommandChecked(entry.Id, {}).has_value()) action->setCheckable(true);
            menu->addAction(action);
        }
    }
    MenuAdapter = std::make_shared<CQtMenu>(menuBar());
}

void CMainFrame::BuildToolBar() {
    Tools = addToolBar("MainToolBar");
    Tools->setObjectName("MainToolBar");
    Tools->setIconSize(QSize(24, 24));
    Tools->setMovable(false);
    Tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    for (const ToolButton& button : MainToolBarDefinition()) {
        if (!button.Id) {
            Tools->addSeparator();
            continue;
        }
        // Buttons have actions of their own: their texts differ from the menu's.
        QAction* action = NewAction(button.Id, button.Text);
        if (CommandChecked(button.Id, {}).has_value()) action->setCheckable(true);
        if (!*button.Text) {
            action->setProperty("textless", true);
            action->setIconText({});
        }
        Tools->addAction(action);
        if (!*button.Text)
            if (auto* b = qobject_cast<QToolButton*>(Tools->widgetForAction(action))) b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    ToolBarAdapter = std::make_shared<CQtToolBar>(Tools);
    Tools->setVisible(AppSettings().ShowToolBar());
}

void CMainFrame::BuildStatusBar() {
    Status = new QLabel(Text(text::Ready));
    Status->setObjectName("statusText");
    Status->setFixedWidth(kStatusPaneWidth);
    Status->setProperty("paneId", pane::Status);
    Progress = new QProgressBar;
    Progress->setObjectName("analysisProgress");
    Progress->setRange(0, 100);
    Progress->setFixedWidth(kProgressPaneWidth);
    Progress->setProperty("paneId", pane::Progress);
    Progress->hide();
    Log = new CLogBox;
    Log->SaveButton()->setFixedWidth(Log->Box()->sizeHint().height());
    statusBar()->addWidget(Status);
    statusBar()->addWidget(Progress);
    statusBar()->addWidget(Log, 1);
    statusBar()->setSizeGripEnabled(true);
    statusBar()->setVisible(AppSettings().ShowStatusBar());
}

void CMainFrame::BuildPanes() {
    Legend = new QDockWidget(Text(text::LegendTitle), this);
    Legend->setObjectName("legendPane");
    auto* legendView = new QTextBrowser;
    // The page names the program's own icons as "item:N" and "drive:N".
    for (int icon = ICON_FILE; icon <= ICON_FILE_DELETED_MATCHED; ++icon)
        legendView->document()->addResource(QTextDocument::ImageResource, QUrl(QString("item:%1").arg(icon)),
                                            ItemIcon(icon).pixmap(16, 16));
    for (int image = 12; image <= 20; ++image)
        legendView->document()->addResource(QTextDocument::ImageResource, QUrl(QString("drive:%1").arg(image)),
                                            DriveIcon(image).pixmap(16, 16));
    legendView->setHtml(LegendHtml());
    legendView->setOpenLinks(false);
    Legend->setWidget(legendView);
    addDockWidget(Qt::RightDockWidgetArea, Legend);
    Legend->setVisible(AppSettings().ShowLegend());
    connect(Legend, &QDockWidget::visibilityChanged, this, [this](bool) {
        if (!isMinimized() && isVisible()) AppSettings().SetShowLegend(!Legend->isHidden());
    });
    DataViewer = new QDockWidget(Text(text::DataViewerTitle), this);
    DataViewer->setObjectName("dataViewerPane");
    // The pane shows a hint until a row is chosen, then the item's information above its bytes.
    DataText = new QLabel("Select a file or folder in the list to see where it lies on the drive and its bytes.");
    DataText->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    DataText->setWordWrap(true);
    DataText->setMargin(8);
    DataInfo = new CDataInfoView;
    Hex = new CHexView;
    auto* itemPage = new QSplitter(Qt::Vertical);
    itemPage->addWidget(DataInfo);
    itemPage->addWidget(Hex);
    itemPage->setStretchFactor(1, 1);
    DataPages = new QStackedWidget;
    DataPages->addWidget(DataText);
    DataPages->addWidget(itemPage);
    DataViewer->setWidget(DataPages);
    addDockWidget(Qt::RightDockWidgetArea, DataViewer);
    UpdateDataViewer();
}

void CMainFrame::ApplyTips() {
    for (auto& [id, action] : Actions) {
        action->setStatusTip(StatusTipOf(id));
        action->setToolTip(ToolTipOf(id).isEmpty() ? action->text().remove('&') : ToolTipOf(id));
    }
}

void CMainFrame::Arrange(int arrangement) {
    const int width = this->width();
    const int drive = arrangement == 0 ? width * 2 / 3 : width / 3;
    resizeDocks({Legend, DataViewer}, {width - drive, width - drive}, Qt::Horizontal);
}

void CMainFrame::Translate() {
    CLanguages& languages = AppLanguages();
    languages.RegisterMainMenu(MenuAdapter);
    languages.RegisterToolBar("MainToolBar", ToolBarAdapter);
    const std::uint32_t index = AppSettings().LanguageIndex();
    if (index < languages.Names().size()) languages.Select(index);
    ApplyTips();
}

QAction* CMainFrame::Action(int commandId) const {
    auto it = Actions.find(commandId);
    return it == Actions.end() ? nullptr : it->second;
}

CommandContext CMainFrame::Context() const {
    CommandContext c;
    CLocalComputer& computer = App.Computer();
    c.Running = computer.Progress().Running.load() != 0;
    c.DriveSelected = View->DriveSelected();
    c.HasCurrentItem = View->HasCurrentItem();
    c.SelectedIsAnalysed = c.DriveSelected && View->SelectedDrive() == computer.AnalysingVolume.load();
    c.LegendShown = !Legend->isHidden();
    c.ToolBarShown = !Tools->isHidden();
    c.StatusBarShown = !statusBar()->isHidden();
    return c;
}

void CMainFrame::UpdateCommands() {
    const CommandContext c = Context();
    for (auto& [id, action] : Actions) {
        action->setEnabled(CommandEnabled(id, c));
        if (const auto checked = CommandChecked(id, c)) action->setChecked(*checked);
    }
    UpdateProgress();
}

void CMainFrame::UpdateProgress() {
    const ProgressBlock& block = App.Computer().Progress();
    if (!block.Running.load()) {
        if (ProgressShown) {
            Progress->hide();
            ProgressShown = false;
        }
        // A stopped worker may still be finishing its last unit: say so until it has ended.
        CVolume* analysed = App.Computer().AnalysingVolume.load();
        std::shared_ptr<CVolume> keep = App.Computer().Volumes.Share(analysed);
        ShowStatusText(keep && !keep->WorkersEnded(std::chrono::milliseconds(0)) ? "Stopping..." : Text(text::Ready));
        return;
    }
    if (!ProgressShown) {
        Progress->show();
        ProgressShown = true;
    }
    const std::int64_t current = block.Current.load(), total = block.Total.load();
    if (current != 0 && total >= 100) Progress->setValue(int(std::min<std::int64_t>(100, current / (total / 100))));
}

void CMainFrame::ShowStatusText(const QString& text) {
    if (text == LastStatus) return;
    LastStatus = text;
    Status->setText(text);
}

QString CMainFrame::StatusTextShown() const { return Status->text(); }

void CMainFrame::UpdateDataViewer() {
    ItemSnapshot snap;
    const QModelIndex current = View->ListView()->currentIndex();
    CVolume* drive = View->ListModel().Volume();
    const ItemHandle handle = View->ListModel().HandleAt(current.row());
    if (!drive || !current.isValid() || !View->ListModel().ReadRow(current.row(), snap) ||
        !DataInfo->ShowItem(*drive, handle, &AppCatalogue())) {
        DataPages->setCurrentIndex(0);
        return;
    }
    if (snap.Is(FI_FOLDER)) Hex->SetMemory(nullptr, 0);
    else Hex->ShowItem(*drive, snap);
    DataPages->setCurrentIndex(1);
}

void CMainFrame::ShowInformation() {
    CVolume* drive = View->TreeModel().ResultsVolume();
    if (drive && !ShowFileInformation(this, *drive, View->CurrentItem(), &AppCatalogue()))
        Prompter().Tell(this, "The item is no longer listed: the drive was analysed again.", CApp::GetTitle());
}

void CMainFrame::OnNotification(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam) {
    switch (code) {
        case msg::StatusText: ShowStatusText(Text(int(wParam))); break;
        case msg::LogLine: Log->Update(); break;
        case msg::AnalysisEnded:
        case msg::SectorPhaseEnded:
            View->OnNotification(code, wParam, lParam);
            UpdateCommands();
            break;
        case msg::DrivesChanged:
        case msg::FoundVolumeAdded: View->OnNotification(code, wParam, lParam); break;
        default: break;
    }
}

void CMainFrame::OnTimer250() {
    try {
        UpdateCommands();
        Log->Update();
        App.OnIdle();
    } catch (...) {
        // The bar stays as it was.
    }
}

void CMainFrame::OnTimer2000() {
    if (App.Computer().Progress().Running.load()) View->RefreshResults();
}

void CMainFrame::RunCommand(int id) {
    if (QAction* action = Action(id); action && !CommandEnabled(id, Context())) return;
    switch (id) {
        case cmd::StartAnalyzing: View->StartAnalysis(); break;
        case cmd::StopAnalyzing: View->StopAnalysis(); break;
        case cmd::RescanDrives: View->RescanDrives(); break;
        case cmd::SearchLostDrives: View->SearchLostDrives(); break;
        case cmd::Exit: close(); break;
        case cmd::Legend: Legend->setVisible(Legend->isHidden()); AppSettings().SetShowLegend(!Legend->isHidden()); break;
        case cmd::ToolBar: Tools->setVisible(Tools->isHidden()); AppSettings().SetShowToolBar(!Tools->isHidden()); break;
        case cmd::StatusBar:
            statusBar()->setVisible(statusBar()->isHidden());
            AppSettings().SetShowStatusBar(!statusBar()->isHidden());
            break;
        case cmd::HelpContents:
        case cmd::RecoveryGuide:
        case cmd::SearchHelp:
        case cmd::WebSite:
        case cmd::SendMail: App.OnHelpCommand(id); break;
        case cmd::About: ShowAbout(); break;
        case cmd::SaveLog: vm::Log().SaveAndShow(); break;
        case cmd::Settings:
        case cmd::CommonSettings:
        case cmd::Confirmations:
        case cmd::FileTypes:
        case cmd::TemporaryFolder:
        case cmd::DriveAccess:
        case cmd::Logging:
        case cmd::InterfaceLanguage:
            ShowSettings(this, id);
            ApplyTips();  // a new language retitles the tips too
            break;
        case cmd::Filters:
            if (ShowFilters(this, ItemFilter)) View->FilterChanged();
            break;
        case cmd::Information: ShowInformation(); break;
        case cmd::ArrangeFirst:
        case cmd::WizardMode:
        case cmd::ArrangeSecond:
        case cmd::ArrangeSecondAlt: QTimer::singleShot(0, &App, [app = &App, id] { app->SwitchMode(id); }); break;
        default: NotAvailableYet(id); break;
    }
    UpdateCommands();
}

void CMainFrame::NotAvailableYet(int commandId) {
    QString name;
    if (QAction* action = Action(commandId)) name = action->text().remove('&').section('\t', 0, 0);
    Prompter().Tell(this, (name.isEmpty() ? QString("This command") : "\"" + name + "\"") + " is not available yet in this version.",
                    CApp::GetTitle());
}

void CMainFrame::ShowAbout() {
    Prompter().Tell(this,
                    QStringLiteral("Vellumark %1\n\nRecovers deleted and lost files from FAT and NTFS drives, memory cards "
                                   "and drive images. Drives are only ever read, never written.")
                        .arg(VM_VERSION),
                    "About Vellumark");
}

void CMainFrame::OpenImages(const QStringList& paths) {
    if (!paths.isEmpty()) View->OpenImages(paths);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Ask first: answering No must leave a running analysis alone.
    if (!App.Exit()) {
        event->ignore();
        return;
    }
    event->accept();
}

}  // namespace vm::ui
