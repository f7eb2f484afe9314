// vellumark-cli sig new / import / export / mailto, lang export, and the run's language.
#include <cstdio>
#include <strings.h>
#include <sys/stat.h>

#include "app/Languages.h"
#include "app/Notify.h"
#include "app/RegistryStore.h"
#include "app/SettingsBlock.h"
#include "cli/Commands.h"
#include "signatures/FileTypeCatalogue.h"
#include "signatures/SignatureFile.h"
#include "signatures/SignatureWizard.h"

namespace vm::cli {
namespace {

// Shows message boxes as lines: errors on standard error, everything else on standard output.
class CMessageSink final : public INotifySink {
public:
    void Post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    std::intptr_t Send(std::uint32_t code, std::uintptr_t wParam, std::intptr_t) override {
        if (code != msg::ShowMessageBox || wParam == 0) return 0;
        const auto* box = reinterpret_cast<const MessageBoxText*>(wParam);
        std::fprintf(box->Caption == "Error!" ? stderr : stdout, "%s\n", box->Text.c_str());
        return 1;
    }
};

// The stored catalogue (the built-in one, stored now, on a first run).
std::unique_ptr<FileTypeCatalogue> StoredCatalogue() {
    auto catalogue = std::make_unique<FileTypeCatalogue>();
    catalogue->Load();
    return catalogue;
}

const FileTypeDescriptor* FindGroupByTitle(const FileTypeCatalogue& catalogue, const std::string& title) {
    for (const auto& g : catalogue.Groups())
        if (strcasecmp(g->Title.c_str(), title.c_str()) == 0) return g.get();
    return nullptr;
}

// Files the commands write never replace one that is there unless the user said so, and are
// never anything but plain files (a FIFO would block the write for ever).
bool MayWrite(const std::string& path, bool force, std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return true;
    if (!S_ISREG(st.st_mode))
        error = "'" + path + "' is not a plain file; nothing is written there";
    else if (!force)
        error = "'" + path + "' exists; it is not replaced (use --force to replace it)";
    return error.empty();
}

}  // namespace

void SelectLanguage(const std::string& name) {
    CLanguages& languages = AppLanguages();
    if (!name.empty()) {
        if (!languages.SelectByName(name))
            std::fprintf(stderr, "vellumark-cli: no language file for '%s'; the built-in texts are shown\n",
                         name.c_str());
        return;
    }
    // Only a stored choice counts: loading would store the defaults on a first run.
    if (!CRegistryStore::Default().GetValue(kProgramKey, "Settings")) return;
    CSettingsBlock settings;
    if (settings.Load()) languages.Select(settings.LanguageIndex());
}

int RunSigNew(const NewSignatureOptions& o) {
    std::vector<std::string> unreadable;
    const std::vector<SampleFile> samples = ReadSamples(o.Samples, unreadable);
    for (const std::string& path : unreadable)
        std::fprintf(stderr, "vellumark-cli: sample '%s' can't be read; left out\n", path.c_str());
    if (samples.size() < 2) return Fail("at least two readable sample files are needed");
    MaskedVariant variant;
    AnalyseSamples(samples, variant);
    if (o.CompareBytes) variant.CompareCount = *o.CompareBytes;

    const auto catalogue = StoredCatalogue();
    NewTypeDetails details = ProposeDetails(*catalogue, samples);
    if (o.TypeId) details.TypeId = o.TypeId;
    if (!o.Group.empty()) {
        const FileTypeDescriptor* group = FindGroupByTitle(*catalogue, o.Group);
        if (!group) return Fail("no group '" + o.Group + "' (see 'types')");
        details.GroupId = group->GroupId;
    }
    if (!o.Extensions.empty()) details.Extensions = o.Extensions;
    if (!o.Prefix.empty()) details.NamePrefix = o.Prefix;
    details.Description = o.Description;
    details.Title = o.Description;
    if (variant.CompareCount == 0 && !o.CompareBytes)
        return Fail("the samples share no leading bytes; nothing to make a signature of");
    FileTypeDescriptor type;
    if (const std::string refusal = BuildNewType(*catalogue, details, {variant}, type); !refusal.empty())
        return Fail(refusal);
    std::string error;
    if (!MayWrite(o.Output, o.Force, error)) return Fail(error);
    if (!WriteToFile(type, o.Output)) return Fail("Error write a file!");
    std::printf("type %d: %zu bytes compared, written to %s\n", type.TypeId, variant.CompareCount,
                o.Output.c_str());
    return 0;
}

int RunSigImport(const std::string& path) {
    CMessageSink sink;
    SetNotifier(&sink);
    FileTypeCatalogue catalogue;
    const bool imported = ImportSignatureFile(catalogue, CRegistryStore::Default(), path) != nullptr;
    SetNotifier(nullptr);
    return imported ? 0 : 1;
}

int RunSigExport(std::int32_t typeId, const std::string& path, bool force) {
    const auto catalogue = StoredCatalogue();
    const FileTypeDescriptor* type = catalogue->FindDescriptor(typeId);
    if (!type) return Fail("no file type " + std::to_string(typeId));
    std::string error;
    if (!MayWrite(path, force, error)) return Fail(error);
    if (!WriteToFile(*type, path)) return Fail("Error write a file!");
    return 0;
}

int RunSigMailto(std::int32_t typeId) {
    const auto catalogue = StoredCatalogue();
    const FileTypeDescriptor* type = catalogue->FindDescriptor(typeId);
    if (!type) return Fail("no file type " + std::to_string(typeId));
    const std::optional<std::string> url = SignatureMailUrl(*type);
    if (!url) return Fail("the signature is too large to be sent by mail");
    std::printf("%s\n", url->c_str());
    return 0;
}

int RunLangExport(const std::string& path, bool force) {
    std::string error;
    if (!MayWrite(path, force, error)) return Fail(error);
    if (!AppLanguages().ExportStringTable(path))
        return Fail("string table not exported to " + path + " (see the log with -v)");
    return 0;
}

}  // namespace vm::cli
