// A bzip2 file is one or more streams ("BZh" and a block size, blocks, an end marker); only
// decoding a stream finds its end.
#include <bzlib.h>

#include <cstring>
#include <vector>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {

constexpr int kMaxStreams = 4096;
constexpr std::size_t kChunk = 64 * 1024;
enum class Parse { Ok, Cut, Bad };

// "BZh1".."BZh9" followed by the magic of a block or of the end of an empty stream.
bool StartsStream(CFindReader& reader, std::uint64_t at) {
    std::uint8_t h[10];
    if (!reader.Read(at, h, sizeof h)) return false;
    if (std::memcmp(h, "BZh", 3) != 0 || h[3] < '1' || h[3] > '9') return false;
    return std::memcmp(h + 4, "\x31\x41\x59\x26\x53\x59", 6) == 0 ||
           std::memcmp(h + 4, "\x17\x72\x45\x38\x50\x90", 6) == 0;
}

Parse DecodeStream(CFindReader& reader, std::uint64_t at, std::uint64_t& end) {
    bz_stream s{};
    if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return Parse::Bad;
    std::vector<std::uint8_t> in(kChunk), out(kChunk);
    Parse result = Parse::Bad;
    for (;;) {
        if (s.avail_in == 0) {
            std::size_t got = reader.ReadSome(at, in.data(), in.size());
            if (got == 0) {
                result = Parse::Cut;
                break;
            }
            at += got;
            s.next_in = reinterpret_cast<char*>(in.data());
            s.avail_in = unsigned(got);
        }
        s.next_out = reinterpret_cast<char*>(out.data());
        s.avail_out = unsigned(out.size());
        int rc = BZ2_bzDecompress(&s);
        if (rc == BZ_STREAM_END) {
            end = at - s.avail_in;
            result = Parse::Ok;
            break;
        }
        if (rc != BZ_OK) break;
    }
    BZ2_bzDecompressEnd(&s);
    return result;
}

}  // namespace

SizeAnswer CheckBzip2Size(CFindReader& reader) {
    if (!StartsStream(reader, 0)) return SizeAnswer::NotThisFormat();
    std::uint64_t end = 0;
    for (int streams = 0; streams == 0 || StartsStream(reader, end); ++streams) {
        std::uint64_t next = end;
        Parse p = streams < kMaxStreams ? DecodeStream(reader, end, next) : Parse::Cut;
        if (p == Parse::Cut) return SizeAnswer::Unknown();
        if (p == Parse::Bad) {
            if (streams == 0) return SizeAnswer::NotThisFormat();
            break;
        }
        end = next;
    }
    return SizeAnswer::Exact(end);
}

}  // namespace vm
