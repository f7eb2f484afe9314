#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "app/Notify.h"
#include "app/RegistryStore.h"
#include "platform/MemoryReader.h"
#include "signatures/FileTypeCatalogue.h"
#include "signatures/Searcher.h"
#include "signatures/SignatureFile.h"
#include "signatures/SignatureWizard.h"
#include "support/TestSupport.h"
#include "volume/ProgressBlock.h"
#include "volume/Volume.h"

using namespace vm;

namespace {

// Keeps the message boxes shown.
class BoxSink final : public INotifySink {
public:
    BoxSink() { SetNotifier(this); }
    ~BoxSink() override { SetNotifier(nullptr); }
    void Post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    std::intptr_t Send(std::uint32_t code, std::uintptr_t w, std::intptr_t) override {
        if (code == msg::ShowMessageBox) Boxes.push_back(*reinterpret_cast<const MessageBoxText*>(w));
        return 1;
    }
    std::vector<MessageBoxText> Boxes;
};

std::size_t StoredTypeCount(CRegistryStore& store) {
    std::size_t n = 0;
    while (store.EnumValue(std::string(kProgramKey) + "\\File Types", std::uint32_t(n))) ++n;
    return n;
}

// Real PNG files of different sizes, made by zlib through Python.
std::vector<std::string> MakePngs(const vmtest::TempDir& dir) {
    const std::string script = std::string(VM_SOURCE_DIR) + "/tests/fixtures/make_pngs.py";
    if (vmtest::RunCommand("python3 '" + script + "' '" + dir.Path() + "'") != 0) return {};
    return {dir.File("sample0.png"), dir.File("sample1.png"), dir.File("sample2.png")};
}

// The sector search over bytes in memory: the type ids found at each offset.
std::multimap<std::uint64_t, int> Search(const FileTypeCatalogue& catalogue, const std::vector<std::uint8_t>& bytes) {
    CVolume volume(VK_IMAGE);
    volume.SectorsPerCluster = 8;
    volume.BytesPerCluster = 4096;
    volume.TotalSectors = bytes.size() / 512;
    volume.TotalClusters = bytes.size() / 4096;
    volume.DevicePath = "search.dsk";
    auto reader = std::make_shared<CMemoryReader>(bytes);
    volume.SetDeviceOpener([reader](const std::string&, int*) { return reader; });
    ProgressBlock progress;
    progress.Running = 1;
    std::mutex m;
    std::multimap<std::uint64_t, int> finds;
    CSearcher searcher(volume, progress, catalogue, [&](std::unique_ptr<FoundItem> item) {
        std::lock_guard<std::mutex> g(m);
        finds.emplace(item->DataOffset, item->FileType);
    });
    searcher.Run(SearchOptions{});
    return finds;
}

FileTypeDescriptor MaskedType(std::int32_t id, std::size_t variants) {
    FileTypeDescriptor t;
    t.TypeId = id;
    t.GroupId = -115;
    t.Description = "Test type";
    t.Extensions = "TST";
    for (std::size_t i = 0; i < variants; ++i) {
        std::vector<std::uint8_t> area(1024, 0xFF);
        std::memcpy(area.data(), "VMTESTSIG", 9);
        t.AddBytes(SC_MASKED, area, 0).Conditions.front().Length = 9;
    }
    return t;
}

}  // namespace

