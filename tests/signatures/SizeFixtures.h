#pragma once
// Small files of the formats whose size checks are tested, built byte by byte: each is a whole,
// well-formed file of its format.
#include <cstdint>
#include <string>
#include <vector>

namespace vmtest {

using Bytes = std::vector<std::uint8_t>;

// A baseline JPEG whose scan holds stuffed 0xFF00 bytes, restart markers and fill bytes. With a
// thumbnail, an Exif segment carries it so that it begins at byte `thumbnailAt` of the file.
Bytes MakeJpeg(std::size_t scanBytes, const Bytes& thumbnail = {}, std::size_t thumbnailAt = 0);
// A GIF with a global colour table, extensions, and image data holding trailer-like bytes.
Bytes MakeGif();
// A BMP of the given geometry whose size field says `stated` (0: the true size).
Bytes MakeBmp(std::int32_t width, std::int32_t height, std::uint16_t bpp, std::uint32_t stated = 0);
// A TIFF whose furthest byte is reached only through a sub-IFD; big-endian with `bigEndian`.
Bytes MakeTiff(bool bigEndian);
// A PDF with a cross-reference table, a stream that mentions "%%EOF", and with `updates`
// incremental updates appended.
Bytes MakePdf(int updates);
// A compound document of 512-byte sectors with a free sector between used ones and a mini FAT
// in its last sector.
Bytes MakeCompound();
// A PNG made by python3 and zlib (an independent writer); empty when python3 cannot run.
Bytes MakePng(const std::string& folder);

}  // namespace vmtest
