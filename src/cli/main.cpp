#include <CLI/CLI.hpp>
#include <clocale>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    CLI::App app{"vellumark-cli: data recovery from FAT and NTFS drives and drive images"};
    app.require_subcommand(1);
    CLI11_PARSE(app, argc, argv);
    return 0;
}
