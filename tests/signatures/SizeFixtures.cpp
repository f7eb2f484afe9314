#include "SizeFixtures.h"

#include <array>
#include <cstring>
#include <random>

#include "support/TestSupport.h"

namespace vmtest {
namespace {

void Put(Bytes& b, std::initializer_list<int> bytes) {
    for (int x : bytes) b.push_back(std::uint8_t(x));
}
void PutText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
void PutBe16(Bytes& b, std::size_t v) { Put(b, {int(v >> 8) & 0xFF, int(v) & 0xFF}); }
void PutLe(Bytes& b, std::size_t at, std::uint64_t v, int n) {
    if (b.size() < at + n) b.resize(at + n, 0);
    for (int i = 0; i < n; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}
void Segment(Bytes& b, int marker, const Bytes& body) {
    Put(b, {0xFF, marker});
    PutBe16(b, body.size() + 2);
    b.insert(b.end(), body.begin(), body.end());
}

}  // namespace

Bytes MakeJpeg(std::size_t scanBytes, const Bytes& thumbnail, std::size_t thumbnailAt) {
    Bytes b{0xFF, 0xD8};
    if (thumbnail.empty()) {
        Segment(b, 0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    } else {
        Bytes exif{'E', 'x', 'i', 'f', 0, 0};
        exif.resize(thumbnailAt - 6, 0);  // the segment's body starts at byte 6 of the file
        exif.insert(exif.end(), thumbnail.begin(), thumbnail.end());
        Segment(b, 0xE1, exif);
    }
    Bytes dqt{0x00};
    for (int i = 0; i < 64; ++i) dqt.push_back(std::uint8_t(1 + i % 8));
    Segment(b, 0xDB, dqt);
    Segment(b, 0xC0, {8, 0, 16, 0, 16, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
    Segment(b, 0xDD, {0, 4});  // restart interval
    Bytes dht{0x00, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 12; ++i) dht.push_back(std::uint8_t(i));
    Segment(b, 0xC4, dht);
    Segment(b, 0xDA, {3, 1, 0, 2, 0x11, 3, 0x11, 0, 0x3F, 0});
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < scanBytes; ++i) {
        const std::uint8_t x = std::uint8_t(rng());
        b.push_back(x);
        if (x == 0xFF) b.push_back(0x00);  // stuffed
        if (i % 97 == 96) Put(b, {0xFF, 0xD0 + int(i / 97 % 8)});  // restart marker
    }
    Put(b, {0xFF, 0xFF, 0xD9});  // a fill byte before EOI
    return b;
}

Bytes MakeGif() {
    Bytes b;
    PutText(b, "GIF89a");
    Put(b, {32, 0, 16, 0, 0xF7, 0, 0});
    for (int i = 0; i < 768; ++i) b.push_back(std::uint8_t(i % 7 == 0 ? 0x3B : i));
    Put(b, {0x21, 0xF9, 4, 0, 0, 0, 0, 0});  // graphic control
    Put(b, {0x21, 0xFE, 5});
    PutText(b, "hello");
    Put(b, {0});
    Put(b, {0x2C, 0, 0, 0, 0, 32, 0, 16, 0, 0x81});  // with a local table of 4 colours
    Put(b, {0x3B, 0x3B, 0x3B, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    Put(b, {8});  // LZW code size
    for (int block : {255, 255, 37}) {
        b.push_back(std::uint8_t(block));
        for (int i = 0; i < block; ++i) b.push_back(std::uint8_t(i % 5 == 0 ? 0x3B : i % 5 == 1 ? 0x00 : i));
    }
    Put(b, {0, 0x3B});
    return b;
}

Bytes MakeBmp(std::int32_t width, std::int32_t height, std::uint16_t bpp, std::uint32_t stated) {
    const std::uint64_t row = (std::uint64_t(width) * bpp + 31) / 32 * 4;
    const std::uint64_t palette = bpp <= 8 ? 4ull << bpp : 0;
    const std::uint64_t at = 14 + 40 + palette;
    const std::uint64_t size = at + row * std::uint64_t(height < 0 ? -height : height);
    Bytes b(size, 0x11);
    b[0] = 'B', b[1] = 'M';
    PutLe(b, 2, stated ? stated : size, 4);
    PutLe(b, 6, 0, 4);
    PutLe(b, 10, at, 4);
    PutLe(b, 14, 40, 4);
    PutLe(b, 18, std::uint32_t(width), 4);
    PutLe(b, 22, std::uint32_t(height), 4);
    PutLe(b, 26, 1, 2);
    PutLe(b, 28, bpp, 2);
    PutLe(b, 30, 0, 4);
    PutLe(b, 34, row * std::uint64_t(height < 0 ? -height : height), 4);
    for (int i = 38; i < 54; ++i) b[i] = 0;
    return b;
}

Bytes MakeTiff(bool big) {
    Bytes b(3000, 0x33);
    auto put = [&](std::size_t at, std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) b[at + i] = std::uint8_t(v >> (8 * (big ? n - 1 - i : i)));
    };
    std::memcpy(b.data(), big ? "MM\0*" : "II*\0", 4);
    put(4, 8, 4);
    // An IFD at `at` of (tag, type, count, value) rows and the next IFD's offset.
    auto ifd = [&](std::size_t at, std::initializer_list<std::array<std::uint32_t, 4>> rows, std::uint32_t next) {
        put(at, rows.size(), 2);
        std::size_t p = at + 2;
        for (const auto& r : rows) {
            put(p, r[0], 2), put(p + 2, r[1], 2), put(p + 4, r[2], 4);
            if (r[1] == 3 && r[2] == 1) put(p + 8, r[3], 2), put(p + 10, 0, 2);  // a SHORT sits left
            else put(p + 8, r[3], 4);
            p += 12;
        }
        put(p, next, 4);
    };
    ifd(8, {{256, 3, 1, 32}, {257, 3, 1, 16}, {273, 4, 2, 100}, {279, 4, 2, 108}, {330, 4, 1, 1200}, {34665, 4, 1, 1000}},
        2100);
    put(100, 200, 4), put(104, 600, 4);  // strips at 200 and 600
    put(108, 300, 4), put(112, 400, 4);  // of 300 and 400 bytes
    ifd(1000, {{0x9286, 7, 50, 1100}}, 0);  // Exif: a comment at 1100..1150
    ifd(1200, {{513, 4, 1, 2400}, {514, 4, 1, 600}}, 0);  // sub-IFD: a preview at 2400..3000
    ifd(2100, {{273, 4, 1, 2200}, {279, 4, 1, 100}}, 0);  // second page: a strip at 2200..2300
    return b;
}

Bytes MakePdf(int updates) {
    std::string s = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    auto object = [&](const std::string& body) {
        offsets.push_back(s.size());
        s += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    auto section = [&](std::size_t from, std::size_t prev) {
        const std::size_t xref = s.size();
        s += "xref\n0 1\n0000000000 65535 f \n" + std::to_string(from + 1) + " " +
             std::to_string(offsets.size() - from) + "\n";
        for (std::size_t i = from; i < offsets.size(); ++i) {
            char line[32];
            std::snprintf(line, sizeof line, "%010zu 00000 n \n", offsets[i]);
            s += line;
        }
        s += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R";
        if (prev) s += " /Prev " + std::to_string(prev);
        s += " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return xref;
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>");
    object("<< /Length 44 >>\nstream\nBT (the file ends after %%EOF) Tj ET\nendstream");
    std::size_t prev = section(0, 0);
    for (int u = 0; u < updates; ++u) {
        const std::size_t from = offsets.size();
        object("<< /Info (update " + std::to_string(u) + ") >>");
        prev = section(from, prev);
    }
    return Bytes(s.begin(), s.end());
}

Bytes MakeCompound() {
    constexpr std::uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFat = 0xFFFFFFFD;
    Bytes b(8 * 512, 0);
    const std::uint8_t sig[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(b.data(), sig, 8);
    PutLe(b, 0x18, 0x3E, 2), PutLe(b, 0x1A, 3, 2), PutLe(b, 0x1C, 0xFFFE, 2);
    PutLe(b, 0x1E, 9, 2), PutLe(b, 0x20, 6, 2);
    PutLe(b, 0x2C, 1, 4);        // one FAT sector
    PutLe(b, 0x30, 1, 4);        // directory in sector 1
    PutLe(b, 0x38, 4096, 4);
    PutLe(b, 0x3C, 6, 4), PutLe(b, 0x40, 1, 4);  // mini FAT in sector 6
    PutLe(b, 0x44, kEnd, 4), PutLe(b, 0x48, 0, 4);
    for (int i = 0; i < 109; ++i) PutLe(b, 0x4C + 4 * i, i == 0 ? 0 : kFree, 4);
    const std::uint32_t fat[] = {kFat, kEnd, 3, 5, kFree, kEnd, kEnd};
    for (std::size_t i = 0; i < 128; ++i) PutLe(b, 512 + 4 * i, i < 7 ? fat[i] : kFree, 4);
    const char16_t* names[] = {u"Root Entry", u"WordDocument"};
    for (int e = 0; e < 2; ++e) {
        const std::size_t at = 2 * 512 + e * 128;
        std::size_t n = 0;
        for (const char16_t* c = names[e]; *c; ++c, ++n) PutLe(b, at + 2 * n, *c, 2);
        PutLe(b, at + 64, 2 * (n + 1), 2);
        b[at + 66] = e == 0 ? 5 : 2;
        PutLe(b, at + 116, e == 0 ? kEnd : 2, 4);
        PutLe(b, at + 120, e == 0 ? 0 : 5000, 4);
    }
    for (std::size_t i = 3 * 512; i < 6 * 512; ++i) b[i] = std::uint8_t(i * 13);
    for (std::size_t i = 0; i < 128; ++i) PutLe(b, 7 * 512 + 4 * i, kFree, 4);
    return b;
}

Bytes MakePng(const std::string& folder) {
    const std::string script = folder + "/png.py", out = folder + "/made.png";
    const std::string text = R"(import random, struct, sys, zlib
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
random.seed(3)
w, h = 64, 48
raw = b''.join(b'\0' + bytes(random.randrange(256) for _ in range(w * 3)) for _ in range(h))
z = zlib.compress(raw, 9)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
png += chunk(b'tEXt', b'Comment\0IEND is not here') + chunk(b'IDAT', z[:3000]) + chunk(b'IDAT', z[3000:])
png += chunk(b'IEND', b'')
open(sys.argv[1], 'wb').write(png)
)";
    WriteFile(script, Bytes(text.begin(), text.end()));
    if (RunCommand("python3 '" + script + "' '" + out + "' 2>/dev/null") != 0) return {};
    return ReadFile(out);
}

}  // namespace vmtest
