#include "filesystem/Wildcard.h"

#include <string>

#include "platform/Utf16.h"

namespace vm {
namespace {

std::u32string CodePoints(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t n = DecodeUtf8(text, i, &cp);
        out.push_back(n ? cp : U'\uFFFD');
        i += n ? n : 1;
    }
    return out;
}

// The lower-case form of the capitals whose small letter lies 0x20 above them. Only letters
// fold: punctuation pairs such as '[' and '{' stay different.
char32_t Fold(char32_t c) {
    const bool capital = (c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
                         (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F);
    return capital ? c + 0x20 : c;
}

}  // namespace

bool WildcardMatch(std::string_view patternText, std::string_view nameText, WildcardCase mode) {
    const std::u32string pattern = CodePoints(patternText), name = CodePoints(nameText);
    auto same = [mode](char32_t a, char32_t b) { return a == b || (mode == WildcardCase::Caseless && Fold(a) == Fold(b)); };
    constexpr std::size_t kNone = std::u32string::npos;
    std::size_t p = 0, n = 0, star = kNone, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == U'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == U'?' || same(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (star != kNone) {
            // Let the last '*' take one more character and try again from there.
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*') ++p;
    return p == pattern.size();
}

}  // namespace vm
