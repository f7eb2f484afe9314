#include "ui/DriveTreeModel.h"

#include <QFont>
#include <QSysInfo>
#include <algorithm>
#include <map>
#include <unordered_set>

#include "filesystem/CheckMarks.h"
#include "filesystem/ItemPresentation.h"
#include "ui/Icons.h"

namespace vm::ui {

CDriveTreeModel::CDriveTreeModel(CLocalComputer& computer, QObject* parent)
    : QAbstractItemModel(parent), Computer(computer), Root(std::make_unique<Node>()) {}

void CDriveTreeModel::Reset() {
    beginResetModel();
    Root = std::make_unique<Node>();
    Results.reset();
    Bold = nullptr;
    endResetModel();
}

void CDriveTreeModel::Rebuild() {
    beginResetModel();
    Root = std::make_unique<Node>();
    std::map<std::int32_t, Node*> byId;
    for (const DriveTreeNode& entry : Computer.BuildDriveTree(RecycleBinPlacement::None)) {
        auto node = std::make_unique<Node>();
        node->Hold = entry.Hold;
        node->Volume = entry.Volume;
        node->Image = entry.Image;
        node->Kind = entry.Volume == &Computer.ComputerNode     ? NodeKind::Computer
                     : entry.Volume == &Computer.RecycleBinNode ? NodeKind::RecycleBin
                                                                : NodeKind::Drive;
        auto parent = byId.find(entry.ParentId);
        Node* owner = (parent == byId.end() || entry.Id == entry.ParentId) ? Root.get() : parent->second;
        node->Parent = owner;
        byId[entry.Id] = node.get();
        owner->Children.push_back(std::move(node));
    }
    if (Results) {
        if (Node* drive = DriveNode(Results.get())) AddFolderRoots(*drive);
        else Results.reset();
    }
    endResetModel();
}

void CDriveTreeModel::ShowResultsOf(CVolume* volume) {
    if (Results.get() == volume) return;
    if (Results)
        if (Node* old = DriveNode(Results.get())) RemoveFolderNodes(*old);
    Results = volume ? Computer.Volumes.Share(volume) : nullptr;
    if (!Results) return;
    Node* drive = DriveNode(Results.get());
    if (!drive) return;
    const QModelIndex at = IndexOf(drive);
    const int first = int(drive->Children.size());
    std::vector<std::unique_ptr<Node>> staged;
    AddFolderRoots(*drive);
    const int added = int(drive->Children.size()) - first;
    if (added <= 0) return;
    // The rows are already in place: announce them as one insertion.
    for (int i = 0; i < added; ++i) staged.push_back(std::move(drive->Children[std::size_t(first + i)]));
    drive->Children.resize(std::size_t(first));
    beginInsertRows(at, first, first + added - 1);
    for (auto& n : staged) drive->Children.push_back(std::move(n));
    endInsertRows();
}

void CDriveTreeModel::AddFolderRoots(Node& drive) {
    ResultsGeneration = drive.Volume->FoundTree.Generation();
    drive.Fetched = true;
    for (const ItemHandle& h : drive.Volume->FoundTree.ChildHandles(drive.Volume->RootItem.SignedId(), true)) {
        ItemSnapshot snap;
        if (!drive.Volume->FoundTree.Read(h, snap)) continue;
        // "Lost folders" is shown only while some folder waits in it for its parent.
        if (snap.Fields.SignedId() == ID_LOST_FOLDERS && !drive.Volume->FoundTree.HasChildFolders(ID_LOST_FOLDERS)) continue;
        auto node = std::make_unique<Node>();
        node->Parent = &drive;
        node->Kind = NodeKind::Folder;
        node->Volume = drive.Volume;
        node->Item = h;
        node->FolderId = snap.Fields.SignedId();
        drive.Children.push_back(std::move(node));
    }
}

void CDriveTreeModel::RemoveFolderNodes(Node& drive) {
    auto firstFolder = std::find_if(drive.Children.begin(), drive.Children.end(),
                                    [](const auto& n) { return n->Kind == NodeKind::Folder; });
    if (firstFolder == drive.Children.end()) return;
    const int first = int(firstFolder - drive.Children.begin());
    beginRemoveRows(IndexOf(&drive), first, int(drive.Children.size()) - 1);
    drive.Children.erase(firstFolder, drive.Children.end());
    endRemoveRows();
}

void CDriveTreeModel::RefreshFolders() {
    if (!Results) return;
    Node* drive = DriveNode(Results.get());
    if (!drive) return;
    if (Results->FoundTree.Generation() != ResultsGeneration) {
        RemoveFolderNodes(*drive);
        CVolume* shown = Results.get();
        Results.reset();
        ShowResultsOf(shown);
        return;
    }
    Refresh(*drive);
}

// Appends the folders filed since the node was listed (items are never removed but by a clear),
// then looks at the listed children the same way.
void CDriveTreeModel::Refresh(Node& node) {
    if (!node.Fetched) {
        if (node.Kind == NodeKind::Folder) {
            const QModelIndex at = IndexOf(&node);
            emit dataChanged(at, at);  // it may have gained an expand button
        }
        return;
    }
    if (node.Kind == NodeKind::Folder) ListFolders(node, false);
    else if (node.Volume == Results.get()) {
        // The drive's own folder roots: "Lost files" appears with the first lost file.
        std::unordered_set<const FoundItem*> known;
        for (const auto& c : node.Children)
            if (c->Kind == NodeKind::Folder) known.insert(c->Item.Item);
        Node probe;
        probe.Volume = node.Volume;
        AddFolderRoots(probe);
        for (auto& c : probe.Children) {
            if (known.count(c->Item.Item)) continue;
            const int row = int(node.Children.size());
            beginInsertRows(IndexOf(&node), row, row);
            c->Parent = &node;
            node.Children.push_back(std::move(c));
            endInsertRows();
        }
    }
    for (auto& c : node.Children)
        if (c->Kind == NodeKind::Folder) Refresh(*c);
}

void CDriveTreeModel::ListFolders(Node& node, bool initial) {
    CFoundTree& tree = node.Volume->FoundTree;
    std::unordered_set<const FoundItem*> known;
    for (const auto& c : node.Children) known.insert(c->Item.Item);
    std::vector<std::pair<std::string, ItemHandle>> fresh;
    for (const ItemHandle& h : tree.ChildHandles(node.FolderId, true)) {
        if (h.Item == node.Item.Item || known.count(h.Item)) continue;
        ItemSnapshot snap;
        if (tree.Read(h, snap)) fresh.emplace_back(snap.Name, h);
    }
    if (fresh.empty()) return;
    std::stable_sort(fresh.begin(), fresh.end(),
                     [](const auto& a, const auto& b) { return CompareNames(a.first.c_str(), b.first.c_str()) < 0; });
    const int first = int(node.Children.size());
    if (!initial) beginInsertRows(IndexOf(&node), first, first + int(fresh.size()) - 1);
    for (const auto& [name, h] : fresh) {
        auto child = std::make_unique<Node>();
        child->Parent = &node;
        child->Kind = NodeKind::Folder;
        child->Volume = node.Volume;
        child->Item = h;
        child->FolderId = h.Item->SignedId();  // ids never change while the handle is current
        node.Children.push_back(std::move(child));
    }
    if (!initial) endInsertRows();
}

void CDriveTreeModel::SetBoldVolume(CVolume* volume) {
    Node* old = Bold ? DriveNode(Bold) : nullptr;
    Bold = volume;
    for (Node* n : {old, volume ? DriveNode(volume) : nullptr})
        if (n) emit dataChanged(IndexOf(n), IndexOf(n), {Qt::FontRole});
}

CDriveTreeModel::Node* CDriveTreeModel::NodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : nullptr;
}

