#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>

#include "SizeFixtures.h"
#include "platform/MemoryReader.h"
#include "signatures/SizeCheck.h"
#include "signatures/SizeChecks.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

using namespace vm;
using vmtest::Bytes;

namespace {

struct Format {
    const char* Name;
    std::int32_t TypeId;
    Bytes File;
    std::size_t Signature;  // the leading bytes the catalogue matches
    bool EndMarked;         // the format marks its end, so a cut file followed by filler shows
    bool HeaderDecides;     // random bytes after the signature are mostly told apart as no such file
};

std::vector<Format> Formats() {
    static const Bytes png = [] {
        vmtest::TempDir dir;
        return vmtest::MakePng(dir.Path());
    }();
    std::vector<Format> f = {
        {"JPEG", 83, vmtest::MakeJpeg(3000, vmtest::MakeJpeg(100), 512), 4, true, true},
        {"GIF", 85, vmtest::MakeGif(), 6, true, true},
        {"BMP", 525, vmtest::MakeBmp(33, 17, 24), 2, false, true},
        {"TIFF little-endian", 87, vmtest::MakeTiff(false), 4, false, false},
        {"NEF (big-endian TIFF)", 114, vmtest::MakeTiff(true), 4, false, false},
        {"PDF", 47, vmtest::MakePdf(0), 7, true, false},
        {"PDF with two updates", 47, vmtest::MakePdf(2), 7, true, false},
        {"Word document", 502, vmtest::MakeCompound(), 8, false, true},
    };
    if (!png.empty()) f.push_back({"PNG", 88, png, 16, true, true});
    return f;
}

SizeAnswer Check(const Format& f, const Bytes& bytes) {
    const SizeCheckFunction check = FindSizeCheck(f.TypeId);
    EXPECT_NE(check, nullptr) << f.Name;
    if (!check) return SizeAnswer::Unknown();
    CMemoryFindReader reader(bytes);
    return check(reader);
}

Bytes Join(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

const Bytes kFiller(65536, 0x5A);

}  // namespace

TEST(SizeCheck, WholeFilesGetTheirExactSizeWhateverFollows) {
    const auto formats = Formats();
    if (formats.back().TypeId != 88) std::printf("python3 is missing: PNG is not tested\n");
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const Format& f = formats[i];
        SCOPED_TRACE(f.Name);
        const Format& other = formats[(i + 1) % formats.size()];
        for (const Bytes& after : {kFiller, f.File, other.File, Bytes{}}) {
            const SizeAnswer a = Check(f, Join(f.File, after));
            EXPECT_EQ(a.Verdict, SizeVerdict::Exact);
            EXPECT_EQ(a.Size, f.File.size());
        }
    }
}

TEST(SizeCheck, CutFilesGetNoExactSize) {
    for (const Format& f : Formats()) {
        SCOPED_TRACE(f.Name);
        for (std::size_t keep : {f.File.size() * 2 / 3, f.File.size() - 3}) {
            const Bytes cut(f.File.begin(), f.File.begin() + std::ptrdiff_t(keep));
            EXPECT_NE(Check(f, cut).Verdict, SizeVerdict::Exact) << "cut at the drive's end after " << keep;
            if (f.EndMarked) {
                EXPECT_NE(Check(f, Join(cut, kFiller)).Verdict, SizeVerdict::Exact) << "cut after " << keep;
            }
        }
    }
}

TEST(SizeCheck, HeadersFollowedByRandomBytesAreRejectedOrUnknown) {
    std::mt19937 rng(11);
    for (const Format& f : Formats()) {
        SCOPED_TRACE(f.Name);
        int rejected = 0;
        for (int round = 0; round < 40; ++round) {
            Bytes b(f.File.begin(), f.File.begin() + std::ptrdiff_t(f.Signature));
            b.resize(65536);
            for (std::size_t i = f.Signature; i < b.size(); ++i) b[i] = std::uint8_t(rng());
            const SizeAnswer a = Check(f, b);
            EXPECT_NE(a.Verdict, SizeVerdict::Exact) << "round " << round << " answered " << a.Size;
            rejected += a.Verdict == SizeVerdict::NotThisFormat;
        }
        if (f.HeaderDecides) {
            EXPECT_GT(rejected, 20);
        }
    }
}

TEST(SizeCheck, BitmapSizeFieldIsHeldAgainstThePixels) {
    struct Case {
        std::int32_t width, height;
        std::uint16_t bpp;
        std::int64_t statedDelta;  // the size field's error
        std::int64_t answerDelta;  // the answer's difference from the true size
    } cases[] = {
        {33, 17, 24, 0, 0},    {33, -17, 24, 0, 0},   // bottom-up and top-down
        {10, 10, 8, 0, 0},     {7, 3, 1, 0, 0},       // palettes, row padding
        {33, 17, 24, 2, 2},    // a writer's padding is part of the file
        {33, 17, 24, -500, 0}, // a size field too small for the pixels
        {33, 17, 24, 1 << 20, 0},
    };
    for (const auto& c : cases) {
        Bytes file = vmtest::MakeBmp(c.width, c.height, c.bpp);
        const std::uint32_t stated = std::uint32_t(std::int64_t(file.size()) + c.statedDelta);
        file = vmtest::MakeBmp(c.width, c.height, c.bpp, stated);
        const Bytes drive = Join(file, kFiller);
        CMemoryFindReader reader(drive);
        const SizeAnswer a = BmpSize(reader);
        EXPECT_EQ(a.Verdict, SizeVerdict::Exact) << c.width << "x" << c.height << " stated " << stated;
        EXPECT_EQ(std::int64_t(a.Size), std::int64_t(file.size()) + c.answerDelta) << c.width << "x" << c.height;
    }
    Bytes planes = vmtest::MakeBmp(33, 17, 24);
    planes[26] = 2;
    CMemoryFindReader reader(planes);
    EXPECT_EQ(BmpSize(reader).Verdict, SizeVerdict::NotThisFormat);
}

