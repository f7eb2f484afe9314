#pragma once
// A bit map, lowest bit first within each byte: the layout of the NTFS $Bitmap file, so that the
// file can be read straight into the buffer. The drive's cluster map is one.
#include <cstdint>
#include <vector>

namespace vm {

class CBitArray {
public:
    CBitArray() = default;
    virtual ~CBitArray();
    CBitArray(const CBitArray&) = delete;
    CBitArray& operator=(const CBitArray&) = delete;

    // Uses `buffer` (not owned) when given, else allocates (bits + 7) / 8 bytes; every byte set to
    // 0xFF with `fill`, else 0. False when no storage of at least one byte results.
    bool Create(std::uint8_t* buffer, std::uint32_t bits, bool fill);
    bool Set(std::uint32_t bit, bool value);  // 0 outside the storage
    bool Get(std::uint32_t bit) const;
    // First index >= from and < BitCount whose bit equals value, or -1.
    std::int64_t Find(std::uint32_t from, bool value) const;
    std::uint8_t* GetBuffer() const { return pData; }
    std::uint32_t ByteCount() const { return Bytes; }
    std::uint32_t BitCount() const { return Bits; }

private:
    void Release();
    std::uint8_t* pData = nullptr;
    bool OwnsData = false;
    std::uint32_t Bytes = 0;
    std::uint32_t Bits = 0;
};

}  // namespace vm
