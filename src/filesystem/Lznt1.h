#pragma once
// The LZNT1 decoder of NTFS compressed files. Input is hostile: every back reference and chunk
// length is checked, and nothing is written past the output buffer.
#include <cstddef>
#include <cstdint>

namespace vm {

// Decodes the chunks at `in` (inSize bytes) into `out` (outSize bytes). Each chunk stands for
// 4096 bytes of output; a chunk that yields fewer is padded with zeros. Decoding stops at the
// end marker (a zero chunk header), at the end of either buffer or at a malformed chunk.
// Returns the bytes of `out` written; the caller zero-fills the rest.
std::size_t Lznt1Decompress(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize);

}  // namespace vm
