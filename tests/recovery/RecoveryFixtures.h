#pragma once
// Drives for the recovery and image tests: a crafted image file with items filed by hand, read
// through a reader that can fail or call back, and real FAT images analysed by the FAT analyser.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Log.h"
#include "filesystem/FoundItem.h"
#include "platform/DeviceReader.h"
#include "platform/FaultyReader.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

namespace rtest {

constexpr std::int32_t kDriveId = -100;

// Bytes that differ from sector to sector and within each sector, so a shift or a gap shows.
std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed = 1);

// Calls a function with the position before each read it passes on.
class CCallbackReader final : public vm::IDeviceReader {
public:
    CCallbackReader(std::shared_ptr<vm::IDeviceReader> inner, std::function<void(std::uint64_t)> before)
        : Inner(std::move(inner)), Before(std::move(before)) {}
    vm::ReadResult ReadAt(std::uint64_t pos, void* buffer, std::size_t len) override;
    std::uint64_t SizeBytes() const override { return Inner->SizeBytes(); }

private:
    std::shared_ptr<vm::IDeviceReader> Inner;
    std::function<void(std::uint64_t)> Before;
};

// An image file of pattern bytes as a drive without a file system; items are filed by hand.
// Reads go through a fault injector (Faults()) and an optional callback (OnRead).
class CraftedDrive {
public:
    explicit CraftedDrive(std::size_t bytes);
    vm::FoundItem* Folder(std::int32_t id, std::int32_t parent, const std::string& name);
    vm::FoundItem* File(std::int32_t id, std::int32_t parent, const std::string& name, std::uint64_t offset,
                        std::uint64_t size);
    std::vector<std::uint8_t> Bytes(std::uint64_t offset, std::uint64_t size) const;
    vm::CFaultyReader& Faults();

    vmtest::TempDir Dir;
    std::string Path;
    std::vector<std::uint8_t> Data;
    std::function<void(std::uint64_t)> OnRead;
    vm::CVolume Volume{vm::VK_IMAGE};
    vm::FoundItem RootFolder;

private:
    std::shared_ptr<vm::CFaultyReader> Faulty;
};

// A FAT fixture image opened as an image drive and analysed.
class FatDrive {
public:
    explicit FatDrive(const std::string& fixture);
    // The item at a path of names ("Live/KEEP2.BIN"), walking the tree from the root folder.
    vm::FoundItem* Find(const std::string& path) const;
    std::unique_ptr<vm::CVolume> Volume;
};

// Lines of the global log from `from` on that contain `needle`.
std::size_t LinesWith(const std::string& needle, std::size_t from);

std::string Sha256(const std::string& path);

}  // namespace rtest
