#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <random>

#include "signatures/SizeChecks.h"
#include "signatures/size/ArchiveMediaSizes.h"
#include "support/TestSupport.h"

using namespace vm;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Random(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& x : b) x = std::uint8_t(gen());
    return b;
}

Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool Have(const char* tool) { return vmtest::RunCommand(std::string("command -v ") + tool + " >/dev/null") == 0; }

// Runs `script` in a fresh folder with sample inputs a.bin (random) and b.txt (text) and returns
// the file `out` it made; empty when a tool is missing or fails.
Bytes Made(const std::vector<const char*>& tools, const std::string& script, const std::string& out) {
    for (const char* t : tools)
        if (!Have(t)) return {};
    vmtest::TempDir dir;
    vmtest::WriteFile(dir.File("a.bin"), Random(30000, 7));
    std::string cmd = "cd '" + dir.Path() + "' && seq 1 20000 > b.txt && (" + script + ") >/dev/null 2>&1";
    if (vmtest::RunCommand(cmd) != 0) return {};
    return vmtest::ReadFile(dir.File(out));
}

void Put(Bytes& b, std::uint64_t v, std::size_t n, bool bigEndian = false) {
    for (std::size_t i = 0; i < n; ++i) b.push_back(std::uint8_t(v >> (8 * (bigEndian ? n - 1 - i : i))));
}

std::uint32_t Crc(const Bytes& b, std::size_t from = 0) {
    return std::uint32_t(crc32(0, b.data() + from, uInt(b.size() - from)));
}

// RAR 1.5-4.x: marker, main header, one stored file, end block.
Bytes Rar4() {
    Bytes out = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    auto block = [&out](std::uint8_t type, unsigned flags, const Bytes& fields, const Bytes& data) {
        Bytes h = {0, 0, type};
        Put(h, flags, 2);
        Put(h, 7 + fields.size(), 2);
        h.insert(h.end(), fields.begin(), fields.end());
        std::uint32_t crc = Crc(h, 2);
        h[0] = std::uint8_t(crc), h[1] = std::uint8_t(crc >> 8);
        out = Join(Join(out, h), data);
    };
    block(0x73, 0, Bytes(6, 0), {});
    const Bytes data = Random(1000, 3), name = {'a', '.', 'b', 'i', 'n'};
    Bytes file;
    Put(file, data.size(), 4), Put(file, data.size(), 4), Put(file, 3, 1), Put(file, Crc(data), 4);
    Put(file, 0, 4), Put(file, 29, 1), Put(file, 0x30, 1), Put(file, name.size(), 2), Put(file, 0x20, 4);
    block(0x74, 0x8000, Join(file, name), data);
    block(0x7B, 0x4000, {}, {});
    return out;
}

// RAR 5: signature, main header, one stored file, end header.
Bytes Rar5() {
    Bytes out = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
    auto block = [&out](const Bytes& header, const Bytes& data) {
        Bytes sized = {std::uint8_t(header.size())};
        sized = Join(sized, header);
        Bytes b;
        Put(b, Crc(sized), 4);
        out = Join(Join(out, Join(b, sized)), data);
    };
    const Bytes data = Random(700, 4);
    block({1, 0, 0}, {});
    block({2, 2, std::uint8_t((data.size() & 0x7F) | 0x80), std::uint8_t(data.size() >> 7), 0, 0x3C, 0x05, 0, 0, 0, 1,
           'x'},
          data);
    block({5, 0, 0}, {});
    return out;
}

// A format-1 MIDI file of two tracks, with an unknown chunk between them.
Bytes Midi() {
    Bytes out = {'M', 'T', 'h', 'd'};
    Put(out, 6, 4, true), Put(out, 1, 2, true), Put(out, 2, 2, true), Put(out, 96, 2, true);
    auto chunk = [&out](const char* id, const Bytes& body) {
        out.insert(out.end(), id, id + 4);
        Put(out, body.size(), 4, true);
        out = Join(out, body);
    };
    chunk("MTrk", {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00});
    chunk("XFIH", {1, 2, 3, 4});
    chunk("MTrk", {0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00});
    return out;
}

