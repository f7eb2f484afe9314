#include "signatures/FileTypeDescriptor.h"

#include <algorithm>
#include <cstring>

#include "app/Format.h"

namespace vm {
namespace {

// Places of the fixed block's fields.
constexpr std::size_t kTitleAt = 152, kTitleUnits = 100;
constexpr std::size_t kDescriptionAt = 352, kDescriptionUnits = 260;
constexpr std::size_t kExtensionsAt = 872, kExtensionsUnits = 100;
constexpr std::size_t kPrefixAt = 1072, kPrefixUnits = 30;
constexpr std::size_t kUrlAt = 1132, kUrlUnits = 260;
constexpr std::size_t kSignatureCountAt = 1952;

std::uint32_t GetU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint16_t GetU16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | cp >> 18);
        out += char(0x80 | (cp >> 12 & 0x3F));
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// A NUL-terminated UTF-16LE field of `units` units; a field without NUL ends with the field.
// Unpaired surrogates become U+FFFD.
std::string ReadText(const std::uint8_t* field, std::size_t units) {
    std::string out;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t u = GetU16(field + 2 * i);
        if (u == 0) break;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            const std::uint32_t low = GetU16(field + 2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u < 0xE000) ? 0xFFFD : u);
    }
    return out;
}

// Next code point of UTF-8 text at `i` (advancing it); malformed bytes give U+FFFD.
std::uint32_t NextCodePoint(const std::string& s, std::size_t& i) {
    const std::uint8_t c = std::uint8_t(s[i++]);
    if (c < 0x80) return c;
    const std::size_t n = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
    if (n == 0) return 0xFFFD;
    std::uint32_t cp = c & (0x3F >> n);
    for (std::size_t k = 0; k < n; ++k) {
        if (i >= s.size() || (std::uint8_t(s[i]) & 0xC0) != 0x80) return 0xFFFD;
        cp = cp << 6 | (std::uint8_t(s[i++]) & 0x3F);
    }
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0xFFFD;
    return cp;
}

// Writes the text as UTF-16LE into a zeroed field, cut so that a NUL always fits and a
// surrogate pair is never split.
void WriteText(std::uint8_t* field, std::size_t units, const std::string& text) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::uint32_t cp = NextCodePoint(text, i);
        if (cp == 0) break;
        if (cp >= 0x10000) {
            if (at + 2 >= units) break;
            PutU16(field + 2 * at++, std::uint16_t(0xD800 + ((cp - 0x10000) >> 10)));
            PutU16(field + 2 * at++, std::uint16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            if (at + 1 >= units) break;
            PutU16(field + 2 * at++, std::uint16_t(cp));
        }
    }
}

std::size_t ConditionRecordSize(const SignatureCondition& c) {
    return kConditionHeaderSize + c.Data.size();
}

std::size_t VariantRecordSize(const SignatureVariant& v) {
    std::size_t n = kVariantHeaderSize;
    for (const SignatureCondition& c : v.Conditions) n += ConditionRecordSize(c);
    return n;
}

// Reads one condition record from the front of `in`; 0 when it does not fit, else its size.
std::size_t ReadCondition(std::span<const std::uint8_t> in, SignatureCondition& c) {
    if (in.size() < kConditionHeaderSize) return 0;
    const std::size_t size = GetU32(in.data() + 4);
    if (size < kConditionHeaderSize || size > in.size()) return 0;
    c.Kind = GetU32(in.data());
    c.Offset = GetU32(in.data() + 8);
    c.Repeat = GetU16(in.data() + 12);
    c.Length = GetU16(in.data() + 14);
    const std::size_t area = size - kConditionHeaderSize;
    // The masked kinds compare at most half their area (pattern, then mask); every other kind
    // keeps exactly `Length` data bytes.
    if (!IsMaskedKind(c.Kind) && c.Length > area) return 0;
    c.Data.assign(in.begin() + kConditionHeaderSize, in.begin() + size);
    return size;
}

