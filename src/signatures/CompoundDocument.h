#pragma once
// Old Office documents and other compound files share one header signature: their real type is
// told by the names of the streams in their directory.
#include <cstdint>
#include <span>

#include "filesystem/FoundItem.h"

namespace vm {

class CVolume;

constexpr std::int16_t kCompoundTypeId = 500;
constexpr std::size_t kCompoundDirectoryBytes = 12800;  // 100 entries of 128 bytes

// The type of a compound document found at item.DataOffset (the header is `unit`, 512 bytes);
// sets item.Size to the bound the header gives. 0 when the directory cannot be read (the find
// is then dropped), 500 when no stream name tells more.
std::int16_t AnalyseCompound(CVolume& volume, std::span<const std::uint8_t> unit, FoundItem& item);

// The type told by the first stream name of the directory that names one, else 500.
std::int16_t ClassifyCompoundDirectory(std::span<const std::uint8_t> directory);

}  // namespace vm
