#pragma once
// exFAT directory entries: the entry sets of a directory buffer (a file entry, its stream
// extension and its name entries, live or deleted) decoded into names, clusters, sizes and times,
// and the volume-label entry. Pure functions over bytes, so that any thread and the fuzzer can
// run them on a buffer of their own.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vm {

constexpr std::size_t kExfatEntrySize = 32;
constexpr std::size_t kExfatMaxNameUnits = 255;

// One entry set that names a file or a folder.
struct ExfatDirEntry {
    std::string Name;                     // UTF-8, from at most 255 UTF-16 units
    std::uint16_t Attributes = 0;
    bool Deleted = false;                 // the in-use bits of the set are clear
    bool NoFatChain = false;              // the data lies contiguously from FirstCluster
    std::uint32_t FirstCluster = 0;
    std::uint64_t DataLength = 0;
    std::uint64_t ValidDataLength = 0;    // bytes past it read as zeros
    std::uint64_t CreateTime = 0, WriteTime = 0, AccessTime = 0;  // FILETIME, UTC
    std::size_t Index = 0;                // position of the file entry in the buffer, in entries

    bool IsFolder() const { return (Attributes & 0x10) != 0; }
};

// What a walk over a buffer met besides the sets it visited.
struct ExfatDirStats {
    std::size_t BadChecksums = 0;  // sets whose checksum did not hold: not visited
    std::size_t Broken = 0;        // file entries without a sound stream extension or name
};

// Calls `visit` for every entry set of the buffer that names a file or a folder, in order,
// whose set checksum holds (a deleted set is checked with its in-use bits set again). The
// end-of-directory mark does not end the walk: deleted sets may lie beyond it. `visit` answers
// false to stop. Returns the number of sets visited.
std::size_t ParseExfatDirectory(const std::uint8_t* data, std::size_t size,
                                const std::function<bool(const ExfatDirEntry&)>& visit, ExfatDirStats* stats = nullptr);

// The checksum of an entry set of `entries` entries (the set's own checksum field left out).
std::uint16_t ExfatSetChecksum(const std::uint8_t* set, std::size_t entries);

// The text of the buffer's live volume-label entry; false when it holds none.
bool ExfatVolumeLabel(const std::uint8_t* data, std::size_t size, std::string& label);

// An exFAT time stamp (DOS date and time in one 32-bit value), its 10-ms count and its UTC
// offset byte as a UTC FILETIME; without a valid offset the time counts as this machine's local
// time. 0 for an empty or impossible date.
std::uint64_t ExfatTimeToFileTime(std::uint32_t stamp, std::uint8_t tenMs, std::uint8_t utcOffset);

}  // namespace vm
