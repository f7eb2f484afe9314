#pragma once
// Chooses and makes the file-system analyser for a drive by its file-system type code.
#include <cstdint>
#include <functional>
#include <memory>

#include "filesystem/FileSystem.h"

namespace vm {

class CVolume;

// The analyser that reads a file system of that type on the volume; null, after logging
// "No file system detected! File system analysis skipped.", when no analyser reads it.
std::unique_ptr<CFileSystem> CreateAnalyser(std::uint32_t typeCode, CVolume* volume);

// Id of the root folder of that file-system type: 0 for FAT12/16, 2 for FAT32, 5 for NTFS, 1 for exFAT; -1
// for a type without analyser.
std::int32_t AnalyserRootId(std::uint32_t typeCode);

// Replaces the analyser made for one type code (an empty maker restores the built-in one).
// Returns the maker it replaces.
using AnalyserMaker = std::function<std::unique_ptr<CFileSystem>(CVolume* volume)>;
AnalyserMaker SetAnalyserMaker(std::uint32_t typeCode, AnalyserMaker maker);

}  // namespace vm
