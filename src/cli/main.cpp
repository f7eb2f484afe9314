#include <CLI/CLI.hpp>
#include <clocale>
#include <cstdio>

#include "app/Log.h"
#include "cli/CommandOptions.h"

namespace vm::cli {

int Fail(const std::string& message) {
    std::fprintf(stderr, "vellumark-cli: %s\n", message.c_str());
    return 1;
}

namespace {

void AddTargetOptions(CLI::App* cmd, TargetOptions& target) {
    cmd->add_option("TARGET", target.Path, "drive image file, disk (/dev/sdX) or partition (/dev/sdX1)")->required();
    cmd->add_option("--start", target.Start, "treat the byte range from this offset as the drive (a virtual drive)");
    cmd->add_option("--size", target.Size, "size in bytes of that range");
}

}  // namespace
}  // namespace vm::cli

int main(int argc, char** argv) {
    using namespace vm::cli;
    std::setlocale(LC_ALL, "");
    CLI::App app{"vellumark-cli: data recovery from FAT and NTFS drives and drive images.\n"
                 "Drives are only ever read, never written."};
    app.require_subcommand(1);
    CommonOptions common;
    app.add_flag("--json", common.Json, "print results as JSON");
    app.add_flag("-v,--verbose", common.Verbose, "copy the log to standard error");

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
    scanCmd->add_option("--block-size", scan.BlockSize, "bytes read at once (a multiple of 512, at least a cluster)");
    AddFilterOptions(scanCmd, scan.Filter, false);
    json(scanCmd);

    CLI::App* lost = app.add_subcommand("lost", "search the drive for lost volumes (partitions and boot sectors)");
    AddTargetOptions(lost, target);
    json(lost);

    FindOptions find;
    CLI::App* findCmd = app.add_subcommand("find", "find files on the drive by name, date, size and deleted state");
    AddFindOptions(findCmd, target, find);
    json(findCmd);

    CLI::App* types = app.add_subcommand("types", "list the file types that the sector search recognises");
    json(types);

    CLI11_PARSE(app, argc, argv);
    if (common.Verbose)
        vm::Log().SetEcho([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    if (info->parsed()) return RunInfo(common, target);
    if (drives->parsed()) return RunDrives(common);
    if (list->parsed()) return RunList(common, target, listFilter);
    if (cat->parsed()) return RunCat(common, target, pathOrId);
    if (scanCmd->parsed()) return RunScan(common, target, scan);
    if (lost->parsed()) return RunLost(common, target);
    if (types->parsed()) return RunTypes(common);
    if (findCmd->parsed()) return RunFind(common, target, find);
    return 0;
}
