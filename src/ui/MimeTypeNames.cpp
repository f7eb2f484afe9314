#include "ui/MimeTypeNames.h"

#include <QMimeDatabase>

#include "signatures/AppCatalogue.h"

namespace vm::ui {

std::string CMimeTypeNames::TypeNameOf(const FoundItem& item) const {
    const QString name = QString::fromUtf8(item.NameOrEmpty());
    const qsizetype dot = name.lastIndexOf('.');
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toLower();
    if (!extension.isEmpty()) {
        if (auto it = ByExtension.constFind(extension); it != ByExtension.constEnd()) return *it;
        const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
        if (type.isValid() && !type.isDefault()) return *ByExtension.insert(extension, type.comment().toStdString());
    }
    if (item.FileType)
        if (const FileTypeDescriptor* d = AppCatalogue().FindDescriptor(item.FileType)) return d->Description;
    return {};
}

}  // namespace vm::ui
