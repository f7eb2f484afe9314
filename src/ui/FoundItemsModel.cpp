#include "ui/FoundItemsModel.h"

#include "ui/Icons.h"
#include "volume/Volume.h"

namespace vm::ui {

CFoundItemsModel::CFoundItemsModel(const CFilter& filter, const IFileTypeNames* typeNames, QObject* parent)
    : QAbstractTableModel(parent), Filter(filter), TypeNames(typeNames) {}

void CFoundItemsModel::ShowFolder(std::shared_ptr<CVolume> hold, std::int32_t folderId) {
    beginResetModel();
    Drive = std::move(hold);
    Folder = folderId;
    Generation = Drive ? Drive->FoundTree.Generation() : 0;
    Rows = Drive ? ListRows(ChildCount) : std::vector<ItemHandle>{};
    endResetModel();
}

void CFoundItemsModel::Clear() {
    beginResetModel();
    Drive.reset();
    Rows.clear();
    ChildCount = 0;
    endResetModel();
}

// The folder's children through the filter, sorted, taken under the tree's lock so that the
// analysis cannot change sizes or flags halfway through the sort.
std::vector<ItemHandle> CFoundItemsModel::ListRows(std::size_t& count) const {
    CFoundTree& tree = Drive->FoundTree;
    std::lock_guard g(tree.Mutex());
    std::vector<FoundItem*> items;
    tree.GetChildren(Folder, items);
    count = items.size();
    std::erase_if(items, [&](const FoundItem* item) {
        return item->SignedId() == Folder && item->Is(FI_FOLDER) ? true : Filter.Rejects(*item);
    });
    SortItems(items, SortOrder);
    std::vector<ItemHandle> rows;
    rows.reserve(items.size());
    for (const FoundItem* item : items) rows.push_back(tree.HandleOf(item));
    return rows;
}

void CFoundItemsModel::Refresh(bool force) {
    if (!Drive) return;
    if (Drive->FoundTree.Generation() != Generation) {
        Clear();
        return;
    }
    std::vector<FoundItem*> now;
    Drive->FoundTree.GetChildren(Folder, now);
    if (!force && now.size() == ChildCount) {
        if (!Rows.empty()) emit dataChanged(index(0, 0), index(int(Rows.size()) - 1, ColumnCount - 1));
        return;
    }
    beginResetModel();
    Rows = ListRows(ChildCount);
    endResetModel();
}

void CFoundItemsModel::ClickColumn(int column) {
    static constexpr SortColumn kColumns[] = {SortColumn::Name, SortColumn::Size, SortColumn::Type, SortColumn::Date};
    if (column < 0 || column >= ColumnCount) return;
    SortOrder.Click(kColumns[column]);
    Refresh(true);
}

void CFoundItemsModel::sort(int column, Qt::SortOrder) { ClickColumn(column); }

ItemHandle CFoundItemsModel::HandleAt(int row) const {
    return row >= 0 && row < int(Rows.size()) ? Rows[std::size_t(row)] : ItemHandle{};
}

bool CFoundItemsModel::ReadRow(int row, ItemSnapshot& out) const {
    return Drive && Drive->FoundTree.Read(HandleAt(row), out);
}

int CFoundItemsModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(Rows.size()); }
int CFoundItemsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant CFoundItemsModel::data(const QModelIndex& index, int role) const {
    ItemSnapshot snap;
    if (!index.isValid() || !ReadRow(index.row(), snap)) return {};
    const FoundItem& item = snap.Fields;
    if (role == Qt::DecorationRole && index.column() == NameColumn)
        return ItemIcon(ItemIconOf(item, Drive->FoundTree.RootId));
    if (role == Qt::TextAlignmentRole && index.column() == SizeColumn) return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
        case NameColumn: return QString::fromStdString(snap.Name);
        case SizeColumn: return QString::fromStdString(SizeText(item));
        case TypeColumn: {
            FoundItem named = item;
            named.Name = snap.Name.c_str();
            return QString::fromStdString(GetTypeName(named, TypeNames));
        }
        case DateColumn: return QString::fromStdString(DateText(item.WriteTime));
        default: return {};
    }
}

QVariant CFoundItemsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole)
        return int((section == SizeColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    switch (section) {
        case NameColumn: return QStringLiteral("Name");
        case SizeColumn: return QStringLiteral("Size");
        case TypeColumn: return QStringLiteral("Type");
        case DateColumn: return QStringLiteral("Date Modified");
        default: return {};
    }
}

}  // namespace vm::ui
