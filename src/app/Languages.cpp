#include "app/Languages.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Format.h"
#include "app/Log.h"
#include "app/StringTable.h"

namespace vm {
namespace {

constexpr const char* kStringsSection = "StringsTable";
constexpr int kLastStringId = 65535;

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string ProgramFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

std::string UserDataFolder() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') return xdg;
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/share";
    return {};
}

// "NAME.lng" files of the folder by name; a folder that cannot be listed gives nothing.
std::map<std::string, std::string> ListFolder(const std::string& folder) {
    std::map<std::string, std::string> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".lng") == 0 && it->is_regular_file(ec))
            found[name.substr(0, name.size() - 4)] = it->path().string();
    }
    return found;
}

bool FileStamp(const std::string& path, std::int64_t& stamp, std::int64_t& size) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    stamp = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    size = std::int64_t(st.st_size);
    return true;
}

}  // namespace

std::vector<std::string> DefaultLanguageFolders() {
    std::vector<std::string> folders;
    if (const std::string program = ProgramFolder(); !program.empty()) {
        folders.push_back(program + "/Languages");
        folders.push_back(program + "/../share/vellumark/Languages");
    }
    if (const std::string user = UserDataFolder(); !user.empty())
        folders.push_back(user + "/vellumark/Languages");
    return folders;
}

std::string UnescapeLanguageText(std::string text) {
    text = ReplaceAll(std::move(text), "\\n", "\n");
    text = ReplaceAll(std::move(text), "\\t", "\t");
    return ReplaceAll(std::move(text), "\\r", "\r");
}

std::string EscapeLanguageText(const std::string& text) {
    std::string out = ReplaceAll(text, "\n", "\\n");
    out = ReplaceAll(std::move(out), "\t", "\\t");
    return ReplaceAll(std::move(out), "\r", "\\r");
}

CLanguages::CLanguages(std::vector<std::string> folders) {
    std::map<std::string, std::string> byName;
    for (const std::string& folder : folders)
        for (auto& [name, path] : ListFolder(folder)) byName[name] = path;
    for (auto& [name, path] : byName) {
        Files.push_back(Language{name, path});
        LanguageNames.push_back(name);
    }
    SelectByName(kBuiltinName);
}

std::string CLanguages::CurrentFile() const {
    std::lock_guard<std::mutex> g(FileLock);
    return Path;
}

std::vector<std::string> CLanguages::RefreshFile() {
    std::int64_t stamp = -1, size = -1;
    if (Path.empty()) return {};
    FileStamp(Path, stamp, size);
    if (ContentRead && stamp == ReadStamp && size == ReadSize) return {};
    ContentRead = true;
    ReadStamp = stamp;
    ReadSize = size;
    Content = CIniFile();
    const bool read = Content.Load(Path);
    std::vector<std::string> lines;
    for (const std::string& problem : Content.Problems) lines.push_back(Format("Language file '%s': %s", Path, problem));
    if (!read) lines.push_back(Format("Language file '%s' not used; the built-in texts are shown", Path));
    return lines;
}

std::optional<std::string> CLanguages::Lookup(const std::string& section, int key) {
    std::optional<std::string> value;
    std::vector<std::string> problems;
    {
        std::lock_guard<std::mutex> g(FileLock);
        problems = RefreshFile();
        value = Content.Get(section, std::to_string(key));
    }
    // Logged outside the lock: whoever shows the log may ask for texts itself.
    for (const std::string& line : problems) Log().Message(line);
    if (value) *value = UnescapeLanguageText(std::move(*value));
    return value;
}

std::string CLanguages::GetString(int id) {
    std::optional<std::string> text = Lookup(kStringsSection, id);
    return text ? *text : std::string(BuiltinString(id));
}

std::string CLanguages::GetText(int key, const std::optional<std::string>& fallback) {
    std::optional<std::string> text = Lookup(Section, key);
    if (text) return *text;
    return fallback ? *fallback : std::string(BuiltinString(key));
}

void CLanguages::Select(std::size_t index) {
    if (index >= Files.size()) return;
    Current = index;
    {
        std::lock_guard<std::mutex> g(FileLock);
        Path = Files[index].Path;
        Content = CIniFile();
        ContentRead = false;
    }
    for (auto it = Windows.begin(); it != Windows.end();) {
        if (auto window = it->second.lock()) {
            TranslateWindow(it->first, *window);
            ++it;
        } else {
            it = Windows.erase(it);
        }
    }
    for (auto& [section, weak] : Menus)
        if (auto menu = weak.lock()) TranslateMenu(section, *menu);
    for (auto& [section, weak] : ToolBars)
        if (auto bar = weak.lock()) TranslateToolBar(section, *bar);
}

bool CLanguages::SelectByName(const std::string& name) {
    const auto it = std::find(LanguageNames.begin(), LanguageNames.end(), name);
    if (it == LanguageNames.end()) return false;
    Select(std::size_t(it - LanguageNames.begin()));
    return true;
}

