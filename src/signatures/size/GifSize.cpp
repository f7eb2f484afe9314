// GIF: the screen descriptor and its colour table, then image and extension blocks (each a run
// of length-prefixed sub-blocks) up to the trailer.
#include <cstring>

#include "signatures/SizeChecks.h"
#include "signatures/size/SizeRead.h"

namespace vm {
namespace {

using sizecheck::ReadByte;

constexpr int kImage = 0x2C, kExtension = 0x21, kTrailer = 0x3B;

std::uint64_t ColourTableBytes(std::uint8_t flags) { return (flags & 0x80) ? 3ull << ((flags & 7) + 1) : 0; }

// The offset past the sub-blocks starting at `at` (past their zero terminator), ~0 when they
// cannot be read.
std::uint64_t SkipSubBlocks(CFindReader& reader, std::uint64_t at) {
    for (;;) {
        const int length = ReadByte(reader, at);
        if (length < 0) return ~0ull;
        ++at;
        if (length == 0) return at;
        at += std::uint64_t(length);
    }
}

}  // namespace

SizeAnswer GifSize(CFindReader& reader) {
    std::uint8_t head[13];
    if (!reader.Read(0, head, sizeof head)) return SizeAnswer::Unknown();
    if (std::memcmp(head, "GIF87a", 6) != 0 && std::memcmp(head, "GIF89a", 6) != 0) return SizeAnswer::NotThisFormat();
    std::uint64_t at = sizeof head + ColourTableBytes(head[10]);
    bool blockSeen = false;
    for (;;) {
        const int block = ReadByte(reader, at);
        if (block < 0) return SizeAnswer::Unknown();
        if (block == kTrailer) return blockSeen ? SizeAnswer::Exact(at + 1) : SizeAnswer::NotThisFormat();
        if (block == kImage) {
            std::uint8_t desc[10];
            if (!reader.Read(at, desc, sizeof desc)) return SizeAnswer::Unknown();
            at += sizeof desc + ColourTableBytes(desc[9]);
            const int codeSize = ReadByte(reader, at);
            if (codeSize < 0) return SizeAnswer::Unknown();
            if (codeSize < 1 || codeSize > 11) break;
            at = SkipSubBlocks(reader, at + 1);
        } else if (block == kExtension) {
            at = SkipSubBlocks(reader, at + 2);  // introducer and label
        } else {
            break;
        }
        if (at == ~0ull) return SizeAnswer::Unknown();
        blockSeen = true;
    }
    // Neither image, extension nor trailer: before the first block the header only looked like
    // one; after it the file was cut short or overwritten.
    return blockSeen ? SizeAnswer::Unknown() : SizeAnswer::NotThisFormat();
}

}  // namespace vm
