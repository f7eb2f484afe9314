#include <gtest/gtest.h>

#include <cstring>
#include <atomic>
#include <functional>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "app/Log.h"
#include "app/RegistryStore.h"
#include "signatures/BuiltinTypes.h"
#include "signatures/FileTypeCatalogue.h"
#include "support/TestSupport.h"

using namespace vm;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }

const std::string kGroupsKey = std::string(kProgramKey) + "\\Groups";
const std::string kTypesKey = std::string(kProgramKey) + "\\File Types";

FileTypeCatalogue& Builtins() {
    static FileTypeCatalogue* catalogue = [] {
        auto* c = new FileTypeCatalogue;
        c->BuildDefaultGroups();
        c->BuildDefaultTypes();
        c->BuildExtensionMap();
        return c;
    }();
    return *catalogue;
}

std::uint32_t U32At(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

std::vector<std::string> ValueNames(const CRegistryStore& s, const std::string& key) {
    std::vector<std::string> names;
    for (std::uint32_t i = 0; auto n = s.EnumValue(key, i); ++i) names.push_back(*n);
    return names;
}

}  // namespace

// One unit (bytes planted into zeros, of `size` bytes up to the block's end) against one
// type: a built-in row by id, or a descriptor built by the case.
TEST(Matching, EdgeCases) {
    struct Plant {
        std::size_t at;
        Bytes bytes;
    };
    struct Case {
        const char* what;
        std::int32_t typeId;  // 0: the case builds its own type
        std::function<void(FileTypeDescriptor&)> build;
        std::vector<Plant> plants;
        bool matches;
        std::size_t size = 512;
    };
    const auto byteRepeat = [](FileTypeDescriptor& t) { t.AddValue(1, 7, 10, 3); };
    // Pattern byte 5 is 'A', with that mask byte.
    const auto masked = [](std::uint16_t length, std::uint8_t mask) {
        return [=](FileTypeDescriptor& t) {
            Bytes area(1024, 0);
            area[5] = 'A';
            area[512 + 5] = mask;
            t.AddBytes(SC_MASKED, area, 0).Conditions.back().Length = length;  // as a stored record may say
        };
    };
    const Case cases[] = {
        {"PDF 1.4", 47, {}, {{0, Text("%PDF-1.4")}}, true},
        {"PDF 2 is not 1.x", 47, {}, {{0, Text("%PDF-2")}}, false},
        {"WAV", 200, {}, {{0, Text("RIFF")}, {8, Text("WAVEfmt")}}, true},
        {"AVI is AVI", 524, {}, {{0, Text("RIFF")}, {8, Text("AVI LIST")}}, true},
        {"AVI is not WAV", 200, {}, {{0, Text("RIFF")}, {8, Text("AVI LIST")}}, false},
        {"RIFF alone is not WAV", 200, {}, {{0, Text("RIFF")}}, false},
        {"RIFF alone is not AVI", 524, {}, {{0, Text("RIFF")}}, false},
        {"html in lower case at 100", 52, {}, {{100, Text("<html")}}, true},
        {"html at the last start 506", 52, {}, {{506, Text("<html")}}, true},
        {"html at 508 is past the last start", 52, {}, {{508, Text("<html")}}, false},
        {"second variant of html", 52, {}, {{3, Text("<!doctype HTML>")}}, true},
        {"MP4 of brand isom (ffmpeg)", 141, {}, {{4, Text("ftypisom")}, {16, Text("isomiso2avc1mp41")}}, true},
        {"MP4 of brand mp42", 141, {}, {{4, Text("ftypmp42")}, {16, Text("isom")}}, true},
        {"QuickTime of brand qt", 170, {}, {{4, Text("ftypqt  ")}}, true},
        {"HEIC is no MP4", 141, {}, {{4, Text("ftypheic")}, {16, Text("mif1heic")}}, false},
        {"JPEG Exif", 83, {}, {{0, {0xFF, 0xD8, 0xFF, 0xE1}}}, true},
        {"JPEG FF DB", 83, {}, {{0, {0xFF, 0xD8, 0xFF, 0xDB}}}, false},
        {"TAR at 257", 330, {}, {{257, Text("ustar")}}, true},
        {"TAR cut by the block end", 330, {}, {{257, Text("ustar")}}, false, 261},
        {"ICO with one image", 90, {}, {{0, {0, 0, 1, 0, 1, 0, 16, 16}}}, true},
        {"ICO without images", 90, {}, {{0, {0, 0, 1, 0, 0, 0, 16, 16}}}, false},
        {"Symbian installer UIDs", 265, {}, {{4, {0x6D, 0, 0, 0x10, 0x19, 0x04, 0, 0x10}}}, true},
        {"FAT16 boot sector", 4, {}, {{0, {0xEB, 0x3C, 0x90}}, {54, Text("FAT16")}, {510, {0x55, 0xAA}}}, true},
        {"FAT16 text without boot jump", 4, {}, {{54, Text("FAT16")}, {510, {0x55, 0xAA}}}, false},
        {"byte repeated 3 times more", 0, byteRepeat, {{10, {7, 7, 7, 7}}}, true},
        {"repeat broken at 13", 0, byteRepeat, {{10, {7, 7, 7, 8}}}, false},
        {"repeat reaching past the block", 0, byteRepeat, {{10, {7, 7, 7}}}, false, 13},
        {"masked, length 0", 0, masked(0, 0xFF), {}, true},
        {"masked, mask all zero", 0, masked(512, 0), {}, true},
        {"masked byte differs", 0, masked(512, 0xFF), {}, false},
        {"masked byte equal", 0, masked(512, 0xFF), {{5, {0x41}}}, true},
        {"masked byte past the block", 0, masked(512, 0xFF), {}, false, 5},
        {"variant without conditions", 0, [](FileTypeDescriptor& t) { t.Signatures.emplace_back(); }, {}, true},
        {"no variant at all", 0, [](FileTypeDescriptor&) {}, {}, false},
        {"unknown kind holds", 0, [](FileTypeDescriptor& t) { t.AddBytes(0x40, {}, 4); }, {}, true},
        {"word range low end", 0, [](FileTypeDescriptor& t) { t.AddBytes(SC_WORD_RANGE, Bytes{0x00, 0x01, 0x10, 0x01}, 2); }, {{2, {0x00, 0x01}}}, true},
        {"word range below", 0, [](FileTypeDescriptor& t) { t.AddBytes(SC_WORD_RANGE, Bytes{0x00, 0x01, 0x10, 0x01}, 2); }, {{2, {0xFF, 0x00}}}, false},
        {"byte range above", 0, [](FileTypeDescriptor& t) { t.AddBytes(SC_BYTE_RANGE, Bytes{'0', '9'}, 0, 0, 1); }, {{0, Text("5:")}}, false},
        {"search keeps case", 0, [](FileTypeDescriptor& t) { t.AddBytes(SC_SEARCH, Text("Key"), 16, 3); }, {{300, Text("key")}}, false},
        {"search from its offset", 0, [](FileTypeDescriptor& t) { t.AddBytes(SC_SEARCH, Text("Key"), 16, 3); }, {{300, Text("Key")}}, true},
    };
    for (const Case& c : cases) {
        Bytes unit(c.size, 0);
        for (const Plant& p : c.plants)
            for (std::size_t i = 0; i < p.bytes.size() && p.at + i < unit.size(); ++i) unit[p.at + i] = p.bytes[i];
        FileTypeDescriptor own;
        const FileTypeDescriptor* type = &own;
        if (c.typeId != 0)
            type = Builtins().FindDescriptor(c.typeId);
        else
            c.build(own);
        ASSERT_NE(type, nullptr) << c.what;
        EXPECT_EQ(type->Matches(unit), c.matches) << c.what;
    }
}

