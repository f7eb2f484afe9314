#pragma once
// UTF-16LE text as stored on drives and in binary records, converted to and from the engine's
// UTF-8 at the edge. Both directions accept any input: what is not valid text becomes U+FFFD.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vm {

// At most `maxUnits` UTF-16LE code units from `bytes`, ending early at the first NUL, as UTF-8.
// An unpaired surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(const std::uint8_t* bytes, std::size_t maxUnits);

// UTF-8 as UTF-16 code units. Bytes that do not form a valid sequence (overlong forms, encoded
// surrogates, values above U+10FFFF, cut-off sequences) become U+FFFD, one for each bad byte.
std::u16string Utf8ToUtf16(std::string_view text);

// One UTF-8 sequence at byte `i` of `text`: its length with the code point in `*cp`, or 0 when
// the bytes there are not a valid sequence (`*cp` is then left alone).
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t* cp);
// Appends the code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace vm
