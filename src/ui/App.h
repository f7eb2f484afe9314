#pragma once
// The application object: created first and destroyed last. It holds the drive list, the
// notification sink that carries the engine's messages onto the window thread, and the top-level
// window of the current mode (wizard mode, the main window, the new-signature wizard); it starts
// the program, switches modes, opens help, and leaves the program on request.
//
// Window thread only. The drive list's workers reach the windows through the sink.
#include <QObject>
#include <QWidget>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

#include "ui/QtNotifySink.h"
#include "volume/LocalComputer.h"

class QWidget;

namespace vm::ui {

class CApp final : public QObject {
    Q_OBJECT
public:
    // Loads the settings, applies the log settings and the language, creates the drive list and
    // makes the sink the engine's notifier.
    CApp();
    // Closes the window, stops and joins every worker, then lets the drive list go.
    ~CApp() override;
    static CApp& Instance();

    // The splash screen (with ShowSplash), the catalogue, and the window of `mode`. `images` are
    // opened in the drive tree, the first one selected.
    void Run(int mode, const QStringList& images = {});
    // -1: only the current mode; 0: the stored AppMode; else closes the current window and opens
    // the one of that mode, which becomes the stored mode. → the mode now shown.
    int SwitchMode(int mode);
    // Asks "Are you sure you want to exit the application?" when ConfirmExit is set; then saves
    // the settings, joins the workers and ends the event loop. False when the user said No.
    bool Exit();
    // Saves the settings when they changed (called whenever the window thread is idle).
    void OnIdle();
    // Help and web commands (57670, 32817, 32818, 32789, 32795).
    void OnHelpCommand(int commandId);
    void ExploreRecoveryFolder();
    static QString GetTitle() { return QStringLiteral("Vellumark"); }

    // The process could read the machine's disks at start (root or the disks' group).
    bool HasRawAccess() const { return RawAccess; }
    CLocalComputer& Computer() { return *Drives; }
    CQtNotifySink& Sink() { return *NotifySink; }
    QWidget* TopWindow() const { return Window; }
    // Opens a URL with the desktop (a test replaces it); false when it could not be handed on.
    using UrlOpener = std::function<bool(const QUrl&)>;
    void SetUrlOpener(UrlOpener opener) { OpenUrl = std::move(opener); }
    bool Open(const QUrl& url);

    // Stops the analysis and every job, waiting for their workers (bounded); true when all ended.
    bool StopWorkers();

private:
    QWidget* CreateWindow(int mode);
    void ShowSplash();
    void ShowAccessNotice();

    std::unique_ptr<CQtNotifySink> NotifySink;
    std::unique_ptr<CLocalComputer> Drives;
    QPointer<QWidget> Window;
    QStringList Images;
    UrlOpener OpenUrl;
    bool RawAccess = true;
    bool Leaving = false;
};

}  // namespace vm::ui
