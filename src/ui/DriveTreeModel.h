#pragma once
// The drive tree of the main window: the computer, its disks and partitions, the loaded drive
// images and the volumes found inside drives; under the drive whose results are shown, the
// folder tree of its found items ("." and its folders, "Lost folders", "Lost files" and the
// file-type groups), listed lazily as nodes are expanded and added to while an analysis runs.
//
// Window thread only. Drive nodes hold their drive (a rescan never frees one under the model);
// folder nodes hold item handles, so a new analysis that clears the tree is noticed, never
// followed. Reset() drops every node before the drive list lets drives go.
#include <QAbstractItemModel>
#include <memory>
#include <vector>

#include "filesystem/ItemHandle.h"
#include "volume/LocalComputer.h"

namespace vm::ui {

class CDriveTreeModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    enum class NodeKind { Computer, RecycleBin, Drive, Folder };
    struct Node {
        Node* Parent = nullptr;
        std::vector<std::unique_ptr<Node>> Children;
        NodeKind Kind = NodeKind::Drive;
        std::shared_ptr<CVolume> Hold;  // drive nodes: keeps the drive alive while shown
        CVolume* Volume = nullptr;      // drive nodes: the drive; folder nodes: the drive they are on
        ItemHandle Item;                // folder nodes
        std::int32_t FolderId = 0;      // folder nodes: the item's id (the parent id of its children)
        int Image = 0;
        bool Fetched = false;           // folder nodes (and the shown drive): children listed
        bool Expanded = false;
    };

    explicit CDriveTreeModel(CLocalComputer& computer, QObject* parent = nullptr);

    // Rebuilds the drive nodes from the drive list; the shown drive gets its folder nodes again.
    void Rebuild();
    // Drops every node (before a rescan or a drive's removal frees what they point into).
    void Reset();
    // The drive whose found items the folder nodes show (null: none).
    void ShowResultsOf(CVolume* volume);
    CVolume* ResultsVolume() const { return Results.get(); }
    // Adds the folders filed since the last look; starts over when the drive's tree was cleared.
    void RefreshFolders();
    // The drive shown in bold: the one being analysed (null: none).
    void SetBoldVolume(CVolume* volume);

    Node* NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOfVolume(const CVolume* volume) const;
    // The node of that folder among the nodes listed so far (expanding its ancestors is the
    // view's job); invalid when it is not listed.
    QModelIndex IndexOfFolder(std::int32_t folderId) const;
    // Lists the children of the node now (the view does this when a node is expanded).
    void FetchNow(const QModelIndex& index);
    void SetExpanded(const QModelIndex& index, bool expanded);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    QModelIndex IndexOf(const Node* node) const;
    Node* DriveNode(const CVolume* volume) const;
    void AddFolderRoots(Node& drive);
    void RemoveFolderNodes(Node& drive);
    void ListFolders(Node& node, bool initial);
    void Refresh(Node& node);
    std::int32_t ChildIdOf(const Node& node) const;
    QVariant FolderData(const Node& node, int role) const;

    CLocalComputer& Computer;
    std::unique_ptr<Node> Root;  // invisible; holds the computer node
    std::shared_ptr<CVolume> Results;  // kept alive while its folders are shown
    std::uint64_t ResultsGeneration = 0;
    CVolume* Bold = nullptr;
};

}  // namespace vm::ui
