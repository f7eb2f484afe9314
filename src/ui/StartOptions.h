#pragma once
// The desktop program's command line: "/addsig FILE" (adds a signature file's type and ends,
// without a window; it wins over every other switch), "/cs" (the new-signature wizard),
// "--mode main|wizard" (for this start only, over the stored mode) and drive images to open.
#include <QString>
#include <QStringList>
#include <optional>

namespace vm::ui {

struct StartOptions {
    int Mode = 0;  // 0: the stored mode
    QStringList Images;
    std::optional<QString> AddSignature;  // the file of "/addsig"
    QString Error;                        // a command line that cannot be followed
};

StartOptions ParseStartOptions(const QStringList& arguments);

// Loads the file types first, then adds the file's type; every outcome is told in a message box.
// → the exit code (0 when the type was added or updated).
int AddSignature(const QString& path);
int ReportStartError(const QString& error);

}  // namespace vm::ui
