#pragma once
// What is known of one found item: the item pane beside the data viewer (CDataInfoView) and the
// modal "File Information" dialog. Both show a snapshot of the item taken on the window thread
// through its handle (a stale handle shows nothing) and change nothing.
#include <QDialog>
#include <QWidget>
#include <map>

#include "filesystem/ItemHandle.h"
#include "filesystem/ItemInformation.h"

class QLabel;
class QFormLayout;

namespace vm {
class CVolume;
class FileTypeCatalogue;
}  // namespace vm

namespace vm::ui {

// Everything the views show of an item, taken in one place from the drive and the catalogue.
struct ItemInfoSnapshot {
    ItemInformation Rows;
    std::string Type, Signature, Location;
};
// False for a stale or empty handle.
bool TakeItemInfo(CVolume& drive, const ItemHandle& handle, const FileTypeCatalogue* catalogue, ItemInfoSnapshot& out);

// The icon, the name and the labelled rows; the dialog adds "Signature:".
class CItemInfoForm : public QWidget {
    Q_OBJECT
public:
    explicit CItemInfoForm(bool withSignature, QWidget* parent = nullptr);
    void Show(const ItemInfoSnapshot& item);
    // The value beside a label ("Size on disk:"), for tests.
    QString ValueOf(const QString& label) const;

private:
    QLabel* Icon;
    QLabel* Name;
    std::map<QString, QLabel*> Values;
};

// The item pane: follows the item selected in the data viewer.
class CDataInfoView : public QWidget {
    Q_OBJECT
public:
    explicit CDataInfoView(QWidget* parent = nullptr);
    // Shows that item; a stale handle leaves the rows as they are and returns false.
    bool ShowItem(CVolume& drive, const ItemHandle& handle, const FileTypeCatalogue* catalogue = nullptr);
    CItemInfoForm* Form() const { return Rows; }

private:
    CItemInfoForm* Rows;
};

class CFileInformationDialog : public QDialog {
    Q_OBJECT
public:
    CFileInformationDialog(QWidget* owner, const ItemInfoSnapshot& item);
    CItemInfoForm* Form() const { return Rows; }

private:
    CItemInfoForm* Rows;
};

// The "Information..." command (32797): false when the item is gone (a new analysis began).
bool ShowFileInformation(QWidget* owner, CVolume& drive, const ItemHandle& handle,
                         const FileTypeCatalogue* catalogue = nullptr);

}  // namespace vm::ui
