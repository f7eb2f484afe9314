#pragma once
// Storage behind the found-items tree. A drive can yield millions of items, so items live in
// slabs, names are packed into blocks and index nodes come from a pool of fixed-size cells,
// instead of one heap block each. Nothing moves once handed out; Release frees everything.
#include <cstddef>
#include <memory>
#include <memory_resource>
#include <string_view>
#include <vector>

#include "filesystem/FoundItem.h"

namespace vm {

// Found items at stable addresses.
class CItemSlabs {
public:
    FoundItem* New(const FoundItem& from);  // throws std::bad_alloc
    void Release();
    std::size_t Count() const;

private:
    static constexpr std::size_t kPerSlab = 2048;
    std::vector<std::unique_ptr<FoundItem[]>> Slabs;
    std::size_t UsedInLast = kPerSlab;
};

// NUL-terminated UTF-8 names at stable addresses.
class CNameStore {
public:
    // Longest name kept; longer ones are cut at a character boundary.
    static constexpr std::size_t kMaxName = 1024;
    const char* Copy(std::string_view text);  // throws std::bad_alloc
    void Release();
    std::size_t BytesUsed() const { return Used; }

private:
    static constexpr std::size_t kBlock = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> Blocks;
    std::size_t UsedInLast = kBlock;
    std::size_t Used = 0;
};

// Memory for the nodes of one node-based container: cells of the first size asked for, carved
// from large blocks and recycled through a free list; other sizes go to the heap.
class CNodePool final : public std::pmr::memory_resource {
public:
    CNodePool() = default;
    CNodePool(const CNodePool&) = delete;
    CNodePool& operator=(const CNodePool&) = delete;
    // Frees every block. Only when no cell is in use any more (the container is empty).
    void Release();

private:
    void* do_allocate(std::size_t bytes, std::size_t align) override;
    void do_deallocate(void* p, std::size_t bytes, std::size_t align) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
    bool IsCell(std::size_t bytes, std::size_t align) const;

    static constexpr std::size_t kCellsPerBlock = 4096;
    std::size_t CellSize = 0;
    std::vector<std::unique_ptr<std::byte[]>> Blocks;
    std::size_t UsedInLast = kCellsPerBlock;
    void* FreeList = nullptr;
};

}  // namespace vm