// The first row that matches names a find: a TIFF is a TIFF, in either byte order, unless it
// carries the Xerox marker.
TEST(Matching, TiffHeaderMatchesEveryTiffBasedRowTiffFirst) {
    struct Case {
        const char* header;
        const char* text;  // planted at byte 200
        std::vector<std::int32_t> rows;
    } cases[] = {
        {"II*", "", {87, 114, 116, 118}},
        {"MM\0*", "", {87, 114, 116, 118}},
        {"II*", "eXtended", {95, 87, 114, 116, 118}},
        {"II*", "EXTENDED", {87, 114, 116, 118}},
        {"MM\0*", "eXtended", {87, 114, 116, 118}},
    };
    for (const auto& c : cases) {
        Bytes unit(512, 0);
        std::memcpy(unit.data(), c.header, 4);
        std::memcpy(unit.data() + 200, c.text, std::strlen(c.text));
        std::vector<std::int32_t> matched;
        for (const auto& type : Builtins().Types())
            if (type->Matches(unit)) matched.push_back(type->TypeId);
        EXPECT_EQ(matched, c.rows) << c.header << " " << c.text;
    }
    EXPECT_EQ(Builtins().FindDescriptor(87)->GetFirstExtension(), "TIFF");
}

TEST(Catalogue, BuiltinTableIsComplete) {
    const FileTypeCatalogue& c = Builtins();
    ASSERT_EQ(c.Types().size(), BuiltinTypes().size());
    ASSERT_EQ(c.Groups().size(), 11u);
    EXPECT_EQ(c.Groups().front()->Title, "Documents");
    EXPECT_EQ(c.Groups().back()->Title, "E-mail");
    std::vector<std::int32_t> ids;
    for (std::size_t i = 0; i < c.Types().size(); ++i) {
        const FileTypeDescriptor& t = *c.Types()[i];
        const BuiltinType& row = BuiltinTypes()[i];
        EXPECT_EQ(t.TypeId, row.TypeId);
        EXPECT_EQ(t.Signatures.empty(), *row.Signatures == '\0') << "every written signature parses: " << row.TypeId;
        EXPECT_EQ(c.FindDescriptor(t.TypeId), &t) << "identifiers are unique: " << t.TypeId;
    }
    EXPECT_EQ(c.FindDescriptor(400)->Title, "EXE-DOS");
    EXPECT_EQ(c.FindDescriptor(170)->Signatures.size(), 11u);
}

