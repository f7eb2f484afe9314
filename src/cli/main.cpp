#include <CLI/CLI.hpp>
#include <clocale>
#include <cstdio>
#include <exception>

#include "app/Log.h"
#include "app/LogSettings.h"
#include "app/SettingsBlock.h"
#include "cli/Commands.h"
#include "signatures/AppCatalogue.h"

#include "cli/CommandOptions.h"

namespace vm::cli {

int Fail(const std::string& message) {
    std::fprintf(stderr, "vellumark-cli: %s\n", message.c_str());
    return 1;
}

namespace {

// Unsigned options take decimal digits only: a minus sign would otherwise wrap to a huge value.
const CLI::Validator kWholeNumber(
    [](const std::string& text) -> std::string {
        if (!text.empty() && text.size() <= 20 && text.find_first_not_of("0123456789") == std::string::npos) return {};
        return "'" + text + "' is not a whole number of 0 or more";
    },
    "N");

const CLI::Validator kBlockSize(
    [](const std::string& text) -> std::string {
        const std::string digits = kWholeNumber(std::string(text));
        if (!digits.empty()) return digits;
        const unsigned long long n = text.size() > 9 ? 0 : std::stoull(text);
        if (n == 0 || n % 512 || n > (256ull << 20)) return "'" + text + "' is not a multiple of 512 from 512 to 268435456";
        return {};
    },
    "BYTES");

void AddTargetOptions(CLI::App* cmd, TargetOptions& target) {
    cmd->add_option("TARGET", target.Path, "drive image file, disk (/dev/sdX) or partition (/dev/sdX1)")->required();
    cmd->add_option("--start", target.Start, "treat the byte range from this offset as the drive (a virtual drive)")
        ->check(kWholeNumber);
    cmd->add_option("--size", target.Size, "size in bytes of that range")->check(kWholeNumber);
}

int RunCommand(int argc, char** argv);

}  // namespace
}  // namespace vm::cli

int main(int argc, char** argv) {
    try {
        return vm::cli::RunCommand(argc, argv);
    } catch (const std::exception& e) {
        return vm::cli::Fail(std::string("unexpected error: ") + e.what());
    } catch (...) {
        return vm::cli::Fail("unexpected error");
    }
}

