#include "platform/SysBlock.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/TextConvert.h"

namespace fs = std::filesystem;

namespace vm {
namespace {

std::string ReadLine(const fs::path& p) {
    std::ifstream f(p);
    std::string s;
    std::getline(f, s);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return Trim(s);
}

std::uint64_t ReadNumber(const fs::path& p) {
    std::string s = ReadLine(p);
    return s.empty() ? 0 : std::strtoull(s.c_str(), nullptr, 10);
}

bool IsWantedDisk(const std::string& name, const fs::path& dir) {
    auto starts = [&](const char* p) { return name.rfind(p, 0) == 0; };
    if (starts("sd") || starts("vd") || starts("xvd") || starts("hd")) return true;
    if (starts("nvme") || starts("mmcblk")) return name.find('p') == std::string::npos || starts("nvme");
    if (starts("loop")) return !ReadLine(dir / "loop" / "backing_file").empty();
    return false;
}

std::vector<SysPartition> PartitionsOf(const fs::path& diskDir, const std::string& diskName) {
    std::vector<SysPartition> parts;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(diskDir, ec)) {
        std::string n = e.path().filename().string();
        if (n.rfind(diskName, 0) != 0 || !fs::exists(e.path() / "partition")) continue;
        SysPartition p;
        p.Name = n;
        p.Number = std::uint32_t(ReadNumber(e.path() / "partition"));
        p.StartBytes = ReadNumber(e.path() / "start") * 512;
        p.SizeBytes = ReadNumber(e.path() / "size") * 512;
        parts.push_back(p);
    }
    std::sort(parts.begin(), parts.end(), [](const SysPartition& a, const SysPartition& b) { return a.Number < b.Number; });
    return parts;
}

}  // namespace

std::vector<SysDisk> ListDisks(const std::string& sysRoot) {
    std::vector<SysDisk> disks;
    std::error_code ec;
    fs::path block = fs::path(sysRoot) / "block";
    for (const auto& e : fs::directory_iterator(block, ec)) {
        std::string name = e.path().filename().string();
        if (!IsWantedDisk(name, e.path())) continue;
        SysDisk d;
        d.Name = name;
        d.SizeBytes = ReadNumber(e.path() / "size") * 512;
        d.Vendor = ReadLine(e.path() / "device" / "vendor");
        d.Model = ReadLine(e.path() / "device" / "model");
        d.BackingFile = ReadLine(e.path() / "loop" / "backing_file");
        d.Removable = ReadNumber(e.path() / "removable") != 0;
        d.Partitions = PartitionsOf(e.path(), name);
        disks.push_back(std::move(d));
    }
    std::sort(disks.begin(), disks.end(), [](const SysDisk& a, const SysDisk& b) { return a.Name < b.Name; });
    return disks;
}

std::optional<SysPartition> FindPartition(const std::string& name, std::string* diskName, const std::string& sysRoot) {
    std::error_code ec;
    fs::path link = fs::path(sysRoot) / "class" / "block" / name;
    fs::path real = fs::canonical(link, ec);
    if (ec || !fs::exists(real / "partition")) return std::nullopt;
    std::string disk = real.parent_path().filename().string();
    for (const auto& p : PartitionsOf(real.parent_path(), disk))
        if (p.Name == name) {
            if (diskName) *diskName = disk;
            return p;
        }
    return std::nullopt;
}

std::string KernelNameOfDevice(const std::string& devPath) {
    struct stat st {};
    if (::stat(devPath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
    std::string link = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    std::error_code ec;
    fs::path real = fs::canonical(link, ec);
    return ec ? std::string() : real.filename().string();
}

std::vector<MountEntry> ReadMounts(const std::string& mountInfo) {
    std::vector<MountEntry> out;
    std::ifstream f(mountInfo);
    std::string line;
    while (std::getline(f, line)) {
        std::istringstream in(line);
        std::string id, parent, majmin, root, point, opts, field;
        if (!(in >> id >> parent >> majmin >> root >> point >> opts)) continue;
        while (in >> field && field != "-") {}
        MountEntry m;
        if (!(in >> m.FsType >> m.Source)) continue;
        unsigned ma = 0, mi = 0;
        if (std::sscanf(majmin.c_str(), "%u:%u", &ma, &mi) != 2) continue;
        m.Device = makedev(ma, mi);
        m.MountPoint = point;
        out.push_back(std::move(m));
    }
    return out;
}

std::optional<MountEntry> MountOfKernelName(const std::string& name) {
    struct stat st {};
    if (::stat(("/dev/" + name).c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
    for (const auto& m : ReadMounts())
        if (m.Device == st.st_rdev) return m;
    return std::nullopt;
}

std::string FsNameOfMountType(const std::string& t) {
    if (t == "ntfs" || t == "ntfs3" || t == "fuseblk") return "NTFS";
    if (t == "vfat" || t == "msdos") return "";  // told apart by the boot sector
    return {};
}

}  // namespace vm