TEST(Descriptor, RecordLayoutOfThePdfRow) {
    const Bytes rec = Builtins().FindDescriptor(47)->Record();
    ASSERT_EQ(rec.size(), 1956u + 20 + 32 + 7);
    EXPECT_EQ(U32At(rec, 0), 47u);
    EXPECT_EQ(std::int32_t(U32At(rec, 4)), -144);
    EXPECT_EQ(U32At(rec, 8), 1u);      // checked
    EXPECT_EQ(U32At(rec, 16), 1u);     // visible
    EXPECT_EQ(U32At(rec, 36), 1024u);  // default size
    EXPECT_EQ(U32At(rec, 40), 100u);
    EXPECT_EQ(U32At(rec, 44), 50u);
    EXPECT_EQ(U32At(rec, 48), 50u);
    EXPECT_EQ(Bytes(rec.begin() + 352, rec.begin() + 358), (Bytes{'P', 0, 'o', 0, 'r', 0}));
    EXPECT_EQ(Bytes(rec.begin() + 872, rec.begin() + 880), (Bytes{'P', 0, 'D', 0, 'F', 0, 0, 0}));
    EXPECT_EQ(Bytes(rec.begin() + 1072, rec.begin() + 1082), (Bytes{'a', 0, 'd', 0, 'o', 0, 'b', 0, 'e', 0}));
    EXPECT_EQ(U32At(rec, 1952), 1u);
    EXPECT_EQ(U32At(rec, 1956 + 4), 20u + 32 + 7);
    EXPECT_EQ(U32At(rec, 1956 + 16), 1u);
    const std::size_t c = 1956 + 20;
    EXPECT_EQ(U32At(rec, c), 256u);
    EXPECT_EQ(U32At(rec, c + 4), 32u + 7);
    EXPECT_EQ(U32At(rec, c + 8), 0u);
    EXPECT_EQ(rec[c + 14], 7);
    EXPECT_EQ(std::string(rec.begin() + c + 32, rec.end()), "%PDF-1.");
}

TEST(Descriptor, EveryBuiltinRecordRoundTripsByteForByte) {
    std::vector<const FileTypeDescriptor*> all;
    for (const auto& g : Builtins().Groups()) all.push_back(g.get());
    for (const auto& t : Builtins().Types()) all.push_back(t.get());
    for (const FileTypeDescriptor* d : all) {
        const Bytes rec = d->Record();
        EXPECT_EQ(d->Serialize({}), rec.size());
        Bytes small(rec.size() - 1);
        EXPECT_EQ(d->Serialize(small), 0u) << "a short buffer gets nothing";
        FileTypeDescriptor back;
        ASSERT_TRUE(back.Deserialize(rec)) << d->TypeId;
        EXPECT_EQ(back.Record(), rec) << d->TypeId;
        EXPECT_EQ(back.Description, d->Description);
        EXPECT_EQ(back.Signatures.size(), d->Signatures.size());
    }
}

