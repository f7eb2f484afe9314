#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "app/IniFile.h"
#include "app/Languages.h"
#include "app/StringTable.h"
#include "platform/Utf16.h"
#include "support/TestSupport.h"

using namespace vm;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    vmtest::WriteFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// UTF-16 with a byte-order mark, in either byte order.
std::vector<std::uint8_t> Utf16File(const std::string& text, bool bigEndian) {
    std::vector<std::uint8_t> out = bigEndian ? std::vector<std::uint8_t>{0xFE, 0xFF}
                                              : std::vector<std::uint8_t>{0xFF, 0xFE};
    for (char16_t u : Utf8ToUtf16(text)) {
        const std::uint8_t lo = std::uint8_t(u & 0xFF), hi = std::uint8_t(u >> 8);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    }
    return out;
}

const std::string kGerman =
    "[LanguageInfo]\n"
    "TranslatorName=Jemand\n"
    "[StringsTable]\n"
    "5120=Verlorene Dateien\n"
    "184=Wiederherstellung\\ngestartet.\n"
    "214 = \"Wiederherstellung abgeschlossen.\"\n";

}  // namespace

TEST(Languages, AGermanFileChangesItsTextsAndNothingElse) {
    vmtest::TempDir dir;
    WriteText(dir.File("German.lng"), kGerman);
    WriteText(dir.File("English.lng"), "[StringsTable]\n");
    WriteText(dir.File("notes.txt"), "[StringsTable]\n5120=x\n");
    CLanguages languages({dir.Path()});
    EXPECT_THAT(languages.Names(), testing::ElementsAre("English", "German"));
    ASSERT_EQ(languages.CurrentIndex(), std::optional<std::size_t>(0));
    EXPECT_EQ(languages.GetString(5120), "Lost files");

    ASSERT_TRUE(languages.SelectByName("German"));
    EXPECT_EQ(languages.GetString(5120), "Verlorene Dateien");
    EXPECT_EQ(languages.GetString(184), "Wiederherstellung\ngestartet.");
    EXPECT_EQ(languages.GetString(214), "Wiederherstellung abgeschlossen.");
    for (int id : {134, 183, 4352, 57313}) EXPECT_EQ(languages.GetString(id), BuiltinString(id)) << id;
    EXPECT_EQ(languages.GetString(4), "");  // no such text anywhere
}

namespace {
struct FakeList : ILanguageList {
    std::vector<std::string> Items;
    int CurrentItem = -1;
    bool Enabled = true;
    void Clear() override { Items.clear(); }
    void Add(const std::string& name) override { Items.push_back(name); }
    void SetCurrent(int index) override { CurrentItem = index; }
    void SetEnabled(bool enabled) override { Enabled = enabled; }
};
}  // namespace

TEST(Languages, TheListShowsTheLanguagesAndIsDisabledWithoutAny) {
    vmtest::TempDir dir;
    CLanguages none({dir.Path()});
    FakeList list;
    list.Items = {"stale"};
    EXPECT_EQ(none.FillLanguageList(list), -1);
    EXPECT_TRUE(list.Items.empty());
    EXPECT_FALSE(list.Enabled);
    WriteText(dir.File("German.lng"), "");
    WriteText(dir.File("English.lng"), "");
    CLanguages two({dir.Path()});
    two.SelectByName("German");
    EXPECT_EQ(two.FillLanguageList(list), 1);
    EXPECT_THAT(list.Items, testing::ElementsAre("English", "German"));
    EXPECT_EQ(list.CurrentItem, 1);
    EXPECT_TRUE(list.Enabled);
}

TEST(Languages, TheUsersFolderWinsAndNamesStayInNameOrder) {
    vmtest::TempDir shipped, user;
    WriteText(shipped.File("German.lng"), "[StringsTable]\n5120=alt\n");
    WriteText(shipped.File("Zulu.lng"), "");
    WriteText(user.File("German.lng"), "[StringsTable]\n5120=neu\n");
    WriteText(user.File("Basque.lng"), "");
    CLanguages languages({shipped.Path(), user.Path() + "/missing", user.Path()});
    EXPECT_THAT(languages.Names(), testing::ElementsAre("Basque", "German", "Zulu"));
    EXPECT_FALSE(languages.CurrentIndex());  // no English file: nothing current, built-in texts
    EXPECT_EQ(languages.GetString(5120), "Lost files");
    languages.SelectByName("German");
    EXPECT_EQ(languages.GetString(5120), "neu");
}

