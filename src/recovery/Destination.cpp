#include "recovery/Destination.h"

#include <cerrno>
#include <sys/stat.h>

#include "app/Format.h"
#include "app/Log.h"
#include "app/Notify.h"
#include "volume/SameDrive.h"
#include "volume/Volume.h"

namespace vm {
namespace {

constexpr const char* kSameDriveText =
    "The distination folder is on the same drive with the source. You should change the destination location for "
    "recovered files.";
constexpr const char* kSameDriveWarning =
    "The destination folder is on the same drive with the source. You should change the destination location for "
    "recovered files.\nSelect another destination folder for recovered files?";

// Bounds the questions of one run, so that a front end that always answers "again" without
// changing anything cannot hold the thread for ever.
constexpr int kMaxDestinationQuestions = 100;

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int CheckDestination(const std::string& folder, bool silent, CVolume* source, std::string* message) {
    if (source && PathOnVolumeDrive(folder, *source)) {
        if (!silent && message) *message = kSameDriveText;
        return 0;
    }
    if (::mkdir(folder.c_str(), 0755) == 0 || (errno == EEXIST && IsFolder(folder))) return 1;
    const int error = errno;
    if (silent) return 0;
    std::string text = Format("\nCan't create folder:\n\"%s\"\n\nError code: %d", folder, error);
    Log().Error("%s", text);
    if (message) *message = text;
    return 0;
}

int ConfirmDestinationDrive(std::string& folder, CVolume* source) {
    for (int asked = 0; source && PathOnVolumeDrive(folder, *source); ++asked) {
        Log().Error("%s", kSameDriveText);
        if (asked == kMaxDestinationQuestions) return 0;
        if (Notifier().Send(msg::ConfirmDestinationFolder, reinterpret_cast<std::uintptr_t>(&folder),
                            reinterpret_cast<std::intptr_t>(kSameDriveWarning)) != 1)
            return 0;
    }
    return 1;
}

}  // namespace vm