TEST(Descriptor, TextsKeepNonAsciiAndAreCutToTheirField) {
    FileTypeDescriptor d;
    d.Description = "Caf\xC3\xA9 \xF0\x9F\x93\x84";  // é and a character outside the BMP
    d.NamePrefix = std::string(40, 'x');
    d.Title = std::string(98, 'a') + "\xF0\x9F\x93\x84";  // the pair would not leave room for NUL
    FileTypeDescriptor back;
    ASSERT_TRUE(back.Deserialize(d.Record()));
    EXPECT_EQ(back.Description, d.Description);
    EXPECT_EQ(back.NamePrefix, std::string(29, 'x'));
    EXPECT_EQ(back.Title, std::string(98, 'a'));
}

TEST(Descriptor, LyingRecordsAreRefused) {
    const Bytes good = Builtins().FindDescriptor(200)->Record();  // one variant of two conditions
    const std::size_t v = 1956, c1 = v + 20, c2 = c1 + 32 + 4;
    const auto put = [](Bytes& b, std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(value >> (8 * i));
    };
    struct Case {
        const char* what;
        std::function<void(Bytes&)> spoil;
    } cases[] = {
        {"cut inside the fixed block", [](Bytes& b) { b.resize(1000); }},
        {"cut inside a condition", [](Bytes& b) { b.pop_back(); }},
        {"a byte left over", [](Bytes& b) { b.push_back(0); }},
        {"more variants than bytes", [&](Bytes& b) { put(b, 1952, 2); }},
        {"a huge variant count", [&](Bytes& b) { put(b, 1952, 0x7FFFFFFF); }},
        {"variant longer than the record", [&](Bytes& b) { put(b, v + 4, 4000); }},
        {"variant shorter than its conditions", [&](Bytes& b) { put(b, v + 4, 20 + 36); }},
        {"variant length below its header", [&](Bytes& b) { put(b, v + 4, 8); }},
        {"more conditions than the variant holds", [&](Bytes& b) { put(b, v + 16, 3); }},
        {"a huge condition count", [&](Bytes& b) { put(b, v + 16, 0xFFFFFFFF); }},
        {"condition length below its header", [&](Bytes& b) { put(b, c1 + 4, 31); }},
        {"condition longer than its variant", [&](Bytes& b) { put(b, c2 + 4, 32 + 200); }},
        {"more data bytes used than stored", [&](Bytes& b) { b[c2 + 14] = 8; }},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        c.spoil(bad);
        FileTypeDescriptor d;
        d.Description = "untouched";
        EXPECT_FALSE(d.Deserialize(bad)) << c.what;
        EXPECT_EQ(d.Description, "untouched") << c.what;
        EXPECT_TRUE(d.Signatures.empty()) << c.what;
    }
    FileTypeDescriptor d;
    EXPECT_TRUE(d.Deserialize(good));
}

// Spoiled records of every built-in type: whatever is accepted was read within the record and
// gives back a record of the same length (texts and data areas keep their places).
TEST(Descriptor, SpoiledRecordsNeverReadPastTheirBytes) {
    std::mt19937 rng(2024);
    std::size_t accepted = 0, refused = 0;
    for (const auto& type : Builtins().Types()) {
        const Bytes good = type->Record();
        for (int round = 0; round < 40; ++round) {
            Bytes bad = good;
            const int flips = 1 + int(rng() % 4);
            for (int i = 0; i < flips; ++i) {
                // Mostly the variant and condition headers, where the lengths and counts are.
                const std::size_t at = (rng() % 3 && bad.size() > 1956) ? 1952 + rng() % (bad.size() - 1952) : rng() % bad.size();
                bad[at] = std::uint8_t(rng());
            }
            if (rng() % 5 == 0) bad.resize(rng() % (bad.size() + 64));
            FileTypeDescriptor d;
            if (d.Deserialize(bad)) {
                ++accepted;
                EXPECT_EQ(d.Record().size(), bad.size());
                d.Matches(good);  // evaluating whatever was accepted stays inside the unit
            } else {
                ++refused;
            }
        }
    }
    EXPECT_GT(accepted, 0u);
    EXPECT_GT(refused, 0u);
}

