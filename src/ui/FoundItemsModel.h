#pragma once
// The file list of the main window: the files and folders of one folder of the found items,
// through the filter, in the list's order ("Name", "Size", "Type", "Date Modified").
//
// Window thread only. Rows hold item handles: a new analysis that clears the drive's tree empties
// the list at the next refresh instead of leaving rows that point into freed items.
#include <QAbstractTableModel>
#include <memory>
#include <vector>

#include "filesystem/Filter.h"
#include "filesystem/ItemHandle.h"
#include "filesystem/ItemPresentation.h"

namespace vm {
class CVolume;
}

namespace vm::ui {

class CFoundItemsModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameColumn, SizeColumn, TypeColumn, DateColumn, ColumnCount };

    CFoundItemsModel(const CFilter& filter, const IFileTypeNames* typeNames, QObject* parent = nullptr);

    // Lists the children of that folder of the drive (the drive kept alive by `hold`).
    void ShowFolder(std::shared_ptr<CVolume> hold, std::int32_t folderId);
    void Clear();
    // Lists the folder again when its items changed (an analysis adds to it) or the filter did;
    // empties the list when the drive's tree was cleared.
    void Refresh(bool force = false);
    // A click on a column header: sort by it and flip the direction.
    void ClickColumn(int column);
    const CItemOrder& Order() const { return SortOrder; }

    CVolume* Volume() const { return Drive.get(); }
    std::int32_t FolderId() const { return Folder; }
    bool HasFolder() const { return bool(Drive); }
    ItemHandle HandleAt(int row) const;
    bool ReadRow(int row, ItemSnapshot& out) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    std::vector<ItemHandle> ListRows(std::size_t& count) const;

    const CFilter& Filter;
    const IFileTypeNames* TypeNames;
    std::shared_ptr<CVolume> Drive;
    std::int32_t Folder = 0;
    std::uint64_t Generation = 0;
    std::size_t ChildCount = 0;  // children of the folder at the last listing, filtered or not
    std::vector<ItemHandle> Rows;
    CItemOrder SortOrder;
};

}  // namespace vm::ui
