#include "filesystem/FoundStore.h"

#include <cstring>

namespace vm {

FoundItem* CItemSlabs::New(const FoundItem& from) {
    if (UsedInLast == kPerSlab) {
        Slabs.reserve(Slabs.size() + 1);
        Slabs.push_back(std::make_unique<FoundItem[]>(kPerSlab));
        UsedInLast = 0;
    }
    FoundItem* item = &Slabs.back()[UsedInLast++];
    *item = from;
    return item;
}

void CItemSlabs::Release() {
    Slabs.clear();
    Slabs.shrink_to_fit();
    UsedInLast = kPerSlab;
}

std::size_t CItemSlabs::Count() const {
    return Slabs.empty() ? 0 : (Slabs.size() - 1) * kPerSlab + UsedInLast;
}

namespace {
// The length of at most `limit` bytes of `text` that ends on a UTF-8 character boundary.
std::size_t BoundedLength(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}
}  // namespace

const char* CNameStore::Copy(std::string_view text) {
    const std::size_t length = BoundedLength(text, kMaxName);
    const std::size_t need = length + 1;
    if (kBlock - UsedInLast < need) {
        Blocks.reserve(Blocks.size() + 1);
        Blocks.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
        UsedInLast = 0;
    }
    char* out = Blocks.back().get() + UsedInLast;
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
    UsedInLast += need;
    Used += need;
    return out;
}

void CNameStore::Release() {
    Blocks.clear();
    Blocks.shrink_to_fit();
    UsedInLast = kBlock;
    Used = 0;
}

}  // namespace vm
