#pragma once
// Profile-style text files ("[Section]" lines and "key=value" lines) as language files use
// them. Lookups follow the classic profile rules: section and key names compare without regard
// to ASCII case and with surrounding blanks ignored, the first section of a name and the first
// key of a name within it win, a value loses its surrounding blanks and one pair of enclosing
// quotes, and a value is cut to kMaxValueChars characters.
//
// The file may be UTF-8 (with or without a byte-order mark) or UTF-16 with a byte-order mark.
// Its content is hostile input: a file above kMaxFileBytes is refused, lines that are neither a
// section, a key nor a comment are passed over, and each problem is reported once per reading.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

class CIniFile {
public:
    static constexpr std::size_t kMaxFileBytes = 4u << 20;
    static constexpr std::size_t kMaxValueChars = 4095;  // a 4096-character buffer with its NUL

    // Parses the bytes; problems are added to `Problems`, never thrown.
    void Parse(std::span<const std::uint8_t> bytes);
    // Reads the file. False (and no content) when it cannot be read or is too large; the reason
    // is in `Problems`.
    bool Load(const std::string& path);

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Replaces the first matching key's value, or appends the key to the section (appending the
    // section when it is missing).
    void Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes every key of the first section of that name (the section line stays).
    void ClearSection(std::string_view section);
    // The content as UTF-8 text.
    std::string Text() const;
    // Writes the content to a new file beside `path` and renames it into place, so that a
    // failed write leaves the old file as it was.
    bool Save(const std::string& path) const;

    bool Empty() const { return Sections.empty(); }
    std::vector<std::string> Problems;

private:
    struct Key {
        std::string Name;
        std::string Value;
    };
    struct Section {
        std::string Name;
        std::vector<Key> Keys;
    };
    Section* FindSection(std::string_view name);
    const Section* FindSection(std::string_view name) const;
    void ParseLine(std::string_view line, std::size_t number, Section*& current);

    std::vector<Section> Sections;
};

// The text of a file in one of the accepted encodings as UTF-8.
std::string DecodeProfileText(std::span<const std::uint8_t> bytes);

}  // namespace vm
