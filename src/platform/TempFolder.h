#pragma once
// The program's private temporary folder: $TMPDIR/vellumark-UID (or /tmp), mode 0700, made on
// first use and refused when another user owns it or it is a link.
#include <string>

namespace vm {

// The user's home folder ($HOME, else the password database); empty when neither says.
std::string HomeFolder();

// The folder with a trailing '/', or an empty string when it cannot be made safely.
std::string TempFolder();

// Creates (replacing an earlier file of ours) `name` inside the temporary folder with
// O_EXCL | O_NOFOLLOW and returns its descriptor, or -1 with errno set. `path` receives the path.
int CreateTempFile(const std::string& name, std::string* path);

}  // namespace vm