CDriveTreeModel::Node* CDriveTreeModel::DriveNode(const CVolume* volume) const {
    std::vector<Node*> stack{Root.get()};
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        if (n->Kind != NodeKind::Folder && n != Root.get() && n->Volume == volume) return n;
        for (auto& c : n->Children)
            if (c->Kind != NodeKind::Folder) stack.push_back(c.get());
    }
    return nullptr;
}

QModelIndex CDriveTreeModel::IndexOf(const Node* node) const {
    if (!node || node == Root.get() || !node->Parent) return {};
    const auto& siblings = node->Parent->Children;
    for (std::size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == node) return createIndex(int(i), 0, const_cast<Node*>(node));
    return {};
}

QModelIndex CDriveTreeModel::IndexOfVolume(const CVolume* volume) const { return IndexOf(DriveNode(volume)); }

QModelIndex CDriveTreeModel::IndexOfFolder(std::int32_t folderId) const {
    if (!Results) return {};
    std::vector<Node*> stack;
    if (Node* drive = DriveNode(Results.get())) stack.push_back(drive);
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        if (n->Kind == NodeKind::Folder && n->FolderId == folderId) return IndexOf(n);
        for (auto& c : n->Children)
            if (c->Kind == NodeKind::Folder) stack.push_back(c.get());
    }
    return {};
}