// ARJ: the archive's header, one stored member, the end marker; each basic header with its CRC.
Bytes Arj() {
    Bytes out;
    auto header = [&out](Bytes basic, const Bytes& data) {
        out.push_back(0x60), out.push_back(0xEA);
        Put(out, basic.size(), 2);
        const std::uint32_t crc = Crc(basic);
        out = Join(out, basic);
        Put(out, crc, 4), Put(out, 0, 2);  // no extended headers
        out = Join(out, data);
    };
    auto basic = [](std::uint8_t fileType, const Bytes& data, const char* name) {
        Bytes b = {30, 11, 1, 2, 0, 0, fileType, 0};
        Put(b, 0x5A2B3C4D, 4), Put(b, data.size(), 4), Put(b, data.size(), 4), Put(b, Crc(data), 4);
        Put(b, 0, 2), Put(b, 0x20, 2), Put(b, 0, 2);
        b.insert(b.end(), name, name + std::strlen(name) + 1);
        b.push_back(0);  // no comment
        return b;
    };
    header(basic(2, {}, "x.arj"), {});
    const Bytes data = Random(900, 8);
    header(basic(0, data, "a.bin"), data);
    out.push_back(0x60), out.push_back(0xEA), out.push_back(0), out.push_back(0);
    return out;
}

// HA: two members, a stored file in a folder (path parts end in FF) and the folder itself.
Bytes Ha() {
    Bytes out = {'H', 'A'};
    Put(out, 2, 2);
    auto member = [&out](std::uint8_t type, const Bytes& data, const std::string& path, const std::string& name,
                         const Bytes& machine) {
        out.push_back(type);
        Put(out, data.size(), 4), Put(out, data.size(), 4), Put(out, Crc(data), 4), Put(out, 0x5A2B3C4D, 4);
        out.insert(out.end(), path.begin(), path.end()), out.push_back(0);
        out.insert(out.end(), name.begin(), name.end()), out.push_back(0);
        out.push_back(std::uint8_t(machine.size()));
        out = Join(Join(out, machine), data);
    };
    member(0x20, Random(300, 9), "docs\xFF", "a.bin", {0x20});
    member(0x2E, {}, "", "docs", {});
    return out;
}

// A Windows program: DOS stub, PE header, two sections and a certificate table after them.
Bytes Pe() {
    Bytes out = Random(0x1600, 10);
    auto put = [&out](std::size_t at, std::uint64_t v, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[at + i] = std::uint8_t(v >> (8 * i));
    };
    put(0, 'M' | ('Z' << 8), 2), put(2, 0x90, 2), put(4, 3, 2), put(6, 0, 2), put(8, 4, 2), put(24, 0x40, 2);
    put(60, 0x80, 4);
    put(0x80, 0x4550, 4), put(0x84, 0x14C, 2), put(0x86, 2, 2), put(0x94, 224, 2);
    const std::size_t opt = 0x98;
    put(opt, 0x10B, 2), put(opt + 60, 0x400, 4), put(opt + 92, 16, 4);
    for (std::size_t d = 0; d < 16; ++d) put(opt + 96 + d * 8, 0, 8);
    put(opt + 96 + 4 * 8, 0x1400, 4), put(opt + 96 + 4 * 8 + 4, 0x200, 4);  // the certificate table
    const std::size_t sections = opt + 224;
    put(sections + 16, 0x800, 4), put(sections + 20, 0x400, 4);
    put(sections + 40 + 16, 0x800, 4), put(sections + 40 + 20, 0xC00, 4);
    return out;
}

// A DOS program of 5 pages, the last one holding 100 bytes, with two relocations.
Bytes DosExe() {
    Bytes out = Random(4 * 512 + 100, 11);
    const std::uint8_t header[28] = {'M', 'Z', 100, 0, 5, 0, 2, 0, 4, 0, 0, 0, 0xFF, 0xFF,
                                     0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x1C, 0, 0, 0};
    std::memcpy(out.data(), header, sizeof header);
    std::memset(out.data() + 60, 0, 4);
    return out;
}

