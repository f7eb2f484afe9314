#pragma once
// Text from drives into the engine's UTF-8: UTF-16LE names and OEM code-page short names.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vm {

// `units` UTF-16LE code units at `data`; stops at a NUL unit. Unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t units);
std::string Utf8ToUtf16Le(const std::string& text);  // the bytes, without terminator

// Bytes in the OEM code page of FAT short names and labels (CP437 unless set otherwise).
std::string OemToUtf8(const std::uint8_t* data, std::size_t length);
// Sets the OEM code page by its iconv name ("CP437", "CP850", ...); false when unknown.
bool SetOemCodePage(const std::string& name);

// Blanks removed at both ends.
std::string Trim(const std::string& text);

}  // namespace vm
