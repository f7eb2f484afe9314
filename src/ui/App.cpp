#include "ui/App.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QSplashScreen>
#include <QTimer>
#include <unistd.h>

#include "app/Languages.h"
#include "app/Log.h"
#include "app/LogSettings.h"
#include "app/SettingsBlock.h"
#include "platform/RawAccess.h"
#include "signatures/AppCatalogue.h"
#include "ui/DesktopOpen.h"
#include "ui/HelpWindow.h"
#include "ui/Icons.h"
#include "ui/MainWindow.h"
#include "ui/Prompter.h"
#include "ui/Splash.h"
#include "ui/Texts.h"
#include "ui/UiIds.h"

namespace vm::ui {
namespace {

CApp* TheApp = nullptr;

constexpr const char* kProductPage = "https://vellumark.org/";
constexpr const char* kSupportPage = "https://vellumark.org/support/";

}  // namespace

CApp::CApp() {
    TheApp = this;
    LoadResources();
    NotifySink = std::make_unique<CQtNotifySink>();
    NotifySink->SetAnswerer([](std::uint32_t code, std::uintptr_t wParam, std::intptr_t) -> std::intptr_t {
        if (code == msg::ShowMessageBox && wParam) {
            const auto* box = reinterpret_cast<const MessageBoxText*>(wParam);
            Prompter().Tell(QApplication::activeWindow(), QString::fromStdString(box->Text),
                            QString::fromStdString(box->Caption));
        }
        return 0;
    });
    SetNotifier(NotifySink.get());
    AppSettings().Load();
    ApplyLogSettings(AppSettings(), Log());
    Log().AttachLogView(true);
    Log().SetOpener([](const std::string& path) { OpenWithDesktop(QUrl::fromLocalFile(QString::fromStdString(path))); });
    Drives = std::make_unique<CLocalComputer>();
    OpenUrl = [](const QUrl& url) { return OpenWithDesktop(url); };
}

CApp::~CApp() {
    if (Window) delete Window.data();
    StopWorkers();
    Drives.reset();
    Log().AttachLogView(false);
    Log().SetOpener({});
    SetNotifier(nullptr);
    TheApp = nullptr;
}

CApp& CApp::Instance() { return *TheApp; }

void CApp::Run(int mode, const QStringList& images) {
    Images = images;
    RawAccess = CanReadRawDevices();
    if (AppSettings().ShowSplash()) ShowSplash();
    LoadAppCatalogue();
    if (SwitchMode(mode) < 0) {
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return;
    }
    if (!RawAccess) ShowAccessNotice();
}

void CApp::ShowAccessNotice() {
    // The program goes on with drive images and whatever disks it can open: the notice is logged
    // and shown in the status bar instead of ending the program.
    Log().Notice(GetString(text::AdminError) + ": " + GetString(text::AdminErrorText));
    if (auto* frame = qobject_cast<CMainFrame*>(Window.data())) frame->ShowStatusText(Text(text::AdminError));
}

void CApp::ShowSplash() {
    auto* splash = new CSplash();
    splash->show();
    QTimer::singleShot(1500, splash, &QWidget::close);
}

QWidget* CApp::CreateWindow(int mode) {
    if (mode == mode::Wizard || mode == mode::SignatureWizard)
        Log().Notice("This version has no wizard windows yet; the main window is shown.");
    auto* frame = new CMainFrame(*this, mode == mode::MainSecond || mode == cmd::ArrangeSecondAlt ? 1 : 0);
    frame->OpenImages(Images);
    Images.clear();
    return frame;
}

int CApp::SwitchMode(int mode) {
    if (mode == -1) return int(AppSettings().AppMode());
    if (mode == 0) mode = int(AppSettings().AppMode());
    if (Window) {
        Window->close();
        delete Window.data();
    }
    AppSettings().SetAppMode(std::uint32_t(mode));
    QWidget* window = CreateWindow(mode);
    if (!window) return -1;
    Window = window;
    window->setWindowTitle(GetTitle());
    window->show();
    window->raise();
    window->activateWindow();
    return mode;
}

bool CApp::Exit() {
    if (Leaving) return true;
    if (AppSettings().ConfirmExit() &&
        Prompter().Ask(QApplication::activeWindow(), Text(text::ConfirmExit), Text(text::Confirmation), Buttons::YesNo,
                       PromptIcon::Question) != Answer::Yes)
        return false;
    Leaving = true;
    AppSettings().SaveIfChanged();
    // Workers are stopped and joined before the program ends, so none is cut off mid-write.
    StopWorkers();
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    return true;
}

bool CApp::StopWorkers() {
    CVolume* analysed = Drives->AnalysingVolume.load();
    if (Drives->Progress().Running.load()) Drives->StopAnalysis(analysed, 1);
    bool ended = true;
    for (const auto& volume : Drives->Volumes.Snapshot())
        if (!volume->WorkersEnded(std::chrono::seconds(10))) ended = false;
    if (!ended) Log().Error("CApp::StopWorkers: a worker did not end in time");
    return ended;
}

void CApp::OnIdle() { AppSettings().SaveIfChanged(); }

void CApp::OnHelpCommand(int commandId) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    switch (commandId) {
        case cmd::HelpContents: CHelpWindow::ShowPage(HelpPage::Contents); break;
        case cmd::RecoveryGuide: CHelpWindow::ShowPage(HelpPage::RecoveryGuide); break;
        case cmd::SearchHelp: CHelpWindow::ShowSearch(); break;
        case cmd::WebSite: Open(QUrl(kProductPage)); break;
        case cmd::SendMail: Open(QUrl(kSupportPage)); break;
        default: break;
    }
    QApplication::restoreOverrideCursor();
}

void CApp::ExploreRecoveryFolder() {
    std::string folder = AppSettings().RecoveryFolder();
    if (folder.empty()) folder = (QDir::homePath() + "/Recovered Files").toStdString();
    Open(QUrl::fromLocalFile(QString::fromStdString(folder)));
}

bool CApp::Open(const QUrl& url) {
    if (OpenUrl && OpenUrl(url)) return true;
    Prompter().Tell(QApplication::activeWindow(), "Could not open " + url.toDisplayString() + ".", GetTitle(),
                    PromptIcon::Warning);
    return false;
}

}  // namespace vm::ui
