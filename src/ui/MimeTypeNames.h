#pragma once
// Type names of found files for the lists: the desktop's name for the file's extension
// (shared-mime-info), else the description of its type in the catalogue.
#include <QHash>
#include <QString>

#include "filesystem/ItemPresentation.h"

namespace vm::ui {

class CMimeTypeNames final : public IFileTypeNames {
public:
    std::string TypeNameOf(const FoundItem& item) const override;

private:
    mutable QHash<QString, std::string> ByExtension;  // window thread only
};

}  // namespace vm::ui
