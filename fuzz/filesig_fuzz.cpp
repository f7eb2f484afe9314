// Feeds arbitrary bytes to the signature-file reader: a record is either refused or read back
// exactly as it was, and reading it never touches a byte outside the input.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "app/Log.h"
#include "signatures/FileTypeDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool quiet = (vm::Log().SetTimeStamps(false), true);
    (void)quiet;
    if (size > vm::kMaxStoredRecord) return 0;  // refused by length before it is parsed
    vm::FileTypeDescriptor type;
    if (!type.Deserialize(std::span<const std::uint8_t>(data, size))) return 0;
    std::vector<std::uint8_t> unit(512, 0);
    (void)type.Matches(unit);
    const std::vector<std::uint8_t> again = type.Record();
    vm::FileTypeDescriptor reread;
    if (!reread.Deserialize(again) || reread.Record() != again) __builtin_trap();
    return 0;
}
