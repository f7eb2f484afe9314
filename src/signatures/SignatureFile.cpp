#include "signatures/SignatureFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/Format.h"
#include "app/Log.h"
#include "app/Notify.h"
#include "app/RegistryStore.h"
#include "platform/FileWrite.h"
#include "signatures/FileTypeCatalogue.h"
#include "signatures/SignatureWizard.h"

extern char** environ;

#ifndef VELLUMARK_SIGNATURE_MAILBOX
// The signature mailbox: release builds define VELLUMARK_SIGNATURE_MAILBOX (a string literal)
// as the real address; this default reaches no one.
#define VELLUMARK_SIGNATURE_MAILBOX "signatures@vellumark.invalid"
#endif

namespace vm {
namespace {

void ShowMessage(const std::string& text, const std::string& caption) {
    MessageBoxText box{text, caption};
    Notifier().Send(msg::ShowMessageBox, reinterpret_cast<std::uintptr_t>(&box), 0);
}

// Writes the bytes to a new file beside `path` and renames it into place.
bool WriteWholeFile(const std::string& path, const void* data, std::size_t size, int mode = 0644) {
    const std::string temp = path + ".part";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) return false;
    int error = 0;
    const bool written = WriteFully(fd, data, size, &error) == size;
    const bool closed = ::close(fd) == 0;
    if (written && closed && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

enum class ReadResult { Ok, CannotOpen, Empty, TooLarge };

// The whole file, when it holds from 1 to kMaxStoredRecord bytes.
ReadResult ReadSignatureBytes(const std::string& path, std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return ReadResult::CannotOpen;
    struct stat st {};
    ReadResult result = ReadResult::Ok;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) result = ReadResult::CannotOpen;
    bytes.assign(kMaxStoredRecord + 1, 0);
    std::size_t got = 0;
    while (result == ReadResult::Ok && got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) result = ReadResult::CannotOpen;
        if (n <= 0) break;
        got += std::size_t(n);
    }
    ::close(fd);
    bytes.resize(got);
    if (result == ReadResult::Ok && got == 0) result = ReadResult::Empty;
    if (result == ReadResult::Ok && got > kMaxStoredRecord) result = ReadResult::TooLarge;
    return result;
}

std::string StripQuotes(std::string path) {
    while (!path.empty() && path.front() == '"') path.erase(path.begin());
    while (!path.empty() && path.back() == '"') path.pop_back();
    return path;
}

std::string TypesKey() { return std::string(kProgramKey) + "\\File Types"; }

// Finds the program in PATH and runs it with the arguments, its output discarded. → its exit
// status, or -1 when it could not be started.
int RunTool(const char* program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string UserDataHome() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') return xdg;
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/share";
    return {};
}

std::string PercentEncode(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// Why the record cannot be installed as a type, or empty when it can.
std::string RefusalOf(const FileTypeDescriptor& type, const std::string& path) {
    if (type.IsGroup != 0)
        return Format("Signature file '%s' describes a group, not a file type!", path);
    // Identifiers below the first user one belong to the built-in types: a file must never
    // replace one of them.
    if (type.TypeId < kFirstUserTypeId || type.TypeId > 32767 || IsReservedTypeId(type.TypeId))
        return Format("Signature file '%s' uses the type identifier %d, which is reserved or invalid!", path,
                      type.TypeId);
    return {};
}

}  // namespace

bool IsReservedTypeId(std::int32_t typeId) {
    return (typeId >= 1 && typeId <= 29) || (typeId >= 500 && typeId <= 523);
}

int WriteToFile(const FileTypeDescriptor& descriptor, const std::string& path) {
    const std::vector<std::uint8_t> record = descriptor.Record();
    if (record.size() > kMaxStoredRecord) {
        Log().Error("Signature of type %d not written: %d bytes, more than a signature file may hold (%d)",
                    descriptor.TypeId, std::int64_t(record.size()), std::int64_t(kMaxStoredRecord));
        return 0;
    }
    return WriteWholeFile(path, record.data(), record.size()) ? 1 : 0;
}

FileTypeDescriptor* ImportSignatureFile(FileTypeCatalogue& catalogue, CRegistryStore& store,
                                        const std::string& quotedPath) {
    const std::string path = StripQuotes(quotedPath);
    std::vector<std::uint8_t> bytes;
    const auto fail = [&](const std::string& text) -> FileTypeDescriptor* {
        ShowMessage(text, "Error!");
        return nullptr;
    };
    switch (ReadSignatureBytes(path, bytes)) {
    case ReadResult::CannotOpen: return fail(Format("Signature file '%s' can't open!", path));
    case ReadResult::Empty: return fail(Format("Signature file '%s' is empty!", path));
    case ReadResult::TooLarge:
        return fail(Format("Signature file '%s' is too large: a signature file holds at most %d bytes!", path,
                           std::int64_t(kMaxStoredRecord)));
    case ReadResult::Ok: break;
    }
    auto type = std::make_unique<FileTypeDescriptor>();
    if (!type->Deserialize(bytes))
        return fail(Format("Signature file '%s' is damaged: its record lengths do not match the file!", path));
    if (const std::string refusal = RefusalOf(*type, path); !refusal.empty()) return fail(refusal);

    // One stored value must never stand for the whole catalogue: at the next start it would
    // replace the built-in types and groups.
    if (catalogue.Types().empty() && catalogue.Groups().empty())
        catalogue.Load(store);
    else if (!store.KeyExists(TypesKey()) || !store.KeyExists(std::string(kProgramKey) + "\\Groups"))
        catalogue.Save(store);
    FileTypeDescriptor* known = catalogue.FindDescriptor(type->TypeId);
    const std::string oldName = known ? known->RegistryValueName() : std::string();
    // Stored first: when the store refuses, the catalogue stays as it was.
    if (!store.SetValue(TypesKey(), type->RegistryValueName(), REG_BINARY, bytes))
        return fail(Format("Signature file '%s' can't be stored!", path));
    // The replaced type's value would otherwise come back at the next start under its old name.
    if (known && oldName != type->RegistryValueName()) store.DeleteValue(TypesKey(), oldName);

    FileTypeDescriptor* result = nullptr;
    std::string text;
    if (known) {
        type->IconIndex = -1;
        *known = std::move(*type);
        catalogue.PublishLookups();
        result = known;
        text = Format("Signature file '%s' updated!", path);
    } else {
        result = &catalogue.Register(std::move(type));
        text = Format("Signature file '%s' added!", path);
    }
    catalogue.BuildExtensionMap();
    ShowMessage(text, "ok");
    return result;
}

std::string Base64Lines(std::span<const std::uint8_t> bytes) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t column = 0;
    const auto put = [&](char c) {
        if (column == 76) {
            out += "\r\n";
            column = 0;
        }
        out += c;
        ++column;
    };
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        const std::uint32_t v = std::uint32_t(bytes[i]) << 16 | (n > 1 ? std::uint32_t(bytes[i + 1]) << 8 : 0) |
                                (n > 2 ? bytes[i + 2] : 0);
        put(alphabet[(v >> 18) & 63]);
        put(alphabet[(v >> 12) & 63]);
        put(n > 1 ? alphabet[(v >> 6) & 63] : '=');
        put(n > 2 ? alphabet[v & 63] : '=');
    }
    return out;
}