struct Format {
    const char* Name;
    SizeCheckFunction Check;
    std::function<Bytes()> Make;
    std::size_t HeaderBytes;  // how much of the file "only looks right" in the garbage case
};

const Format kFormats[] = {
    {"zip", CheckZipSize, [] { return Made({"zip"}, "zip -q x.zip a.bin b.txt", "x.zip"); }, 30},
    {"zip_comment", CheckZipSize,
     [] { return Made({"zip"}, "zip -q x.zip b.txt && echo 'a comment' | zip -q -z x.zip", "x.zip"); }, 30},
    {"zip_streamed", CheckZipSize, [] { return Made({"zip"}, "zip -q - - < b.txt > x.zip", "x.zip"); }, 30},
    {"zip64", CheckZipSize, [] { return Made({"zip"}, "zip -q -fz x.zip a.bin b.txt", "x.zip"); }, 30},
    {"jar_python", CheckZipSize,
     [] {
         return Made({"python3"},
                     "python3 -c \"import zipfile; z=zipfile.ZipFile('x.jar','w',zipfile.ZIP_DEFLATED); "
                     "z.writestr('META-INF/MANIFEST.MF','Manifest-Version: 1.0\\n'); z.write('b.txt'); z.close()\"",
                     "x.jar");
     },
     30},
    {"gzip", CheckGzipSize, [] { return Made({"gzip"}, "gzip -c b.txt > x.gz", "x.gz"); }, 10},
    {"gzip_members", CheckGzipSize,
     [] { return Made({"gzip"}, "(gzip -c b.txt; gzip -n -c a.bin) > x.gz", "x.gz"); }, 10},
    {"7z", CheckSevenZipSize, [] { return Made({"7z"}, "7z a -bd x.7z a.bin b.txt", "x.7z"); }, 32},
    {"rar4", CheckRarSize, Rar4, 20},
    {"rar5", CheckRarSize, Rar5, 12},
    {"bzip2", CheckBzip2Size, [] { return Made({"bzip2"}, "bzip2 -c b.txt > x.bz2", "x.bz2"); }, 10},
    {"bzip2_streams", CheckBzip2Size,
     [] { return Made({"bzip2"}, "(bzip2 -c b.txt; bzip2 -1 -c a.bin) > x.bz2", "x.bz2"); }, 10},
    {"wav", CheckRiffSize, [] { return Made({"sox"}, "sox -n -r 8000 -c 1 x.wav synth 0.3 sine 440", "x.wav"); }, 12},
    {"wav_python", CheckRiffSize,
     [] {
         return Made({"python3"},
                     "python3 -c \"import wave; w=wave.open('x.wav','wb'); w.setnchannels(1); w.setsampwidth(1); "
                     "w.setframerate(8000); w.writeframes(bytes(range(256))*7+b'x'); w.close()\"",
                     "x.wav");
     },
     12},
    {"avi", CheckRiffSize,
     [] { return Made({"ffmpeg"}, "ffmpeg -f lavfi -i testsrc=size=64x48:rate=5 -t 1 x.avi", "x.avi"); }, 12},
    {"mp4", CheckMp4Size,
     [] {
         return Made({"ffmpeg"}, "ffmpeg -f lavfi -i testsrc=size=64x48:rate=5 -t 1 -pix_fmt yuv420p x.mp4", "x.mp4");
     },
     12},
    {"mov_faststart", CheckMp4Size,
     [] {
         return Made({"ffmpeg"}, "ffmpeg -f lavfi -i testsrc=size=64x48:rate=5 -t 1 -movflags +faststart x.mov",
                     "x.mov");
     },
     12},
    {"3gp", CheckMp4Size,
     [] { return Made({"ffmpeg"}, "ffmpeg -f lavfi -i testsrc=size=176x144:rate=5 -t 1 -c:v h263 x.3gp", "x.3gp"); },
     12},
    {"ogg", CheckOggSize, [] { return Made({"sox"}, "sox -n -r 8000 -c 1 x.ogg synth 0.5 sine 440", "x.ogg"); }, 27},
    {"midi", CheckMidiSize, Midi, 14},
    {"ico", IcoSize,
     [] { return Made({"convert"}, "convert -size 16x16 xc:red -size 48x48 plasma: -size 256x256 plasma: x.ico", "x.ico"); },
     6},
    {"arj", CheckArjSize, Arj, 4},
    {"ha", CheckHaSize, Ha, 4},
    {"exe_pe", CheckExeSize, Pe, 2},
    {"exe_dos", CheckExeSize, DosExe, 2},
};

