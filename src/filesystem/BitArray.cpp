#include "filesystem/BitArray.h"

#include <cstring>
#include <new>

namespace vm {

CBitArray::~CBitArray() { Release(); }

void CBitArray::Release() {
    if (OwnsData) delete[] pData;
    pData = nullptr;
    OwnsData = false;
    Bytes = Bits = 0;
}

bool CBitArray::Create(std::uint8_t* buffer, std::uint32_t bits, bool fill) {
    Release();
    std::uint32_t bytes = std::uint32_t((std::uint64_t(bits) + 7) / 8);
    if (bytes == 0) return false;
    if (buffer) {
        pData = buffer;
    } else {
        pData = new (std::nothrow) std::uint8_t[bytes];
        if (!pData) return false;
        OwnsData = true;
    }
    Bytes = bytes;
    Bits = bytes * 8;
    std::memset(pData, fill ? 0xFF : 0x00, bytes);
    return true;
}

bool CBitArray::Set(std::uint32_t bit, bool value) {
    if (!pData || bit / 8 >= Bytes) return false;
    std::uint8_t mask = std::uint8_t(1u << (bit % 8));
    if (value)
        pData[bit / 8] |= mask;
    else
        pData[bit / 8] &= std::uint8_t(~mask);
    return true;
}

bool CBitArray::Get(std::uint32_t bit) const {
    if (!pData || bit / 8 >= Bytes) return false;
    return (pData[bit / 8] >> (bit % 8)) & 1;
}

std::int64_t CBitArray::Find(std::uint32_t from, bool value) const {
    if (!pData) return -1;
    const std::uint8_t skip = value ? 0x00 : 0xFF;  // bytes that hold no match
    for (std::uint64_t bit = from; bit < Bits;) {
        if (bit % 8 == 0 && pData[bit / 8] == skip) {
            bit += 8;
            continue;
        }
        if (Get(std::uint32_t(bit)) == value) return std::int64_t(bit);
        ++bit;
    }
    return -1;
}

}  // namespace vm
