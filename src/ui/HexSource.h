#pragma once
// The bytes a hex view shows: a memory buffer of its owner (the only source that can be edited),
// a file read with pread (never mapped, so a file that shrinks meanwhile reads short instead of
// faulting, and nothing is ever written to it), or a found item read through its drive. Plain
// C++; a source is used on the window thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "filesystem/ItemHandle.h"

namespace vm {
class CVolume;
}

namespace vm::ui {

class IHexSource {
public:
    virtual ~IHexSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Copies up to `length` bytes from `offset`; the bytes copied (short at the end or on a read
    // failure).
    virtual std::size_t Read(std::uint64_t offset, std::uint8_t* out, std::size_t length) const = 0;
    // Writes one byte; false for a read-only source or a position outside it.
    virtual bool Write(std::uint64_t, std::uint8_t) { return false; }
    virtual bool Writable() const { return false; }
    // "Memory", the file's path or the item's name.
    virtual const std::string& Name() const = 0;
};

// The owner's buffer: the source does not own it, edits write into it.
class CMemorySource final : public IHexSource {
public:
    CMemorySource(std::uint8_t* buffer, std::size_t size) : Buffer(buffer), Bytes(buffer ? size : 0) {}
    std::uint64_t Size() const override { return Bytes; }
    std::size_t Read(std::uint64_t offset, std::uint8_t* out, std::size_t length) const override;
    bool Write(std::uint64_t offset, std::uint8_t value) override;
    bool Writable() const override { return true; }
    const std::string& Name() const override { return Title; }

private:
    std::uint8_t* Buffer;
    std::size_t Bytes;
    std::string Title = "Memory";
};

// A file opened read-only; its size is taken when it is opened.
class CFileSource final : public IHexSource {
public:
    // Null when the file cannot be opened or is not a regular file or block device.
    static std::unique_ptr<CFileSource> Open(const std::string& path);
    ~CFileSource() override;
    std::uint64_t Size() const override { return Bytes; }
    std::size_t Read(std::uint64_t offset, std::uint8_t* out, std::size_t length) const override;
    const std::string& Name() const override { return Path; }

private:
    CFileSource(int fd, std::uint64_t size, std::string path) : Fd(fd), Bytes(size), Path(std::move(path)) {}
    int Fd;
    std::uint64_t Bytes;
    std::string Path;
};

// A found item's data as its drive's analyser reads it. The fields are a snapshot taken when the
// source was made; an item of unknown size shows its first `unknownSizeShown` bytes.
class CItemSource final : public IHexSource {
public:
    CItemSource(CVolume& drive, const ItemSnapshot& item, std::uint64_t unknownSizeShown = 65536);
    std::uint64_t Size() const override { return Bytes; }
    std::size_t Read(std::uint64_t offset, std::uint8_t* out, std::size_t length) const override;
    const std::string& Name() const override { return Item.Name; }

private:
    CVolume& Drive;
    ItemSnapshot Item;
    std::uint64_t Bytes;
};

}  // namespace vm::ui