class ArchiveMediaSize : public testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        File = GetParam().Make();
        if (File.empty()) GTEST_SKIP() << "no tool to make a " << GetParam().Name << " file";
    }
    // The check of a find whose drive holds `drive` from the find onward.
    SizeAnswer Check(const Bytes& drive, std::uint64_t limit = kSizeCheckLimit) {
        CMemoryFindReader reader(drive, limit);
        return GetParam().Check(reader);
    }
    Bytes File;
};

TEST_P(ArchiveMediaSize, WholeFileGetsItsExactSize) {
    // In random filler, followed directly by another file, and at the very end of the drive.
    const Bytes other = Join({'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'}, Random(4000, 5));
    for (const Bytes& after : {Random(100000, 1), other, Bytes{}}) {
        SizeAnswer a = Check(Join(File, after));
        EXPECT_EQ(a.Verdict, SizeVerdict::Exact) << after.size();
        EXPECT_EQ(a.Size, File.size()) << after.size();
    }
}

TEST_P(ArchiveMediaSize, CutFileIsUnknown) {
    // The drive ends inside the file, or the check may not read as far as the file's end.
    SizeAnswer cut = Check(Bytes(File.begin(), File.begin() + File.size() * 3 / 5));
    EXPECT_EQ(cut.Verdict, SizeVerdict::Unknown);
    SizeAnswer bounded = Check(Join(File, Random(100000, 2)), File.size() * 3 / 5);
    EXPECT_EQ(bounded.Verdict, SizeVerdict::Unknown);
}

TEST_P(ArchiveMediaSize, HeaderBeforeGarbageIsNoFile) {
    for (unsigned seed : {11u, 12u, 13u}) {
        Bytes drive = Join(Bytes(File.begin(), File.begin() + GetParam().HeaderBytes), Random(200000, seed));
        EXPECT_NE(Check(drive).Verdict, SizeVerdict::Exact) << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ArchiveMediaSize, testing::ValuesIn(kFormats),
                         [](const testing::TestParamInfo<Format>& info) { return std::string(info.param.Name); });

}  // namespace

// A compress stream tells no size, but its codes after 1F 9D 90 hold together, and those of
// random bytes behind the same three bytes do not.
TEST(CompressStream, RealStreamsPassAndRandomBytesAreNoFile) {
    struct Case {
        const char* name;
        std::string script;
    } cases[] = {
        {"text, 16 bits", "compress -c b.txt > x.Z"},
        {"random, 16 bits", "compress -f -c a.bin > x.Z"},
        {"text, 12 bits", "compress -b12 -c b.txt > x.Z"},
    };
    for (const Case& c : cases) {
        const Bytes file = Made({"compress"}, c.script, "x.Z");
        if (file.empty()) GTEST_SKIP() << "no compress (ncompress) to make .Z files";
        CMemoryFindReader whole(file);
        EXPECT_EQ(CheckCompressSize(whole).Verdict, SizeVerdict::Unknown) << c.name;
        const Bytes head(file.begin(), file.begin() + 40);  // a short stream: what there is holds
        CMemoryFindReader cut(head);
        EXPECT_EQ(CheckCompressSize(cut).Verdict, SizeVerdict::Unknown) << c.name;
    }
    for (unsigned seed = 20; seed < 60; ++seed) {
        const Bytes drive = Join({0x1F, 0x9D, 0x90}, Random(4096, seed));
        CMemoryFindReader reader(drive);
        EXPECT_EQ(CheckCompressSize(reader).Verdict, SizeVerdict::NotThisFormat) << seed;
    }
    EXPECT_NE(FindSizeCheck(339), nullptr);  // the searcher asks it of every Z find
}
