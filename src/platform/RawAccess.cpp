#include "platform/RawAccess.h"

#include <cerrno>
#include <unistd.h>

#include "platform/SysBlock.h"

namespace vm {

bool CanReadRawDevices(const std::vector<std::string>& devicePaths) {
    for (const std::string& path : devicePaths)
        if (::access(path.c_str(), R_OK) != 0 && errno != ENOENT) return false;
    return true;
}

bool CanReadRawDevices() {
    std::vector<std::string> paths;
    for (const SysDisk& disk : ListDisks()) paths.push_back("/dev/" + disk.Name);
    return CanReadRawDevices(paths);
}

}  // namespace vm
