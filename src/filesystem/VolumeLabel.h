#pragma once
// The label of a volume as the operating system shows it: for FAT the root directory's
// volume-label entry (the boot sector's copy when there is none; "NO NAME" there is no label),
// for NTFS the $VOLUME_NAME of $Volume (record 3), for exFAT the root directory's label entry.
// Reads only what it needs through the reader it is given; runs on the caller's thread.
#include <cstdint>
#include <functional>
#include <string>

namespace vm {

// Reads `count` 512-byte sectors from sector `first` of the volume; bytes read, 0 on failure.
using LabelSectorReader = std::function<std::uint32_t(void* buffer, std::uint64_t first, std::uint64_t count)>;

// The label of a volume of that file-system type code with that boot sector (at least 512
// bytes), in UTF-8 without trailing blanks; empty when it has none or it cannot be read.
// `totalSectors` (512-byte units, 0 when unknown) bounds what is read.
std::string ReadVolumeLabel(std::uint32_t typeCode, const std::uint8_t* boot, std::uint64_t totalSectors,
                            const LabelSectorReader& read);

// The label that a FAT boot sector carries at `labelAt` (11 bytes, OEM code page); empty for
// "NO NAME" and blanks.
std::string FatBootSectorLabel(const std::uint8_t* boot, std::uint32_t labelAt);

}  // namespace vm
