#include "cli/Target.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include "platform/DriveOpen.h"
#include "platform/SysBlock.h"

namespace vm::cli {
namespace {

std::string OpenErrorText(const std::string& path, int err) {
    switch (err) {
        case ENOENT: return "'" + path + "' does not exist";
        case EISDIR: return "'" + path + "' is a folder, not a drive or drive image";
        case EACCES:
        case EPERM: return "no permission to read '" + path + "' (run as root or join the disk group)";
        case ENOMEDIUM: return "no medium in '" + path + "'";
        case ENODEV:
        case ENXIO: return "'" + path + "' is not a drive or drive image, or the device is gone";
        default: return "cannot open '" + path + "': " + std::strerror(err);
    }
}

std::unique_ptr<CVolume> MakeVolume(const std::string& path, const struct stat& st) {
    if (!S_ISBLK(st.st_mode)) {
        auto v = std::make_unique<CVolume>(VK_IMAGE);
        std::error_code ec;
        auto full = std::filesystem::absolute(path, ec);
        v->DevicePath = ec ? path : full.lexically_normal().string();
        return v;
    }
    std::string name = KernelNameOfDevice(path);
    std::string disk;
    bool partition = FindPartition(name, &disk).has_value();
    auto v = std::make_unique<CVolume>(partition ? VK_LOGICAL : VK_PHYSICAL);
    v->DevicePath = path;
    v->KernelName = name;
    v->DiskName = partition ? disk : name;
    v->Description = name;
    return v;
}

}  // namespace

bool RangeOfTarget(const TargetOptions& o, std::uint64_t whole, std::uint64_t& start, std::uint64_t& size,
                   std::string& error) {
    start = o.Start.value_or(0);
    if (start % kSectorSize || (o.Size && *o.Size % kSectorSize)) {
        error = "--start and --size must be multiples of 512 bytes";
        return false;
    }
    const std::string total = " (" + std::to_string(whole) + " bytes)";
    if (start >= whole) {
        error = "--start lies at or beyond the end of '" + o.Path + "'" + total;
        return false;
    }
    size = o.Size.value_or(whole - start);
    if (size == 0 || size > whole - start) {
        error = "--start and --size ask for bytes beyond the end of '" + o.Path + "'" + total;
        return false;
    }
    return true;
}

std::optional<OpenedTarget> OpenTarget(const TargetOptions& o, std::string& error) {
    struct stat st {};
    if (::stat(o.Path.c_str(), &st) != 0) {
        error = OpenErrorText(o.Path, errno);
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        error = OpenErrorText(o.Path, EISDIR);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        error = "'" + o.Path + "' is neither a drive nor an image file (only files and block devices are read)";
        return std::nullopt;
    }
    const OpenedDrive opened = OpenDriveReadOnly(o.Path);
    if (!opened.File) {
        error = IsPermissionError(opened.Error) && !opened.Text.empty() ? opened.Text : OpenErrorText(o.Path, opened.Error);
        return std::nullopt;
    }
    OpenedTarget t;
    t.Volume = MakeVolume(o.Path, st);
    if (t.Volume->VolumeKind == VK_PHYSICAL || t.Volume->VolumeKind == VK_LOGICAL)
        t.Volume->QueryInformation();
    if (o.Start || o.Size) {
        t.Parent = std::move(t.Volume);
        if (t.Parent->VolumeKind == VK_IMAGE) t.Parent->ParseBootSector();
        std::uint64_t start = 0, size = 0;
        if (!RangeOfTarget(o, t.Parent->TotalBytes, start, size, error)) return std::nullopt;
        t.Volume = std::make_unique<CVolume>(VK_VIRTUAL);
        t.Volume->AttachTo(t.Parent.get());
        t.Volume->StartOffset = start;
        t.Volume->TotalBytes = size;
        t.Volume->TotalSectors = size / kSectorSize;
    }
    if (t.Volume->ParseBootSector() != 1) {
        error = "cannot read the first sectors of '" + o.Path + "': the image is empty or truncated, or the drive fails";
        return std::nullopt;
    }
    if (t.Volume->TotalBytes < 2 * kSectorSize) {
        error = "'" + o.Path + "' is too small to hold a volume (" + std::to_string(t.Volume->TotalBytes) + " bytes)";
        return std::nullopt;
    }
    return t;
}

}  // namespace vm::cli
