// Every registered size check over a valid signature followed by fuzzed bytes, read through the
// memory reader: no check may crash, hang, read outside its bytes (AddressSanitizer watches the
// reader's copies) or answer a size beyond them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "signatures/SizeCheck.h"
#include "signatures/SizeChecks.h"

namespace {

// The leading bytes a find of each checked format starts with; formats without a row here get
// the fuzzed bytes alone.
std::string_view SignatureOf(std::int32_t typeId) {
    using namespace std::literals;
    switch (typeId) {
        case 47: return "%PDF-1."sv;
        case 83: return "\xFF\xD8\xFF\xE1"sv;
        case 85: return "GIF89a"sv;
        case 88: return "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR"sv;
        case 87: case 95: case 114: case 116: case 118: return "II*\0"sv;  // TIFF, XIF and the raw formats
        case 525: return "BM\0\0\0\0\0\0\0\0"sv;
        case 90: return "\0\0\x01\0\x01\0"sv;  // ICO with one image
        case 320: return "\x60\xEA"sv;
        case 334: return "HA"sv;
        case 400: return "MZ"sv;
        case 94: case 200: case 524: return "RIFF"sv;
        case 141: case 170: case 181: return "\0\0\0\x18" "ftypmp42"sv;
        case 202: return "OggS\0\x02"sv;
        case 220: return "MThd\0\0\0\x06"sv;
        case 300: case 338: return "PK\x03\x04"sv;
        case 310: return "Rar!\x1A\x07"sv;
        case 331: case 344: return "\x1F\x8B\x08"sv;
        case 341: return "BZh91AY&SY"sv;
        case 345: return "7z\xBC\xAF\x27\x1C\0\x04"sv;
        default:
            if (typeId >= 500 && typeId < 525) return "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv;
            return {};  // the fuzzed bytes alone
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto table = vm::SizeCheckTable();
    const auto& row = table[data[0] % table.size()];
    const std::string_view signature = SignatureOf(row.TypeId);
    std::vector<std::uint8_t> bytes(signature.begin(), signature.end());
    bytes.insert(bytes.end(), data + 1, data + size);
    for (const auto& input : {bytes, std::vector<std::uint8_t>(data + 1, data + size)}) {
        vm::CMemoryFindReader reader(input);
        const vm::SizeAnswer a = row.Check(reader);
        if (a.Verdict == vm::SizeVerdict::Exact && (a.Size == 0 || a.Size > input.size())) std::abort();
    }
    return 0;
}
