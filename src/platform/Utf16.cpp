#include "platform/Utf16.h"

namespace vm {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHigh(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t* cp) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    char32_t v = len == 1 ? c : (c & (0x7F >> len));
    for (std::size_t k = 1; k < len; ++k) {
        unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        v = (v << 6) | (cc & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < kLeast[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return len;
}

std::string Utf16LeToUtf8(const std::uint8_t* bytes, std::size_t maxUnits) {
    std::string out;
    auto unit = [&](std::size_t i) { return char32_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)); };
    for (std::size_t i = 0; i < maxUnits; ++i) {
        char32_t u = unit(i);
        if (u == 0) break;
        if (IsHigh(u) && i + 1 < maxUnits && IsLow(unit(i + 1))) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, IsHigh(u) || IsLow(u) ? kReplacement : u);
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = kReplacement;
        std::size_t len = DecodeUtf8(text, i, &cp);
        i += len ? len : 1;
        if (cp >= 0x10000) {
            out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

}  // namespace vm