TEST(SizeCheck, TableIsSortedAndEveryRowFindable) {
    const auto table = SizeCheckTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (i) {
            EXPECT_LT(table[i - 1].TypeId, table[i].TypeId);
        }
        EXPECT_EQ(FindSizeCheck(table[i].TypeId), table[i].Check);
    }
    EXPECT_EQ(FindSizeCheck(332), nullptr);  // a type without a check (ACE)
}

// The reader over a drive: offsets from the find, bounded by the limit and by the drive's end,
// the same bytes whatever the read's alignment.
TEST(FindReader, ReadsTheDriveFromTheFindWithinItsBounds) {
    Bytes drive(600 * 512);
    for (std::size_t i = 0; i < drive.size(); ++i) drive[i] = std::uint8_t(i * 7 + i / 251);
    auto memory = std::make_shared<CMemoryReader>(drive);
    CVolume volume(VK_IMAGE);
    volume.DevicePath = "find.dsk";
    volume.SetDeviceOpener([memory](const std::string&, int*) { return memory; });
    volume.TotalSectors = drive.size() / 512;

    CFindReader reader(volume, 1024, 200000);
    EXPECT_EQ(reader.Limit(), 200000u);
    for (std::uint64_t at : {0ull, 1ull, 65535ull, 65530ull, 131071ull, 199990ull}) {
        std::uint8_t got[10];
        EXPECT_TRUE(reader.Read(at, got, sizeof got)) << at;
        EXPECT_EQ(0, std::memcmp(got, &drive[1024 + at], sizeof got)) << at;
    }
    Bytes big(150000);
    EXPECT_TRUE(reader.Read(3, big.data(), big.size()));
    EXPECT_EQ(0, std::memcmp(big.data(), &drive[1027], big.size()));
    std::uint8_t b[16];
    EXPECT_FALSE(reader.Read(199995, b, 16));  // past the limit
    EXPECT_EQ(reader.ReadSome(199995, b, 16), 5u);

    CFindReader nearEnd(volume, drive.size() - 1000, kSizeCheckLimit);
    EXPECT_EQ(nearEnd.Limit(), 1000u);
    EXPECT_EQ(nearEnd.ReadSome(990, b, 16), 10u);
    EXPECT_EQ(0, std::memcmp(b, &drive[drive.size() - 10], 10));
    CFindReader beyond(volume, drive.size() + 512, kSizeCheckLimit);
    EXPECT_FALSE(beyond.Read(0, b, 1));
}

TEST(FindReader, CheckFindSizeReadsTheDrive) {
    const Bytes jpeg = vmtest::MakeJpeg(5000);
    Bytes drive(256 * 512, 0x5A);
    std::memcpy(&drive[4096], jpeg.data(), jpeg.size());
    auto memory = std::make_shared<CMemoryReader>(drive);
    CVolume volume(VK_IMAGE);
    volume.DevicePath = "find.dsk";
    volume.SetDeviceOpener([memory](const std::string&, int*) { return memory; });
    volume.TotalSectors = drive.size() / 512;
    const SizeAnswer a = CheckFindSize(volume, 83, 4096);
    EXPECT_EQ(a.Verdict, SizeVerdict::Exact);
    EXPECT_EQ(a.Size, jpeg.size());
    EXPECT_EQ(CheckFindSize(volume, 83, 4096, 1000).Verdict, SizeVerdict::Unknown);  // the end lies past the limit
    EXPECT_EQ(CheckFindSize(volume, 332, 4096).Verdict, SizeVerdict::Unknown);       // no check for the type
}

// A PDF's end counts only where its cross-reference chain holds: "startxref" and the trailer's
// /Prev must point at cross-reference sections.
TEST(SizeCheck, PdfEndNeedsItsCrossReferenceChain) {
    auto spoil = [](Bytes pdf, const std::string& key) {
        std::string text(pdf.begin(), pdf.end());
        const std::size_t at = text.rfind(key) + key.size() + 1;  // the number after the key
        for (std::size_t i = at; std::isdigit(std::uint8_t(text[i])); ++i) text[i] = i == at ? '1' : ' ';
        return Bytes(text.begin(), text.end());
    };
    for (const Bytes& pdf : {spoil(vmtest::MakePdf(0), "startxref"), spoil(vmtest::MakePdf(1), "startxref"),
                             spoil(vmtest::MakePdf(1), "/Prev")}) {
        const Bytes drive = Join(pdf, kFiller);
        CMemoryFindReader reader(drive);
        EXPECT_EQ(PdfSize(reader).Verdict, SizeVerdict::Unknown);
    }
}