const char* SignatureMailbox() { return VELLUMARK_SIGNATURE_MAILBOX; }

std::optional<std::string> SignatureMailUrl(const FileTypeDescriptor& descriptor) {
    const std::vector<std::uint8_t> record = descriptor.Record();
    // Checked before encoding: the text is 4/3 of the record and more.
    if ((record.size() + 2) / 3 * 4 > kMaxMailText) return std::nullopt;
    const std::string text = Base64Lines(record);
    if (text.size() > kMaxMailText) return std::nullopt;
    // The body is percent-encoded: a raw line break ends a URL, and "+" or "=" would be read
    // as a blank or a separator by a mail program.
    return std::string("mailto:") + SignatureMailbox() + "?subject=newsign&body=" + PercentEncode(text);
}

int SendSignature(const FileTypeDescriptor& descriptor, const UrlOpener& open) {
    const std::optional<std::string> url = SignatureMailUrl(descriptor);
    if (!url) return 0;
    if (open) return open(*url) ? 1 : 0;
    return RunTool("xdg-open", {*url}) == 0 ? 1 : 0;
}

std::string DesktopExecQuote(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    // Then the entry's own escapes: "%" starts a field code, "\" a string escape.
    std::string out;
    for (char c : quoted) {
        if (c == '%') out += '%';
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

bool RegisterFileClass(const std::string& programPath) {
    const std::string data = UserDataHome();
    if (data.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(data + "/mime/packages", ec);
    std::filesystem::create_directories(data + "/applications", ec);
    const std::string mime = std::string(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"") + kSignatureFileMimeType + "\">\n"
        "    <comment>File Signature</comment>\n"
        "    <glob pattern=\"*.filesig\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n";
    const std::string entry = std::string(
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Vellumark: add file signature\n"
        "Comment=Adds the file type of a signature file to the file types Vellumark searches for\n"
        "Exec=") + DesktopExecQuote(programPath) + " /addsig %f\n"
        "MimeType=" + kSignatureFileMimeType + ";\n"
        "NoDisplay=true\n"
        "Terminal=false\n";
    const bool mimeWritten = WriteWholeFile(data + "/mime/packages/vellumark-filesig.xml", mime.data(), mime.size());
    const bool entryWritten =
        WriteWholeFile(data + "/applications/vellumark-filesig.desktop", entry.data(), entry.size());
    if (mimeWritten) RunTool("update-mime-database", {data + "/mime"});
    if (entryWritten) RunTool("update-desktop-database", {data + "/applications"});
    return mimeWritten && entryWritten;
}

bool RegisterFileClass() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return false;
    return RegisterFileClass((exe.parent_path() / "vellumark").string());
}

}  // namespace vm
