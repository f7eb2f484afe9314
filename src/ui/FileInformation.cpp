#include "ui/FileInformation.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeDatabase>
#include <QVBoxLayout>

#include "signatures/FileTypeCatalogue.h"
#include "ui/Icons.h"
#include "ui/Texts.h"
#include "ui/UiIds.h"
#include "volume/Volume.h"

namespace vm::ui {
namespace {

const char* const kLabels[] = {"Id:", "Parent Id:", "Offset:", "Size:", "Size on disk:", "Type:", "Signature:",
                               "Status:", "Location:", "Created time:", "Modified time:", "Accessed time:"};

std::string TypeTextOf(const ItemSnapshot& item, const FileTypeDescriptor* type) {
    if (item.Is(FI_FOLDER)) return Text(text::FolderType).toStdString();
    if (item.Name.empty()) return type ? type->Description : std::string();
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(QString::fromStdString(item.Name), QMimeDatabase::MatchExtension);
    return mime.isDefault() ? std::string() : mime.comment().toStdString();
}

}  // namespace

bool TakeItemInfo(CVolume& drive, const ItemHandle& handle, const FileTypeCatalogue* catalogue, ItemInfoSnapshot& out) {
    ItemSnapshot item;
    if (!drive.FoundTree.Read(handle, item)) return false;
    out.Rows = DescribeItem(item, drive.BytesPerCluster);
    const FileTypeDescriptor* type = nullptr;
    if (catalogue && item.Name.empty() && !item.Is(FI_DRIVE) && !item.Is(FI_FOLDER))
        type = catalogue->FindDescriptor(item.Fields.FileType);
    out.Type = TypeTextOf(item, type);
    out.Signature = type ? type->Title : Text(text::Unknown).toStdString();
    drive.GetItemPath(item.Fields, out.Location);
    return true;
}

CItemInfoForm::CItemInfoForm(bool withSignature, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    auto* head = new QHBoxLayout;
    Icon = new QLabel(this);
    Icon->setFixedSize(32, 32);
    Name = new QLabel(this);
    Name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    head->addWidget(Icon);
    head->addWidget(Name, 1);
    layout->addLayout(head);
    auto* form = new QFormLayout;
    for (const char* label : kLabels) {
        if (!withSignature && QString(label) == "Signature:") continue;
        auto* value = new QLabel(this);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true);
        if (QString(label) == "Signature:") value->setText(Text(text::Unknown));
        form->addRow(label, value);
        Values[label] = value;
    }
    layout->addLayout(form);
    layout->addStretch(1);
}

void CItemInfoForm::Show(const ItemInfoSnapshot& item) {
    const ItemInformation& r = item.Rows;
    Icon->setPixmap(ItemIcon(r.Icon).pixmap(32, 32));
    Name->setText(QString::fromStdString(r.Name));
    const std::pair<const char*, const std::string*> rows[] = {
        {"Id:", &r.Id}, {"Parent Id:", &r.ParentId}, {"Offset:", &r.Offset}, {"Size:", &r.Size},
        {"Size on disk:", &r.SizeOnDisk}, {"Type:", &item.Type}, {"Signature:", &item.Signature},
        {"Status:", &r.Status}, {"Location:", &item.Location}, {"Created time:", &r.Created},
        {"Modified time:", &r.Modified}, {"Accessed time:", &r.Accessed}};
    for (const auto& [label, value] : rows)
        if (auto it = Values.find(label); it != Values.end()) it->second->setText(QString::fromStdString(*value));
}

QString CItemInfoForm::ValueOf(const QString& label) const {
    const auto it = Values.find(label);
    return it == Values.end() ? QString() : it->second->text();
}

CDataInfoView::CDataInfoView(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Rows = new CItemInfoForm(false, this);
    layout->addWidget(Rows);
}

bool CDataInfoView::ShowItem(CVolume& drive, const ItemHandle& handle, const FileTypeCatalogue* catalogue) {
    ItemInfoSnapshot item;
    if (!TakeItemInfo(drive, handle, catalogue, item)) return false;
    Rows->Show(item);
    return true;
}

CFileInformationDialog::CFileInformationDialog(QWidget* owner, const ItemInfoSnapshot& item) : QDialog(owner) {
    setWindowTitle("File Information");
    auto* layout = new QVBoxLayout(this);
    Rows = new CItemInfoForm(true, this);
    Rows->Show(item);
    layout->addWidget(Rows);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

bool ShowFileInformation(QWidget* owner, CVolume& drive, const ItemHandle& handle, const FileTypeCatalogue* catalogue) {
    ItemInfoSnapshot item;
    if (!TakeItemInfo(drive, handle, catalogue, item)) return false;
    CFileInformationDialog dialog(owner, item);
    dialog.exec();
    return true;
}

}  // namespace vm::ui