namespace vm::cli {
namespace {

int RunCommand(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    CLI::App app{"vellumark-cli: data recovery from FAT and NTFS drives and drive images.\n"
                 "Drives are only ever read, never written."};
    app.require_subcommand(1);
    CommonOptions common;
    app.add_flag("--json", common.Json, "print results as JSON");
    app.add_flag("-v,--verbose", common.Verbose, "copy the log to standard error");
    std::string language;
    app.add_option("--lang", language, "interface language of the texts shown (a language file's name)");

    auto json = [&](CLI::App* cmd) { cmd->add_flag("--json", common.Json, "print as JSON"); };

    TargetOptions target;
    CLI::App* info = app.add_subcommand("info", "show what a drive or drive image is: size, file system, label, serial");
    AddTargetOptions(info, target);
    json(info);

    CLI::App* drives = app.add_subcommand("drives", "list the drives of this machine as a tree");
    json(drives);

    FilterOptions listFilter;
    CLI::App* list = app.add_subcommand("list", "list the files and folders the drive's file system still describes");
    AddTargetOptions(list, target);
    AddFilterOptions(list, listFilter, true);
    json(list);

    std::string pathOrId;
    CLI::App* cat = app.add_subcommand("cat", "write one listed file's data to standard output");
    AddTargetOptions(cat, target);
    cat->add_option("ITEM", pathOrId, "the file's path (\\folder\\name or folder/name) or its id")->required();

    ScanOptions scan;
    CLI::App* scanCmd = app.add_subcommand("scan", "search the drive sector by sector for lost files and volumes");
    AddTargetOptions(scanCmd, target);
    scanCmd->add_flag("--sectors-only", scan.SectorsOnly, "skip the file-system analysis");
    scanCmd->add_option("--types", scan.Types, "comma-separated file types or groups to look for (see 'types')");
    scanCmd->add_option("--threads", scan.Threads, "search threads (1 to 64)")->check(CLI::Range(1, 64));
    scanCmd->add_option("--block-size", scan.BlockSize, "bytes read at once (a multiple of 512, at least a cluster)")
        ->check(kBlockSize);
    AddFilterOptions(scanCmd, scan.Filter, false);
    json(scanCmd);

    CLI::App* lost = app.add_subcommand("lost", "search the drive for lost volumes (partitions and boot sectors)");
    AddTargetOptions(lost, target);
    json(lost);

    RecoverOptions recover;
    CLI::App* recoverCmd = app.add_subcommand("recover", "copy files of a drive into a folder on another drive");
    AddTargetOptions(recoverCmd, target);
    recoverCmd->add_option("--to", recover.To, "the destination folder (not on the drive itself)")->required();
    recoverCmd->add_option("ITEMS", recover.Patterns, "paths or patterns (* ?) of files or folders; none: every file");
    recoverCmd->add_flag("--deleted", recover.DeletedOnly, "deleted files only");
    recoverCmd->add_flag("--sectors", recover.Sectors, "also search the drive sector by sector");
    recoverCmd->add_flag("--lost", recover.Lost, "include the lost files that the sector search found");
    recoverCmd->add_flag("--system", recover.System,
                         "with no ITEMS, also NTFS's own files ($MFT, $LogFile, $Extend\\...)");
    recoverCmd->add_option("--size-rule", recover.SizeRule,
                           "size of lost files of unknown size: default, next, next-same or a size in KB");
    json(recoverCmd);

    ImageOptions image;
    CLI::App* imageCmd = app.add_subcommand("image", "copy a drive sector by sector into an image file");
    AddTargetOptions(imageCmd, target);
    imageCmd->add_option("OUT", image.Out, "the image file to write (not on the drive itself)")->required();
    imageCmd->add_flag("--continue-on-errors", image.ContinueOnErrors,
                       "go on past unreadable blocks, writing zeros in their place (listed in the log)");
    imageCmd->add_flag("--force", image.Force, "replace OUT if it exists");

    FindOptions find;
    CLI::App* findCmd = app.add_subcommand("find", "find files on the drive by name, date, size and deleted state");
    AddFindOptions(findCmd, target, find);
    json(findCmd);

    CLI::App* types = app.add_subcommand("types", "list the file types that the sector search recognises");
    json(types);

    CLI::App* sig = app.add_subcommand("sig", "make, install, export and mail file signatures (.filesig)");
    sig->require_subcommand(1);
    NewSignatureOptions newSig;
    CLI::App* sigNew = sig->add_subcommand("new", "make a signature from sample files of one type");
    sigNew->add_option("SAMPLE", newSig.Samples, "two or more files of the type")->required()->expected(2, -1);
    sigNew->add_option("--id", newSig.TypeId, "type identifier (1000 or more; default: the first free one)");
    sigNew->add_option("--group", newSig.Group, "the type's group (see 'types')");
    sigNew->add_option("--description", newSig.Description, "the type's description")->required();
    sigNew->add_option("--extensions", newSig.Extensions, "extensions without dots, EXT[;EXT]");
    sigNew->add_option("--prefix", newSig.Prefix, "name prefix of recovered lost files");
    sigNew->add_option("--compare-bytes", newSig.CompareBytes, "bytes compared from the start (default: all the samples share)")
        ->check(kWholeNumber);
    sigNew->add_option("-o", newSig.Output, "the signature file to write")->required();
    sigNew->add_flag("--force", newSig.Force, "replace the signature file if it exists");
    std::string sigFile;
    std::int32_t sigId = 0;
    CLI::App* sigImport = sig->add_subcommand("import", "add a signature file's type to the stored file types");
    sigImport->add_option("FILE", sigFile, "the .filesig file")->required();
    CLI::App* sigExport = sig->add_subcommand("export", "write a stored file type as a signature file");
    sigExport->add_option("ID", sigId, "type identifier")->required();
    sigExport->add_option("FILE", sigFile, "the .filesig file to write")->required();
    bool sigForce = false;
    sigExport->add_flag("--force", sigForce, "replace FILE if it exists");
    CLI::App* sigMailto = sig->add_subcommand("mailto", "print the mail URL that submits a file type's signature");
    sigMailto->add_option("ID", sigId, "type identifier")->required();

    CLI::App* lang = app.add_subcommand("lang", "interface languages");
    lang->require_subcommand(1);
    std::string langFile;
    CLI::App* langExport = lang->add_subcommand("export", "write the built-in texts as a language file to translate");
    langExport->add_option("FILE", langFile, "the .lng file (a translated file is never overwritten)")->required();
    bool langForce = false;
    langExport->add_flag("--force", langForce, "replace FILE if it exists (never a translated one)");

    CLI11_PARSE(app, argc, argv);
    vm::AppSettings().Load();
    vm::LoadAppCatalogue();
    vm::ApplyLogSettings(vm::AppSettings(), vm::Log());
    if (common.Verbose)
        vm::Log().SetEcho([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    SelectLanguage(language);
    if (sigNew->parsed()) return RunSigNew(newSig);
    if (sigImport->parsed()) return RunSigImport(sigFile);
    if (sigExport->parsed()) return RunSigExport(sigId, sigFile, sigForce);
    if (sigMailto->parsed()) return RunSigMailto(sigId);
    if (langExport->parsed()) return RunLangExport(langFile, langForce);
    if (info->parsed()) return RunInfo(common, target);
    if (drives->parsed()) return RunDrives(common);
    if (list->parsed()) return RunList(common, target, listFilter);
    if (cat->parsed()) return RunCat(common, target, pathOrId);
    if (scanCmd->parsed()) return RunScan(common, target, scan);
    if (lost->parsed()) return RunLost(common, target);
    if (types->parsed()) return RunTypes(common);
    if (recoverCmd->parsed()) {
        if (recover.Lost) recover.Sectors = true;
        return RunRecover(common, target, recover);
    }
    if (imageCmd->parsed()) return RunImage(common, target, image);

    if (findCmd->parsed()) return RunFind(common, target, find);
    return 0;
}

}  // namespace
}  // namespace vm::cli
