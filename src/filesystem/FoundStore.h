#pragma once
// Storage behind the found-items tree. A drive can yield millions of items, so items live in
// slabs and names are packed into blocks instead of one heap block each. Nothing moves once
// handed out; Release frees everything.
#include <cstddef>
#include <memory>
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

}  // namespace vm
