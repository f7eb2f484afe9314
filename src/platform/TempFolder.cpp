#include "platform/TempFolder.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vm {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    struct passwd pw {}, *res = nullptr;
    char buf[4096];
    if (getpwuid_r(::getuid(), &pw, buf, sizeof buf, &res) == 0 && res && res->pw_dir) return res->pw_dir;
    return std::string();
}

std::string TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string dir = (base && *base) ? base : "/tmp";
    if (dir.back() != '/') dir += '/';
    dir += "vellumark-" + std::to_string(::getuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return {};
    if ((st.st_mode & 0077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return {};
    return dir + '/';
}

int CreateTempFile(const std::string& name, std::string* path) {
    std::string dir = TempFolder();
    if (dir.empty() || name.empty() || name.find('/') != std::string::npos) {
        errno = EACCES;
        return -1;
    }
    std::string full = dir + name;
    if (path) *path = full;
    ::unlink(full.c_str());
    return ::open(full.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

}  // namespace vm
