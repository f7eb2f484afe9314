#pragma once
// Where recovered files may go: never onto the drive they are read from.
#include <string>

namespace vm {

class CVolume;

// The Recover dialog's check of a destination folder for the drive `source`: 0 when the folder
// lies on that drive or cannot be created (its last level is created here), 1 otherwise. Unless
// `silent`, *message receives the text to show the user (a creation failure is also logged).
int CheckDestination(const std::string& folder, bool silent, CVolume* source, std::string* message = nullptr);

// The recovery thread's check: while `folder` lies on the drive of `source`, asks the front end
// (msg::ConfirmDestinationFolder) for another folder. 1 to go on with `folder` (perhaps changed),
// 0 when the user gives up.
int ConfirmDestinationDrive(std::string& folder, CVolume* source);

}  // namespace vm
