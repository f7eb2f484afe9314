#pragma once
// One file type or group of the catalogue: a fixed block of 1956 bytes stored byte for byte
// (integers little-endian, texts UTF-16LE in fixed fields, held here as UTF-8), followed in the
// stored record by its signature variants. The stored record is also the signature-file format.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "signatures/Signature.h"

namespace vm {

inline constexpr std::size_t kFixedBlockSize = 1956;
inline constexpr std::size_t kVariantHeaderSize = 20;
inline constexpr std::size_t kConditionHeaderSize = 32;
// The longest record the registry store and signature files carry.
inline constexpr std::size_t kMaxStoredRecord = 16383;

class FileTypeDescriptor {
public:
    // Fixed block, with the values of a new descriptor.
    std::int32_t TypeId = 0;
    std::int32_t GroupId = 0;
    std::int32_t Checked = 1;
    std::int32_t FilterChecked = 0;
    std::int32_t Visible = 1;
    std::int32_t IsGroup = 0;
    std::array<std::uint8_t, 12> Reserved24{};
    std::int32_t DefaultSizeKB = 1024;
    std::int32_t Coincidence = 100;
    std::int32_t Reserved44 = 50;
    std::int32_t SearchOrder = 50;
    std::array<std::uint8_t, 100> Reserved52{};
    std::string Title;           // 100 UTF-16 units in the block, NUL included
    std::string Description;     // 260 units
    std::string Extensions;      // 100 units: "JPG,JPEG" or "DJVU;DJV", the first is the default
    std::string NamePrefix;      // 30 units
    std::string DescriptionUrl;  // 260 units
    std::array<std::uint8_t, 300> Reserved1652{};

    // Run-time fields, not stored.
    std::vector<SignatureVariant> Signatures;
    std::int32_t SizeRule = 0;   // set by recovery for lost files of this type
    std::int32_t IconIndex = -1; // position in a type tree's image list

    std::int32_t SignatureCount() const { return std::int32_t(Signatures.size()); }

    // Any variant holds at the unit (`unit` runs from the unit's start to the end of its block).
    bool Matches(std::span<const std::uint8_t> unit) const;

    // A new variant with one condition.
    SignatureVariant& AddBytes(std::uint32_t kind, std::span<const std::uint8_t> data,
                               std::uint32_t offset, std::uint16_t length = 0,
                               std::uint16_t repeat = 0);
    // The same for the value kinds: width 1, 2, 4 or 8 (any other width is taken as 8); the
    // value is compared little-endian.
    SignatureVariant& AddValue(unsigned width, std::uint64_t value, std::uint32_t offset,
                               std::uint16_t repeat = 0);

    // Extensions up to the first "," or ";" (the whole text when it has neither or starts
    // with one).
    std::string GetFirstExtension() const;
    // The registry value name: "GroupId.TypeId.Title.FirstExtension".
    std::string RegistryValueName() const;

    // The stored record. With an empty buffer only the byte count is returned; a buffer too
    // small for the record gets nothing and 0 is returned.
    std::size_t Serialize(std::span<std::uint8_t> buffer) const;
    std::vector<std::uint8_t> Record() const;

    // Builds the descriptor from a stored record. A record whose lengths or counts do not fit
    // the bytes given, or that leaves bytes over, is refused: false, and nothing changes.
    bool Deserialize(std::span<const std::uint8_t> record);
    // Takes over the other descriptor's fixed block; variants and run-time fields stay.
    void AssignFixedBlock(const FileTypeDescriptor& other);

private:
    void WriteFixedBlock(std::uint8_t* out) const;
    void ReadFixedBlock(const std::uint8_t* in);
};

}  // namespace vm