TEST(Descriptor, FirstExtensionAndValueName) {
    const std::pair<const char*, const char*> cases[] = {
        {"JPG,JPEG,JPE,JFIF,JFI", "JPG"}, {"DJVU;DJV", "DJVU"}, {";ABC", ";ABC"}, {"PDF", "PDF"}, {"", ""},
    };
    for (const auto& [list, first] : cases) {
        FileTypeDescriptor d;
        d.Extensions = list;
        EXPECT_EQ(d.GetFirstExtension(), first) << list;
    }
    EXPECT_EQ(Builtins().FindDescriptor(47)->RegistryValueName(), "-144.47..PDF");
    EXPECT_EQ(Builtins().Groups().front()->RegistryValueName(), "-144.0.Documents.");
}

TEST(Catalogue, TypeOfItemByTypeAndByExtension) {
    const FileTypeCatalogue& c = Builtins();
    struct Case {
        const char* name;
        std::int16_t fileType;
        std::int16_t answer;    // 0: none
        std::int16_t fileTypeAfter;
    } cases[] = {
        {"report.Doc", 0, 500, 500},      // the first row that lists DOC owns it
        {"REPORT.DOC", 0, 500, 500},
        {"old.lib", 0, 411, 411},
        {"backup.tar.gz", 0, 344, 344},
        {"photo.jpeg", 0, 83, 83},
        {"index.htm", 0, 52, 52},
        {"readme", 0, 0, 0},
        {"trailing.", 0, 0, 0},
        {"x.unknown", 0, 0, 0},
        {"picture.doc", 87, 87, 87},      // a known FileType wins over the name
        {"guide.pdf", 999, 47, 47},       // an unknown FileType falls back to the name
        {nullptr, 0, 0, 0},
    };
    for (const Case& k : cases) {
        FoundItem item;
        item.Name = k.name;
        item.FileType = k.fileType;
        const TypeInfo* info = c.TypeOfItem(item);
        const char* what = k.name ? k.name : "(no name)";
        if (k.answer == 0) {
            EXPECT_EQ(info, nullptr) << what;
        } else {
            ASSERT_NE(info, nullptr) << what;
            EXPECT_EQ(info->TypeId, k.answer) << what;
        }
        EXPECT_EQ(item.FileType, k.fileTypeAfter) << what;
    }
    const TypeInfo* jpeg = c.FindType(83);
    ASSERT_NE(jpeg, nullptr);
    EXPECT_EQ(jpeg->NamePrefix, "image");
    EXPECT_EQ(jpeg->FirstExtension, "JPG");
    EXPECT_EQ(jpeg->GroupId, -115);
    EXPECT_STREQ(c.GroupTitle(-115), "Images");
    EXPECT_EQ(c.GroupTitle(-16), nullptr) << "the System rows have no group";
}

TEST(Catalogue, TypeBeyondSixteenBitsIsNotFoundUnderACutIdentifier) {
    FileTypeCatalogue c;
    c.AddType(-144, 70000 - 65536, nullptr, "small", "s", "SML");  // 4464
    c.AddType(-144, 70000, nullptr, "big", "b", "BIG;SML2");
    c.BuildExtensionMap();
    FoundItem item;
    item.Name = "a.big";
    EXPECT_EQ(c.TypeOfItem(item), nullptr);
    EXPECT_EQ(item.FileType, 0) << "nothing written that would name type 4464";
    EXPECT_EQ(c.FindType(4464)->NamePrefix, "s");
    EXPECT_EQ(c.DescriptorOfExtension("big")->TypeId, 70000);
}

TEST(Catalogue, PublishedLookupsFollowEditsAndStayValid) {
    FileTypeCatalogue c;
    c.BuildDefaultGroups();
    c.BuildDefaultTypes();
    c.BuildExtensionMap();
    const TypeInfo* before = c.FindType(47);
    ASSERT_NE(before, nullptr);
    c.FindDescriptor(47)->Checked = 0;
    c.FindDescriptor(47)->NamePrefix = "pdf";
    EXPECT_TRUE(c.FindType(47)->Checked) << "unpublished edits are not seen";
    c.PublishLookups();
    EXPECT_FALSE(c.FindType(47)->Checked);
    EXPECT_EQ(c.FindType(47)->NamePrefix, "pdf");
    EXPECT_EQ(before->NamePrefix, "adobe") << "a reader's earlier answer is left intact";
}