void CDriveTreeModel::FetchNow(const QModelIndex& index) {
    if (canFetchMore(index)) fetchMore(index);
}

void CDriveTreeModel::SetExpanded(const QModelIndex& index, bool expanded) {
    if (Node* n = NodeOf(index)) {
        n->Expanded = expanded;
        emit dataChanged(index, index, {Qt::DecorationRole});
    }
}

QModelIndex CDriveTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const Node* owner = parent.isValid() ? NodeOf(parent) : Root.get();
    if (!owner || column != 0 || row < 0 || row >= int(owner->Children.size())) return {};
    return createIndex(row, 0, owner->Children[std::size_t(row)].get());
}

QModelIndex CDriveTreeModel::parent(const QModelIndex& child) const {
    const Node* n = NodeOf(child);
    return n ? IndexOf(n->Parent) : QModelIndex();
}

int CDriveTreeModel::rowCount(const QModelIndex& parent) const {
    const Node* owner = parent.isValid() ? NodeOf(parent) : Root.get();
    return owner ? int(owner->Children.size()) : 0;
}

int CDriveTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool CDriveTreeModel::hasChildren(const QModelIndex& parent) const {
    const Node* n = parent.isValid() ? NodeOf(parent) : Root.get();
    if (!n) return false;
    if (!n->Children.empty()) return true;
    return n->Kind == NodeKind::Folder && !n->Fetched && n->Volume->FoundTree.HasChildFolders(n->FolderId);
}

bool CDriveTreeModel::canFetchMore(const QModelIndex& parent) const {
    const Node* n = NodeOf(parent);
    return n && n->Kind == NodeKind::Folder && !n->Fetched;
}

void CDriveTreeModel::fetchMore(const QModelIndex& parent) {
    Node* n = NodeOf(parent);
    if (!n || n->Fetched) return;
    n->Fetched = true;
    ListFolders(*n, false);
}

Qt::ItemFlags CDriveTreeModel::flags(const QModelIndex& index) const {
    const Node* n = NodeOf(index);
    if (!n) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (n->Kind == NodeKind::Folder) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant CDriveTreeModel::data(const QModelIndex& index, int role) const {
    const Node* n = NodeOf(index);
    if (!n) return {};
    if (n->Kind == NodeKind::Folder) return FolderData(*n, role);
    switch (role) {
        case Qt::DisplayRole:
            if (n->Kind == NodeKind::Computer) return QStringLiteral("Computer (%1)").arg(QSysInfo::machineHostName());
            return QString::fromStdString(n->Volume->GetDisplayName());
        case Qt::DecorationRole: return DriveIcon(n->Image);
        case Qt::FontRole:
            if (n->Volume == Bold && Bold) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        default: return {};
    }
}

QVariant CDriveTreeModel::FolderData(const Node& n, int role) const {
    ItemSnapshot snap;
    if (!n.Volume->FoundTree.Read(n.Item, snap)) return {};
    switch (role) {
        case Qt::DisplayRole: return QString::fromStdString(snap.Name);
        case Qt::DecorationRole: {
            // Group folders under "Lost files" and the root keep their icon when expanded.
            const bool group = snap.Fields.SignedParentId() == ID_LOST_FILES;
            return ItemIcon(ItemIconOf(snap.Fields, n.Volume->FoundTree.RootId, n.Expanded && !group));
        }
        case Qt::CheckStateRole:
            switch (CheckStateOf(snap.Fields)) {
                case CS_CHECKED: return Qt::Checked;
                case CS_PARTLY: return Qt::PartiallyChecked;
                default: return Qt::Unchecked;
            }
        default: return {};
    }
}

bool CDriveTreeModel::setData(const QModelIndex& index, const QVariant&, int role) {
    Node* n = NodeOf(index);
    if (!n || n->Kind != NodeKind::Folder || role != Qt::CheckStateRole) return false;
    if (!ToggleFolderCheck(n->Volume->FoundTree, n->Item)) return false;
    // The marks of the node, its listed children and its ancestors may all have changed.
    for (const Node* a = n; a && a != Root.get(); a = a->Parent) emit dataChanged(IndexOf(a), IndexOf(a), {Qt::CheckStateRole});
    if (!n->Children.empty())
        emit dataChanged(index.model()->index(0, 0, index), index.model()->index(int(n->Children.size()) - 1, 0, index),
                         {Qt::CheckStateRole});
    return true;
}

}  // namespace vm::ui
