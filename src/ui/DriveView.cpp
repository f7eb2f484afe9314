#include "ui/DriveView.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>
#include <cstring>

#include "app/Log.h"
#include "app/Notify.h"
#include "app/SettingsBlock.h"
#include "ui/Prompter.h"
#include "ui/Texts.h"
#include "ui/UiIds.h"

namespace vm::ui {
namespace {

constexpr int kColumnWidths[] = {200, 100, 100, 120};

QString OpenFailureText(const CVolume& volume, int error) {
    QString text = QStringLiteral("The drive \"%1\" could not be opened: %2.")
                       .arg(QString::fromStdString(const_cast<CVolume&>(volume).GetDisplayName()),
                            QString::fromLocal8Bit(std::strerror(error)));
    if (error == EACCES || error == EPERM)
        text += "\n\nReading a disk needs root, or membership of the group that owns it (usually \"disk\"). "
                "Drive images can be analysed without either.";
    return text;
}

}  // namespace

CVolumeExploreView::CVolumeExploreView(CLocalComputer& computer, const CFilter& filter, QWidget* parent)
    : QWidget(parent), Computer(computer), Drives(computer), Items(filter, &TypeNames) {
    Tree = new QTreeView;
    Tree->setModel(&Drives);
    Tree->setHeaderHidden(true);
    Tree->setUniformRowHeights(true);
    Tree->setContextMenuPolicy(Qt::CustomContextMenu);
    Tree->setObjectName("driveTree");
    List = new QTableView;
    List->setModel(&Items);
    List->setObjectName("fileList");
    List->setSelectionBehavior(QAbstractItemView::SelectRows);
    List->setSelectionMode(QAbstractItemView::ExtendedSelection);
    List->setShowGrid(false);
    List->setWordWrap(false);
    List->setContextMenuPolicy(Qt::CustomContextMenu);
    List->verticalHeader()->hide();
    List->verticalHeader()->setDefaultSectionSize(QFontMetrics(List->font()).height() + 6);
    List->horizontalHeader()->setHighlightSections(false);
    List->horizontalHeader()->setSectionsClickable(true);
    List->horizontalHeader()->setSortIndicatorShown(true);
    List->horizontalHeader()->setSortIndicator(CFoundItemsModel::NameColumn, Qt::AscendingOrder);
    List->horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < CFoundItemsModel::ColumnCount; ++c) List->setColumnWidth(c, kColumnWidths[c]);
    List->installEventFilter(this);
    Hint = new QLabel;
    Hint->setAlignment(Qt::AlignCenter);
    Hint->setWordWrap(true);
    Hint->setMargin(24);
    Hint->setObjectName("listHint");
    ListArea = new QStackedWidget;
    ListArea->addWidget(Hint);
    ListArea->addWidget(List);
    auto* split = new QSplitter;
    split->addWidget(Tree);
    split->addWidget(ListArea);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({240, 560});
    split->setChildrenCollapsible(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    connect(Tree->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { OnTreeSelection(); });
    connect(Tree, &QTreeView::expanded, this, [this](const QModelIndex& i) { Drives.SetExpanded(i, true); });
    connect(Tree, &QTreeView::collapsed, this, [this](const QModelIndex& i) { Drives.SetExpanded(i, false); });
    connect(Tree, &QWidget::customContextMenuRequested, this, &CVolumeExploreView::TreeContextMenu);
    connect(List, &QWidget::customContextMenuRequested, this, &CVolumeExploreView::ListContextMenu);
    connect(List, &QAbstractItemView::doubleClicked, this, &CVolumeExploreView::OnListActivated);
    connect(List->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
        Items.ClickColumn(column);
        List->horizontalHeader()->setSortIndicator(column, Items.Order().Reversed ? Qt::DescendingOrder : Qt::AscendingOrder);
    });
    connect(&Drives, &QAbstractItemModel::modelReset, this, [this] { OnTreeSelection(); });
    Drives.Rebuild();
    Tree->expandToDepth(1);
    SelectVolume(&Computer.ComputerNode);
}

