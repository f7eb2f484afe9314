#pragma once
// The interface language: the language files found, the current one, every text by string id,
// and the translation of registered windows, menus and tool bars in place. The built-in English
// texts are the defaults for everything a file does not hold.
//
// A language file "NAME.lng" lies in one of the language folders (the program's data folder,
// the installed share folder, the user's folder; see DefaultLanguageFolders). Its
// "StringsTable" section holds texts by decimal string id; a window's section holds its caption
// under "0" and its controls' texts under their ids. In values "\n", "\t" and "\r" stand for a
// line feed, a tab and a carriage return.
//
// Lookups may come from any thread; selecting and registering belong to the window thread.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/IniFile.h"

namespace vm {

// A menu as the language manager sees it; the front end implements it over its own menus.
class ITranslatableMenu {
public:
    enum class EntryKind { Command, Submenu, Separator };
    virtual ~ITranslatableMenu() = default;
    virtual std::size_t Count() const = 0;
    virtual EntryKind Kind(std::size_t index) const = 0;
    virtual int CommandId(std::size_t index) const = 0;  // for a command entry
    virtual std::string Text(std::size_t index) const = 0;
    virtual void SetText(std::size_t index, const std::string& text) = 0;
    virtual ITranslatableMenu* Submenu(std::size_t index) = 0;  // for a submenu entry
    // Called after the menu was translated: redraw it (re-attach a command bar).
    virtual void Translated() {}
};

class ITranslatableToolBar {
public:
    virtual ~ITranslatableToolBar() = default;
    virtual std::size_t Count() const = 0;
    virtual int CommandId(std::size_t index) const = 0;
    virtual std::string Text(std::size_t index) const = 0;  // empty: a button without text
    virtual void SetText(std::size_t index, const std::string& text) = 0;
};

class ITranslatableWindow {
public:
    virtual ~ITranslatableWindow() = default;
    virtual void SetCaption(const std::string& text) = 0;
    // Dialogs and form views have their controls translated; other windows only their caption.
    virtual bool IsDialog() const = 0;
    virtual std::vector<int> ControlIds() const = 0;  // every descendant control
    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual ITranslatableMenu* MenuBar() = 0;  // null when the window has none
    // The language changed: redo the texts the window builds itself.
    virtual void LanguageChanged() = 0;
};

// The drop-down list of the language settings page.
class ILanguageList {
public:
    virtual ~ILanguageList() = default;
    virtual void Clear() = 0;
    virtual void Add(const std::string& name) = 0;
    virtual void SetCurrent(int index) = 0;
    virtual void SetEnabled(bool enabled) = 0;
};

// The three folders, in the order they are searched; a name found in a later folder replaces
// the file of an earlier one (the user's own files win).
std::vector<std::string> DefaultLanguageFolders();

// Escapes of language-file values: on reading "\n", "\t", "\r" become the characters (in that
// order), on writing the characters become the sequences.
std::string UnescapeLanguageText(std::string text);
std::string EscapeLanguageText(const std::string& text);

class CLanguages {
public:
    static constexpr const char* kBuiltinName = "English";

    // Lists the "*.lng" files of the folders and selects "English".
    explicit CLanguages(std::vector<std::string> folders = DefaultLanguageFolders());

    std::string GetString(int id);
    // The current section's text under the key, else `fallback`, else the built-in string whose
    // id equals the key.
    std::string GetText(int key, const std::optional<std::string>& fallback = std::nullopt);

    void RegisterWindow(const std::string& section, std::weak_ptr<ITranslatableWindow> window);
    void RegisterMenu(const std::string& section, std::weak_ptr<ITranslatableMenu> menu);
    void RegisterMainMenu(std::weak_ptr<ITranslatableMenu> menu) { RegisterMenu("MainMenu", std::move(menu)); }
    void RegisterToolBar(const std::string& section, std::weak_ptr<ITranslatableToolBar> toolBar);

    void Select(std::size_t index);
    bool SelectByName(const std::string& name);

    // Writes every built-in string, escaped, into the "StringsTable" of the file at `path`
    // (other sections stay). A file that already holds a translated text there is left alone,
    // so that an export never destroys a translation. → false with a log line when refused or
    // not written.
    bool ExportStringTable(const std::string& path);
    // The same into the built-in language's file in the user's folder.
    bool ExportStringTable();

    // Lists the names and shows the current one; with no language files the list is disabled.
    // → the current index, or -1 when there is none.
    int FillLanguageList(ILanguageList& list) const;

    const std::vector<std::string>& Names() const { return LanguageNames; }
    std::optional<std::size_t> CurrentIndex() const { return Current; }
    std::string CurrentFile() const;

private:
    struct Language {
        std::string Name;
        std::string Path;
    };
    // The current file's value, read anew when the file changed since it was last read.
    std::optional<std::string> Lookup(const std::string& section, int key);
    // → the problems found, to be logged once the lock is released.
    std::vector<std::string> RefreshFile();
    void TranslateWindow(const std::string& section, ITranslatableWindow& window);
    void TranslateMenu(const std::string& section, ITranslatableMenu& menu);
    void TranslateSubmenu(ITranslatableMenu& menu, std::size_t& counter);
    void TranslateToolBar(const std::string& section, ITranslatableToolBar& toolBar);

    std::vector<Language> Files;            // in name order
    std::vector<std::string> LanguageNames; // the same names, for lists
    std::optional<std::size_t> Current;
    std::string Section;                    // of the translation in progress

    std::map<std::string, std::weak_ptr<ITranslatableWindow>> Windows;
    std::map<std::string, std::weak_ptr<ITranslatableMenu>> Menus;
    std::map<std::string, std::weak_ptr<ITranslatableToolBar>> ToolBars;

    mutable std::mutex FileLock;  // guards the fields below
    std::string Path;             // of the current file, empty while none is current
    CIniFile Content;
    bool ContentRead = false;     // the current file was read (or found missing)
    std::int64_t ReadStamp = -1;  // its modification time and size then, -1 when missing
    std::int64_t ReadSize = -1;
};

// The process's language manager.
CLanguages& AppLanguages();

}  // namespace vm
