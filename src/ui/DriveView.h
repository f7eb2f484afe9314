#pragma once
// The drive view of the main window: the drive tree (with the folder tree of the shown drive's
// found items) beside the file list of the selected folder. It carries out the commands that act
// on drives (start, stop, rescan, search lost drives, opening images) and keeps both views in
// step with the analysis while it runs.
//
// Window thread only; the engine's notifications arrive through OnNotification.
#include <QWidget>
#include <memory>

#include "filesystem/Filter.h"
#include "ui/DriveTreeModel.h"
#include "ui/FoundItemsModel.h"
#include "ui/MimeTypeNames.h"

class QLabel;
class QStackedWidget;
class QTableView;
class QTreeView;

namespace vm::ui {

class CVolumeExploreView final : public QWidget {
    Q_OBJECT
public:
    CVolumeExploreView(CLocalComputer& computer, const CFilter& filter, QWidget* parent = nullptr);
    ~CVolumeExploreView() override;

    // Drive commands.
    void StartAnalysis();
    // Asks first under "Confirm scan abort"; false when the user said No.
    bool StopAnalysis();
    void RescanDrives();
    void SearchLostDrives();
    // Loads drive image files as drives; the first one that opens is selected. → the paths that
    // could not be opened.
    QStringList OpenImages(const QStringList& paths);

    // What the command rules look at.
    bool DriveSelected() const;
    bool HasCurrentItem() const;
    CVolume* SelectedDrive() const;

    void OnNotification(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam);
    // Every 2000 ms while an analysis runs, and once when it ends.
    void RefreshResults();
    // The filter changed: list the folder again.
    void FilterChanged();

    QTreeView* TreeView() const { return Tree; }
    QTableView* ListView() const { return List; }
    CDriveTreeModel& TreeModel() { return Drives; }
    CFoundItemsModel& ListModel() { return Items; }
    // The list's current row, as a handle of the shown drive's tree.
    ItemHandle CurrentItem() const;

signals:
    // A command chosen in a context menu or by a key, carried out by the main window.
    void CommandRequested(int commandId);
    void StatusText(const QString& text);

private:
    void OnTreeSelection();
    void OnListActivated(const QModelIndex& index);
    void SelectFolder(std::int32_t folderId);
    void SelectParentFolder();
    void SelectVolume(const CVolume* volume);
    void ShowHint(const QString& text);
    void TreeContextMenu(const QPoint& at);
    void ListContextMenu(const QPoint& at);
    void AnalysisEnded();
    bool eventFilter(QObject* watched, QEvent* event) override;

    CLocalComputer& Computer;
    CMimeTypeNames TypeNames;
    CDriveTreeModel Drives;
    CFoundItemsModel Items;
    QTreeView* Tree;
    QTableView* List;
    QLabel* Hint;
    QStackedWidget* ListArea;
};

}  // namespace vm::ui
