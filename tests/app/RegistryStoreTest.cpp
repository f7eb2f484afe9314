#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "app/Log.h"
#include "app/RegistryStore.h"
#include "support/TestSupport.h"

using vm::CRegistryStore;

namespace {

std::vector<std::string> ValueNames(const CRegistryStore& s, const std::string& key) {
    std::vector<std::string> names;
    for (std::uint32_t i = 0; auto n = s.EnumValue(key, i); ++i) names.push_back(*n);
    return names;
}

std::vector<std::string> KeyNames(const CRegistryStore& s, const std::string& key) {
    std::vector<std::string> names;
    for (std::uint32_t i = 0; auto n = s.EnumKey(key, i); ++i) names.push_back(*n);
    return names;
}

}  // namespace

TEST(RegistryStore, TypedValuesSurviveReopeningAndIgnoreCase) {
    vmtest::TempDir dir;
    struct Case {
        std::string name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    } cases[] = {
        {"Settings", vm::REG_BINARY, {0, 1, 2, 0, 255, 0}},
        {"", vm::REG_SZ, {'d', 'e', 'f'}},
        {"Empty", vm::REG_NONE, {}},
        {"Ärger", vm::REG_DWORD, {1, 0, 0, 0x80}},
    };
    {
        CRegistryStore s(dir.File("r.db"));
        ASSERT_TRUE(s.IsOpen());
        for (const auto& c : cases) EXPECT_TRUE(s.SetValue("Software\\Tamberlin\\X", c.name, c.type, c.data));
        EXPECT_TRUE(s.SetString("Software\\Tamberlin\\X", "Text", "C:\\Recovered Files \xE2\x82\xAC"));
    }
    CRegistryStore s(dir.File("r.db"));
    for (const auto& c : cases) {
        auto v = s.GetValue("SOFTWARE\\tamberlin\\x", c.name == "Ärger" ? "äRGER" : c.name);
        ASSERT_TRUE(v) << c.name;
        EXPECT_EQ(v->Type, c.type) << c.name;
        EXPECT_EQ(v->Data, c.data) << c.name;
    }
    EXPECT_EQ(s.GetDword("Software\\Tamberlin\\X", "ärger"), 0x80000001u);
    EXPECT_FALSE(s.GetDword("Software\\Tamberlin\\X", "Settings")) << "a binary value is not a DWORD";
    EXPECT_EQ(s.GetString("Software\\Tamberlin\\X", "TEXT"), "C:\\Recovered Files \xE2\x82\xAC");
    EXPECT_EQ(KeyNames(s, "software"), std::vector<std::string>{"Tamberlin"}) << "names keep their case";
    EXPECT_FALSE(s.GetValue("Software\\Tamberlin\\X", "Missing"));
    EXPECT_FALSE(s.GetValue("Software\\Other", "Settings"));
}

TEST(RegistryStore, EnumeratesInInsertionOrder) {
    vmtest::TempDir dir;
    CRegistryStore s(dir.File("r.db"));
    for (const char* n : {"zeta", "alpha", "Mid"}) ASSERT_TRUE(s.SetDword("K", n, 1));
    ASSERT_TRUE(s.SetDword("K", "ALPHA", 2));  // overwriting keeps place and spelling
    for (const char* k : {"K\\Types", "K\\Groups", "K\\Filter\\Deep"}) ASSERT_TRUE(s.CreateKey(k));
    ASSERT_TRUE(s.CreateKey("k\\groups"));  // already there

    EXPECT_EQ(ValueNames(s, "K"), (std::vector<std::string>{"zeta", "alpha", "Mid"}));
    EXPECT_EQ(s.GetDword("K", "alpha"), 2u);
    EXPECT_EQ(KeyNames(s, "K"), (std::vector<std::string>{"Types", "Groups", "Filter"}));

    ASSERT_TRUE(s.DeleteValue("K", "zeta"));
    EXPECT_FALSE(s.DeleteValue("K", "zeta"));
    EXPECT_EQ(ValueNames(s, "K"), (std::vector<std::string>{"alpha", "Mid"}));
    EXPECT_FALSE(s.EnumKey("Nowhere", 0));
}

TEST(RegistryStore, DeletingAKeyRemovesEverythingBelowIt) {
    vmtest::TempDir dir;
    CRegistryStore s(dir.File("r.db"));
    ASSERT_TRUE(s.SetDword("A\\B", "v", 1));
    ASSERT_TRUE(s.SetDword("A\\B\\C\\D", "v", 2));
    ASSERT_TRUE(s.SetDword("A\\B2", "v", 3));
    ASSERT_TRUE(s.SetDword("A", "v", 4));

    ASSERT_TRUE(s.DeleteKey("a\\b"));
    for (const char* gone : {"A\\B", "A\\B\\C", "A\\B\\C\\D"}) EXPECT_FALSE(s.KeyExists(gone)) << gone;
    EXPECT_EQ(s.GetDword("A\\B2", "v"), 3u);
    EXPECT_EQ(s.GetDword("A", "v"), 4u);
    EXPECT_EQ(KeyNames(s, "A"), std::vector<std::string>{"B2"});

    ASSERT_TRUE(s.CreateKey("A\\B\\C\\D"));  // a new key of the same name starts empty
    EXPECT_FALSE(s.GetDword("A\\B\\C\\D", "v"));
    EXPECT_FALSE(s.DeleteKey("Nowhere"));
    EXPECT_FALSE(s.DeleteKey("")) << "the root is not a key to delete";
    EXPECT_TRUE(s.KeyExists("A"));
}

