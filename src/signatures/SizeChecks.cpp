#include "signatures/SizeChecks.h"

#include <algorithm>
#include <iterator>

#include "signatures/size/ArchiveMediaSizes.h"

namespace vm {
namespace {

// One row per catalogue type whose files tell their own size; sorted by type id.
constexpr SizeCheckRow kSizeChecks[] = {
    {47, PdfSize},        // PDF
    {83, JpegSize},       // JPEG
    {85, GifSize},        // GIF
    {87, TiffSize},       // TIFF
    {88, PngSize},        // PNG
    {90, IcoSize},        // ICO
    {94, CheckRiffSize},  // CDR (RIFF)
    {95, TiffSize},       // XIF: a little-endian TIFF
    {114, TiffSize},      // NEF
    {116, TiffSize},      // PEF
    {118, TiffSize},      // SRF
    // -- archive and media formats --
    {141, CheckMp4Size},       // MP4
    {170, CheckMp4Size},       // QuickTime
    {181, CheckMp4Size},       // 3GP
    {200, CheckRiffSize},      // WAV
    {202, CheckOggSize},       // OGG
    {220, CheckMidiSize},      // MIDI
    {300, CheckZipSize},       // ZIP
    {310, CheckRarSize},       // RAR
    {320, CheckArjSize},       // ARJ
    {331, CheckGzipSize},      // GZIP
    {334, CheckHaSize},        // HA
    {338, CheckZipSize},       // JAR
    {339, CheckCompressSize},  // Z: never a size, but random bytes after 1F 9D are no stream
    {341, CheckBzip2Size},     // BZIP2
    {344, CheckGzipSize},      // GZ
    {345, CheckSevenZipSize},  // 7Z
    {400, CheckExeSize},       // DOS and Windows executables
    {500, CompoundSize},  // compound documents and the types their directories tell
    {501, CompoundSize},
    {502, CompoundSize},
    {503, CompoundSize},
    {505, CompoundSize},
    {506, CompoundSize},
    {507, CompoundSize},
    {508, CompoundSize},
    {520, CompoundSize},
    {521, CompoundSize},
    {522, CompoundSize},
    {523, CompoundSize},
    {524, CheckRiffSize},  // AVI
    {525, BmpSize},       // BMP
};

constexpr bool Sorted() {
    for (std::size_t i = 1; i < std::size(kSizeChecks); ++i)
        if (kSizeChecks[i - 1].TypeId >= kSizeChecks[i].TypeId) return false;
    return true;
}
static_assert(Sorted(), "size-check rows must be sorted by type id, one row per type");

}  // namespace

std::span<const SizeCheckRow> SizeCheckTable() { return kSizeChecks; }

SizeCheckFunction FindSizeCheck(std::int32_t typeId) {
    const auto it = std::lower_bound(std::begin(kSizeChecks), std::end(kSizeChecks), typeId,
                                     [](const SizeCheckRow& row, std::int32_t id) { return row.TypeId < id; });
    return it != std::end(kSizeChecks) && it->TypeId == typeId ? it->Check : nullptr;
}

}  // namespace vm