TEST(Catalogue, LookupsFromOtherThreadsWhileTheWindowThreadPublishes) {
    FileTypeCatalogue c;
    c.BuildDefaultGroups();
    c.BuildDefaultTypes();
    c.BuildExtensionMap();
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    const auto reader = [&] {
        while (!stop) {
            FoundItem item;
            item.Name = "scan.TIF";
            const TypeInfo* info = c.TypeOfItem(item);
            const char* title = c.GroupTitle(-115);
            if (!info || info->TypeId != 87 || info->FirstExtension != "TIFF" || !title || std::string(title) != "Images")
                ++wrong;
        }
    };
    std::thread a(reader), b(reader);
    for (int i = 0; i < 300; ++i) {
        c.FindDescriptor(87)->Checked = i % 2;
        c.FindDescriptor(87)->NamePrefix = "image" + std::to_string(i);
        c.PublishLookups();
    }
    stop = true;
    a.join();
    b.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(c.FindType(87)->NamePrefix, "image299");
}

TEST(CatalogueStore, FirstRunStoresTheBuiltinsAndReloadGivesTheSame) {
    vmtest::TempDir dir;
    CRegistryStore store(dir.File("registry.db"));
    ASSERT_TRUE(store.IsOpen());
    FileTypeCatalogue first;
    EXPECT_EQ(first.Load(store), 1);

    const std::vector<std::string> groups = ValueNames(store, kGroupsKey);
    const std::vector<std::string> types = ValueNames(store, kTypesKey);
    ASSERT_EQ(groups.size(), 11u);
    EXPECT_EQ(groups.front(), "-144.0.Documents.");
    ASSERT_EQ(types.size(), BuiltinTypes().size());
    for (std::size_t i = 0; i < types.size(); ++i) {
        EXPECT_EQ(types[i], first.Types()[i]->RegistryValueName());
        EXPECT_EQ(store.GetValue(kTypesKey, types[i])->Data, first.Types()[i]->Record());
    }

    first.FindDescriptor(83)->Checked = 0;
    first.Save(store);
    FileTypeCatalogue again;
    EXPECT_EQ(again.Load(store), 1);
    ASSERT_EQ(again.Types().size(), first.Types().size());
    ASSERT_EQ(again.Groups().size(), first.Groups().size());
    for (std::size_t i = 0; i < first.Types().size(); ++i)
        EXPECT_EQ(again.Types()[i]->Record(), first.Types()[i]->Record()) << first.Types()[i]->TypeId;
    for (std::size_t i = 0; i < first.Groups().size(); ++i)
        EXPECT_EQ(again.Groups()[i]->Record(), first.Groups()[i]->Record());
    EXPECT_FALSE(again.FindType(83)->Checked);
    EXPECT_EQ(again.ExtensionMap().at("LIB")->TypeId, 411);
    EXPECT_EQ(ValueNames(store, kTypesKey).size(), types.size()) << "reload stores nothing new";
}

TEST(CatalogueStore, DamagedValuesAreSkippedAndLaterValuesTakeOverTheFixedBlock) {
    vmtest::TempDir dir;
    CRegistryStore store(dir.File("registry.db"));
    FileTypeCatalogue seed;
    seed.Load(store);

    Bytes truncated = seed.FindDescriptor(47)->Record();
    truncated.resize(truncated.size() - 3);
    ASSERT_TRUE(store.SetValue(kTypesKey, "-144.47..PDF", REG_BINARY, truncated));
    ASSERT_TRUE(store.SetValue(kTypesKey, "oversized", REG_BINARY, Bytes(kMaxStoredRecord + 1, 0)));
    FileTypeDescriptor renamed = *seed.FindDescriptor(83);
    renamed.Description = "Renamed JPEG";
    renamed.Signatures.clear();  // the stored type keeps its own variants
    ASSERT_TRUE(store.SetValue(kTypesKey, "-115.83.renamed.JPG", REG_BINARY, renamed.Record()));

    CLog log;
    SetGlobalLog(&log);
    FileTypeCatalogue c;
    c.Load(store);
    SetGlobalLog(nullptr);
    EXPECT_EQ(c.FindDescriptor(47), nullptr) << "the damaged PDF record is not loaded";
    EXPECT_TRUE(log.Contains("-144.47..PDF"));
    EXPECT_TRUE(log.Contains("oversized"));
    ASSERT_NE(c.FindDescriptor(83), nullptr);
    EXPECT_EQ(c.FindDescriptor(83)->Description, "Renamed JPEG");
    EXPECT_EQ(c.FindDescriptor(83)->Signatures.size(), 2u);
    EXPECT_EQ(c.Types().size(), BuiltinTypes().size() - 1);
}
