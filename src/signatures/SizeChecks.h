#pragma once
// The size checks of the formats that tell their own size, and the table that maps catalogue
// type ids to them.
#include <cstdint>
#include <span>

#include "signatures/SizeCheck.h"

namespace vm {

struct SizeCheckRow {
    std::int32_t TypeId;
    SizeCheckFunction Check;
};

// Every row, sorted by type id.
std::span<const SizeCheckRow> SizeCheckTable();

SizeAnswer JpegSize(CFindReader& reader);
SizeAnswer PngSize(CFindReader& reader);
SizeAnswer GifSize(CFindReader& reader);
SizeAnswer BmpSize(CFindReader& reader);
SizeAnswer IcoSize(CFindReader& reader);
SizeAnswer TiffSize(CFindReader& reader);
SizeAnswer PdfSize(CFindReader& reader);
SizeAnswer CompoundSize(CFindReader& reader);

}  // namespace vm
