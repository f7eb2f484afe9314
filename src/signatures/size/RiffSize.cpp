// A RIFF file (WAV, AVI, CDR, ...) is one chunk: "RIFF", its size, the form type and the chunks
// of the form. The size says where the file ends; the chunks inside must fit that size.
#include <cstring>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {

constexpr unsigned kMaxChunks = 4096;
constexpr std::uint64_t kStreaming = 0xFFFFFFFF;  // size not filled in by the writer

std::uint64_t Padded(std::uint64_t size) { return size + (size & 1); }

}  // namespace

SizeAnswer CheckRiffSize(CFindReader& reader) {
    std::uint8_t h[12];
    if (!reader.Read(0, h, sizeof h)) return SizeAnswer::Unknown();
    const std::uint64_t size = LoadLe(h + 4, 4);
    if (std::memcmp(h, "RIFF", 4) != 0 || !IsFourCc(h + 8) || size < 4) return SizeAnswer::NotThisFormat();
    if (size == kStreaming) return SizeAnswer::Unknown();
    const std::uint64_t formEnd = 8 + size;
    // The chunks of the form, as far as the check may read: each a four-character code and a
    // size that keeps it inside the form (the last may lack its pad byte).
    unsigned chunks = 0;
    for (std::uint64_t pos = 12; pos + 8 <= formEnd && chunks < kMaxChunks; ++chunks) {
        std::uint8_t c[8];
        if (!reader.Read(pos, c, sizeof c)) break;
        const std::uint64_t next = pos + 8 + Padded(LoadLe(c + 4, 4));
        if (!IsFourCc(c) || next > formEnd + 1)
            return chunks == 0 ? SizeAnswer::NotThisFormat() : SizeAnswer::Unknown();
        pos = next;
    }
    if (chunks == 0 && size > 4) return SizeAnswer::Unknown();  // not one chunk could be read
    // Writers count a pad byte of the last chunk in the RIFF size, or leave both out: the file
    // ends where the size says either way.
    return sizecheck::Readable(reader, formEnd) ? SizeAnswer::Exact(formEnd) : SizeAnswer::Unknown();
}

}  // namespace vm
