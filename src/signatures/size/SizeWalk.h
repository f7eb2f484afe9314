#pragma once
// Small tools shared by the archive and media size checks: fields of any width from the reader,
// CRC-32 over a span of the find, and where a deflate stream ends, found by decoding it.
#include <cstddef>
#include <cstdint>

#include "signatures/SizeCheck.h"
#include "signatures/size/SizeRead.h"

namespace vm {

// Field values from a byte buffer.
std::uint64_t LoadLe(const std::uint8_t* p, std::size_t bytes);
std::uint64_t LoadBe(const std::uint8_t* p, std::size_t bytes);

// A little- or big-endian field of `bytes` (1..8) at `offset`; false when unreadable.
bool ReadLe(CFindReader& reader, std::uint64_t offset, std::size_t bytes, std::uint64_t& value);
bool ReadBe(CFindReader& reader, std::uint64_t offset, std::size_t bytes, std::uint64_t& value);

// True when the bytes at `offset` are exactly `text` (a signature); false when unreadable too.
bool ReadMatches(CFindReader& reader, std::uint64_t offset, const char* text, std::size_t length);

// True when the four bytes at `p` are printable ASCII, as chunk and box names are.
bool IsFourCc(const std::uint8_t* p);

// The standard CRC-32 (zlib's) of `length` bytes at `offset`; false when unreadable.
bool Crc32Of(CFindReader& reader, std::uint64_t offset, std::uint64_t length, std::uint32_t& crc);

// How a decoded stream ended.
enum class StreamEnd { Ended, Cut, Corrupt };

struct StreamResult {
    StreamEnd How = StreamEnd::Corrupt;
    std::uint64_t End = 0;         // offset just after the stream, with Ended
    std::uint32_t Crc = 0;         // CRC-32 of the decoded bytes
    std::uint64_t DecodedSize = 0;
};

// Decodes the raw deflate stream at `offset` to its end (never past the reader's bound).
StreamResult InflateToEnd(CFindReader& reader, std::uint64_t offset);

// The answer for a walk that stopped: a cut or bounded find is Unknown; damage before any item
// was confirmed means the header only looked right.
SizeAnswer StoppedWalk(bool cut, bool anyConfirmed);

}  // namespace vm