// Reads one variant record from the front of `in`; 0 when it does not fit, else its size.
std::size_t ReadVariant(std::span<const std::uint8_t> in, SignatureVariant& v) {
    if (in.size() < kVariantHeaderSize) return 0;
    const std::size_t size = GetU32(in.data() + 4);
    const std::size_t count = GetU32(in.data() + 16);
    if (size < kVariantHeaderSize || size > in.size()) return 0;
    if (count > (size - kVariantHeaderSize) / kConditionHeaderSize) return 0;
    std::span<const std::uint8_t> rest = in.subspan(kVariantHeaderSize, size - kVariantHeaderSize);
    v.Conditions.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        SignatureCondition c;
        const std::size_t used = ReadCondition(rest, c);
        if (used == 0) return 0;
        v.Conditions.push_back(std::move(c));
        rest = rest.subspan(used);
    }
    return rest.empty() ? size : 0;  // the record's length must be its conditions' lengths
}

}  // namespace

bool FileTypeDescriptor::Matches(std::span<const std::uint8_t> unit) const {
    for (const SignatureVariant& v : Signatures)
        if (v.Holds(unit)) return true;
    return false;
}

SignatureVariant& FileTypeDescriptor::AddBytes(std::uint32_t kind,
                                               std::span<const std::uint8_t> data,
                                               std::uint32_t offset, std::uint16_t length,
                                               std::uint16_t repeat) {
    Signatures.emplace_back();
    Signatures.back().AddCondition(kind, data, offset, length, repeat);
    return Signatures.back();
}

SignatureVariant& FileTypeDescriptor::AddValue(unsigned width, std::uint64_t value,
                                               std::uint32_t offset, std::uint16_t repeat) {
    std::uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = std::uint8_t(value >> (8 * i));
    const std::uint32_t kind = width == 1 ? SC_BYTE : width == 2 ? SC_WORD : width == 4 ? SC_DWORD : SC_QWORD;
    return AddBytes(kind, std::span(bytes, ValueWidth(kind)), offset, 0, repeat);
}

std::string FileTypeDescriptor::GetFirstExtension() const {
    const std::size_t cut = Extensions.find_first_of(",;");
    if (cut == std::string::npos || cut == 0) return Extensions;
    return Extensions.substr(0, cut);
}

std::string FileTypeDescriptor::RegistryValueName() const {
    return Format("%d.%d.%s.%s", GroupId, TypeId, Title, GetFirstExtension());
}

void FileTypeDescriptor::WriteFixedBlock(std::uint8_t* out) const {
    std::memset(out, 0, kFixedBlockSize);
    const std::int32_t head[6] = {TypeId, GroupId, Checked, FilterChecked, Visible, IsGroup};
    for (int i = 0; i < 6; ++i) PutU32(out + 4 * i, std::uint32_t(head[i]));
    std::copy(Reserved24.begin(), Reserved24.end(), out + 24);
    PutU32(out + 36, std::uint32_t(DefaultSizeKB));
    PutU32(out + 40, std::uint32_t(Coincidence));
    PutU32(out + 44, std::uint32_t(Reserved44));
    PutU32(out + 48, std::uint32_t(SearchOrder));
    std::copy(Reserved52.begin(), Reserved52.end(), out + 52);
    WriteText(out + kTitleAt, kTitleUnits, Title);
    WriteText(out + kDescriptionAt, kDescriptionUnits, Description);
    WriteText(out + kExtensionsAt, kExtensionsUnits, Extensions);
    WriteText(out + kPrefixAt, kPrefixUnits, NamePrefix);
    WriteText(out + kUrlAt, kUrlUnits, DescriptionUrl);
    std::copy(Reserved1652.begin(), Reserved1652.end(), out + 1652);
    PutU32(out + kSignatureCountAt, std::uint32_t(Signatures.size()));
}

