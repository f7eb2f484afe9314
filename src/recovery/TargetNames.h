#pragma once
// Turning an item's names, which come from the drive and are hostile data, into places below
// the destination folder, and creating those places without ever leaving it.
#include <string>
#include <vector>

namespace vm {

// The name as a single file-name component: "/", "\", NUL, control characters and the marks and
// overrides of bidirectional text (U+202E) become '_',
// "." and ".." become "_" and "__", an empty name "_", and an overlong one is shortened (its
// extension kept). *changed tells whether anything was replaced.
std::string SafeName(const std::string& name, bool* changed = nullptr);

// The components of a folder path in the system's form ("X:\a\b\" or "\a\b\"): the drive prefix
// and empty components are dropped, each component made safe with SafeName.
std::vector<std::string> SafeFolderComponents(const std::string& systemPath, bool* changed = nullptr);

// The name with control characters written as \xNN (C1 controls and bidirectional marks as
// \uNNNN), for log lines and every text the program prints: a name from a drive can then
// neither send a terminal escape sequences nor break a line or a tab-separated field.
std::string PrintableName(const std::string& name);

// "name (n).ext" (or "name (n)" without an extension) for n >= 1.
std::string NumberedName(const std::string& name, unsigned n);

// A folder below the destination, opened one component at a time: every missing component is
// created, and none may be a link or anything but a folder. Owns its descriptor.
class CTargetFolder {
public:
    CTargetFolder() = default;
    ~CTargetFolder();
    CTargetFolder(const CTargetFolder&) = delete;
    CTargetFolder& operator=(const CTargetFolder&) = delete;

    // Opens `root` (an existing folder the user chose, or one made here) and then each of
    // `components` below it. False on failure, with *failedAt the native path that failed and
    // *error its errno.
    bool Open(const std::string& root, const std::vector<std::string>& components, std::string* failedAt, int* error);
    int Fd() const { return Dir; }
    const std::string& Path() const { return NativePath; }  // ends with '/'

private:
    void Reset();
    // Opens (creating when missing) one folder below Dir; 0, or the errno of the failure.
    int OpenComponent(const std::string& part);
    int Dir = -1;
    std::string NativePath;
};

// Creates every missing folder of `components` below `root` and opens the last one in `folder`;
// 1 when the whole path is a folder afterwards, 0 otherwise (the failure is logged).
int CreateFolderPath(CTargetFolder& folder, const std::string& root, const std::vector<std::string>& components);

}  // namespace vm
