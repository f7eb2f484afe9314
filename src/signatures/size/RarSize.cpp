// A RAR archive is a chain of blocks, each header guarded by a CRC, up to an end-of-archive
// block. RAR 1.5-4.x and RAR 5 lay their blocks out differently.
#include <zlib.h>

#include <cstring>
#include <vector>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {

constexpr std::uint64_t kMaxBlocks = 1u << 20;
enum class Step { Next, End, Cut, Bad, Opaque };

bool ReadBlock(CFindReader& reader, std::uint64_t at, std::size_t length, std::vector<std::uint8_t>& out) {
    out.resize(length);
    return reader.Read(at, out.data(), length);
}

// ---- RAR 1.5-4.x: CRC16 (low half of CRC-32), type, flags, header size, then data ----

constexpr std::uint8_t kRar4Main = 0x73, kRar4File = 0x74, kRar4NewSub = 0x7A, kRar4End = 0x7B;

Step Rar4Block(CFindReader& reader, std::uint64_t& pos, std::vector<std::uint8_t>& h) {
    std::uint8_t fixed[7];
    if (!reader.Read(pos, fixed, sizeof fixed)) return Step::Cut;
    const std::uint8_t type = fixed[2];
    const unsigned flags = unsigned(LoadLe(fixed + 3, 2)), size = unsigned(LoadLe(fixed + 5, 2));
    if (type < 0x72 || type > kRar4End || size < 7) return Step::Bad;
    if (!ReadBlock(reader, pos, size, h)) return Step::Cut;
    if ((crc32(0, h.data() + 2, size - 2) & 0xFFFF) != LoadLe(fixed, 2)) return Step::Bad;
    std::uint64_t data = 0;
    if (flags & 0x8000) {  // a long block: a data size follows the fixed fields
        if (size < 11) return Step::Bad;
        data = LoadLe(&h[7], 4);
        if ((type == kRar4File || type == kRar4NewSub) && (flags & 0x100)) {
            if (size < 36) return Step::Bad;
            data |= LoadLe(&h[32], 4) << 32;
        }
    }
    if (data > reader.Limit()) return Step::Cut;  // larger than the check may read
    pos += size + data;
    return type == kRar4End ? Step::End : Step::Next;
}

// ---- RAR 5: CRC-32, header size (vint), type, flags, extra and data sizes (vints) ----

constexpr std::uint64_t kRar5MaxHeader = 2 * 1024 * 1024;
constexpr std::uint64_t kRar5Main = 1, kRar5Encryption = 4, kRar5End = 5;

// A variable-length number at `at` of `h`; false when it runs past the end.
bool Vint(const std::vector<std::uint8_t>& h, std::size_t& at, std::uint64_t& value) {
    value = 0;
    for (unsigned shift = 0; at < h.size() && shift < 64; shift += 7) {
        std::uint8_t b = h[at++];
        value |= std::uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

Step Rar5Block(CFindReader& reader, std::uint64_t& pos, std::vector<std::uint8_t>& h, std::uint64_t& type) {
    std::uint8_t fixed[7];
    if (!reader.Read(pos, fixed, sizeof fixed)) return Step::Cut;
    h.assign(fixed + 4, fixed + 7);
    std::size_t at = 0;
    std::uint64_t size = 0;
    if (!Vint(h, at, size) || size == 0 || size > kRar5MaxHeader) return Step::Bad;
    const std::size_t sizeBytes = at;
    if (!ReadBlock(reader, pos + 4, sizeBytes + std::size_t(size), h)) return Step::Cut;
    if (crc32(0, h.data(), uInt(h.size())) != LoadLe(fixed, 4)) return Step::Bad;
    std::uint64_t flags = 0, extra = 0, data = 0;
    if (!Vint(h, at, type) || !Vint(h, at, flags)) return Step::Bad;
    if ((flags & 1) && !Vint(h, at, extra)) return Step::Bad;
    if ((flags & 2) && !Vint(h, at, data)) return Step::Bad;
    if (type == 0 || type > kRar5End) return Step::Bad;
    if (data > reader.Limit()) return Step::Cut;
    pos += 4 + sizeBytes + size + data;
    if (type == kRar5Encryption) return Step::Opaque;  // the headers after it are encrypted
    return type == kRar5End ? Step::End : Step::Next;
}

SizeAnswer Walk(CFindReader& reader, bool rar5) {
    std::vector<std::uint8_t> h;
    std::uint64_t pos = rar5 ? 8 : 7;
    for (std::uint64_t blocks = 0; blocks < kMaxBlocks && pos < reader.Limit(); ++blocks) {
        std::uint64_t type = 0;
        Step step = rar5 ? Rar5Block(reader, pos, h, type) : Rar4Block(reader, pos, h);
        if (!rar5 && step != Step::Cut && step != Step::Bad) type = h[2];
        // The main archive header comes first.
        if (blocks == 0 && step != Step::Cut && step != Step::Opaque && type != (rar5 ? kRar5Main : kRar4Main))
            return SizeAnswer::NotThisFormat();
        if (step == Step::End) return sizecheck::Readable(reader, pos) ? SizeAnswer::Exact(pos) : SizeAnswer::Unknown();
        if (step == Step::Opaque) return SizeAnswer::Unknown();
        if (step != Step::Next) return StoppedWalk(step == Step::Cut, blocks > 0);
    }
    return SizeAnswer::Unknown();
}

}  // namespace

SizeAnswer CheckRarSize(CFindReader& reader) {
    std::uint8_t sig[8];
    if (!reader.Read(0, sig, 7)) return SizeAnswer::Unknown();
    if (std::memcmp(sig, "Rar!\x1A\x07\x00", 7) == 0) return Walk(reader, false);
    if (!reader.Read(0, sig, 8)) return SizeAnswer::Unknown();
    if (std::memcmp(sig, "Rar!\x1A\x07\x01\x00", 8) == 0) return Walk(reader, true);
    return SizeAnswer::NotThisFormat();
}

}  // namespace vm
