#include "filesystem/FoundStore.h"

#include <cstring>
#include <new>

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

bool CNodePool::IsCell(std::size_t bytes, std::size_t align) const {
    return bytes == CellSize && align <= alignof(std::max_align_t) && bytes % align == 0;
}

void* CNodePool::do_allocate(std::size_t bytes, std::size_t align) {
    if (CellSize == 0 && bytes >= sizeof(void*) && bytes % alignof(void*) == 0) CellSize = bytes;
    if (!IsCell(bytes, align)) return ::operator new(bytes, std::align_val_t(align));
    if (FreeList) {
        void* cell = FreeList;
        FreeList = *static_cast<void**>(cell);
        return cell;
    }
    if (UsedInLast == kCellsPerBlock) {
        Blocks.reserve(Blocks.size() + 1);
        Blocks.push_back(std::make_unique_for_overwrite<std::byte[]>(CellSize * kCellsPerBlock));
        UsedInLast = 0;
    }
    return Blocks.back().get() + CellSize * UsedInLast++;
}

void CNodePool::do_deallocate(void* p, std::size_t bytes, std::size_t align) {
    if (!IsCell(bytes, align)) {
        ::operator delete(p, std::align_val_t(align));
        return;
    }
    *static_cast<void**>(p) = FreeList;
    FreeList = p;
}

void CNodePool::Release() {
    Blocks.clear();
    Blocks.shrink_to_fit();
    UsedInLast = kCellsPerBlock;
    FreeList = nullptr;
}

}  // namespace vm
