#include "recovery/TargetNames.h"

#include <cerrno>
#include <cstdint>
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

// The length of the UTF-8 sequence at `at` when it encodes a character that changes how text
// around it is shown: C1 controls (U+0080 to U+009F, which some terminals obey) and the marks,
// embeddings, overrides and isolates of bidirectional text (U+200E, U+200F, U+202A to U+202E,
// U+2066 to U+2069), which make a name read differently from what it is. 0 for anything else.
std::size_t HiddenControlAt(const std::string& s, std::size_t at, std::uint32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return at + i < s.size() ? static_cast<unsigned char>(s[at + i]) : 0u; };
    if (byte(0) == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F) {
        codePoint = byte(1);
        return 2;
    }
    if (byte(0) != 0xE2 || (byte(1) & 0xFE) != 0x80 || (byte(2) & 0xC0) != 0x80) return 0;
    codePoint = 0x2000 | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    const bool hidden = codePoint == 0x200E || codePoint == 0x200F || (codePoint >= 0x202A && codePoint <= 0x202E) ||
                        (codePoint >= 0x2066 && codePoint <= 0x2069);
    return hidden ? 3 : 0;
}

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
    std::uint32_t hidden = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (const std::size_t n = HiddenControlAt(name, i, hidden)) {
            out += '_';
            i += n - 1;
            continue;
        }
        out += Unsafe(static_cast<unsigned char>(name[i])) ? '_' : name[i];
    }
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
    std::uint32_t hidden = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char u = static_cast<unsigned char>(name[i]);
        if (const std::size_t n = HiddenControlAt(name, i, hidden)) {
            out += Format("\\u%04X", hidden);
            i += n - 1;
        } else if (u < 0x20 || u == 0x7F) {
            out += Format("\\x%02X", unsigned(u));
        } else {
            out += name[i];
        }
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
