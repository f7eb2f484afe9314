#pragma once
// Checks a folder chosen as the temporary folder before the settings take it: files opened with
// "Try to open" are written there, so it has to exist, take a new file and fit its field.
// No threads of its own; any thread may call it.
#include <cstddef>
#include <string>

namespace vm {

enum class TempFolderFault { None, Empty, TooLong, Missing, NotFolder, Unwritable };

// `maxChars` is what the settings field holds without its terminator.
TempFolderFault CheckTempFolder(const std::string& folder, std::size_t maxChars);
// A sentence for the user about the fault, naming the folder.
std::string TempFolderFaultText(TempFolderFault fault, const std::string& folder);

}  // namespace vm