TEST(RegistryStore, AGarbageFileIsMovedAsideAndAFreshStoreBegun) {
    vmtest::TempDir dir;
    std::vector<std::uint8_t> garbage(3000);
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = std::uint8_t(i * 7 + 3);
    vmtest::WriteFile(dir.File("r.db"), garbage);
    {
        CRegistryStore s(dir.File("r.db"));
        ASSERT_TRUE(s.IsOpen());
        EXPECT_TRUE(vm::Log().Contains("moved to " + dir.File("r.db.corrupt")));
        EXPECT_FALSE(s.GetValue("K", "v"));
        ASSERT_TRUE(s.SetDword("K", "v", 7));
    }
    EXPECT_EQ(vmtest::ReadFile(dir.File("r.db.corrupt")), garbage);
    EXPECT_EQ(CRegistryStore(dir.File("r.db")).GetDword("K", "v"), 7u);
}

TEST(RegistryStore, AnUnusableFileGivesAStoreInMemory) {
    vmtest::TempDir dir;
    std::filesystem::create_directory(dir.File("folder.db"));
    CRegistryStore s(dir.File("folder.db"));
    EXPECT_TRUE(vm::Log().Contains("settings will not be saved in this run"));
    ASSERT_TRUE(s.SetDword("K", "v", 9));
    EXPECT_EQ(s.GetDword("K", "v"), 9u);
}

TEST(RegistryStore, TwoProcessesWritingAtOnceLoseNothing) {
    vmtest::TempDir dir;
    const std::string path = dir.File("r.db");
    auto writeMany = [&](const char* prefix) {
        CRegistryStore s(path);
        bool ok = s.IsOpen();
        for (int i = 0; i < 200; ++i) ok = s.SetDword("Shared\\Key", prefix + std::to_string(i), std::uint32_t(i)) && ok;
        return ok;
    };
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(writeMany("child") ? 0 : 1);
    bool parentOk = writeMany("parent");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(parentOk);

    CRegistryStore s(path);
    EXPECT_EQ(ValueNames(s, "Shared\\Key").size(), 400u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(s.GetDword("Shared\\Key", "child" + std::to_string(i)), std::uint32_t(i));
        EXPECT_EQ(s.GetDword("Shared\\Key", "parent" + std::to_string(i)), std::uint32_t(i));
    }
}

// Sets an environment variable for one scope.
class CScopedEnv {
public:
    CScopedEnv(const char* name, const char* value) : Name(name) {
        const char* old = std::getenv(name);
        if (old) Old = old;
        Had = old != nullptr;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~CScopedEnv() { Had ? ::setenv(Name, Old.c_str(), 1) : ::unsetenv(Name); }

private:
    const char* Name;
    std::string Old;
    bool Had = false;
};

TEST(RegistryStore, DefaultPathFollowsTheEnvironment) {
    {
        CScopedEnv own("VELLUMARK_CONFIG_DIR", "/some/where");
        EXPECT_EQ(CRegistryStore::DefaultPath(), "/some/where/registry.db");
    }
    CScopedEnv own("VELLUMARK_CONFIG_DIR", nullptr);
    {
        CScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
        EXPECT_EQ(CRegistryStore::DefaultPath(), "/xdg/vellumark/registry.db");
    }
    CScopedEnv xdg("XDG_CONFIG_HOME", "relative/ignored");
    CScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(CRegistryStore::DefaultPath(), "/home/u/.config/vellumark/registry.db");
}

TEST(RegistryStore, TheDefaultStoreMakesAPrivateFolder) {
    vmtest::TempDir dir;
    CScopedEnv own("VELLUMARK_CONFIG_DIR", dir.File("a/b").c_str());
    CRegistryStore& s = CRegistryStore::Default();
    if (s.Path() != dir.File("a/b/registry.db")) GTEST_SKIP() << "the default store was opened earlier";
    EXPECT_EQ(std::filesystem::status(dir.File("a/b")).permissions(), std::filesystem::perms::owner_all);
    EXPECT_TRUE(s.SetDword("K", "v", 1));
    EXPECT_TRUE(std::filesystem::exists(dir.File("a/b/registry.db")));
}
