// An Ogg file is a run of CRC-guarded pages; its logical streams open with begin-of-stream pages
// and close with end-of-stream pages. The file ends with the last of those closing pages.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "signatures/size/ArchiveMediaSizes.h"
#include "signatures/size/SizeWalk.h"

namespace vm {

namespace {

constexpr std::size_t kPageHeader = 27;
constexpr std::size_t kMaxStreams = 64;
constexpr std::uint8_t kBeginOfStream = 0x02, kEndOfStream = 0x04;
enum class Step { Ok, Cut, Bad };

// Ogg's CRC-32: polynomial 0x04C11DB7, most significant bit first, no reflection.
std::uint32_t OggCrc(const std::vector<std::uint8_t>& page) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < page.size(); ++i) {
        std::uint8_t b = (i >= 22 && i < 26) ? 0 : page[i];  // the CRC field counts as zero
        crc = (crc << 8) ^ table[((crc >> 24) ^ b) & 0xFF];
    }
    return crc;
}

// Reads and checks the page at `pos` into `page`.
Step ReadPage(CFindReader& reader, std::uint64_t pos, std::vector<std::uint8_t>& page) {
    std::uint8_t h[kPageHeader];
    if (!reader.Read(pos, h, sizeof h)) return Step::Cut;
    if (std::memcmp(h, "OggS", 4) != 0 || h[4] != 0) return Step::Bad;
    std::uint8_t lacing[255];
    const std::size_t segments = h[26];
    if (!reader.Read(pos + kPageHeader, lacing, segments)) return Step::Cut;
    std::size_t body = 0;
    for (std::size_t i = 0; i < segments; ++i) body += lacing[i];
    page.resize(kPageHeader + segments + body);  // at most 65307 bytes
    if (!reader.Read(pos, page.data(), page.size())) return Step::Cut;
    return OggCrc(page) == LoadLe(&page[22], 4) ? Step::Ok : Step::Bad;
}

struct Streams {
    std::vector<std::uint32_t> Open;
    bool PastBeginnings = false;

    // False when the page does not belong to this file's streams.
    bool Take(std::uint8_t flags, std::uint32_t serial) {
        auto it = std::find(Open.begin(), Open.end(), serial);
        if (flags & kBeginOfStream) {
            if (PastBeginnings || it != Open.end() || Open.size() >= kMaxStreams) return false;
            Open.push_back(serial);
            it = Open.end() - 1;
        } else {
            PastBeginnings = true;
            if (it == Open.end()) return false;
        }
        if (flags & kEndOfStream) Open.erase(it);
        return true;
    }
};

}  // namespace

SizeAnswer CheckOggSize(CFindReader& reader) {
    std::vector<std::uint8_t> page;
    Streams streams;
    std::uint64_t pos = 0;
    for (std::uint64_t pages = 0; pos < reader.Limit(); ++pages) {
        Step step = ReadPage(reader, pos, page);
        if (step != Step::Ok) return StoppedWalk(step == Step::Cut, pages > 0);
        if (pages == 0 && !(page[5] & kBeginOfStream)) return SizeAnswer::NotThisFormat();
        if (!streams.Take(page[5], std::uint32_t(LoadLe(&page[14], 4))))
            return pages == 0 ? SizeAnswer::NotThisFormat() : SizeAnswer::Unknown();
        pos += page.size();
        if (streams.Open.empty()) return SizeAnswer::Exact(pos);
    }
    return SizeAnswer::Unknown();
}

}  // namespace vm
