#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "app/Log.h"
#include "app/RegistryStore.h"
#include "app/Settings.h"
#include "app/SettingsBlock.h"
#include "platform/FileTime.h"
#include "platform/TempFolder.h"
#include "support/TestSupport.h"

using vm::CRegistryStore;
using vm::CSettingsBlock;

namespace {

constexpr std::size_t kSize = 112004;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t Le32(const Bytes& b, std::size_t off) {
    return b[off] | b[off + 1] << 8 | b[off + 2] << 16 | std::uint32_t(b[off + 3]) << 24;
}
void PutLe32(Bytes& b, std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = std::uint8_t(v >> (8 * i));
}
std::uint32_t Sum(const Bytes& b) {
    std::uint32_t s = 0;
    for (std::size_t off = 4; off < kSize; off += 4) s += Le32(b, off);
    return s;
}
// The ASCII text of a UTF-16LE field, up to its terminator.
std::string AsciiField(const Bytes& b, std::size_t off, std::size_t size) {
    std::string s;
    for (std::size_t i = off; i + 1 < off + size && (b[i] || b[i + 1]); i += 2) s += char(b[i]);
    return s;
}

Bytes Stored(const CRegistryStore& s) {
    auto v = s.GetValue(vm::kProgramKey, "Settings");
    return v ? v->Data : Bytes();
}

// A fresh store in a private folder, with HOME pointed there for the computed defaults.
struct SettingsFixture : ::testing::Test {
    vmtest::TempDir Dir;
    std::string OldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    CRegistryStore Store{Dir.File("r.db")};

    SettingsFixture() { ::setenv("HOME", Dir.Path().c_str(), 1); }
    ~SettingsFixture() override { ::setenv("HOME", OldHome.c_str(), 1); }

    // Defaults with `edit` applied to the raw bytes and the checksum made right again.
    Bytes ValidBlock(void (*edit)(Bytes&)) {
        Bytes b = CSettingsBlock(&Store).Bytes();
        edit(b);
        PutLe32(b, 0, Sum(b));
        return b;
    }
    void Put(const Bytes& b, std::uint32_t type = vm::REG_BINARY) {
        ASSERT_TRUE(Store.SetValue(vm::kProgramKey, "Settings", type, b));
    }
};

}  // namespace

TEST_F(SettingsFixture, AFreshProfileGetsTheDefaultsAtTheirPlaces) {
    CSettingsBlock s(&Store);
    EXPECT_EQ(s.Load(), 0);
    Bytes b = Stored(Store);
    ASSERT_EQ(b.size(), kSize);
    EXPECT_EQ(b, s.Bytes());
    EXPECT_EQ(Le32(b, 0), Sum(b));

    const std::pair<std::size_t, std::uint32_t> numbers[] = {
        {36, 1},   {40, 1},    {44, 1},    {48, 0},   {52, 0},  {56, 1},   {60, 1},    {64, 1},
        {68, 1},   {72, 1},    {76, 1},    {80, 1},   {84, 1},  {88, 1},   {92, 1},    {96, 1},
        {100, 0},  {104, 5400}, {108, 0},  {112, 0},  {116, 1}, {120, 1},  {124, 10240}, {128, 30},
        {140, 0},  {144, 0},   {148, 0},   {152, 0},  {156, 0}, {160, 1},  {164, 1},   {168, 0},
        {172, 1},  {176, 10},  {180, 0},   {184, 0},  {188, 1}, {17604, 0},
    };
    for (auto [off, want] : numbers) EXPECT_EQ(Le32(b, off), want) << "offset " << off;

    const std::pair<std::size_t, std::string> texts[] = {
        {17788, Dir.Path() + "/Recovered Files"},
        {25980, vm::TempFolder()},
        {34172, "Vellumark.log"},
        {36220, "*"},
    };
    for (const auto& [off, want] : texts) EXPECT_EQ(AsciiField(b, off, 2048), want) << "offset " << off;

    auto now = std::chrono::system_clock::now().time_since_epoch();
    std::uint64_t in30Days = vm::UnixToFileTime(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()) +
                             30ULL * 864000000000ULL;
    std::uint64_t next = Le32(b, 132) | std::uint64_t(Le32(b, 136)) << 32;
    EXPECT_NEAR(double(next), double(in30Days), 600e7);  // within ten minutes
    EXPECT_EQ(s.RecoveryFolder(), Dir.Path() + "/Recovered Files");
}

