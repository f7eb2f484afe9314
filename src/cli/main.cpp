#include <CLI/CLI.hpp>
#include <clocale>
#include <cstdio>

#include "app/Log.h"
#include "cli/Commands.h"

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

    TargetOptions infoTarget;
    CLI::App* info = app.add_subcommand("info", "show what a drive or drive image is: size, file system, label, serial");
    AddTargetOptions(info, infoTarget);
    info->add_flag("--json", common.Json, "print as JSON");

    CLI11_PARSE(app, argc, argv);
    if (common.Verbose)
        vm::Log().SetEcho([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    if (info->parsed()) return RunInfo(common, infoTarget);
    return 0;
}
