// vellumark: the desktop application.
//   vellumark [--mode main|wizard] [IMAGE...]   opens the drive images given, the first one selected
//   vellumark /addsig FILE                       adds the signature file's type to the file types, no window
//   vellumark /cs                                the new-signature wizard
#include <QApplication>
#include <clocale>

#include "ui/App.h"
#include "ui/StartOptions.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    QApplication qt(argc, argv);
    QApplication::setApplicationName("Vellumark");
    QApplication::setApplicationVersion(VM_VERSION);
    QApplication::setDesktopFileName("vellumark");
    const vm::ui::StartOptions options = vm::ui::ParseStartOptions(QApplication::arguments().mid(1));
    vm::ui::CApp app;
    if (!options.Error.isEmpty()) return vm::ui::ReportStartError(options.Error);
    if (options.AddSignature) return vm::ui::AddSignature(*options.AddSignature);
    app.Run(options.Mode, options.Images);
    return QApplication::exec();
}