TEST(SignatureFile, ATypeMadeFromThreePngFilesIsFoundAfterImportIntoAFreshConfiguration) {
    vmtest::TempDir dir;
    const std::vector<std::string> pngs = MakePngs(dir);
    if (pngs.empty()) GTEST_SKIP() << "python3 is not available";
    std::vector<std::string> paths = pngs;
    paths.insert(paths.begin() + 1, dir.File("missing.png"));
    std::vector<std::string> unreadable;
    const std::vector<SampleFile> samples = ReadSamples(paths, unreadable);
    EXPECT_THAT(unreadable, testing::ElementsAre(dir.File("missing.png")));
    ASSERT_EQ(samples.size(), 3u);

    MaskedVariant variant;
    AnalyseSamples(samples, variant);
    // Signature, IHDR length and name, and the zero high bytes of the differing widths.
    EXPECT_GE(variant.CompareCount, 16u);
    EXPECT_EQ(std::memcmp(variant.Data.data(), "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16), 0);

    FileTypeCatalogue builtin;
    builtin.BuildDefaultGroups();
    builtin.BuildDefaultTypes();
    NewTypeDetails details = ProposeDetails(builtin, samples);
    EXPECT_EQ(details.TypeId, 1000);
    EXPECT_EQ(details.Extensions, "PNG");
    details.GroupId = -115;
    details.Description = "Sample pictures";
    FileTypeDescriptor type;
    ASSERT_EQ(BuildNewType(builtin, details, {variant}, type), "");
    const std::string sigPath = dir.File("pictures.filesig");
    ASSERT_EQ(WriteToFile(type, sigPath), 1);
    const std::vector<std::uint8_t> written = vmtest::ReadFile(sigPath);
    EXPECT_EQ(written.size(), 3032u);  // fixed block, one variant, one condition, pattern and mask

    CRegistryStore store(dir.File("registry.db"));
    {
        BoxSink boxes;
        FileTypeCatalogue atStart;  // "/addsig" runs before the catalogue is loaded
        ASSERT_NE(ImportSignatureFile(atStart, store, "\"" + sigPath + "\""), nullptr);
        ASSERT_EQ(boxes.Boxes.size(), 1u);
        EXPECT_EQ(boxes.Boxes[0].Text, "Signature file '" + sigPath + "' added!");
        EXPECT_EQ(boxes.Boxes[0].Caption, "ok");
    }
    FileTypeCatalogue next;  // the next start
    next.Load(store);
    ASSERT_NE(next.FindDescriptor(1000), nullptr);
    EXPECT_NE(next.FindDescriptor(88), nullptr);  // the built-in types are still there
    EXPECT_FALSE(next.Groups().empty());

    std::vector<std::uint8_t> drive(64 * 4096, 0x5A);
    const std::uint64_t offsets[] = {4096, 20 * 4096, 41 * 4096};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::vector<std::uint8_t> png = vmtest::ReadFile(pngs[i]);
        ASSERT_LT(png.size(), 19u * 4096);
        std::copy(png.begin(), png.end(), drive.begin() + std::ptrdiff_t(offsets[i]));
    }
    const auto finds = Search(next, drive);
    std::vector<std::uint64_t> ours;
    for (auto& [offset, id] : finds)
        if (id == 1000) ours.push_back(offset);
    EXPECT_THAT(ours, testing::ElementsAreArray(offsets));

    // Exported again from the stored catalogue, the file is the same byte for byte.
    ASSERT_EQ(WriteToFile(*next.FindDescriptor(1000), dir.File("again.filesig")), 1);
    EXPECT_EQ(vmtest::ReadFile(dir.File("again.filesig")), written);
}

TEST(SignatureFile, ImportingTheSameTypeAgainUpdatesItWhereItIs) {
    vmtest::TempDir dir;
    CRegistryStore store(dir.File("registry.db"));
    FileTypeCatalogue catalogue;
    catalogue.Load(store);
    FileTypeDescriptor type = MaskedType(1200, 1);
    type.Title = "First";
    ASSERT_EQ(WriteToFile(type, dir.File("a.filesig")), 1);
    BoxSink boxes;
    ASSERT_NE(ImportSignatureFile(catalogue, store, dir.File("a.filesig")), nullptr);
    const std::size_t position = catalogue.Types().size() - 1;
    const std::size_t stored = StoredTypeCount(store);
    type.Title = "Second";
    type.Signatures.push_back(type.Signatures.front());
    ASSERT_EQ(WriteToFile(type, dir.File("a.filesig")), 1);
    ASSERT_NE(ImportSignatureFile(catalogue, store, dir.File("a.filesig")), nullptr);
    EXPECT_EQ(boxes.Boxes.back().Text, "Signature file '" + dir.File("a.filesig") + "' updated!");
    EXPECT_EQ(catalogue.Types()[position]->Title, "Second");
    EXPECT_EQ(StoredTypeCount(store), stored);  // the value under the old title is gone

    FileTypeCatalogue next;
    next.Load(store);
    EXPECT_EQ(next.FindDescriptor(1200)->SignatureCount(), 2);
}

TEST(SignatureFile, DamagedOrForbiddenFilesAreRefusedAndNothingIsStored) {
    vmtest::TempDir dir;
    const std::vector<std::uint8_t> good = MaskedType(1300, 1).Record();
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;  // empty with `create` false: no file at all
        bool create;
        const char* message;
    };
    std::vector<std::uint8_t> longer = good, shorter(good.begin(), good.end() - 1), lying = good;
    longer.push_back(0);
    lying[kFixedBlockSize + 4] ^= 0x10;  // the variant's record length
    std::vector<std::uint8_t> reserved5 = MaskedType(5, 1).Record(), reserved510 = MaskedType(510, 1).Record();
    FileTypeDescriptor group = MaskedType(1301, 1);
    group.IsGroup = 1;
    const Case cases[] = {
        {"missing file", {}, false, "' can't open!"},
        {"0 bytes", {}, true, "' is empty!"},
        {"one byte too many", longer, true, "' is damaged"},
        {"one byte short", shorter, true, "' is damaged"},
        {"a record length that lies", lying, true, "' is damaged"},
        {"more than 16,383 bytes", std::vector<std::uint8_t>(16384, 0), true, "' is too large"},
        {"a drive record's identifier", reserved5, true, "identifier 5, which is reserved"},
        {"a compound document's identifier", reserved510, true, "identifier 510, which is reserved"},
        {"the built-in JPEG type's identifier", MaskedType(83, 1).Record(), true, "identifier 83, which is reserved"},
        {"an identifier below the user ones", MaskedType(999, 1).Record(), true, "identifier 999, which is reserved"},
        {"a group", group.Record(), true, "describes a group"},
    };
    CRegistryStore store(dir.File("registry.db"));
    FileTypeCatalogue catalogue;
    catalogue.Load(store);
    const std::size_t types = catalogue.Types().size(), stored = StoredTypeCount(store);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.File("bad.filesig");
        std::filesystem::remove(path);
        if (c.create) vmtest::WriteFile(path, c.bytes);
        BoxSink boxes;
        EXPECT_EQ(ImportSignatureFile(catalogue, store, path), nullptr);
        ASSERT_EQ(boxes.Boxes.size(), 1u);
        EXPECT_THAT(boxes.Boxes[0].Text, testing::HasSubstr(c.message));
        EXPECT_EQ(boxes.Boxes[0].Caption, "Error!");
        EXPECT_EQ(catalogue.Types().size(), types);
        EXPECT_EQ(StoredTypeCount(store), stored);
    }
}

