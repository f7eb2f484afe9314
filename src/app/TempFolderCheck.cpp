#include "app/TempFolderCheck.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/Format.h"

namespace vm {
namespace {

std::size_t Utf16Length(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) == 0x80) continue;  // continuation byte
        n += c >= 0xF0 ? 2 : 1;            // four-byte characters take a surrogate pair
    }
    return n;
}

// Creates and removes a file in the folder: permission bits alone miss read-only mounts.
bool TakesNewFile(const std::filesystem::path& folder) {
    std::string name = (folder / ".vellumark-write-test-XXXXXX").string();
    const int fd = mkstemp(name.data());
    if (fd < 0) return false;
    close(fd);
    unlink(name.c_str());
    return true;
}

}  // namespace

TempFolderFault CheckTempFolder(const std::string& folder, std::size_t maxChars) {
    if (folder.empty()) return TempFolderFault::Empty;
    if (Utf16Length(folder) > maxChars) return TempFolderFault::TooLong;
    std::error_code ec;
    const std::filesystem::path path(folder);
    if (!std::filesystem::exists(path, ec)) return TempFolderFault::Missing;
    if (!std::filesystem::is_directory(path, ec)) return TempFolderFault::NotFolder;
    return TakesNewFile(path) ? TempFolderFault::None : TempFolderFault::Unwritable;
}

std::string TempFolderFaultText(TempFolderFault fault, const std::string& folder) {
    switch (fault) {
        case TempFolderFault::None: return {};
        case TempFolderFault::Empty: return "Please choose a temporary folder.";
        case TempFolderFault::TooLong: return "The temporary folder's path is too long.";
        case TempFolderFault::Missing: return Format("The temporary folder '%s' does not exist.", folder);
        case TempFolderFault::NotFolder: return Format("'%s' is not a folder.", folder);
        case TempFolderFault::Unwritable: return Format("No file can be written in the temporary folder '%s'.", folder);
    }
    return {};
}

}  // namespace vm
