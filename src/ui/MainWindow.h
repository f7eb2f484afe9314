#pragma once
// The main window: menu bar, tool bar, the drive view, the legend and data-viewer panes, and the
// status bar with the status text, the analysis progress and the log box. It routes the commands
// of the menus and the tool bar, keeps their enabled and checked states current, shows the
// analysis's progress, and closes the program.
//
// Window thread only. Workers reach it through the application object's notification sink.
#include <QMainWindow>
#include <QTimer>
#include <map>
#include <memory>

#include "filesystem/Filter.h"
#include "ui/Commands.h"

class QDockWidget;
class QLabel;
class QProgressBar;
class QStackedWidget;
class QTextBrowser;
class QToolBar;

namespace vm::ui {

class CApp;
class CDataInfoView;
class CHexView;
class CLogBox;
class CVolumeExploreView;
class CQtMenu;
class CQtToolBar;

class CMainFrame final : public QMainWindow {
    Q_OBJECT
public:
    // `arrangement` 0: the drive view takes two thirds of the width; 1: one third.
    CMainFrame(CApp& app, int arrangement = 0, QWidget* parent = nullptr);
    ~CMainFrame() override;

    void OpenImages(const QStringList& paths);
    // Runs the command as its menu item would (when it is enabled).
    void RunCommand(int commandId);
    QAction* Action(int commandId) const;
    // Applies the enable and check rules and the progress now (the timers do it every 250 ms).
    void UpdateCommands();
    void ShowStatusText(const QString& text);
    QString StatusTextShown() const;
    CommandContext Context() const;

    CVolumeExploreView& DriveView() const { return *View; }
    CLogBox& LogBox() const { return *Log; }
    QProgressBar& ProgressBar() const { return *Progress; }
    QDockWidget& LegendPane() const { return *Legend; }
    QDockWidget& DataPane() const { return *DataViewer; }
    CFilter& Filter() { return ItemFilter; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void BuildPanes();
    void ApplyTips();
    void Arrange(int arrangement);
    void Translate();
    void OnNotification(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam);
    void OnTimer250();
    void OnTimer2000();
    void UpdateProgress();
    void UpdateDataViewer();
    void ShowAbout();
    void ShowInformation();
    void NotAvailableYet(int commandId);
    QAction* NewAction(int id, const QString& text, const QString& shortcut = {});

    CApp& App;
    CFilter ItemFilter;
    CVolumeExploreView* View;
    CLogBox* Log;
    QLabel* Status;
    QProgressBar* Progress;
    QDockWidget* Legend;
    QDockWidget* DataViewer;
    QLabel* DataText;
    CDataInfoView* DataInfo;
    CHexView* Hex;
    QStackedWidget* DataPages;
    QToolBar* Tools;
    std::multimap<int, QAction*> Actions;  // menu and tool-bar actions by command id
    std::shared_ptr<CQtMenu> MenuAdapter;
    std::shared_ptr<CQtToolBar> ToolBarAdapter;
    QTimer Timer250, Timer2000;
    bool ProgressShown = false;
    QString LastStatus;
};

}  // namespace vm::ui