// Whatever is wrong with the file, the texts it does not give are the built-in ones, and the
// run goes on.
TEST(Languages, DamagedOrHostileFilesFallBackToTheBuiltinTexts) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::string expected5120;
    };
    const auto text = [](const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    std::vector<std::uint8_t> huge(16u << 20, 'x');
    const std::string german = "[StringsTable]\n5120=Verloren\n";
    std::copy(german.begin(), german.end(), huge.begin());
    const std::string longValue(10000, 'w');
    const Case cases[] = {
        {"16 MB file", huge, "Lost files"},
        {"binary junk", {0x00, 0xFF, 0x5B, 0x0A, 0x3D, 0xC3, 0x28}, "Lost files"},
        {"malformed lines around a good key",
         text("garbage\n[StringsTable\n5120=ignored: no section open\n[StringsTable]\nno equals sign\n"
              "=value without key\n5120=Verloren\n\xC3\x28=bad utf8 key\n"),
         "Verloren"},
        {"a 10,000-character value is cut", text("[StringsTable]\n5120=" + longValue + "\n"),
         std::string(CIniFile::kMaxValueChars, 'w')},
        {"sections and keys ignore case, the first of each wins",
         text("[stringstable]\n 5120 =Erste\n5120=Zweite\n[STRINGSTABLE]\n5120=Dritte\n"), "Erste"},
        {"UTF-16LE with a mark", Utf16File(german, false), "Verloren"},
        {"UTF-16BE with a mark", Utf16File(german, true), "Verloren"},
        {"UTF-8 with a mark", text("\xEF\xBB\xBF" + german), "Verloren"},
        {"CR LF line ends", text("[StringsTable]\r\n5120=Verloren\r\n"), "Verloren"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vmtest::TempDir dir;
        vmtest::WriteFile(dir.File("German.lng"), c.bytes);
        CLanguages languages({dir.Path()});
        ASSERT_TRUE(languages.SelectByName("German"));
        EXPECT_EQ(languages.GetString(5120), c.expected5120);
        EXPECT_EQ(languages.GetString(184), BuiltinString(184));
    }
}

TEST(Languages, AFileThatGoesAwayOrChangesIsReadAnew) {
    vmtest::TempDir dir;
    WriteText(dir.File("German.lng"), kGerman);
    CLanguages languages({dir.Path()});
    languages.SelectByName("German");
    EXPECT_EQ(languages.GetString(5120), "Verlorene Dateien");
    WriteText(dir.File("German.lng"), "[StringsTable]\n5120=Verlorene Dateien (neu)\n");
    EXPECT_EQ(languages.GetString(5120), "Verlorene Dateien (neu)");
    std::filesystem::remove(dir.File("German.lng"));
    EXPECT_EQ(languages.GetString(5120), "Lost files");
}

TEST(Languages, EscapesAreReplacedInTheirOrder) {
    EXPECT_EQ(UnescapeLanguageText("a\\nb\\tc\\rd"), "a\nb\tc\rd");
    EXPECT_EQ(EscapeLanguageText("a\nb\tc\rd"), "a\\nb\\tc\\rd");
    EXPECT_EQ(UnescapeLanguageText(EscapeLanguageText("two\nlines")), "two\nlines");
}

namespace {

// A window, its menu bar and a tool bar as the front end would present them.
struct FakeMenu : ITranslatableMenu {
    struct Item {
        EntryKind Kind;
        int Command;
        std::string Text;
        std::shared_ptr<FakeMenu> Sub;
    };
    std::vector<Item> Items;
    int TranslatedCalls = 0;
    std::size_t Count() const override { return Items.size(); }
    EntryKind Kind(std::size_t i) const override { return Items[i].Kind; }
    int CommandId(std::size_t i) const override { return Items[i].Command; }
    std::string Text(std::size_t i) const override { return Items[i].Text; }
    void SetText(std::size_t i, const std::string& t) override { Items[i].Text = t; }
    ITranslatableMenu* Submenu(std::size_t i) override { return Items[i].Sub.get(); }
    void Translated() override { ++TranslatedCalls; }
    FakeMenu& Add(EntryKind k, int command, std::string text) {
        Items.push_back({k, command, std::move(text), k == EntryKind::Submenu ? std::make_shared<FakeMenu>() : nullptr});
        return Items.back().Sub ? *Items.back().Sub : *this;
    }
};

struct FakeWindow : ITranslatableWindow {
    std::string Caption = "Settings";
    std::map<int, std::string> Controls{{1111, "Save log"}, {1112, "Clear log"}, {0xFFFF, "static"}};
    bool Dialog = true;
    std::shared_ptr<FakeMenu> Bar;
    int Changed = 0;
    void SetCaption(const std::string& t) override { Caption = t; }
    bool IsDialog() const override { return Dialog; }
    std::vector<int> ControlIds() const override {
        std::vector<int> ids;
        for (auto& [id, text] : Controls) ids.push_back(id);
        return ids;
    }
    void SetControlText(int id, const std::string& t) override { Controls[id] = t; }
    ITranslatableMenu* MenuBar() override { return Bar.get(); }
    void LanguageChanged() override { ++Changed; }
};

struct FakeToolBar : ITranslatableToolBar {
    std::vector<std::pair<int, std::string>> Buttons{{32771, "Open"}, {32772, ""}};
    std::size_t Count() const override { return Buttons.size(); }
    int CommandId(std::size_t i) const override { return Buttons[i].first; }
    std::string Text(std::size_t i) const override { return Buttons[i].second; }
    void SetText(std::size_t i, const std::string& t) override { Buttons[i].second = t; }
};

}  // namespace

TEST(Languages, RegisteredWindowsMenusAndToolBarsFollowTheSelection) {
    vmtest::TempDir dir;
    WriteText(dir.File("English.lng"), "");
    WriteText(dir.File("German.lng"),
              "[ProgrammSettings.Logging]\n0=Protokoll\n1111=Protokoll speichern\n65535=nie\n"
              "[MainMenu]\n0=&Datei\n4=&Hilfe\n5=Zuletzt\n6=Tiefer\n7=Ansicht-Unter\n32800=&Beenden\tAlt+F4\n"
              "[MainToolBar]\n32771=Öffnen\n32772=leer\n");
    CLanguages languages({dir.Path()});

    auto window = std::make_shared<FakeWindow>();
    auto plain = std::make_shared<FakeWindow>();
    plain->Dialog = false;
    auto menu = std::make_shared<FakeMenu>();
    // Five top-level menus; the nested submenus are numbered on from 5, depth first.
    FakeMenu& file = menu->Add(FakeMenu::EntryKind::Submenu, 0, "&File");
    FakeMenu& recent = file.Add(FakeMenu::EntryKind::Submenu, 0, "Recent");
    recent.Add(FakeMenu::EntryKind::Submenu, 0, "Deeper");
    file.Add(FakeMenu::EntryKind::Separator, 0, "");
    file.Add(FakeMenu::EntryKind::Command, 32800, "E&xit");
    for (const char* t : {"&Edit", "&View", "&Tools", "&Help"}) menu->Add(FakeMenu::EntryKind::Submenu, 0, t);
    menu->Items[2].Sub->Add(FakeMenu::EntryKind::Submenu, 0, "View sub");
    auto bar = std::make_shared<FakeToolBar>();

    languages.RegisterWindow("ProgrammSettings.Logging", window);
    languages.RegisterWindow("ProgrammSettings.Logging.Plain", plain);
    languages.RegisterMainMenu(menu);
    languages.RegisterToolBar("MainToolBar", bar);
    EXPECT_EQ(window->Caption, "Settings");  // English is current and has no texts
    EXPECT_EQ(window->Changed, 1);

    {
        auto gone = std::make_shared<FakeWindow>();
        languages.RegisterWindow("Wizard.Main", gone);
    }
    languages.SelectByName("German");
    EXPECT_EQ(window->Caption, "Protokoll");
    EXPECT_EQ(window->Controls[1111], "Protokoll speichern");
    EXPECT_EQ(window->Controls[1112], "Clear log");  // no key: keeps its text
    EXPECT_EQ(window->Controls[0xFFFF], "static");    // not a control id that is translated
    EXPECT_EQ(window->Changed, 2);
    EXPECT_EQ(menu->Items[0].Text, "&Datei");
    EXPECT_EQ(menu->Items[1].Text, "&Edit");
    EXPECT_EQ(menu->Items[4].Text, "&Hilfe");
    EXPECT_EQ(file.Items[0].Text, "Zuletzt");
    EXPECT_EQ(recent.Items[0].Text, "Tiefer");
    EXPECT_EQ(menu->Items[2].Sub->Items[0].Text, "Ansicht-Unter");
    EXPECT_EQ(file.Items[2].Text, "&Beenden\tAlt+F4");
    EXPECT_EQ(menu->TranslatedCalls, 2);
    EXPECT_EQ(bar->Buttons[0].second, "Öffnen");
    EXPECT_EQ(bar->Buttons[1].second, "");  // a button without text stays without
    EXPECT_EQ(plain->Caption, "Settings");  // its section has no caption

    languages.SelectByName("English");
    EXPECT_EQ(window->Caption, "Protokoll");  // a text the English file lacks is kept
    EXPECT_EQ(window->Changed, 3);
}

TEST(Languages, ExportWritesTheBuiltinTextsButNeverOverATranslation) {
    vmtest::TempDir dir;
    WriteText(dir.File("German.lng"), kGerman);
    const std::vector<std::uint8_t> german = vmtest::ReadFile(dir.File("German.lng"));
    CLanguages languages({dir.Path()});
    EXPECT_FALSE(languages.ExportStringTable(dir.File("German.lng")));
    EXPECT_EQ(vmtest::ReadFile(dir.File("German.lng")), german);

    // A new file, then again over the same file: an earlier export is no translation.
    WriteText(dir.File("English.lng"), "[LanguageInfo]\nTranslatorName=built in\n");
    ASSERT_TRUE(languages.ExportStringTable(dir.File("English.lng")));
    ASSERT_TRUE(languages.ExportStringTable(dir.File("English.lng")));
    CIniFile exported;
    ASSERT_TRUE(exported.Load(dir.File("English.lng")));
    EXPECT_EQ(exported.Get("LanguageInfo", "TranslatorName"), "built in");
    CLanguages again({dir.Path()});
    ASSERT_TRUE(again.SelectByName("English"));
    int count = 0;
    for (int id = 1; id <= 65535; ++id) {
        if (!*BuiltinString(id)) continue;
        ++count;
        EXPECT_EQ(exported.Get("StringsTable", std::to_string(id)).has_value(), true) << id;
        EXPECT_EQ(again.GetString(id), BuiltinString(id)) << id;
    }
    EXPECT_GT(count, 40);
}
