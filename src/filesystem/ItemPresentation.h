#pragma once
// How a found item reads in the file list and folder tree: its size and date texts, its icon,
// its type name and the order of the list. Plain functions, usable without a window.
#include <cstdint>
#include <string>
#include <vector>

#include "filesystem/FoundItem.h"

namespace vm {

// "Size" cell: empty for folders, "unknown" for an unknown size, else GB, MB, KB or bytes
// (integer division).
std::string SizeText(const FoundItem& item);
std::string SizeText(std::uint64_t size);

// "Date Modified" cell of a FILETIME: the short date and the time of day in local time, empty
// for 0. The list shows CreateTime.
std::string DateText(std::uint64_t fileTime);

// Icon numbers of the item image list.
enum ItemIcon : int {
    ICON_FILE = 0,
    ICON_FILE_DELETED = 1,
    ICON_FOLDER = 2,
    ICON_ROOT_FOLDER = 3,
    ICON_FOLDER_HAS_DELETED = 4,
    ICON_FOLDER_DELETED = 6,
    ICON_FOLDER_LOST = 8,
    ICON_FILE_MATCHED = 10,
    ICON_FILE_DELETED_MATCHED = 11,
    ICON_OF_DRIVE = -1,  // a drive root item: its icon comes from the kind of drive
};

// The icon of a file or folder; `expanded` asks for the open-folder variant of the folder tree.
int ItemIconOf(const FoundItem& item, std::int32_t rootId, bool expanded = false);

// Where the type names of files come from (the catalogue's description, or the desktop's type
// database in the interface). Without one, files have no type name.
class IFileTypeNames {
public:
    virtual ~IFileTypeNames() = default;
    virtual std::string TypeNameOf(const FoundItem& item) const = 0;
};

// "Type" cell: "Folder" for folders; for files what `names` answers, else empty.
std::string GetTypeName(const FoundItem& item, const IFileTypeNames* names = nullptr);

enum class SortColumn { Name, Size, Type, Date, InFolder };

// The order of the file list. Folders come first in either direction. With `Reversed` clear
// names ascend (ignoring case) and sizes and dates descend; set, each goes the other way.
// "Type" and "In Folder" sort as "Name".
struct CItemOrder {
    SortColumn Column = SortColumn::Name;
    bool Reversed = false;

    // A click on a column header: sort by it and flip the direction.
    void Click(SortColumn column) {
        Column = column;
        Reversed = !Reversed;
    }
    bool operator()(const FoundItem* a, const FoundItem* b) const;
};

void SortItems(std::vector<FoundItem*>& items, const CItemOrder& order);

// Case-insensitive (ASCII letters) comparison of two names: <0, 0 or >0.
int CompareNames(const char* a, const char* b);

}  // namespace vm