CVolumeExploreView::~CVolumeExploreView() {
    // The models let go of their drives before the drive list does.
    Items.Clear();
    Drives.Reset();
}

CVolume* CVolumeExploreView::SelectedDrive() const {
    const CDriveTreeModel::Node* n = Drives.NodeOf(Tree->currentIndex());
    return n && n->Kind == CDriveTreeModel::NodeKind::Drive ? n->Volume : nullptr;
}

bool CVolumeExploreView::DriveSelected() const { return SelectedDrive() != nullptr; }

bool CVolumeExploreView::HasCurrentItem() const {
    const CDriveTreeModel::Node* n = Drives.NodeOf(Tree->currentIndex());
    return n && n->Kind == CDriveTreeModel::NodeKind::Folder;
}

ItemHandle CVolumeExploreView::CurrentItem() const {
    const QModelIndex current = List->currentIndex();
    if (current.isValid()) return Items.HandleAt(current.row());
    const CDriveTreeModel::Node* n = Drives.NodeOf(Tree->currentIndex());
    return n && n->Kind == CDriveTreeModel::NodeKind::Folder ? n->Item : ItemHandle{};
}

void CVolumeExploreView::ShowHint(const QString& text) {
    Items.Clear();
    Hint->setText(text);
    ListArea->setCurrentWidget(Hint);
}

void CVolumeExploreView::OnTreeSelection() {
    const CDriveTreeModel::Node* n = Drives.NodeOf(Tree->currentIndex());
    if (!n) {
        Computer.SelectedVolume = &Computer.ComputerNode;
        ShowHint("Choose a drive, a partition or a drive image in the tree, then Start Analyzing to list the "
                 "files it still holds.");
        return;
    }
    switch (n->Kind) {
        case CDriveTreeModel::NodeKind::Folder:
            Computer.SelectedVolume = nullptr;
            Items.ShowFolder(Computer.Volumes.Share(n->Volume), n->FolderId);
            ListArea->setCurrentWidget(List);
            return;
        case CDriveTreeModel::NodeKind::Drive:
            Computer.SelectedVolume = n->Volume;
            if (n->Volume == Drives.ResultsVolume() && !n->Children.empty())
                ShowHint("The files found on this drive are in the folders below it: \".\" holds what its file "
                         "system still describes, \"Lost files\" what the sector search found.");
            else
                ShowHint("Choose Start Analyzing to list the live and deleted files of this drive.");
            return;
        default:
            Computer.SelectedVolume = n->Volume;
            ShowHint("Choose a drive, a partition or a drive image in the tree, then Start Analyzing to list the "
                     "files it still holds.");
            return;
    }
}

void CVolumeExploreView::SelectVolume(const CVolume* volume) {
    const QModelIndex at = Drives.IndexOfVolume(volume);
    if (!at.isValid()) return;
    Tree->setCurrentIndex(at);
    Tree->scrollTo(at);
}

void CVolumeExploreView::StartAnalysis() {
    CVolume* volume = SelectedDrive();
    if (!volume) return;
    Drives.SetBoldVolume(nullptr);
    // The views let go of the last results before the engine clears them.
    Items.Clear();
    Drives.ShowResultsOf(nullptr);
    Computer.StartCommand(volume);
    Drives.Rebuild();
    Drives.ShowResultsOf(Computer.DisplayedVolume.load());
    SelectVolume(volume);
    Tree->expand(Drives.IndexOfVolume(volume));
    Drives.SetBoldVolume(volume);
}

bool CVolumeExploreView::StopAnalysis() {
    if (AppSettings().ConfirmScanAbort() &&
        Prompter().Ask(this, Text(text::ConfirmStop), Text(text::Confirmation), Buttons::YesNo, PromptIcon::Question) !=
            Answer::Yes)
        return false;
    emit StatusText(Text(text::Aborting));
    Computer.StopCommand();
    return true;
}

