#include "app/SettingsBlock.h"
#include "platform/TempFolder.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <type_traits>
#include <unistd.h>

#include "app/Log.h"
#include "app/RegistryStore.h"
#include "platform/FileTime.h"
#include "platform/TempFolder.h"
#include "platform/Utf16.h"

namespace vm {
namespace {

constexpr const char* kValueName = "Settings";
constexpr std::uint64_t kFileTimeDay = 864000000000ULL;

#define VM_SETTING_OFFSET(Type, Name, Offset, Default, Check, Min, Max) Offset,
constexpr std::uint32_t kNumberOffsets[] = {VM_SETTING_NUMBERS(VM_SETTING_OFFSET)};
#undef VM_SETTING_OFFSET

constexpr bool NumbersFitTheBlock() {
    for (auto off : kNumberOffsets)
        if (off % 4 != 0 || off < 4 || off + 4 > CSettingsBlock::kSize) return false;
    return true;
}
static_assert(NumbersFitTheBlock());
static_assert(CSettingsBlock::kReservedTextOffset + CSettingsBlock::kReservedTextSize <= CSettingsBlock::kSize);

// Reserved fields that still have defaults: offset and value.
constexpr struct {
    std::uint32_t Offset, Value;
} kReservedDefaults[] = {{40, 1}, {44, 1}, {52, 0}, {56, 1}, {80, 1}, {104, 5400}};

std::uint32_t ReadLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

void WriteLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

std::string HomeOrRoot() {
    std::string home = HomeFolder();
    return home.empty() ? "/" : home;
}

std::uint64_t FileTimeNow() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return UnixToFileTime(ns.count());
}

const SettingField* FieldAt(std::uint32_t offset) {
    for (const auto& f : CSettingsBlock::Fields())
        if (f.Offset == offset) return &f;
    return nullptr;
}

bool BlockSizeAcceptable(std::uint32_t v) {
    return v == 0 || (v >= 512 && v % 512 == 0 && v <= kMaxSearchBlockSize);
}

// The value the field may hold; a refused or out-of-range value is replaced with a log line.
std::uint32_t Checked(const SettingField& f, std::uint32_t raw) {
    if (f.Check == SettingCheck::BlockSize) {
        if (BlockSizeAcceptable(raw)) return raw;
        Log().Error("Settings: %s %u refused (a multiple of 512 from 512 to %u is needed), %u used", f.Name, raw,
                    kMaxSearchBlockSize, kDefaultSearchBlockSize);
        return kDefaultSearchBlockSize;
    }
    if (f.Check != SettingCheck::Clamp) return raw;
    std::int64_t v = f.Signed ? std::int64_t(std::int32_t(raw)) : std::int64_t(raw);
    std::int64_t fixed = v < f.Min ? f.Min : v > f.Max ? f.Max : v;
    if (fixed == v) return raw;
    Log().Error("Settings: %s %I64d out of range %I64d to %I64d, set to %I64d", f.Name, v, f.Min, f.Max, fixed);
    return std::uint32_t(fixed);
}

}  // namespace

