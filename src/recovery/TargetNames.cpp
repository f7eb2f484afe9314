#include "recovery/TargetNames.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Format.h"
#include "app/Log.h"

namespace vm {
namespace {

// Room below NAME_MAX (255 bytes) for " (nnnn)" when a name has to be numbered.
constexpr std::size_t kMaxNameBytes = 240;
constexpr std::size_t kMaxKeptExtension = 16;
constexpr unsigned kMaxFolderNumber = 99;

bool Unsafe(unsigned char c) { return c < 0x20 || c == 0x7F || c == '/' || c == '\\'; }

// Cuts at most `bytes` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& s, std::size_t bytes) {
    if (s.size() <= bytes) return s;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return s.substr(0, end);
}

std::string Shorten(const std::string& name) {
    std::size_t dot = name.rfind('.');
    std::string ext = (dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxKeptExtension)
                          ? name.substr(dot)
                          : std::string();
    return CutUtf8(name.substr(0, name.size() - ext.size()), kMaxNameBytes - ext.size()) + ext;
}

}  // namespace

std::string SafeName(const std::string& name, bool* changed) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) out += Unsafe(static_cast<unsigned char>(c)) ? '_' : c;
    if (out.empty() || out == ".") out = "_";
    else if (out == "..") out = "__";
    if (out.size() > kMaxNameBytes) out = Shorten(out);
    if (changed) *changed = out != name;
    return out;
}

std::vector<std::string> SafeFolderComponents(const std::string& systemPath, bool* changed) {
    std::string path = systemPath;
    if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);  // drive letter and colon
    std::vector<std::string> parts;
    bool any = false;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) {
            bool c = false;
            parts.push_back(SafeName(path.substr(start, end - start), &c));
            any = any || c;
        }
        start = end + 1;
    }
    if (changed) *changed = any;
    return parts;
}

std::string PrintableName(const std::string& name) {
    std::string out;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7F) ? Format("\\x%02X", unsigned(u)) : std::string(1, c);
    }
    return out;
}

std::string NumberedName(const std::string& name, unsigned n) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return Format("%s (%d)", name, n);
    return Format("%s (%d)%s", name.substr(0, dot), n, name.substr(dot));
}

CTargetFolder::~CTargetFolder() { Reset(); }

void CTargetFolder::Reset() {
    if (Dir >= 0) ::close(Dir);
    Dir = -1;
    NativePath.clear();
}

bool CTargetFolder::Open(const std::string& root, const std::vector<std::string>& components, std::string* failedAt,
                         int* error) {
    Reset();
    NativePath = root.empty() || root.back() != '/' ? root + '/' : root;
    std::error_code ec;
    std::filesystem::create_directories(NativePath, ec);  // the folder the user chose, with its parents
    if (ec) {
        *failedAt = NativePath;
        *error = ec.value();
        return false;
    }
    Dir = ::open(NativePath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int failure = Dir < 0 ? errno : 0;
    for (const std::string& part : components) {
        if (Dir < 0) break;
        failure = OpenComponent(part);
    }
    if (Dir >= 0) return true;
    *error = failure;
    *failedAt = NativePath;
    return false;
}

int CTargetFolder::OpenComponent(const std::string& part) {
    // Each step is taken relative to the folder opened before it and never through a link, so
    // nothing that appears in the destination meanwhile can lead the path elsewhere. Where a
    // file (or a link) holds the name, the folder takes the first free "name (n)" instead; the
    // same rule finds that folder again for the next item of the folder.
    for (unsigned n = 0; n <= kMaxFolderNumber; ++n) {
        const std::string name = n ? NumberedName(part, n) : part;
        if (::mkdirat(Dir, name.c_str(), 0755) != 0 && errno != EEXIST) break;
        const int next = ::openat(Dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next >= 0) {
            ::close(Dir);
            Dir = next;
            NativePath += name + '/';
            return 0;
        }
        if (errno != ENOTDIR && errno != ELOOP) break;
    }
    const int failure = errno;
    ::close(Dir);
    Dir = -1;
    NativePath += part + '/';
    return failure;
}

int CreateFolderPath(CTargetFolder& folder, const std::string& root, const std::vector<std::string>& components) {
    try {
        std::string failedAt;
        int error = 0;
        if (folder.Open(root, components, &failedAt, &error)) return 1;
        Log().Error("\nCan't create folder:\n\"%s\"\n\nWindows error code: %d", failedAt, error);
        Log().Error("CreateFolderPath: %s", std::strerror(error));
        return 0;
    } catch (...) {
        return 0;
    }
}

}  // namespace vm
