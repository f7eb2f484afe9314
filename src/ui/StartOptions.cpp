#include "ui/StartOptions.h"

#include <QFileInfo>

#include "app/RegistryStore.h"
#include "app/SettingsBlock.h"
#include "signatures/AppCatalogue.h"
#include "signatures/SignatureFile.h"
#include "ui/App.h"
#include "ui/Prompter.h"
#include "ui/UiIds.h"

namespace vm::ui {

StartOptions ParseStartOptions(const QStringList& arguments) {
    StartOptions options;
    const qsizetype addsig = arguments.indexOf("/addsig");
    if (addsig >= 0) {
        // The rest of the line is the file name, blanks included.
        QString path = arguments.mid(addsig + 1).join(' ');
        if (path.size() >= 2 && path.startsWith('"') && path.endsWith('"')) path = path.mid(1, path.size() - 2);
        if (path.isEmpty()) options.Error = "/addsig needs the signature file to add.";
        else options.AddSignature = path;
        return options;
    }
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == "/cs") {
            options.Mode = mode::SignatureWizard;
        } else if (a == "--mode" || a.startsWith("--mode=")) {
            const QString value = a == "--mode" ? (i + 1 < arguments.size() ? arguments[++i] : QString()) : a.mid(7);
            if (value == "main") options.Mode = mode::MainFirst;
            else if (value == "wizard") options.Mode = mode::Wizard;
            else options.Error = "--mode takes \"main\" or \"wizard\", not \"" + value + "\".";
        } else if (a.startsWith("--") || a.startsWith('-')) {
            options.Error = "Unknown option \"" + a + "\". Usage: vellumark [--mode main|wizard] [IMAGE...]";
        } else {
            options.Images << QFileInfo(a).absoluteFilePath();
        }
    }
    return options;
}

int AddSignature(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile()) {
        Prompter().Tell(nullptr, "The signature file \"" + path + "\" does not exist or is not a file.", CApp::GetTitle(),
                        PromptIcon::Error);
        return 1;
    }
    // The stored types are loaded first, so that the file's type joins them.
    LoadAppCatalogue();
    return ImportSignatureFile(AppCatalogue(), CRegistryStore::Default(), path.toStdString()) ? 0 : 1;
}

int ReportStartError(const QString& error) {
    Prompter().Tell(nullptr, error, CApp::GetTitle(), PromptIcon::Error);
    return 2;
}

}  // namespace vm::ui
