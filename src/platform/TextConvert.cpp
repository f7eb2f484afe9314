#include "platform/TextConvert.h"

#include <array>
#include <iconv.h>
#include <mutex>

namespace vm {
namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
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

// The upper half of the OEM code page as code points, built once per code page.
struct OemTable {
    std::mutex M;
    std::array<std::uint32_t, 128> Upper{};
    bool Ready = false;

    bool Build(const std::string& name) {
        iconv_t cd = iconv_open("UTF-32LE", name.c_str());
        if (cd == iconv_t(-1)) return false;
        for (unsigned i = 0; i < 128; ++i) {
            char in = char(0x80 + i);
            std::uint32_t cp = 0xFFFD;
            char* pin = &in;
            size_t inLeft = 1;
            char* pout = reinterpret_cast<char*>(&cp);
            size_t outLeft = 4;
            if (iconv(cd, &pin, &inLeft, &pout, &outLeft) == size_t(-1)) cp = 0xFFFD;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            Upper[i] = cp;
        }
        iconv_close(cd);
        Ready = true;
        return true;
    }
};

OemTable& Oem() {
    static OemTable table;
    return table;
}

}  // namespace

std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t units) {
    std::string out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t u = data[2 * i] | (std::uint32_t(data[2 * i + 1]) << 8);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            std::uint32_t lo = data[2 * i + 2] | (std::uint32_t(data[2 * i + 3]) << 8);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
        AppendUtf8(out, u);
    }
    return out;
}

std::string Utf8ToUtf16Le(const std::string& s) {
    std::string out;
    auto put = [&](std::uint32_t u) {
        out += char(u & 0xFF);
        out += char(u >> 8);
    };
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = s[i];
        std::uint32_t cp;
        std::size_t n;
        if (c < 0x80) { cp = c; n = 1; }
        else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
        else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
        else if ((c >> 3) == 30) { cp = c & 0x07; n = 4; }
        else { cp = 0xFFFD; n = 1; }
        if (i + n > s.size()) { cp = 0xFFFD; n = s.size() - i; }
        else for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

bool SetOemCodePage(const std::string& name) {
    OemTable& t = Oem();
    std::lock_guard<std::mutex> g(t.M);
    OemTable fresh;
    if (!fresh.Build(name)) return false;
    t.Upper = fresh.Upper;
    t.Ready = true;
    return true;
}

std::string OemToUtf8(const std::uint8_t* data, std::size_t length) {
    OemTable& t = Oem();
    {
        std::lock_guard<std::mutex> g(t.M);
        if (!t.Ready && !t.Build("CP437")) {
            for (auto& u : t.Upper) u = 0xFFFD;
            t.Ready = true;
        }
    }
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        if (data[i] < 0x80)
            out += char(data[i]);
        else
            AppendUtf8(out, t.Upper[data[i] - 0x80]);
    }
    return out;
}

std::string Trim(const std::string& text) {
    std::size_t b = text.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    std::size_t e = text.find_last_not_of(' ');
    return text.substr(b, e - b + 1);
}

}  // namespace vm