TEST_F(SettingsFixture, EverythingSurvivesTheStoreAndUnknownBytesAreKept) {
    Put(ValidBlock([](Bytes& b) { b[200] = 0x5A; b[kSize - 1] = 0xA5; }));
    {
        CSettingsBlock s(&Store);
        ASSERT_EQ(s.Load(), 1);
        s.SetReadRetries(3);
        s.SetRetryPauseMs(250);
        s.SetUpdateCheckDays(-1);
        s.SetAppMode(2);
        s.SetRescanAtStart(0);
        s.SetNextUpdateCheck(0x0123456789ABCDEFULL);
        s.SetRecoveryFolder("/srv/Gerettete Dateien \xC3\x84 \xF0\x9F\x98\x80");
        s.SetLogFileName("run.log");
        std::array<std::uint8_t, CSettingsBlock::kWizardStateSize> wiz{};
        wiz[0] = 9, wiz[43] = 7;
        s.SetWizardState(wiz);
        ASSERT_EQ(s.Save(), 1);
    }
    Bytes raw = Stored(Store);
    EXPECT_EQ(raw[17788], '/');
    EXPECT_EQ(raw[17789], 0) << "texts are stored as UTF-16LE";

    CSettingsBlock s(&Store);
    ASSERT_EQ(s.Load(), 1);
    EXPECT_EQ(s.ReadRetries(), 3u);
    EXPECT_EQ(s.RetryPauseMs(), 250u);
    EXPECT_EQ(s.UpdateCheckDays(), -1);
    EXPECT_EQ(s.AppMode(), 2u);
    EXPECT_EQ(s.RescanAtStart(), 1u) << "every load asks for a drive rescan";
    EXPECT_EQ(s.NextUpdateCheck(), 0x0123456789ABCDEFULL);
    EXPECT_EQ(s.RecoveryFolder(), "/srv/Gerettete Dateien \xC3\x84 \xF0\x9F\x98\x80");
    EXPECT_EQ(s.LogFileName(), "run.log");
    EXPECT_EQ(s.WizardState()[0], 9);
    EXPECT_EQ(s.WizardState()[43], 7);
    Bytes now = s.Bytes();
    EXPECT_EQ(now[200], 0x5A);
    EXPECT_EQ(now[kSize - 1], 0xA5);
}

TEST_F(SettingsFixture, ADamagedValueGivesTheDefaultsAndALogLine) {
    auto marked = [](Bytes& b) { PutLe32(b, 176, 77); };  // ReadRetries 77
    Bytes good = ValidBlock(marked);
    Bytes flipped = good;
    flipped[30000] ^= 0x10;
    // The last word is zero, so the short value's checksum over a zero-filled buffer still fits.
    Bytes shortValue(good.begin(), good.end() - 4);
    Bytes longValue = good;
    longValue.resize(kSize + 4);
    struct Case {
        const char* what;
        Bytes value;
        std::uint32_t type;
        std::string logged;
    } cases[] = {
        {"checksum", flipped, vm::REG_BINARY, "fails its checksum"},
        {"short", shortValue, vm::REG_BINARY, "has 112000 bytes, not 112004"},
        {"long", longValue, vm::REG_BINARY, "has 112008 bytes, not 112004"},
        {"type", good, vm::REG_SZ, "has type 1, not binary"},
    };
    for (const auto& c : cases) {
        Put(c.value, c.type);
        CSettingsBlock s(&Store);
        EXPECT_EQ(s.Load(), 0) << c.what;
        EXPECT_EQ(s.ReadRetries(), 10u) << c.what;
        EXPECT_TRUE(vm::Log().Contains(c.logged)) << c.what;
        EXPECT_EQ(Stored(Store), s.Bytes()) << c.what << ": the defaults are written back";
    }
    Put(good);
    EXPECT_EQ(CSettingsBlock(&Store).Load(), 1) << "the untouched value is taken";
}

