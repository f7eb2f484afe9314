#pragma once
// Text from drives into the engine's UTF-8: UTF-16LE names and OEM code-page short names.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Utf16.h"

namespace vm {

// Utf16LeToUtf8 and the UTF-8 helpers are in platform/Utf16.h.
std::string Utf8ToUtf16Le(const std::string& text);  // the bytes, without terminator

// Bytes in the OEM code page of FAT short names and labels (CP437 unless set otherwise).
std::string OemToUtf8(const std::uint8_t* data, std::size_t length);
// Sets the OEM code page by its iconv name ("CP437", "CP850", ...); false when unknown.
bool SetOemCodePage(const std::string& name);

// Blanks removed at both ends.
std::string Trim(const std::string& text);

}  // namespace vm
