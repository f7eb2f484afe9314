// JPEG: the markers from SOI to EOI. Marker segments carry their length; the entropy-coded data
// after a scan header runs to the next marker that is neither a stuffed 0xFF00 nor a restart
// marker.
#include "signatures/SizeChecks.h"
#include "signatures/size/SizeRead.h"

namespace vm {
namespace {

using sizecheck::Be16;
using sizecheck::ReadByte;

constexpr int kEoi = 0xD9, kSos = 0xDA;

bool Standalone(int marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7); }

// The offset of the marker that ends the entropy-coded data starting at `from` (the 0xFF of it),
// or ~0 when the data runs past what can be read.
std::uint64_t SkipEntropyData(CFindReader& reader, std::uint64_t from) {
    std::uint8_t chunk[4096];
    bool lastWasFf = false;
    for (std::uint64_t at = from;;) {
        const std::size_t n = reader.ReadSome(at, chunk, sizeof chunk);
        if (n == 0) return ~0ull;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t b = chunk[i];
            if (lastWasFf && b != 0x00 && b != 0xFF && !(b >= 0xD0 && b <= 0xD7)) return at + i - 1;
            lastWasFf = b == 0xFF;
        }
        at += n;
    }
}

}  // namespace

SizeAnswer JpegSize(CFindReader& reader) {
    std::uint8_t head[2];
    if (!reader.Read(0, head, 2) || head[0] != 0xFF || head[1] != 0xD8) return SizeAnswer::NotThisFormat();
    std::uint64_t at = 2;
    int segments = 0;
    for (;; ++segments) {
        // Markers may be preceded by fill bytes 0xFF.
        int b = ReadByte(reader, at);
        if (b != 0xFF) break;
        int marker = 0xFF;
        while (marker == 0xFF) {
            marker = ReadByte(reader, ++at);
            if (marker < 0) return SizeAnswer::Unknown();
        }
        ++at;  // past the marker byte
        if (marker == kEoi) return SizeAnswer::Exact(at);
        if (Standalone(marker)) continue;
        if (marker == 0x00 || marker == 0xD8) break;
        std::uint8_t len[2];
        if (!reader.Read(at, len, 2)) return SizeAnswer::Unknown();
        const std::uint16_t length = Be16(len);
        if (length < 2) break;
        at += length;
        if (marker == kSos) {
            at = SkipEntropyData(reader, at);
            if (at == ~0ull) return SizeAnswer::Unknown();
        }
    }
    // A broken marker walk. When the first segment after SOI is not followed by a marker, the
    // header only looked like one; further on the file may be cut short or overwritten.
    return segments <= 1 ? SizeAnswer::NotThisFormat() : SizeAnswer::Unknown();
}

}  // namespace vm