TEST_F(SettingsFixture, StoredValuesOutsideTheirRangeAreMadeSafe) {
    struct Case {
        std::uint32_t offset, stored, want;
        std::string logged;  // empty: the value is fine
    } cases[] = {
        {176, 2000000, 1000000, "ReadRetries 2000000 out of range 0 to 1000000, set to 1000000"},
        {180, 0xFFFFFFFF, 1000000, "RetryPauseMs 4294967295 out of range"},
        {124, 0, 1, "LogMaxSizeKB 0 out of range 1 to 102400, set to 1"},
        {124, 200000, 102400, "LogMaxSizeKB 200000 out of range"},
        {172, 100, 64, "SearchThreads 100 out of range 0 to 64, set to 64"},
        {172, 0, 0, ""},
        {184, 256, 2097152, "SearchBlockSize 256 refused"},
        {184, 1000, 2097152, "SearchBlockSize 1000 refused"},
        {184, 512u << 20, 2097152, "SearchBlockSize 536870912 refused"},
        {184, 4096, 4096, ""},
        {184, 256u << 20, 256u << 20, ""},
    };
    for (const auto& c : cases) {
        Bytes b = CSettingsBlock(&Store).Bytes();
        PutLe32(b, c.offset, c.stored);
        PutLe32(b, 0, Sum(b));
        Put(b);
        std::size_t linesBefore = vm::Log().LineCount();
        CSettingsBlock s(&Store);
        ASSERT_EQ(s.Load(), 1);
        EXPECT_EQ(Le32(s.Bytes(), c.offset), c.want) << c.offset << " " << c.stored;
        if (c.logged.empty())
            EXPECT_EQ(vm::Log().LineCount(), linesBefore) << c.offset << " " << c.stored;
        else
            EXPECT_TRUE(vm::Log().Contains(c.logged)) << c.logged;
    }
    CSettingsBlock s(&Store);
    s.SetSearchThreads(1000);
    EXPECT_EQ(s.SearchThreads(), 64u) << "setters apply the same rules";
}

TEST_F(SettingsFixture, SaveIfChangedWritesOnlyWhenSomethingChanged) {
    CSettingsBlock s(&Store);
    s.Load();
    const Bytes marker = {1, 2, 3};
    auto markStore = [&] { Put(marker); };
    auto storedIsCurrent = [&] { return Stored(Store) == s.Bytes() && Le32(Stored(Store), 0) == Sum(s.Bytes()); };

    markStore();
    EXPECT_EQ(s.SaveIfChanged(), 1);
    EXPECT_EQ(Stored(Store), marker) << "nothing changed, nothing written";

    s.SetReadRetries(5);
    EXPECT_EQ(s.SaveIfChanged(), 1);
    EXPECT_TRUE(storedIsCurrent());

    // Two words trading places leave the sum as it was; the change must still be saved.
    s.SetTempFolder("abcd");
    s.SaveIfChanged();
    std::uint32_t before = Sum(s.Bytes());
    markStore();
    s.SetTempFolder("cdab");
    ASSERT_EQ(Sum(s.Bytes()), before);
    s.SaveIfChanged();
    EXPECT_TRUE(storedIsCurrent());
    EXPECT_EQ(CSettingsBlock(&Store).Load(), 1);
}

TEST_F(SettingsFixture, TextsStayInsideTheirFields) {
    CSettingsBlock s(&Store);
    s.SetLogFileName(std::string(5000, 'x'));
    EXPECT_EQ(s.LogFileName(), std::string(1023, 'x')) << "one character is kept for the terminator";
    EXPECT_EQ(AsciiField(s.Bytes(), 36220, 2048), "*") << "the next field is untouched";

    // A pair that would be cut in half is dropped whole.
    s.SetLogFileName(std::string(1022, 'y') + "\xF0\x9F\x98\x80");
    EXPECT_EQ(s.LogFileName(), std::string(1022, 'y'));
    s.SetLogFileName("bad \xFF\xC0\xAF end");
    EXPECT_EQ(s.LogFileName(), "bad \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end");

    // A stored field without its terminator, ending in half a pair.
    Bytes b = CSettingsBlock(&Store).Bytes();
    for (std::size_t i = 34172; i < 34172 + 2048; i += 2) b[i] = 'A', b[i + 1] = 0;
    b[34172 + 2046] = 0x3D, b[34172 + 2047] = 0xD8;
    PutLe32(b, 0, Sum(b));
    Put(b);
    ASSERT_EQ(s.Load(), 1);
    EXPECT_EQ(s.LogFileName(), std::string(1023, 'A') + "\xEF\xBF\xBD");
}

TEST(Settings, TheEngineReadsTheProcessSettings) {
    vm::CSettingsBlock& app = vm::AppSettings();
    EXPECT_EQ(vm::ReadRetriesSetting(), 10u);
    EXPECT_EQ(vm::RetryPauseSetting(), 0u);
    app.SetReadRetries(2);
    app.SetRetryPauseMs(30);
    EXPECT_EQ(vm::ReadRetriesSetting(), 2u);
    EXPECT_EQ(vm::RetryPauseSetting(), 30u);
    app.SetReadRetries(10);
    app.SetRetryPauseMs(0);
}