const std::vector<SettingField>& CSettingsBlock::Fields() {
#define VM_SETTING_FIELD(Type, Name, Offset, Default, Check, Min, Max) \
    {#Name, Offset, std::is_signed_v<Type>, Default != kKeep, Default, SettingCheck::Check, Min, Max},
    static const std::vector<SettingField> fields = {VM_SETTING_NUMBERS(VM_SETTING_FIELD)};
#undef VM_SETTING_FIELD
    return fields;
}

CSettingsBlock::CSettingsBlock(CRegistryStore* store) : Block(kSize, 0), pStore(store) {
    ApplyDefaults();
    WriteLe32(Block.data(), ComputeChecksum(Block.data()));
}

CRegistryStore& CSettingsBlock::Store() const { return pStore ? *pStore : CRegistryStore::Default(); }

std::uint32_t CSettingsBlock::ComputeChecksum(const std::uint8_t* bytes) {
    std::uint32_t sum = 0;
    for (std::size_t off = 4; off + 4 <= kSize; off += 4) sum += ReadLe32(bytes + off);
    return sum;
}

std::string CSettingsBlock::SystemTempFolder() {
    std::string dir = vm::TempFolder();
    if (dir.empty()) Log().Error("Settings: the private temporary folder can't be made safely");
    return dir;
}

void CSettingsBlock::ApplyDefaults() {
    for (const auto& f : Fields())
        if (f.HasDefault) Set32(f.Offset, std::uint32_t(f.Default));
    {
        std::unique_lock g(Lock);
        for (const auto& r : kReservedDefaults) WriteLe32(&Block[r.Offset], r.Value);
    }
    std::uint64_t next = FileTimeNow() + std::uint64_t(UpdateCheckDays()) * kFileTimeDay;
    SetNextUpdateCheck(next);
    const std::string home = HomeOrRoot();
    SetRecoveryFolder(home + (home.back() == '/' ? "" : "/") + "Recovered Files");
    SetTempFolder(SystemTempFolder());
    SetLogFileName("Vellumark.log");
    SetText(kReservedTextOffset, kReservedTextSize, "*");
}

void CSettingsBlock::ResetToDefaults() {
    ApplyDefaults();
    Save();
}

bool CSettingsBlock::Accept(const std::vector<std::uint8_t>& value, std::uint32_t type) {
    if (type != REG_BINARY) {
        Log().Error("Settings: the stored value has type %u, not binary; the defaults are used", type);
        return false;
    }
    if (value.size() != kSize) {
        Log().Error("Settings: the stored value has %I64d bytes, not %I64d; the defaults are used",
                    std::uint64_t(value.size()), std::uint64_t(kSize));
        return false;
    }
    if (ComputeChecksum(value.data()) != ReadLe32(value.data())) {
        Log().Error("Settings: the stored value fails its checksum; the defaults are used");
        return false;
    }
    std::unique_lock g(Lock);
    Block = value;
    Saved = value;
    return true;
}

void CSettingsBlock::CheckAllFields() {
    for (const auto& f : Fields())
        if (f.Check != SettingCheck::None) Set32(f.Offset, Get32(f.Offset));
}

int CSettingsBlock::Load() {
    auto stored = Store().GetValue(kProgramKey, kValueName);
    bool loaded = stored && Accept(stored->Data, stored->Type);
    if (!stored) Log().Message("Settings: none stored yet; the defaults are used");
    if (loaded)
        CheckAllFields();
    else
        ResetToDefaults();
    SetRescanAtStart(1);
    return loaded ? 1 : 0;
}

int CSettingsBlock::Save() {
    std::vector<std::uint8_t> bytes;
    {
        std::unique_lock g(Lock);
        WriteLe32(Block.data(), ComputeChecksum(Block.data()));
        bytes = Block;
    }
    if (!Store().SetValue(kProgramKey, kValueName, REG_BINARY, bytes)) return 0;
    std::unique_lock g(Lock);
    Saved = std::move(bytes);
    return 1;
}

int CSettingsBlock::SaveIfChanged() {
    // Compare the bytes, not only the checksum: a sum misses changes that cancel out, such as
    // two words of a folder name trading places.
    {
        std::unique_lock g(Lock);
        WriteLe32(Block.data(), ComputeChecksum(Block.data()));
        if (Block == Saved) return 1;
        Saved = Block;  // a failed write waits for the next change
    }
    Save();
    return 1;
}

std::uint32_t CSettingsBlock::Get32(std::uint32_t offset) const {
    std::shared_lock g(Lock);
    return ReadLe32(&Block[offset]);
}

void CSettingsBlock::Set32(std::uint32_t offset, std::uint32_t value) {
    if (const SettingField* f = FieldAt(offset)) value = Checked(*f, value);
    std::unique_lock g(Lock);
    WriteLe32(&Block[offset], value);
}

std::uint64_t CSettingsBlock::NextUpdateCheck() const {
    std::shared_lock g(Lock);
    return ReadLe32(&Block[kNextUpdateCheckOffset]) | std::uint64_t(ReadLe32(&Block[kNextUpdateCheckOffset + 4])) << 32;
}

void CSettingsBlock::SetNextUpdateCheck(std::uint64_t fileTime) {
    std::unique_lock g(Lock);
    WriteLe32(&Block[kNextUpdateCheckOffset], std::uint32_t(fileTime));
    WriteLe32(&Block[kNextUpdateCheckOffset + 4], std::uint32_t(fileTime >> 32));
}

std::string CSettingsBlock::GetText(std::uint32_t offset, std::uint32_t size) const {
    std::shared_lock g(Lock);
    return Utf16LeToUtf8(&Block[offset], size / 2);
}

void CSettingsBlock::SetText(std::uint32_t offset, std::uint32_t size, const std::string& text) {
    // The field keeps room for its terminator; a cut never separates a surrogate pair.
    std::u16string units = Utf8ToUtf16(text);
    std::size_t keep = std::min<std::size_t>(units.size(), size / 2 - 1);
    if (keep > 0 && keep < units.size() && units[keep - 1] >= 0xD800 && units[keep - 1] <= 0xDBFF) --keep;
    std::unique_lock g(Lock);
    std::fill(Block.begin() + offset, Block.begin() + offset + size, 0);
    for (std::size_t i = 0; i < keep; ++i) {
        Block[offset + 2 * i] = std::uint8_t(units[i]);
        Block[offset + 2 * i + 1] = std::uint8_t(units[i] >> 8);
    }
}

std::array<std::uint8_t, CSettingsBlock::kWizardStateSize> CSettingsBlock::WizardState() const {
    std::array<std::uint8_t, kWizardStateSize> out{};
    std::shared_lock g(Lock);
    std::copy_n(Block.begin() + kWizardStateOffset, kWizardStateSize, out.begin());
    return out;
}

void CSettingsBlock::SetWizardState(const std::array<std::uint8_t, kWizardStateSize>& state) {
    std::unique_lock g(Lock);
    std::copy(state.begin(), state.end(), Block.begin() + kWizardStateOffset);
}

std::vector<std::uint8_t> CSettingsBlock::Bytes() const {
    std::shared_lock g(Lock);
    return Block;
}

CSettingsBlock& AppSettings() {
    static CSettingsBlock settings;
    return settings;
}

}  // namespace vm
