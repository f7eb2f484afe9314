#pragma once
// A small registry of our own over SQLite: keys are backslash-separated paths, each key holds
// named values with a type and bytes, and keys and values enumerate in insertion order. One file
// under $XDG_CONFIG_HOME/vellumark/ (VELLUMARK_CONFIG_DIR overrides the folder). Every change is
// one transaction, so a crash never leaves half a value, and two processes may use it at once.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vm {

enum RegType : std::uint32_t { REG_NONE = 0, REG_SZ = 1, REG_BINARY = 3, REG_DWORD = 4 };

struct RegValue {
    std::uint32_t Type = REG_NONE;
    std::vector<std::uint8_t> Data;
};

// The program's own key; every stored setting lies below it.
inline constexpr const char* kProgramKey = "Software\\Tamberlin\\Vellumark\\5.0";

class CRegistryStore {
public:
    // Opens (creating when needed) the store file at that path. A file that is not a store is
    // moved aside to PATH.corrupt and a new store begun; when no file can be used (or the path is
    // empty) the store lives in memory for this run only. Each case is logged.
    explicit CRegistryStore(std::string dbPath);
    ~CRegistryStore();
    CRegistryStore(const CRegistryStore&) = delete;
    CRegistryStore& operator=(const CRegistryStore&) = delete;

    // The store of this user: $VELLUMARK_CONFIG_DIR/registry.db, else
    // $XDG_CONFIG_HOME/vellumark/registry.db, else ~/.config/vellumark/registry.db.
    static std::string DefaultPath();
    static CRegistryStore& Default();

    bool IsOpen() const;
    const std::string& Path() const { return DbPath; }

    bool CreateKey(const std::string& key);            // creates the missing keys on the path
    bool KeyExists(const std::string& key) const;
    bool DeleteKey(const std::string& key);            // the key, its values and all keys below it
    bool SetValue(const std::string& key, const std::string& name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data);  // creates the key when missing
    std::optional<RegValue> GetValue(const std::string& key, const std::string& name) const;
    bool DeleteValue(const std::string& key, const std::string& name);
    // The index-th value name / direct subkey name of a key in insertion order, or nothing.
    std::optional<std::string> EnumValue(const std::string& key, std::uint32_t index) const;
    std::optional<std::string> EnumKey(const std::string& key, std::uint32_t index) const;
    // Every value of a key with its name, in insertion order, read at once (empty when none).
    std::vector<std::pair<std::string, RegValue>> Values(const std::string& key) const;

    // Convenience forms. A DWORD is 4 little-endian bytes; a string is stored as its UTF-8 bytes
    // (REG_SZ, no terminator) and read up to its first NUL.
    bool SetDword(const std::string& key, const std::string& name, std::uint32_t value);
    std::optional<std::uint32_t> GetDword(const std::string& key, const std::string& name) const;
    bool SetString(const std::string& key, const std::string& name, const std::string& value);
    std::optional<std::string> GetString(const std::string& key, const std::string& name) const;

private:
    struct Impl;
    std::string DbPath;
    std::unique_ptr<Impl> P;
    mutable std::mutex Lock;
};

}  // namespace vm
