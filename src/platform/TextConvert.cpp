#include "platform/TextConvert.h"

#include "platform/Utf16.h"

#include <array>
#include <iconv.h>
#include <mutex>

namespace vm {
namespace {

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

std::string Utf8ToUtf16Le(const std::string& s) {
    std::string out;
    for (char16_t u : Utf8ToUtf16(s)) {
        out += char(u & 0xFF);
        out += char(u >> 8);
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
            AppendUtf8(out, char32_t(t.Upper[data[i] - 0x80]));
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