void FileTypeDescriptor::ReadFixedBlock(const std::uint8_t* in) {
    std::int32_t* head[6] = {&TypeId, &GroupId, &Checked, &FilterChecked, &Visible, &IsGroup};
    for (int i = 0; i < 6; ++i) *head[i] = std::int32_t(GetU32(in + 4 * i));
    std::copy_n(in + 24, Reserved24.size(), Reserved24.begin());
    DefaultSizeKB = std::int32_t(GetU32(in + 36));
    Coincidence = std::int32_t(GetU32(in + 40));
    Reserved44 = std::int32_t(GetU32(in + 44));
    SearchOrder = std::int32_t(GetU32(in + 48));
    std::copy_n(in + 52, Reserved52.size(), Reserved52.begin());
    Title = ReadText(in + kTitleAt, kTitleUnits);
    Description = ReadText(in + kDescriptionAt, kDescriptionUnits);
    Extensions = ReadText(in + kExtensionsAt, kExtensionsUnits);
    NamePrefix = ReadText(in + kPrefixAt, kPrefixUnits);
    DescriptionUrl = ReadText(in + kUrlAt, kUrlUnits);
    std::copy_n(in + 1652, Reserved1652.size(), Reserved1652.begin());
}

std::size_t FileTypeDescriptor::Serialize(std::span<std::uint8_t> buffer) const {
    std::size_t total = kFixedBlockSize;
    for (const SignatureVariant& v : Signatures) total += VariantRecordSize(v);
    if (buffer.empty()) return total;
    if (buffer.size() < total) return 0;

    std::uint8_t* out = buffer.data();
    WriteFixedBlock(out);
    out += kFixedBlockSize;
    for (const SignatureVariant& v : Signatures) {
        std::memset(out, 0, kVariantHeaderSize);
        PutU32(out + 4, std::uint32_t(VariantRecordSize(v)));
        PutU32(out + 16, std::uint32_t(v.Conditions.size()));
        out += kVariantHeaderSize;
        for (const SignatureCondition& c : v.Conditions) {
            std::memset(out, 0, kConditionHeaderSize);
            PutU32(out, c.Kind);
            PutU32(out + 4, std::uint32_t(ConditionRecordSize(c)));
            PutU32(out + 8, c.Offset);
            PutU16(out + 12, c.Repeat);
            PutU16(out + 14, c.Length);
            std::copy(c.Data.begin(), c.Data.end(), out + kConditionHeaderSize);
            out += ConditionRecordSize(c);
        }
    }
    return total;
}

std::vector<std::uint8_t> FileTypeDescriptor::Record() const {
    std::vector<std::uint8_t> record(Serialize({}));
    Serialize(record);
    return record;
}

bool FileTypeDescriptor::Deserialize(std::span<const std::uint8_t> record) {
    if (record.size() < kFixedBlockSize) return false;
    const std::uint32_t count = GetU32(record.data() + kSignatureCountAt);
    std::span<const std::uint8_t> rest = record.subspan(kFixedBlockSize);
    // Every variant record takes at least its header, which bounds an honest count.
    if (count > rest.size() / kVariantHeaderSize) return false;

    std::vector<SignatureVariant> variants(count);
    for (SignatureVariant& v : variants) {
        const std::size_t used = ReadVariant(rest, v);
        if (used == 0) return false;
        rest = rest.subspan(used);
    }
    if (!rest.empty()) return false;

    ReadFixedBlock(record.data());
    Signatures = std::move(variants);
    return true;
}

void FileTypeDescriptor::AssignFixedBlock(const FileTypeDescriptor& other) {
    std::vector<SignatureVariant> keep = std::move(Signatures);
    const std::int32_t sizeRule = SizeRule, iconIndex = IconIndex;
    *this = other;
    Signatures = std::move(keep);
    SizeRule = sizeRule;
    IconIndex = iconIndex;
}

}  // namespace vm