void CVolumeExploreView::RescanDrives() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // A rescan drops drives: nothing shown may point into them meanwhile.
    std::shared_ptr<CVolume> shown = Computer.Volumes.Share(Drives.ResultsVolume());
    std::shared_ptr<CVolume> selected = Computer.Volumes.Share(SelectedDrive());
    Items.Clear();
    Drives.Reset();
    Computer.Volumes.Rescan();
    Computer.ForgetDropped();
    Drives.Rebuild();
    if (shown && Computer.Volumes.Contains(shown.get())) Drives.ShowResultsOf(shown.get());
    Tree->expandToDepth(1);
    // A drive that is still listed (an image, or a disk that is still there) stays selected.
    const bool kept = selected && Computer.Volumes.Contains(selected.get());
    SelectVolume(kept ? selected.get() : &Computer.ComputerNode);
    QApplication::restoreOverrideCursor();
}

void CVolumeExploreView::SearchLostDrives() {
    CVolume* volume = SelectedDrive();
    if (!volume) return;
    if (!volume->StartSectorAnalysis(true))
        Prompter().Tell(this, "The search for lost drives could not start: the drive's last analysis has not ended yet.",
                        "Vellumark", PromptIcon::Warning);
    else
        Drives.SetBoldVolume(volume);
}

QStringList CVolumeExploreView::OpenImages(const QStringList& paths) {
    QStringList failed;
    std::shared_ptr<CVolume> first;
    for (const QString& path : paths) {
        std::shared_ptr<CVolume> volume = Computer.AddImage(path.toStdString());
        if (!volume) failed << path;
        else if (!first) first = volume;
    }
    Drives.Rebuild();
    Tree->expandToDepth(1);
    if (first) SelectVolume(first.get());
    if (!failed.isEmpty())
        Prompter().Tell(this, "These drive images could not be opened (see the log):\n" + failed.join('\n'), "Vellumark",
                        PromptIcon::Error);
    return failed;
}

void CVolumeExploreView::OnNotification(std::uint32_t code, std::uintptr_t, std::intptr_t) {
    switch (code) {
        case msg::AnalysisEnded: AnalysisEnded(); break;
        case msg::SectorPhaseEnded:
            // A search for lost drives is a run of its own that ends with its phase.
            if (CVolume* v = Computer.AnalysingVolume.load(); v && v->LostDrivesOnly && Computer.Progress().Running.load()) {
                Computer.StopAnalysis(v, 0);
                AnalysisEnded();
            }
            break;
        case msg::FoundVolumeAdded:
        case msg::DrivesChanged: {
            const CVolume* selected = SelectedDrive();
            std::shared_ptr<CVolume> keep = Computer.Volumes.Share(selected);
            Drives.Rebuild();
            Tree->expandToDepth(1);
            if (keep) SelectVolume(keep.get());
            break;
        }
        default: break;
    }
}

void CVolumeExploreView::AnalysisEnded() {
    RefreshResults();
    Drives.SetBoldVolume(nullptr);
    CVolume* analysed = Computer.AnalysingVolume.load();
    std::shared_ptr<CVolume> keep = Computer.Volumes.Share(analysed);
    if (keep && keep->OpenError.load()) {
        const int error = keep->OpenError.load();
        Prompter().Tell(this, OpenFailureText(*keep, error), "Vellumark", PromptIcon::Error);
    }
    // The next drive that waits in the analysis queue, when the queue option is set.
    if (AppSettings().AnalysisQueueOption() && !Computer.Progress().Running.load()) {
        const std::vector<CVolume*> queue = Computer.AnalysisQueue();
        if (!queue.empty() && Computer.StartAnalysis(queue.front())) {
            Drives.ShowResultsOf(Computer.DisplayedVolume.load());
            Drives.SetBoldVolume(queue.front());
        }
    }
}

void CVolumeExploreView::RefreshResults() {
    if (!Drives.ResultsVolume()) Drives.ShowResultsOf(Computer.DisplayedVolume.load());
    if (CVolume* shown = Drives.ResultsVolume()) shown->FoundTree.MarkDeletedFolders();
    Drives.RefreshFolders();
    Items.Refresh();
}

void CVolumeExploreView::FilterChanged() { Items.Refresh(true); }

