#pragma once
// Opening a drive read-only the way a desktop user needs it: directly when the system lets the
// process read the device, else through UDisks2, which asks polkit (and so perhaps the user).
// A descriptor UDisks2 handed out is kept for the life of the process, so that the user is
// asked once per device, not at every open. Thread-safe; blocking while UDisks2 is asked.
#include <chrono>
#include <memory>
#include <string>

#include "platform/DeviceReader.h"

namespace vm {

// How long an open waits for UDisks2, and so for the user to answer polkit's question.
constexpr std::chrono::milliseconds kUDisksWait{90000};

struct DriveOpenOptions {
    // false: never ask (a listing of the drives must not ask questions); a descriptor granted
    // earlier is still used.
    bool AskUDisks = true;
    std::chrono::milliseconds Wait = kUDisksWait;
};

struct OpenedDrive {
    std::shared_ptr<CDeviceFile> File;  // null on failure
    int Error = 0;                      // errno of the direct open when it failed
    std::string Text;                   // why it failed and how to get access; empty on success
};

OpenedDrive OpenDriveReadOnly(const std::string& path, const DriveOpenOptions& options = {});

// Whether the process may not open the device itself (EACCES, EPERM).
bool IsPermissionError(int error);

// How to read the device without UDisks2: as root, or as a member of the group that may read it.
std::string AccessAdvice(const std::string& path);

}  // namespace vm
