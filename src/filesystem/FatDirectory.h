#pragma once
// FAT directory entries: the 32-byte records of a directory buffer, decoded into names, first
// clusters, sizes and times. Pure functions over bytes, so that any thread (the directory walk,
// the sector-search workers) and the fuzzer can run them on a buffer of their own.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vm {

constexpr std::size_t kFatEntrySize = 32;

// One entry that names a file or a folder.
struct FatDirEntry {
    std::string Name;                 // UTF-8: the long name, or the 8.3 name built from the entry
    std::uint8_t Attributes = 0;
    std::uint32_t FirstCluster = 0;   // high word only on FAT32
    std::uint32_t Size = 0;
    bool Deleted = false;             // first name byte 0xE5
    std::uint16_t CreateDate = 0, CreateTime = 0, WriteDate = 0, WriteTime = 0, AccessDate = 0;
    std::uint8_t CreateTenths = 0;    // 10-ms units, 0..199
    std::size_t Index = 0;            // position of the entry in the buffer, in entries

    bool IsFolder() const { return (Attributes & 0x10) != 0; }
};

// The validity test every entry must pass before it is looked at further (at least 32 bytes).
bool FatEntryValid(const std::uint8_t* entry);
// "." or ".." entry with the directory bit.
bool FatIsDotEntry(const std::uint8_t* entry);
// True when the buffer starts the way every subdirectory starts: a "." entry with the directory
// bit followed by a ".." entry.
bool FatLooksLikeDirectoryStart(const std::uint8_t* data, std::size_t size);
// The first cluster an entry names (the high word counts only on FAT32).
std::uint32_t FatEntryCluster(const std::uint8_t* entry, bool fat32);

// Calls `visit` for every valid entry of the buffer that names a file or a folder, in order
// (long-name pieces, the volume label, "." and ".." are not visited; the end-of-directory mark
// does not end the walk). `visit` answers false to stop. Returns the number of entries visited.
std::size_t ParseFatDirectory(const std::uint8_t* data, std::size_t size, bool fat32,
                              const std::function<bool(const FatDirEntry&)>& visit);

// A FAT date and time (local time of the machine that wrote them) as a UTC FILETIME, converted
// with this machine's time zone; 0 for an empty or impossible date.
std::uint64_t FatTimeToFileTime(std::uint16_t date, std::uint16_t time, std::uint8_t tenths = 0);

}  // namespace vm