void CVolumeExploreView::OnListActivated(const QModelIndex& index) {
    ItemSnapshot snap;
    if (!Items.ReadRow(index.row(), snap)) return;
    if (snap.Is(FI_FOLDER)) SelectFolder(snap.Fields.SignedId());
    else emit CommandRequested(cmd::TryOpen);
}

void CVolumeExploreView::SelectFolder(std::int32_t folderId) {
    const QModelIndex current = Tree->currentIndex();
    Drives.FetchNow(current);
    for (int row = 0; row < Drives.rowCount(current); ++row) {
        const QModelIndex child = Drives.index(row, 0, current);
        const CDriveTreeModel::Node* n = Drives.NodeOf(child);
        if (n && n->Kind == CDriveTreeModel::NodeKind::Folder && n->FolderId == folderId) {
            Tree->expand(current);
            Tree->setCurrentIndex(child);
            Tree->scrollTo(child);
            return;
        }
    }
}

void CVolumeExploreView::SelectParentFolder() {
    const QModelIndex parent = Tree->currentIndex().parent();
    if (parent.isValid()) Tree->setCurrentIndex(parent);
}

bool CVolumeExploreView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == List && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Backspace) {
            SelectParentFolder();
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && List->currentIndex().isValid()) {
            OnListActivated(List->currentIndex());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CVolumeExploreView::TreeContextMenu(const QPoint& at) {
    const QModelIndex index = Tree->indexAt(at);
    if (!index.isValid()) return;
    Tree->setCurrentIndex(index);
    const CDriveTreeModel::Node* n = Drives.NodeOf(index);
    QMenu menu(this);
    auto add = [&](int id, const char* text) {
        QAction* a = menu.addAction(text);
        connect(a, &QAction::triggered, this, [this, id] { emit CommandRequested(id); });
        return a;
    };
    if (n && n->Kind == CDriveTreeModel::NodeKind::Folder) {
        add(cmd::Recover, "Recover...");
        add(cmd::TryOpen, "Try To Open...");
        add(cmd::Information, "&Information...");
    } else {
        const bool drive = n && n->Kind == CDriveTreeModel::NodeKind::Drive;
        const bool running = Computer.Progress().Running.load() != 0;
        add(cmd::StartAnalyzing, "Start Analyzing")->setEnabled(drive && !running);
        add(cmd::StopAnalyzing, "Stop Analyzing")->setEnabled(running);
        menu.addSeparator();
        add(cmd::CreateImage, "Create Drive Image...")->setEnabled(drive);
        add(cmd::LoadImage, "Load Drive Image...");
        add(cmd::CreateVirtualDrive, "Create Virtual Drive...")->setEnabled(drive);
        menu.addSeparator();
        add(cmd::RescanDrives, "Rescan Drives\tF5")->setEnabled(!running);
        add(cmd::SearchLostDrives, "Search Lost Drives")->setEnabled(drive && !running);
        menu.addSeparator();
        add(cmd::Properties, "Properties")->setEnabled(drive);
    }
    menu.exec(Tree->viewport()->mapToGlobal(at));
}

void CVolumeExploreView::ListContextMenu(const QPoint& at) {
    if (!List->indexAt(at).isValid()) return;
    QMenu menu(this);
    const bool running = Computer.Progress().Running.load() != 0;
    for (auto [id, text] : {std::pair{cmd::Recover, "Recover...\tCtrl+R"}, {cmd::TryOpen, "Try To Open..."},
                            {0, ""}, {cmd::ResetSize, "R&eset Size"}, {cmd::SetNewSize, "Set &New Size..."},
                            {0, ""}, {cmd::Information, "&Information...\tCtrl+I"}}) {
        if (!id) {
            menu.addSeparator();
            continue;
        }
        QAction* a = menu.addAction(text);
        a->setEnabled(id == cmd::Information || !running);
        connect(a, &QAction::triggered, this, [this, id = id] { emit CommandRequested(id); });
    }
    menu.exec(List->viewport()->mapToGlobal(at));
}

}  // namespace vm::ui