void CLanguages::RegisterWindow(const std::string& section, std::weak_ptr<ITranslatableWindow> window) {
    Windows[section] = window;
    if (auto w = window.lock()) TranslateWindow(section, *w);
}

void CLanguages::RegisterMenu(const std::string& section, std::weak_ptr<ITranslatableMenu> menu) {
    Menus[section] = menu;
    if (auto m = menu.lock()) TranslateMenu(section, *m);
}

void CLanguages::RegisterToolBar(const std::string& section, std::weak_ptr<ITranslatableToolBar> toolBar) {
    ToolBars[section] = toolBar;
    if (auto t = toolBar.lock()) TranslateToolBar(section, *t);
}

void CLanguages::TranslateWindow(const std::string& section, ITranslatableWindow& window) {
    if (ITranslatableMenu* bar = window.MenuBar()) TranslateMenu(section + ".menu", *bar);
    Section = section;
    if (const std::string caption = GetText(0, std::string()); !caption.empty()) window.SetCaption(caption);
    if (window.IsDialog()) {
        for (int id : window.ControlIds()) {
            if (id == 0 || id == -1 || id == 0xFFFF) continue;
            const std::string text = GetText(id, std::string());
            if (!text.empty()) window.SetControlText(id, text);
        }
    }
    window.LanguageChanged();
}

void CLanguages::TranslateMenu(const std::string& section, ITranslatableMenu& menu) {
    const std::string previous = Section;
    Section = section;
    const std::size_t topLevel = menu.Count();
    std::size_t counter = topLevel == 0 ? 0 : topLevel - 1;
    for (std::size_t p = 0; p < topLevel; ++p) {
        menu.SetText(p, GetText(int(p), menu.Text(p)));
        if (menu.Kind(p) == ITranslatableMenu::EntryKind::Submenu)
            if (ITranslatableMenu* sub = menu.Submenu(p)) TranslateSubmenu(*sub, counter);
    }
    menu.Translated();
    Section = previous;
}

// Nested menus are numbered on from the top-level entries, depth first. Menus are built by
// the program itself, but the depth is bounded all the same.
void CLanguages::TranslateSubmenu(ITranslatableMenu& menu, std::size_t& counter) {
    static thread_local int depth = 0;
    if (depth >= 16) return;
    ++depth;
    for (std::size_t i = 0; i < menu.Count(); ++i) {
        switch (menu.Kind(i)) {
        case ITranslatableMenu::EntryKind::Separator:
            break;
        case ITranslatableMenu::EntryKind::Command:
            menu.SetText(i, GetText(menu.CommandId(i), menu.Text(i)));
            break;
        case ITranslatableMenu::EntryKind::Submenu:
            ++counter;
            menu.SetText(i, GetText(int(counter), menu.Text(i)));
            if (ITranslatableMenu* sub = menu.Submenu(i)) TranslateSubmenu(*sub, counter);
            break;
        }
    }
    --depth;
}

void CLanguages::TranslateToolBar(const std::string& section, ITranslatableToolBar& bar) {
    const std::string previous = Section;
    Section = section;
    for (std::size_t i = 0; i < bar.Count(); ++i) {
        const std::string text = bar.Text(i);
        if (!text.empty()) bar.SetText(i, GetText(bar.CommandId(i), text));
    }
    Section = previous;
}

int CLanguages::FillLanguageList(ILanguageList& list) const {
    list.Clear();
    for (const std::string& name : LanguageNames) list.Add(name);
    list.SetEnabled(!LanguageNames.empty());
    const int index = Current ? int(*Current) : -1;
    if (index >= 0) list.SetCurrent(index);
    return index;
}

bool CLanguages::ExportStringTable(const std::string& path) {
    CIniFile file;
    if (::access(path.c_str(), F_OK) == 0 && !file.Load(path)) {
        Log().Message(Format("String table not exported: '%s' cannot be read", path));
        return false;
    }
    for (int id = 1; id <= kLastStringId; ++id) {
        const char* builtin = BuiltinString(id);
        if (!*builtin) continue;
        const std::optional<std::string> held = file.Get(kStringsSection, std::to_string(id));
        if (held && UnescapeLanguageText(*held) != builtin) {
            Log().Message(Format("String table not exported: '%s' holds a translation (text %d)", path, id));
            return false;
        }
    }
    file.ClearSection(kStringsSection);
    for (int id = 1; id <= kLastStringId; ++id)
        if (const char* builtin = BuiltinString(id); *builtin)
            file.Set(kStringsSection, std::to_string(id), EscapeLanguageText(builtin));
    if (!file.Save(path)) {
        Log().Message(Format("String table not exported: '%s' cannot be written", path));
        return false;
    }
    return true;
}

bool CLanguages::ExportStringTable() {
    const std::string user = UserDataFolder();
    if (user.empty()) return false;
    const std::string folder = user + "/vellumark/Languages";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return ExportStringTable(folder + "/" + kBuiltinName + ".lng");
}

CLanguages& AppLanguages() {
    static CLanguages languages;
    return languages;
}

}  // namespace vm
