// Arbitrary stored file-type records (the registry value and the .filesig format).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "signatures/FileTypeDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vm::FileTypeDescriptor d;
    if (!d.Deserialize(std::span<const std::uint8_t>(data, size))) return 0;
    // A record that was taken must store again and match units without reading past them.
    std::vector<std::uint8_t> again = d.Record();
    std::vector<std::uint8_t> unit(512, 0);
    (void)d.Matches(unit);
    vm::FileTypeDescriptor e;
    if (!e.Deserialize(again)) __builtin_trap();
    return 0;
}
