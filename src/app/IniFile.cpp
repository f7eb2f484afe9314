#include "app/IniFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Format.h"
#include "platform/FileWrite.h"
#include "platform/Utf16.h"

namespace vm {
namespace {

constexpr std::size_t kMaxProblemsKept = 20;

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    const char* blanks = " \t\r\n\f\v";
    const std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// Valid UTF-8 as it is; each byte that starts no valid sequence becomes U+FFFD.
std::string CleanUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t n = DecodeUtf8(text, i, &cp);
        if (n == 0) {
            AppendUtf8(out, 0xFFFD);
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

// At most `maxChars` code points of UTF-8 text.
std::string_view CutToChars(std::string_view text, std::size_t maxChars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars++ == maxChars) return text.substr(0, i);
    }
    return text;
}

}  // namespace

std::string DecodeProfileText(std::span<const std::uint8_t> bytes) {
    const auto starts = [&](std::initializer_list<std::uint8_t> bom) {
        return bytes.size() >= bom.size() && std::equal(bom.begin(), bom.end(), bytes.begin());
    };
    if (starts({0xFF, 0xFE}) || starts({0xFE, 0xFF})) {
        const bool bigEndian = bytes[0] == 0xFE;
        std::vector<std::uint8_t> le(bytes.begin() + 2, bytes.begin() + 2 + (bytes.size() - 2) / 2 * 2);
        if (bigEndian)
            for (std::size_t i = 0; i + 1 < le.size(); i += 2) std::swap(le[i], le[i + 1]);
        return Utf16LeToUtf8(le.data(), le.size() / 2);
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (starts({0xEF, 0xBB, 0xBF})) text.remove_prefix(3);
    return CleanUtf8(text);
}

void CIniFile::Parse(std::span<const std::uint8_t> bytes) {
    Sections.clear();
    const std::string text = DecodeProfileText(bytes);
    Section* current = nullptr;
    std::size_t number = 0;
    for (std::size_t pos = 0; pos <= text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        ParseLine(std::string_view(text).substr(pos, end - pos), ++number, current);
        pos = end + 1;
    }
}

void CIniFile::ParseLine(std::string_view raw, std::size_t number, Section*& current) {
    const std::string_view line = Trim(raw);
    if (line.empty() || line[0] == ';') return;
    const auto problem = [&](const char* what) {
        if (Problems.size() < kMaxProblemsKept) Problems.push_back(Format("line %d: %s", number, what));
    };
    if (line[0] == '[') {
        const std::size_t close = line.find(']');
        if (close == std::string_view::npos) {
            problem("section line without ']', ignored");
            current = nullptr;
            return;
        }
        const std::string_view name = Trim(line.substr(1, close - 1));
        // A repeated section adds nothing: lookups only ever see the first one.
        current = FindSection(name) ? nullptr : &Sections.emplace_back(Section{std::string(name), {}});
        return;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        problem("line without '=', ignored");
        return;
    }
    if (!current) return;  // keys before any section, or in a repeated section
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                              (value.front() == '\'' && value.back() == '\'')))
        value = value.substr(1, value.size() - 2);
    const std::string_view cut = CutToChars(value, kMaxValueChars);
    if (cut.size() < value.size()) problem("value longer than 4095 characters, cut");
    current->Keys.push_back(Key{std::string(Trim(line.substr(0, eq))), std::string(cut)});
}

bool CIniFile::Load(const std::string& path) {
    Sections.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        Problems.push_back(Format("cannot open: %s", std::strerror(errno)));
        return false;
    }
    struct stat st {};
    std::vector<std::uint8_t> bytes;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) Problems.push_back("not a regular file");
    if (ok && std::uint64_t(st.st_size) > kMaxFileBytes) {
        Problems.push_back(Format("%I64d bytes, more than a language file may hold (%I64d)",
                                  std::int64_t(st.st_size), std::int64_t(kMaxFileBytes)));
        ok = false;
    }
    if (ok) {
        // Read up to one byte past the limit: the file may have grown since fstat.
        bytes.resize(kMaxFileBytes + 1);
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n < 0) {
                    Problems.push_back(Format("read error: %s", std::strerror(errno)));
                    ok = false;
                }
                break;
            }
            got += std::size_t(n);
        }
        if (got > kMaxFileBytes) {
            Problems.push_back("more bytes than a language file may hold");
            ok = false;
        }
        bytes.resize(got);
    }
    ::close(fd);
    if (ok) Parse(bytes);
    return ok;
}

CIniFile::Section* CIniFile::FindSection(std::string_view name) {
    for (Section& s : Sections)
        if (SameName(s.Name, name)) return &s;
    return nullptr;
}

const CIniFile::Section* CIniFile::FindSection(std::string_view name) const {
    return const_cast<CIniFile*>(this)->FindSection(name);
}

std::optional<std::string> CIniFile::Get(std::string_view section, std::string_view key) const {
    const Section* s = FindSection(Trim(section));
    if (!s) return std::nullopt;
    for (const Key& k : s->Keys)
        if (SameName(k.Name, Trim(key))) return k.Value;
    return std::nullopt;
}

void CIniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    Section* s = FindSection(section);
    if (!s) s = &Sections.emplace_back(Section{std::string(section), {}});
    for (Key& k : s->Keys) {
        if (SameName(k.Name, key)) {
            k.Value = value;
            return;
        }
    }
    s->Keys.push_back(Key{std::string(key), std::string(value)});
}

void CIniFile::ClearSection(std::string_view section) {
    if (Section* s = FindSection(section)) s->Keys.clear();
}

std::string CIniFile::Text() const {
    std::string out;
    for (const Section& s : Sections) {
        out += "[" + s.Name + "]\n";
        for (const Key& k : s.Keys) {
            // Quoted where reading would otherwise lose blanks or quotes at the ends.
            const std::string_view v = k.Value;
            const bool quote = !v.empty() && (Trim(v).size() != v.size() || v.front() == '"' || v.front() == '\'');
            out += k.Name + "=" + (quote ? "\"" + k.Value + "\"" : k.Value) + "\n";
        }
    }
    return out;
}

bool CIniFile::Save(const std::string& path) const {
    const std::string temp = path + ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    const std::string text = Text();
    int error = 0;
    const bool written = WriteFully(fd, text.data(), text.size(), &error) == text.size();
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace vm
