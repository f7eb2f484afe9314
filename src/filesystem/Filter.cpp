#include "filesystem/Filter.h"

#include <algorithm>
#include <ctime>

#include "app/Log.h"
#include "app/RegistryStore.h"
#include "filesystem/TypeLookup.h"
#include "filesystem/Wildcard.h"
#include "platform/FileTime.h"
#include "platform/Utf16.h"

namespace vm {
namespace {

// Places of the fields in the stored form.
enum : std::size_t {
    kDeletedOnly = 20,
    kMaskOn = 52,
    kDateOn = 56,
    kTimeOfDay = 60,
    kSizeOn = 64,
    kTypeMode = 80,
    kMask = 120,
    kDateFrom = 632,
    kDateTo = 640,
};

std::uint64_t ReadLe(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void WriteLe(std::uint8_t* p, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i, v >>= 8) p[i] = std::uint8_t(v);
}

std::array<std::uint8_t, CFilter::kStoredSize> DefaultReserved() {
    std::array<std::uint8_t, CFilter::kStoredSize> b{};
    WriteLe(&b[8], 1, 4);
    WriteLe(&b[48], 1, 4);
    WriteLe(&b[656], ~std::uint64_t(0), 8);
    WriteLe(&b[672], ~std::uint64_t(0), 8);
    return b;
}

// The pattern as at most 255 UTF-16 units, never ending inside a surrogate pair.
std::u16string StoredMask(const std::string& mask) {
    std::u16string units = Utf8ToUtf16(mask);
    if (units.size() >= CFilter::kMaskUnits) {
        units.resize(CFilter::kMaskUnits - 1);
        if (!units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) units.pop_back();
    }
    return units;
}

std::uint64_t ToLocal(std::uint64_t fileTime) {
    const std::time_t t = FileTimeToTimespec(fileTime).tv_sec;
    std::tm local{};
    if (!localtime_r(&t, &local)) return fileTime;
    const std::int64_t shift = std::int64_t(local.tm_gmtoff) * 10000000;
    if (shift < 0 && fileTime < std::uint64_t(-shift)) return 0;
    return fileTime + std::uint64_t(shift);
}

std::string FilterKey() { return std::string(kProgramKey) + "\\Filter"; }

}  // namespace

CFilter::CFilter() { Reset(); }

void CFilter::Reset() {
    DeletedOnly = MaskOn = DateOn = TimeOfDay = SizeOn = 0;
    TypeMode = FILTER_ALL_TYPES;
    Mask = "*";
    DateFrom = 0;
    DateTo = kNoUpperBound;
    Stored = DefaultReserved();
}

bool CFilter::Rejects(const FoundItem& item) const {
    if (item.SignedId() < 0) return false;  // synthetic folders are always shown
    if (DeletedOnly && !item.Is(FI_DELETED) && !item.Is(FI_HAS_DELETED)) return true;
    const bool folder = item.Is(FI_FOLDER) || item.Is(FI_DRIVE);
    const char* name = item.NameOrEmpty();
    if (MaskOn && !folder && *name && !WildcardMatch(Mask, name, WildcardCase::Exact)) return true;
    if (DateOn && RejectsByDate(item)) return true;
    return !folder && RejectsByType(item);
}

bool CFilter::RejectsByDate(const FoundItem& item) const {
    if (item.CreateTime == 0) return false;  // no time known
    // Unsigned: the open upper bound is all ones.
    const std::uint64_t t = TimeOfDay ? ToLocal(item.CreateTime) : item.CreateTime;
    return t > DateTo || t < DateFrom;
}

bool CFilter::RejectsByType(const FoundItem& item) const {
    if (TypeMode != FILTER_KNOWN_TYPES && TypeMode != FILTER_CUSTOM_TYPES) return false;
    FoundItem probe = item;  // the lookup may write the type it found into the record
    const TypeInfo* type = pTypes ? pTypes->TypeOfItem(probe) : nullptr;
    if (TypeMode == FILTER_KNOWN_TYPES) return type == nullptr;
    return type && !type->FilterChecked;
}

std::vector<std::uint8_t> CFilter::StoredForm() const {
    std::vector<std::uint8_t> b(Stored.begin(), Stored.end());
    WriteLe(&b[kDeletedOnly], std::uint32_t(DeletedOnly), 4);
    WriteLe(&b[kMaskOn], std::uint32_t(MaskOn), 4);
    WriteLe(&b[kDateOn], std::uint32_t(DateOn), 4);
    WriteLe(&b[kTimeOfDay], std::uint32_t(TimeOfDay), 4);
    WriteLe(&b[kSizeOn], std::uint32_t(SizeOn), 4);
    WriteLe(&b[kTypeMode], std::uint32_t(TypeMode), 4);
    const std::u16string mask = StoredMask(Mask);
    for (std::size_t i = 0; i < kMaskUnits; ++i) WriteLe(&b[kMask + 2 * i], i < mask.size() ? mask[i] : 0, 2);
    WriteLe(&b[kDateFrom], DateFrom, 8);
    WriteLe(&b[kDateTo], DateTo, 8);
    return b;
}

bool CFilter::FromStoredForm(std::span<const std::uint8_t> b, std::string& why) {
    if (b.size() != kStoredSize) {
        why = Format("it has %I64d bytes, not %I64d", std::uint64_t(b.size()), std::uint64_t(kStoredSize));
        return false;
    }
    bool terminated = false;
    for (std::size_t i = 0; i < kMaskUnits && !terminated; ++i) terminated = ReadLe(&b[kMask + 2 * i], 2) == 0;
    if (!terminated) {
        why = "its pattern has no end";
        return false;
    }
    const auto typeMode = std::int32_t(ReadLe(&b[kTypeMode], 4));
    if (typeMode < FILTER_ALL_TYPES || typeMode > FILTER_CUSTOM_TYPES) {
        why = Format("its type choice %d is unknown", typeMode);
        return false;
    }
    std::copy(b.begin(), b.end(), Stored.begin());
    DeletedOnly = std::int32_t(ReadLe(&b[kDeletedOnly], 4));
    MaskOn = std::int32_t(ReadLe(&b[kMaskOn], 4));
    DateOn = std::int32_t(ReadLe(&b[kDateOn], 4));
    TimeOfDay = std::int32_t(ReadLe(&b[kTimeOfDay], 4));
    SizeOn = std::int32_t(ReadLe(&b[kSizeOn], 4));
    TypeMode = typeMode;
    Mask = Utf16LeToUtf8(&b[kMask], kMaskUnits);
    DateFrom = ReadLe(&b[kDateFrom], 8);
    DateTo = ReadLe(&b[kDateTo], 8);
    return true;
}

int CFilter::Save(CRegistryStore& store) const {
    return store.SetValue(FilterKey(), "", REG_BINARY, StoredForm()) ? 1 : 0;
}

int CFilter::LoadOrCreate(CRegistryStore& store) {
    Reset();
    const std::string key = FilterKey();
    const auto value = store.KeyExists(key) ? store.GetValue(key, "") : std::nullopt;
    if (!value) {
        if (!Save(store)) Log().Error("CFilter::LoadOrCreate: can't store the filter under %s", key);
        return 0;
    }
    std::string why = "it is not binary";
    if (value->Type == REG_BINARY && FromStoredForm(value->Data, why)) return 1;
    Reset();
    Log().Error("CFilter::LoadOrCreate: the stored filter is damaged (%s); the defaults are used", why);
    return 0;
}

int CFilter::LoadOrCreate() { return LoadOrCreate(CRegistryStore::Default()); }

}  // namespace vm
