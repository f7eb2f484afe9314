#include "platform/DriveOpen.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SysBlock.h"
#include "platform/UDisks.h"

namespace vm {
namespace {

// Descriptors that UDisks2 handed out, by device path, with the device they were for.
struct GrantedDrive {
    dev_t Device = 0;
    std::shared_ptr<CDeviceFile> File;
};
std::mutex g_GrantedLock;
std::map<std::string, GrantedDrive> g_Granted;

dev_t DeviceNumberOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode) ? st.st_rdev : 0;
}

// The granted descriptor for the device that the path names now; one granted for another device
// that the path named before is dropped.
std::shared_ptr<CDeviceFile> GrantedFor(const std::string& path, dev_t device) {
    std::lock_guard<std::mutex> g(g_GrantedLock);
    auto it = g_Granted.find(path);
    if (it == g_Granted.end()) return nullptr;
    if (it->second.Device == device) return it->second.File;
    g_Granted.erase(it);
    return nullptr;
}

void KeepGranted(const std::string& path, dev_t device, const std::shared_ptr<CDeviceFile>& file) {
    std::lock_guard<std::mutex> g(g_GrantedLock);
    g_Granted[path] = {device, file};
}

OpenedDrive AskUDisks(const std::string& path, dev_t device, const DriveOpenOptions& options, int error) {
    OpenedDrive out;
    out.Error = error;
    const UDisksAnswer answer = OpenThroughUDisks(KernelNameOfDevice(path), options.Wait);
    if (answer.Fd >= 0) {
        int e = 0;
        out.File = CDeviceFile::FromDescriptor(answer.Fd, &e);
        if (out.File) {
            out.Error = 0;
            KeepGranted(path, device, out.File);
            return out;
        }
        out.Text = "the descriptor UDisks2 gave for '" + path + "' cannot be read: " + std::strerror(e);
        return out;
    }
    out.Text = "no permission to read '" + path + "', and " + answer.Error + "; " + AccessAdvice(path);
    return out;
}

}  // namespace

bool IsPermissionError(int error) { return error == EACCES || error == EPERM; }

std::string AccessAdvice(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IRGRP) && st.st_gid != 0) {
        const struct group* gr = ::getgrgid(st.st_gid);
        const std::string name = gr ? gr->gr_name : std::to_string(st.st_gid);
        return "run as root, or join the group '" + name + "' that owns the device (sudo usermod -aG " + name +
               " $USER, then log in again)";
    }
    return "run as root (only root may read the device)";
}

OpenedDrive OpenDriveReadOnly(const std::string& path, const DriveOpenOptions& options) {
    OpenedDrive out;
    out.File = CDeviceFile::Open(path, &out.Error);
    if (out.File || !IsPermissionError(out.Error)) return out;
    const dev_t device = DeviceNumberOf(path);
    if (auto kept = device ? GrantedFor(path, device) : nullptr) {
        out.File = kept;
        out.Error = 0;
        return out;
    }
    if (!options.AskUDisks || device == 0) {
        // Only block devices are UDisks2's to open; a file the user may not read stays closed.
        out.Text = "no permission to read '" + path + "' (" + AccessAdvice(path) + ")";
        return out;
    }
    return AskUDisks(path, device, options, out.Error);
}

}  // namespace vm
