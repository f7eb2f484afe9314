// PDF: the file ends after its last "%%EOF" marker. Incremental updates append further sections,
// each with its own marker, so the walk goes on past a marker while what follows it reads as
// more of the file. A marker counts when the "startxref" before it points back at a
// cross-reference table or stream inside the file.
#include <cctype>
#include <cstring>
#include <string_view>
#include <vector>

#include "signatures/SizeChecks.h"
#include "signatures/size/SizeRead.h"

namespace vm {
namespace {

constexpr std::string_view kEof = "%%EOF";
constexpr std::size_t kChunk = 65536;
constexpr std::size_t kTrailerWindow = 1024;  // the "startxref" line lies this close before the marker
constexpr std::size_t kPeek = 64;

bool PdfSpace(std::uint8_t c) { return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }

// The number after `at` in `text` (PDF white space before it); false when none follows.
bool NumberAfter(std::string_view text, std::size_t at, std::uint64_t& number) {
    while (at < text.size() && PdfSpace(std::uint8_t(text[at]))) ++at;
    std::size_t digits = 0;
    number = 0;
    for (; at < text.size() && std::isdigit(std::uint8_t(text[at])) && digits < 19; ++at, ++digits)
        number = number * 10 + std::uint64_t(text[at] - '0');
    return digits > 0;
}

// Whether a cross-reference table ("xref") or stream ("N G obj") begins at `at`, before `marker`.
bool XrefAt(CFindReader& reader, std::uint64_t at, std::uint64_t marker) {
    char head[4] = {};
    if (at >= marker || !reader.Read(at, head, sizeof head)) return false;
    return std::memcmp(head, "xref", 4) == 0 || std::isdigit(std::uint8_t(head[0]));
}

// Whether the "startxref" before the marker at `marker` names a cross-reference section before
// it, and the trailer's link to the previous section (/Prev) does too.
bool StartXrefHolds(CFindReader& reader, std::uint64_t marker) {
    const std::uint64_t from = marker > kTrailerWindow ? marker - kTrailerWindow : 0;
    char tail[kTrailerWindow];
    const std::size_t n = std::size_t(marker - from);
    if (!reader.Read(from, tail, n)) return false;
    const std::string_view text(tail, n);
    const std::size_t key = text.rfind("startxref");
    std::uint64_t xref = 0;
    if (key == std::string_view::npos || !NumberAfter(text, key + 9, xref) || !XrefAt(reader, xref, marker))
        return false;
    const std::size_t trailer = text.rfind("trailer", key);
    const std::size_t prev = trailer == std::string_view::npos ? trailer : text.find("/Prev", trailer);
    if (prev == std::string_view::npos || prev > key) return true;
    std::uint64_t previous = 0;
    return NumberAfter(text, prev + 5, previous) && XrefAt(reader, previous, xref);
}

// The end of the file when it ends at the marker at `marker`: the marker and its end of line.
std::uint64_t EndAfterMarker(CFindReader& reader, std::uint64_t marker) {
    std::uint64_t end = marker + kEof.size();
    const int c = sizecheck::ReadByte(reader, end);
    if (c == '\r') {
        ++end;
        if (sizecheck::ReadByte(reader, end) == '\n') ++end;
    } else if (c == '\n') {
        ++end;
    }
    return end;
}

// Whether the bytes after `end` read as another section of the same file.
bool MoreFollows(CFindReader& reader, std::uint64_t end) {
    std::uint8_t next[kPeek];
    const std::size_t n = reader.ReadSome(end, next, sizeof next);
    std::size_t i = 0;
    while (i < n && PdfSpace(next[i])) ++i;
    if (i == n) return false;
    const std::string_view rest(reinterpret_cast<const char*>(next + i), n - i);
    return std::isdigit(next[i]) || rest.starts_with("xref") || rest.starts_with("trailer") ||
           (rest.starts_with("%") && !rest.starts_with("%PDF-"));
}

// Where another PDF begins at a sector of its own within the chunk at `at` (a multiple of the
// chunk size): the search ends there. The chunk's size when none does.
std::size_t NextPdfStart(std::string_view text, std::uint64_t at) {
    for (std::size_t i = at == 0 ? 512 : 0; i < std::min(text.size(), kChunk); i += 512)
        if (text.substr(i, 5) == "%PDF-") return i;
    return text.size();
}

}  // namespace

SizeAnswer PdfSize(CFindReader& reader) {
    char head[5];
    if (!reader.Read(0, head, sizeof head)) return SizeAnswer::Unknown();
    if (std::memcmp(head, "%PDF-", 5) != 0) return SizeAnswer::NotThisFormat();
    // Chunks overlap by the marker's length less one, so that no marker is split.
    std::vector<char> chunk(kChunk + kEof.size() - 1);
    for (std::uint64_t at = 0;; at += kChunk) {
        const std::size_t n = reader.ReadSome(at, chunk.data(), chunk.size());
        const std::string_view text(chunk.data(), n);
        const std::size_t stop = NextPdfStart(text, at);
        for (std::size_t p = text.find(kEof); p < stop && p < kChunk; p = text.find(kEof, p + 1)) {
            const std::uint64_t marker = at + p;
            if (!StartXrefHolds(reader, marker)) continue;
            const std::uint64_t end = EndAfterMarker(reader, marker);
            if (!MoreFollows(reader, end)) return SizeAnswer::Exact(end);
        }
        if (stop < n || n < chunk.size()) break;
    }
    // No end, or an update that begins and never ends: the file is cut short or longer than
    // the bound.
    return SizeAnswer::Unknown();
}

}  // namespace vm
