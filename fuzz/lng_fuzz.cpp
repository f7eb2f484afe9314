// Feeds arbitrary bytes to the language-file reader and looks up texts in what it read; the
// text it writes back must read the same.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "app/IniFile.h"
#include "app/Languages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > vm::CIniFile::kMaxFileBytes) return 0;
    vm::CIniFile file;
    file.Parse(std::span<const std::uint8_t>(data, size));
    for (const char* key : {"0", "5120", "184", "TranslatorName"}) {
        for (const char* section : {"StringsTable", "LanguageInfo", "MainMenu"}) {
            if (auto value = file.Get(section, key)) {
                const std::string text = vm::UnescapeLanguageText(*value);
                (void)vm::EscapeLanguageText(text);
            }
        }
    }
    const std::string text = file.Text();
    vm::CIniFile again;
    again.Parse(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    if (again.Get("StringsTable", "5120") != file.Get("StringsTable", "5120")) __builtin_trap();
    return 0;
}
