#pragma once
// Turning the command line's TARGET into a drive: an image file, a block device, or a byte range
// of either (a virtual drive).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "volume/Volume.h"

namespace vm::cli {

struct TargetOptions {
    std::string Path;
    std::optional<std::uint64_t> Start;  // --start BYTES
    std::optional<std::uint64_t> Size;   // --size BYTES
};

struct OpenedTarget {
    std::unique_ptr<CVolume> Parent;  // the whole device when a range was asked for
    std::unique_ptr<CVolume> Volume;
};

// The byte range that --start and --size ask for on a target of `whole` bytes; false with
// `error` set when it is not sector-aligned or does not lie inside the target.
bool RangeOfTarget(const TargetOptions& options, std::uint64_t whole, std::uint64_t& start, std::uint64_t& size,
                   std::string& error);

// Opens and recognises the target. On failure returns nothing and sets `error` to a message
// that says why (missing, a folder, permission, no medium, empty or truncated image).
std::optional<OpenedTarget> OpenTarget(const TargetOptions& options, std::string& error);

}  // namespace vm::cli
