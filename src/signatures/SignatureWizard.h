#pragma once
// Teaching the catalogue a new file type from sample files: the bits all samples share in their
// first 512 bytes become a masked signature, which the user may edit and extend with further
// variants before the type is built with its identifier, group, texts and extensions. Nothing
// here needs a window; the wizard's pages drive these steps.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "signatures/FileTypeDescriptor.h"

namespace vm {

class FileTypeCatalogue;

inline constexpr std::size_t kSampleBytes = 512;
inline constexpr std::int32_t kFirstUserTypeId = 1000;

struct SampleFile {
    std::string Name;
    std::vector<std::uint8_t> Head;  // the first bytes of the file, at most kSampleBytes
};

// One variant of the new type: a masked condition at offset 0 comparing the first
// CompareCount bytes where the mask is not 0.
struct MaskedVariant {
    std::array<std::uint8_t, kSampleBytes> Data{};
    std::array<std::uint8_t, kSampleBytes> Mask;
    std::size_t CompareCount = 0;
    MaskedVariant() { Mask.fill(0xFF); }
};

// Reads the head of every file in order. A file that cannot be read is logged, named in
// `unreadable` and left out: it would otherwise count as a sample of zeros.
std::vector<SampleFile> ReadSamples(const std::vector<std::string>& paths, std::vector<std::string>& unreadable);

// Keeps in the variant's mask only the bits every sample shares, with their value in the data.
// A byte that is not common in all its bits is cleared (the comparison takes whole bytes), and
// so is every position past the shortest sample's end. CompareCount becomes the length of the
// common prefix. → the analysis log ("Begin Analyse %d files." ...).
std::string AnalyseSamples(const std::vector<SampleFile>& samples, MaskedVariant& variant);

// The number of leading bytes whose mask is 0xFF.
std::size_t CommonPrefixLength(const MaskedVariant& variant);

// What the wizard asks about the type besides its signature.
struct NewTypeDetails {
    std::int32_t TypeId = 0;
    std::int32_t GroupId = 0;
    std::int32_t DefaultSizeKB = 1024;
    std::int32_t SearchOrder = 50;
    std::int32_t Coincidence = 100;
    std::string Extensions = "new";
    std::string NamePrefix = "newprefix";
    std::string Title;
    std::string Description;
    std::string DescriptionUrl;
};

// The proposals: the smallest free identifier from 1000 on, the first group, and the first
// sample's extension upper-cased.
NewTypeDetails ProposeDetails(const FileTypeCatalogue& catalogue, const std::vector<SampleFile>& samples);

// Builds the type. → an empty text, or why it is refused: an identifier below 1000 or already
// used, an unknown group, a variant comparing no byte or more than 512, a coincidence outside
// 0 to 100, or a record too large for a stored value or a signature file.
std::string BuildNewType(const FileTypeCatalogue& catalogue, const NewTypeDetails& details,
                         const std::vector<MaskedVariant>& variants, FileTypeDescriptor& type);

}  // namespace vm
