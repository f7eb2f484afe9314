#pragma once
// The Logging settings applied to the log: "Save log in file" with its file name (a name
// without a folder lies in the program's configuration folder), "Clear log file on startup"
// and "Maximum log file size:".
namespace vm {

class CLog;
class CSettingsBlock;

void ApplyLogSettings(const CSettingsBlock& settings, CLog& log);

}  // namespace vm