TEST(SignatureFile, Base64AndTheMailUrl) {
    const auto b64 = [](std::string s) {
        return Base64Lines(std::vector<std::uint8_t>(s.begin(), s.end()));
    };
    EXPECT_EQ(b64("abc"), "YWJj");
    EXPECT_EQ(b64("ab"), "YWI=");
    EXPECT_EQ(b64("a"), "YQ==");
    EXPECT_EQ(b64(""), "");
    std::string plusses;
    for (int i = 0; i < 19; ++i) plusses += "\xFB\xEF\xBE";
    EXPECT_EQ(b64(plusses), std::string(76, '+'));  // exactly one full line, no break after it
    EXPECT_EQ(b64(plusses + "\xFB"), std::string(76, '+') + "\r\n+w==");
    const FileTypeDescriptor type = MaskedType(1000, 1);
    const std::string text = Base64Lines(type.Record());
    EXPECT_EQ(text.size(), 4044u + 53 * 2);
    EXPECT_EQ(text.substr(76, 2), "\r\n");
    EXPECT_NE(text.substr(text.size() - 2), "\r\n");

    std::string opened;
    ASSERT_EQ(SendSignature(type, [&](const std::string& url) { opened = url; return true; }), 1);
    const std::string prefix = std::string("mailto:") + SignatureMailbox() + "?subject=newsign&body=";
    ASSERT_EQ(opened.substr(0, prefix.size()), prefix);
    std::string body;
    for (std::size_t i = prefix.size(); i < opened.size(); ++i) {
        ASSERT_EQ(opened.find_first_of("\r\n+= ", i), std::string::npos);
        if (opened[i] == '%') {
            body += char(std::stoi(opened.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            body += opened[i];
        }
    }
    EXPECT_EQ(body, text);

    // 13 variants fit a stored value but not a mail: nothing is opened.
    bool called = false;
    EXPECT_EQ(SendSignature(MaskedType(1000, 13), [&](const std::string&) { return called = true; }), 0);
    EXPECT_FALSE(called);
}

TEST(SignatureWizard, TheMaskKeepsOnlyWholeBytesThatEverySampleShares) {
    const auto sample = [](std::string name, std::vector<std::uint8_t> head) { return SampleFile{name, head}; };
    std::vector<std::uint8_t> a(512, 0x0F), b(512, 0x0F), c(512, 0x0F);
    std::memcpy(a.data(), "ABCD", 4);
    std::memcpy(b.data(), "ABCD", 4);
    std::memcpy(c.data(), "ABCE", 4);  // 'D' and 'E' share most bits
    a[4] = 0x30, b[4] = 0x31, c[4] = 0x30;
    MaskedVariant two;
    AnalyseSamples({sample("a.dat", a), sample("b.dat", b)}, two);
    EXPECT_EQ(two.CompareCount, 4u);
    EXPECT_EQ(std::memcmp(two.Data.data(), "ABCD", 4), 0);
    EXPECT_EQ(two.Mask[3], 0xFF);
    EXPECT_EQ(two.Mask[4], 0);  // 0x30 and 0x31 share seven bits: not a whole byte
    EXPECT_EQ(two.Data[4], 0);
    EXPECT_EQ(two.Mask[5], 0xFF);
    MaskedVariant three;
    AnalyseSamples({sample("a.dat", a), sample("b.dat", b), sample("c.dat", c)}, three);
    EXPECT_EQ(three.CompareCount, 3u);
    EXPECT_EQ(three.Mask[3], 0);
    // A short sample: nothing past its end is part of the signature.
    MaskedVariant shortOne;
    AnalyseSamples({sample("a.dat", a), sample("s.dat", std::vector<std::uint8_t>(a.begin(), a.begin() + 100))},
                   shortOne);
    EXPECT_EQ(shortOne.Mask[99], 0xFF);
    EXPECT_EQ(shortOne.Mask[100], 0);
    EXPECT_EQ(shortOne.Mask[511], 0);
}

TEST(SignatureWizard, TheTypeIsProposedAndRefusedWhereItCannotWork) {
    FileTypeCatalogue catalogue;
    catalogue.BuildDefaultGroups();
    catalogue.BuildDefaultTypes();
    EXPECT_EQ(ProposeDetails(catalogue, {SampleFile{"/x/scan.tif", {}}}).Extensions, "TIF");
    EXPECT_EQ(ProposeDetails(catalogue, {SampleFile{"/x.d/README", {}}}).Extensions, "new");
    catalogue.Register(std::make_unique<FileTypeDescriptor>(MaskedType(1000, 1)));
    NewTypeDetails details = ProposeDetails(catalogue, {});
    EXPECT_EQ(details.TypeId, 1001);
    EXPECT_EQ(details.GroupId, catalogue.Groups().front()->GroupId);

    MaskedVariant v;
    v.CompareCount = 4;
    struct Case {
        const char* what;
        std::int32_t id;
        std::size_t compare;
        std::size_t variants;
        const char* refusal;
    };
    const Case cases[] = {
        {"fine", 1001, 4, 13, ""},
        {"an identifier below 1000", 999, 4, 1, "must lie between 1000"},
        {"an identifier in use", 1000, 4, 1, "already used"},
        {"nothing compared", 1001, 0, 1, "must compare from 1 to 512"},
        {"more than the pattern", 1001, 513, 1, "must compare from 1 to 512"},
        {"more variants than a stored value holds", 1001, 4, 14, "more than the 16383"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NewTypeDetails d = details;
        d.TypeId = c.id;
        v.CompareCount = c.compare;
        FileTypeDescriptor type;
        const std::string refusal = BuildNewType(catalogue, d, std::vector<MaskedVariant>(c.variants, v), type);
        if (*c.refusal == 0) {
            EXPECT_EQ(refusal, "");
            EXPECT_EQ(type.SignatureCount(), int(c.variants));
            EXPECT_EQ(type.Signatures[0].Conditions[0].Length, c.compare);
        } else {
            EXPECT_THAT(refusal, testing::HasSubstr(c.refusal));
            EXPECT_EQ(type.TypeId, 0);
        }
    }
}

TEST(SignatureFile, OpeningASignatureFileStartsTheImportThroughTheDesktop) {
    vmtest::TempDir dir;
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);
    const bool registered = RegisterFileClass("/opt/Vell $umark/100%/vellumark");
    if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1); else unsetenv("XDG_DATA_HOME");
    ASSERT_TRUE(registered);
    const auto text = [&](const std::string& rel) {
        const std::vector<std::uint8_t> b = vmtest::ReadFile(dir.File(rel));
        return std::string(b.begin(), b.end());
    };
    const std::string entry = text("applications/vellumark-filesig.desktop");
    EXPECT_THAT(entry, testing::HasSubstr("\nExec=\"/opt/Vell \\\\$umark/100%%/vellumark\" /addsig %f\n"));
    EXPECT_THAT(entry, testing::HasSubstr(std::string("\nMimeType=") + kSignatureFileMimeType + ";\n"));
    const std::string mime = text("mime/packages/vellumark-filesig.xml");
    EXPECT_THAT(mime, testing::HasSubstr("<glob pattern=\"*.filesig\"/>"));
    EXPECT_THAT(mime, testing::HasSubstr(std::string("type=\"") + kSignatureFileMimeType + "\""));
    if (vmtest::RunCommand("command -v update-mime-database >/dev/null") == 0) {
        EXPECT_TRUE(std::filesystem::exists(dir.File("mime/globs2")));
    }
}
